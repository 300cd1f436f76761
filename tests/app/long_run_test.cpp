// Long runs that survive: the journal of a run killed at random moments, its
// recovery, atomic documents on a full file system, and a journal that
// cannot be written.
#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <filesystem>
#include <random>
#include <sys/mount.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

#include "base/kavo_errors.h"
#include "base/kavo_json.h"
#include "run_binary.h"
#include "scratch_test.h"

namespace fs = std::filesystem;

namespace {

class LongRun : public test::ScratchTest {
protected:
    // Starts quellix in `folder` with a read command file; output to out.txt.
    pid_t Start(const std::string& folder, const Json::Value& changes, const std::string& arguments = "-n sim") {
        test::WriteJson(folder + "/read.cmd.json", test::ReadCommand(changes));
        std::string command = "cd '" + folder + "' && exec '" QUELLIX_BINARY "' " + arguments + " > out.txt 2>&1";
        pid_t child = fork();
        if (child == 0) {
            execl("/bin/sh", "sh", "-c", command.c_str(), static_cast<char*>(nullptr));
            _exit(127);
        }
        return child;
    }
    static int Wait(pid_t child) {
        int status = 0;
        waitpid(child, &status, 0);
        return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    }
    // Sample records of the journal that are complete lines.
    static size_t JournalSamples(const std::string& path) {
        std::string text = test::ReadFile(path);
        size_t count = 0, at = 0;
        while (true) {
            size_t end = text.find('\n', at);
            if (end == std::string::npos) break;
            count += text.compare(at, 5, "{\"t\":") == 0;
            at = end + 1;
        }
        return count;
    }
};

Json::Value ManySamples(int samples, int interval) {
    Json::Value changes;
    changes["samples"] = samples;
    changes["interval in ms"] = interval;
    changes["log sample rate"] = 1;  // every sample also to its own file
    changes["read log page 07h"] = false;
    changes["read log page 08h"] = false;
    return changes;
}

}  // namespace

TEST_F(LongRun, KilledAtRandomMomentsLosesNoCompletedSample) {
    std::mt19937 random(20261208);
    std::uniform_int_distribution<int> moment(30, 700);
    for (int round = 0; round < 20; ++round) {
        std::string folder = dir + "/round-" + std::to_string(round);
        fs::create_directories(folder);
        pid_t child = Start(folder, ManySamples(100000, 3));
        int killAfter = moment(random);
        std::this_thread::sleep_for(std::chrono::milliseconds(killAfter));
        kill(child, SIGKILL);
        Wait(child);
        SCOPED_TRACE("round " + std::to_string(round) + ", killed after " + std::to_string(killAfter) + " ms");

        // Every document under its own name is absent or complete.
        for (const auto& entry : fs::directory_iterator(folder)) {
            if (entry.path().extension() != ".json") continue;
            Json::Value document;
            EXPECT_NO_THROW(kavo::ReadJsonFile(entry.path().string(), document)) << entry.path();
        }
        std::string journal = folder + "/read.journal.jsonl";
        if (!fs::exists(journal)) {
            // Killed before the journal began: no sample was completed.
            EXPECT_FALSE(fs::exists(folder + "/nvme.info.sample-1.json") && fs::exists(folder + "/nvme.info.sample-2.json"));
            continue;
        }
        // A sample is complete once its record is in the journal; its file
        // was written just before.
        size_t completed = JournalSamples(journal);
        for (size_t sample = 1; sample <= completed; ++sample)
            EXPECT_TRUE(fs::exists(folder + "/nvme.info.sample-" + std::to_string(sample) + ".json")) << sample;
        EXPECT_FALSE(fs::exists(folder + "/nvme.info.sample-" + std::to_string(completed + 2) + ".json"));

        auto recovered = test::RunQuellix(folder, "--recover .");
        EXPECT_EQ(recovered.exitCode, 0) << recovered.output;
        Json::Value summary = test::ReadJson(folder + "/read.summary.json");
        EXPECT_EQ(summary["read details"]["sample"].size(), completed);
        EXPECT_EQ(summary["_cmd"]["result"].asString(), "FAIL");
        EXPECT_NE(summary["_cmd"]["message"].asString().find("Run interrupted: its last record was written at "),
                  std::string::npos);
        EXPECT_GE(summary["command times"].size(), completed);
        EXPECT_FALSE(fs::exists(journal));
        for (const auto& entry : fs::directory_iterator(folder))
            EXPECT_EQ(entry.path().filename().string().find(".tmp-"), std::string::npos) << entry.path();
    }
}

