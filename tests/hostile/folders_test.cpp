// Folders and files: two runs on one folder, links planted under the names
// quellix writes, pipes and devices where it reads, oversized input files,
// and writes that fail.
#include <chrono>
#include <csignal>
#include <filesystem>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

#include "hostile.h"

namespace fs = std::filesystem;

namespace {

class FoldersAndFiles : public test::ScratchTest {
protected:
    std::string Folder(const std::string& name) {
        const std::string folder = dir + "/" + name;
        fs::create_directories(folder);
        return folder;
    }
};

Json::Value LongRun() {
    Json::Value changes;
    changes["samples"] = 100000;
    changes["interval in ms"] = 20;
    return changes;
}

}  // namespace

// The second run must neither take the live run's journal for an
// interrupted one nor write into its folder; the same for --recover and
// --report. Only once the first run is gone is its journal recovered.
TEST_F(FoldersAndFiles, ASecondRunOnAFolderInUseTouchesNothing) {
    test::WriteJson(dir + "/read.cmd.json", test::ReadCommand(LongRun()));
    const pid_t first = hostile::Start(dir, "-n sim");
    ASSERT_TRUE(hostile::AwaitFile(dir + "/read.journal.jsonl"));
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    const std::string trace = test::ReadFile(dir + "/quellix.trace.log");
    const std::vector<std::string> before = hostile::Names(dir);

    const std::string pid = "(process " + std::to_string(first) + ")";
    for (const char* arguments : {"-n sim -s 2", "-n sim -s 2 -d .", "--recover .", "--report ."}) {
        auto second = hostile::RunBounded(dir, arguments);
        EXPECT_EQ(second.exitCode, 17) << arguments << ": " << second.output;
        EXPECT_NE(second.output.find("Log directory '" + fs::canonical(dir).string() + "' is in use by another quellix run " +
                                     pid),
                  std::string::npos) << second.output;
    }
    EXPECT_EQ(hostile::Names(dir), before) << "no file made, renamed or removed";
    EXPECT_EQ(test::ReadFile(dir + "/quellix.trace.log").compare(0, trace.size(), trace), 0)
        << "the first run's trace file goes on";

    kill(first, SIGINT);
    EXPECT_EQ(hostile::Wait(first), 0);
    const size_t samples = hostile::Samples(dir + "/read.summary.json").size();
    EXPECT_GE(samples, 2u);
    for (const std::string& name : hostile::Names(dir)) EXPECT_EQ(name.find("interrupted"), std::string::npos) << name;

    // A run killed outright holds nothing: the next run recovers its journal.
    const pid_t killed = hostile::Start(dir, "-n sim");
    ASSERT_TRUE(hostile::AwaitFile(dir + "/read.journal.jsonl"));
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    kill(killed, SIGKILL);
    hostile::Wait(killed);
    auto next = hostile::RunBounded(dir, "-n sim -s 2");
    EXPECT_EQ(next.exitCode, 0) << next.output;
    EXPECT_NE(next.output.find(" samples of an interrupted read run into "), std::string::npos) << next.output;
}

// A link planted under a name quellix writes is not followed: its target is
// never made or filled.
TEST_F(FoldersAndFiles, LinksUnderTheNamesQuellixWritesAreNotFollowed) {
    const std::pair<const char*, int> kNames[] = {
        {"read.journal.jsonl", 17},  // refused: not a journal quellix wrote
        {"quellix.lock", 17},        // refused: the folder cannot be locked
        {"quellix.trace.log", 0},    // replaced by a file of its own
    };
    for (const auto& [name, code] : kNames) {
        const std::string folder = Folder(name);
        const std::string target = folder + "/target-of-the-link";
        fs::create_symlink(target, folder + "/" + name);
        test::WriteJson(folder + "/read.cmd.json", test::ReadCommand());
        auto run = hostile::RunBounded(folder, "-n sim");
        EXPECT_EQ(run.exitCode, code) << name << ": " << run.output;
        EXPECT_FALSE(fs::exists(target)) << name << ": the link's target was written";
    }
    EXPECT_TRUE(fs::is_regular_file(fs::symlink_status(dir + "/quellix.trace.log/quellix.trace.log")));
}