TEST_F(LongRun, ANewRunKeepsTheSummaryOfTheInterruptedOne) {
    pid_t child = Start(dir, ManySamples(100000, 5));
    std::this_thread::sleep_for(std::chrono::milliseconds(400));
    kill(child, SIGKILL);
    Wait(child);
    ASSERT_TRUE(fs::exists(dir + "/read.journal.jsonl"));
    size_t completed = JournalSamples(dir + "/read.journal.jsonl");
    // Half-written documents of the killed run go; other files stay.
    const char* interruptedWrites[] = {"nvme.info.json.tmp-812-3", "read.report.html.tmp-1-1", "q.prom.tmp-7-70"};
    const char* otherFiles[] = {"notes.txt.tmp-1-2", "nvme.info.json.tmp-812", "nvme.info.json.tmp-x-1", "a.json.tmp-1-2.bak"};
    for (const char* name : interruptedWrites) test::WriteFile(dir + "/" + name, "{");
    for (const char* name : otherFiles) test::WriteFile(dir + "/" + name, "{");

    auto run = test::RunQuellix(dir, "-n sim -s 2 -i 0");
    EXPECT_EQ(run.exitCode, 0) << run.output;
    EXPECT_NE(run.output.find(" Recovered " + std::to_string(completed) + " samples of an interrupted read run into "),
              std::string::npos) << run.output;
    size_t interrupted = 0;
    for (const auto& entry : fs::directory_iterator(dir)) {
        std::string name = entry.path().filename().string();
        if (name.rfind("read.summary.interrupted-", 0) != 0) continue;
        ++interrupted;
        Json::Value summary = test::ReadJson(entry.path().string());
        EXPECT_EQ(summary["read details"]["sample"].size(), completed);
        EXPECT_EQ(summary["_cmd"]["result"].asString(), "FAIL");
    }
    EXPECT_EQ(interrupted, 1u);
    EXPECT_EQ(test::ReadJson(dir + "/read.summary.json")["read details"]["sample"].size(), 2u);
    EXPECT_FALSE(fs::exists(dir + "/read.journal.jsonl"));
    EXPECT_EQ(test::RunQuellix(dir, "--recover .").exitCode, 16) << "nothing left to recover";
    for (const char* name : interruptedWrites) EXPECT_FALSE(fs::exists(dir + "/" + name)) << name;
    for (const char* name : otherFiles) EXPECT_TRUE(fs::exists(dir + "/" + name)) << name;
}

TEST_F(LongRun, InterruptsStillEndGracefullyWithEverySample) {
    for (int signal : {SIGINT, SIGTERM}) {
        std::string folder = dir + "/signal-" + std::to_string(signal);
        fs::create_directories(folder);
        pid_t child = Start(folder, ManySamples(100000, 20));
        std::this_thread::sleep_for(std::chrono::milliseconds(500));
        kill(child, signal);
        EXPECT_EQ(Wait(child), 0) << test::ReadFile(folder + "/out.txt");
        Json::Value summary = test::ReadJson(folder + "/read.summary.json");
        size_t records = summary["read details"]["sample"].size();
        EXPECT_GE(records, 2u);
        EXPECT_TRUE(fs::exists(folder + "/nvme.info.sample-" + std::to_string(records) + ".json"));
        EXPECT_FALSE(fs::exists(folder + "/read.journal.jsonl"));
    }
}

TEST_F(LongRun, AJournalThatCannotBeWrittenStopsTheRun) {
    // A link under the journal's name is neither followed nor replaced.
    fs::create_symlink(dir + "/elsewhere.txt", dir + "/read.journal.jsonl");
    test::WriteJson(dir + "/read.cmd.json", test::ReadCommand(ManySamples(5, 0)));
    auto run = test::RunQuellix(dir, "-n sim");
    EXPECT_EQ(run.exitCode, 17) << run.output;
    EXPECT_NE(run.output.find("read.journal.jsonl' is not a regular file"), std::string::npos) << run.output;
    EXPECT_FALSE(fs::exists(dir + "/elsewhere.txt"));
    EXPECT_FALSE(fs::exists(dir + "/nvme.info.sample-1.json")) << "no sampling without a record";
}

TEST_F(LongRun, AFullFileSystemKeepsTheEarlierFiles) {
    if (geteuid() != 0) GTEST_SKIP() << "mounting a small tmpfs needs root";
    std::string disk = dir + "/disk";
    fs::create_directories(disk);
    if (mount("tmpfs", disk.c_str(), "tmpfs", 0, "size=2m") != 0) GTEST_SKIP() << "tmpfs cannot be mounted here";
    struct Unmount {
        std::string path;
        ~Unmount() { umount2(path.c_str(), MNT_DETACH); }
    } unmount{disk};
    Json::Value one;
    one["read log page 07h"] = false;
    one["read log page 08h"] = false;
    test::WriteJson(dir + "/read.cmd.json", test::ReadCommand(one));
    ASSERT_EQ(test::RunQuellix(dir, "-n sim -d disk").exitCode, 0);
    const std::string info = test::ReadFile(disk + "/nvme.info.json");
    const std::string summary = test::ReadFile(disk + "/read.summary.json");
    auto fill = [&](uintmax_t leave) {
        fs::remove(disk + "/filler");
        fs::space_info space = fs::space(disk);
        std::string bytes(space.available > leave ? space.available - leave : 0, 'x');
        test::WriteFile(disk + "/filler", bytes);
    };

    // The earlier run's summary, kept aside by a run whose own summary could
    // not be written; "" when there is none.
    auto keptSummary = [&]() -> std::string {
        for (const auto& entry : fs::directory_iterator(disk))
            if (entry.path().filename().string().rfind("read.summary.before-", 0) == 0)
                return test::ReadFile(entry.path().string());
        return "";
    };
    auto restore = [&]() {
        for (const auto& entry : fs::directory_iterator(disk))
            if (entry.path().filename().string().rfind("read.summary.before-", 0) == 0) fs::remove(entry.path());
        test::WriteFile(disk + "/read.summary.json", summary);
    };

    // Room for the journal but not for a second info document: the run ends
    // with a summary that says so, or, when not even that fits, with the
    // earlier summary kept aside, never under the summary's name.
    fill(info.size() / 2);
    auto full = test::RunQuellix(dir, "-n sim -d disk");
    EXPECT_EQ(full.exitCode, 17) << full.output;
    EXPECT_NE(full.output.find("Could not write JSON data to file '" + disk + "/nvme.info.json': No space left on device"),
              std::string::npos) << full.output;
    EXPECT_TRUE(test::ReadFile(disk + "/nvme.info.json") == info) << "the earlier info document is intact";
    if (fs::exists(disk + "/read.summary.json")) {
        Json::Value failed = test::ReadJson(disk + "/read.summary.json");
        EXPECT_EQ(failed["_cmd"]["result"].asString(), "FAIL");
        EXPECT_EQ(failed["_cmd"]["return code"].asInt(), 17);
    } else {
        EXPECT_TRUE(keptSummary() == summary) << "the earlier summary is intact";
    }
    EXPECT_FALSE(fs::exists(disk + "/read.journal.jsonl")) << "a run that ended leaves no journal to recover";

    // Room for the two sample documents of a new run, but not for its
    // summary: the free room grows a page at a time until the samples fit.
    bool summaryFailed = false;
    for (uintmax_t leave = 2 * info.size(); leave < 2 * info.size() + 256 * 1024 && !summaryFailed; leave += 4096) {
        for (const char* left : {"/read.journal.jsonl", "/nvme.info.sample-1.json", "/nvme.info.sample-2.json"})
            fs::remove(disk + left);
        restore();
        fill(leave);
        auto late = test::RunQuellix(dir, "-n sim -d disk -s 2 -i 0");
        if (late.exitCode == 0) break;
        EXPECT_EQ(late.exitCode, 17) << late.output;
        summaryFailed = late.output.find("Could not write JSON data to file '" + disk +
                                         "/read.summary.json': No space left on device") != std::string::npos;
    }
    EXPECT_TRUE(summaryFailed) << "no free room made the summary fail alone";
    EXPECT_FALSE(fs::exists(disk + "/read.summary.json")) << "no summary of another run under this run's name";
    EXPECT_TRUE(keptSummary() == summary) << "the earlier summary is intact";
    EXPECT_FALSE(fs::exists(disk + "/read.journal.jsonl"));
    for (const auto& entry : fs::directory_iterator(disk))
        EXPECT_EQ(entry.path().filename().string().find(".tmp-"), std::string::npos) << entry.path();
}