// Where quellix reads a file, a pipe or device is refused at once (a pipe
// would block the run forever) with the name, never read.
TEST_F(FoldersAndFiles, PipesWhereQuellixReadsAreRefusedAtOnce) {
    struct Case {
        const char* pipe;
        const char* arguments;
        int code;
        const char* message;
    };
    const Case kCases[] = {
        {"read.journal.jsonl", "-n sim", 17, "read.journal.jsonl' is not a regular file"},
        {"selftest.journal.jsonl", "--recover .", 17, "selftest.journal.jsonl' is not a regular file"},
        {"fifo.cmd.json", "fifo -n sim", 16, "Command file is not a regular file: fifo.cmd.json"},
        {"limits.rules.json", "-n sim -r limits", 16, "Failed to find rules file: "},
        {"baseline.json", "-n sim -c baseline.json", 16, "Failed to find compare file: "},
        {"drive.json", "-n sim:drive.json", 16, "drive.json"},
    };
    for (const Case& c : kCases) {
        SCOPED_TRACE(c.pipe);
        const std::string folder = Folder(std::string("pipe-") + c.pipe);
        ASSERT_EQ(mkfifo((folder + "/" + c.pipe).c_str(), 0644), 0);
        test::WriteJson(folder + "/read.cmd.json", test::ReadCommand());
        auto run = hostile::RunBounded(folder, c.arguments);
        EXPECT_EQ(run.exitCode, c.code) << run.output;
        EXPECT_NE(run.output.find(c.message), std::string::npos) << run.output;
    }
}

// A command file or rules file larger than any real one is refused before
// it is read: a 10 MB file of numbers would otherwise take gigabytes.
TEST_F(FoldersAndFiles, OversizedCommandAndRulesFilesAreRefused) {
    std::string numbers = "{\"command type\": \"read\", \"padding\": [0";
    while (numbers.size() < 10 * 1000 * 1000) numbers += ",0";
    test::WriteFile(dir + "/big.cmd.json", numbers + "]}");
    auto command = hostile::RunBounded(dir, "big -n sim");
    EXPECT_EQ(command.exitCode, 16) << command.output;
    EXPECT_NE(command.output.find("Command file is larger than 1048576 bytes: big.cmd.json"), std::string::npos)
        << command.output;

    std::string rules = "{\"rules\": [\"'Percentage Used' < 90 %\"], \"padding\": \"";
    rules += std::string(2 * 1024 * 1024, 'x') + "\"}";
    test::WriteFile(dir + "/big.rules.json", rules);
    test::WriteJson(dir + "/read.cmd.json", test::ReadCommand());
    auto limits = hostile::RunBounded(dir, "-n sim -r big");
    EXPECT_EQ(limits.exitCode, 17) << limits.output;
    EXPECT_NE(limits.output.find("big.rules.json': larger than 1048576 bytes"), std::string::npos) << limits.output;
    EXPECT_FALSE(fs::exists(dir + "/read.summary.json"));
}

// A run that cannot write what it must (the metrics file, a sample file)
// ends with 17, a summary that says FAIL instead of the earlier run's PASS,
// and no journal that a later run would take for an interrupted run.
TEST_F(FoldersAndFiles, AWriteThatFailsLeavesAFailSummaryAndNoJournal) {
    const std::pair<const char*, const char*> kCases[] = {
        {"--metrics missing/quellix.prom", "Could not write the metrics file '"},
        {"", "Could not open file to write JSON data to '"},  // a folder where sample 2 goes
    };
    for (const auto& [option, message] : kCases) {
        SCOPED_TRACE(message);
        const std::string folder = Folder(std::string("write-") + (option[0] != '\0' ? "metrics" : "sample"));
        test::WriteJson(folder + "/read.cmd.json", test::ReadCommand());
        ASSERT_EQ(test::RunQuellix(folder, "-n sim -s 3").exitCode, 0);
        ASSERT_EQ(test::ReadJson(folder + "/read.summary.json")["_cmd"]["result"].asString(), "PASS");
        if (option[0] == '\0') {
            fs::remove(folder + "/nvme.info.sample-3.json");
            fs::create_directories(folder + "/nvme.info.sample-3.json");
        }

        auto run = hostile::RunBounded(folder, std::string("-n sim -s 3 ") + option);
        EXPECT_EQ(run.exitCode, 17) << run.output;
        EXPECT_NE(run.output.find("[FAIL] quellix returned 17"), std::string::npos);
        const Json::Value summary = test::ReadJson(folder + "/read.summary.json");
        EXPECT_EQ(summary["_cmd"]["result"].asString(), "FAIL");
        EXPECT_EQ(summary["_cmd"]["return code"].asInt(), 17);
        EXPECT_NE(summary["_cmd"]["message"].asString().find(message), std::string::npos) << summary["_cmd"]["message"].asString();
        EXPECT_FALSE(fs::exists(folder + "/read.journal.jsonl"));

        auto next = hostile::RunBounded(folder, "-n sim");
        EXPECT_EQ(next.exitCode, 0);
        EXPECT_EQ(next.output.find("interrupted"), std::string::npos) << next.output;
    }
}