// The summary recovered from a run's journal holds what the summary of the
// same run, left to finish, holds: every record of its samples and commands,
// the settings and the drive; only the ending differs.
TEST_F(LongRun, ARecoveredSummaryMatchesTheFinishedOne) {
    const std::string finished = dir + "/finished", copy = dir + "/copy";
    fs::create_directories(finished);
    fs::create_directories(copy);
    // The run sleeps a whole interval after its last sample before it ends:
    // time to copy the complete journal, as a run killed then would leave it.
    // A worn drive: its grades and their reasons must come back too.
    Json::Value changes = ManySamples(3, 1500);
    pid_t child = Start(finished, changes, "-n sim:" QUELLIX_EXAMPLES "/drives/worn-end-of-life.json");
    const std::string journal = finished + "/read.journal.jsonl";
    for (int wait = 0; wait < 1500 && !(fs::exists(journal) && JournalSamples(journal) == 3); ++wait)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    ASSERT_EQ(JournalSamples(journal), 3u) << test::ReadFile(finished + "/out.txt");
    fs::copy_file(journal, copy + "/read.journal.jsonl");
    ASSERT_EQ(Wait(child), 0) << test::ReadFile(finished + "/out.txt");
    ASSERT_EQ(JournalSamples(copy + "/read.journal.jsonl"), 3u) << "copied before the run ended";
    auto recovered = test::RunQuellix(copy, "--recover .");
    ASSERT_EQ(recovered.exitCode, 0) << recovered.output;

    Json::Value left = test::ReadJson(finished + "/read.summary.json");
    Json::Value back = test::ReadJson(copy + "/read.summary.json");
    // The ending: a finished run passed; a recovered one says it was cut short.
    EXPECT_EQ(left["_cmd"]["result"].asString(), "PASS");
    EXPECT_EQ(left["read details"]["worst health status"].asString(), "SUSPECT");
    EXPECT_EQ(back["_cmd"]["result"].asString(), "FAIL");
    EXPECT_EQ(back["_cmd"]["return code"].asInt(), 17);
    EXPECT_TRUE(back["_cmd"]["interrupted"].asBool());
    EXPECT_EQ(back["_cmd"]["end time"], back["read details"]["end time"]);
    for (const char* member : {"result", "return code", "message", "end time", "interrupted"}) {
        left["_cmd"].removeMember(member);
        back["_cmd"].removeMember(member);
    }
    for (const char* member : {"end time", "run time"}) {
        EXPECT_TRUE(back["read details"].isMember(member)) << member;
        left["read details"].removeMember(member);
        back["read details"].removeMember(member);
    }
    // The drive's record (model, serial, thresholds) comes back too.
    EXPECT_TRUE(left["read details"].isMember("drive"));
    // Everything else, member by member.
    for (const std::string& member : left.getMemberNames()) {
        ASSERT_TRUE(back.isMember(member)) << member;
        if (!left[member].isObject()) {
            EXPECT_EQ(back[member].toStyledString(), left[member].toStyledString()) << member;
            continue;
        }
        for (const std::string& inner : left[member].getMemberNames())
            EXPECT_EQ(back[member][inner].toStyledString(), left[member][inner].toStyledString()) << member << " / " << inner;
        for (const std::string& inner : back[member].getMemberNames())
            EXPECT_TRUE(left[member].isMember(inner)) << member << " / " << inner << " only in the recovered summary";
    }
    for (const std::string& member : back.getMemberNames())
        EXPECT_TRUE(left.isMember(member)) << member << " only in the recovered summary";
}
