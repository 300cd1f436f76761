// Journals: damaged, cut short, and left behind by a killed run.
#include <algorithm>
#include <chrono>
#include <csignal>
#include <filesystem>
#include <thread>

#include "hostile.h"

namespace fs = std::filesystem;

namespace {

class Journals : public test::ScratchTest {
protected:
    // The journal texts kept aside in `folder`, by name.
    static std::vector<std::string> Damaged(const std::string& folder) {
        std::vector<std::string> kept;
        for (const std::string& name : hostile::Names(folder))
            if (name.rfind("read.journal.jsonl.damaged-", 0) == 0) kept.push_back(test::ReadFile(folder + "/" + name));
        return kept;
    }
};

const char kHead[] = R"({"journal":"read","head":{"_cmd":{"begin time":"2026-12-08 21:40:00.000"},"read details":{}}})";
const char kSample[] = R"({"t":"2026-12-08 21:40:01.000","e":1.5,"sm":2,"cm":3,"s":{"message":"PASSED","return code":0}})";

std::string Nested(const char* open, const char* close, int levels) {
    std::string text;
    for (int i = 0; i < levels; ++i) text += open;
    for (int i = 0; i < levels; ++i) text += close;
    return text;
}

}  // namespace

// A journal that is valid JSON but not a journal (wrong types, a record of
// no known kind, nesting deeper than any record) cannot be recovered: it is
// set aside under a name no later journal takes, --recover says which line,
// and the runs after it go on.
TEST_F(Journals, ADamagedJournalIsSetAsideAndTheNextRunProceeds) {
    const std::string head(kHead), sample(kSample);
    const std::pair<std::string, int> kJournals[] = {
        {R"({"journal":"read","head":{"_cmd":5}})", 1},
        {R"({"journal":"read","head":{"read details":[]}})", 1},
        {R"({"journal":"self-test","head":{}})", 1},
        {R"({"x":1})", 1},
        {"[" + Nested("[", "]", 1200) + "]", 1},
        {head + "\n" + R"({"t":5,"e":1,"s":{}})", 2},
        {head + "\n" + R"({"t":"x","e":"1","s":{}})", 2},
        {head + "\n" + R"({"t":"x","e":1,"s":5})", 2},
        {head + "\n" + R"({"t":"x","e":1,"sm":"many","s":{}})", 2},
        {head + "\n" + R"({"t":"x","e":1,"f":"../../etc/passwd","s":{}})", 2},
        {head + "\n" + R"({"c":[]})", 2},
        {head + "\n" + R"({"z":{}})", 2},
        {head + "\n" + sample + "\n" + R"({"t":"x","e":1,"s":)" + Nested("{\"a\":", "}", 100) + "}", 3},
        {head + "\n" + R"({"c":{"a":)" + Nested("[", "]", 200) + "}}\n" + sample, 2},
        {head + "\n" + R"({"t": truncated)" + "\n" + sample, 2},
    };
    int n = 0;
    std::vector<std::string> written;
    for (const auto& [journal, line] : kJournals) {
        SCOPED_TRACE(journal.substr(0, 80));
        test::WriteFile(dir + "/read.journal.jsonl", journal + "\n");
        written.push_back(journal + "\n");
        auto recover = hostile::RunBounded(dir, "--recover .");
        EXPECT_EQ(recover.exitCode, 17) << recover.output;
        EXPECT_NE(recover.output.find("cannot be read as the journal of a read run: line " + std::to_string(line) + ": "),
                  std::string::npos) << recover.output;
        EXPECT_NE(recover.output.find("Kept as "), std::string::npos) << recover.output;
        EXPECT_FALSE(fs::exists(dir + "/read.journal.jsonl"));
        EXPECT_FALSE(fs::exists(dir + "/read.summary.json"));

        // A run meets one the same way and goes on.
        if (++n % 3 == 0) {
            test::WriteFile(dir + "/read.journal.jsonl", journal + "\n");
            written.push_back(journal + "\n");
            test::WriteJson(dir + "/read.cmd.json", test::ReadCommand());
            auto run = hostile::RunBounded(dir, "-n sim");
            EXPECT_EQ(run.exitCode, 0) << run.output;
            EXPECT_NE(run.output.find("cannot be read as the journal of a read run"), std::string::npos);
            fs::remove(dir + "/read.summary.json");
        }
    }
    // Every damaged journal is still there, none written over another.
    std::vector<std::string> kept = Damaged(dir);
    std::sort(kept.begin(), kept.end());
    std::sort(written.begin(), written.end());
    EXPECT_EQ(kept, written);
}

// What a crash leaves at a journal's end is no damage: a last line cut
// short, or zero bytes where writes never reached the device.
TEST_F(Journals, ACrashedJournalsTailIsNoDamage) {
    const std::string head(kHead), sample(kSample);
    const std::string kJournals[] = {
        head + "\n" + sample + "\n" + sample.substr(0, 40),
        head + "\n" + sample + "\n" + sample.substr(0, sample.size() - 1),
        head + "\n" + sample + "\n" + std::string(4096, '\0'),
        head + "\n" + sample + "\n" + std::string(100, '\0') + "\n" + std::string(100, '\0'),
        // A record whose line the zeros end: the parser would stop at the
        // first zero and the summary would take the zeros in.
        head + "\n" + sample + "\n" + sample + std::string(30, '\0') + "\n",
        head + "\n" + sample + "\n" + R"({"c":{"admin command":"Identify"}})" + std::string(30, '\0') + "\n",
    };
    for (const std::string& journal : kJournals) {
        test::WriteFile(dir + "/read.journal.jsonl", journal);
        auto recover = hostile::RunBounded(dir, "--recover .");
        EXPECT_EQ(recover.exitCode, 0) << recover.output;
        EXPECT_EQ(hostile::Samples(dir + "/read.summary.json").size(), 1u);
        EXPECT_TRUE(Damaged(dir).empty());
        // The running mismatch counts of the last complete record stand.
        const Json::Value details = test::ReadJson(dir + "/read.summary.json")["read details"];
        EXPECT_EQ(details["static mismatches"].asInt(), 2);
        EXPECT_EQ(details["counter mismatches"].asInt(), 3);
    }
}

// The run killed here wrote every sample to a file; the next run recovers
// its summary and keeps those files beside it under the same suffix, so
// that its own samples do not replace them.
TEST_F(Journals, ARecoveredRunKeepsItsSampleFiles) {
    Json::Value changes;
    changes["samples"] = 100000;
    changes["interval in ms"] = 5;
    changes["log sample rate"] = 1;
    test::WriteJson(dir + "/read.cmd.json", test::ReadCommand(changes));
    const pid_t child = hostile::Start(dir, "-n sim");
    ASSERT_TRUE(hostile::AwaitFile(dir + "/read.journal.jsonl"));
    for (int wait = 0; wait < 200 && hostile::JournalSamples(dir + "/read.journal.jsonl") < 3; ++wait)
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    kill(child, SIGKILL);
    hostile::Wait(child);
    const size_t completed = hostile::JournalSamples(dir + "/read.journal.jsonl");
    ASSERT_GE(completed, 3u);
    std::vector<std::string> files;
    for (size_t i = 1; i <= completed; ++i)
        files.push_back(test::ReadFile(dir + "/nvme.info.sample-" + std::to_string(i) + ".json"));

    auto next = hostile::RunBounded(dir, "-n sim -s 2 -i 0");
    EXPECT_EQ(next.exitCode, 0) << next.output;
    std::string suffix;
    for (const std::string& name : hostile::Names(dir))
        if (name.rfind("read.summary.interrupted-", 0) == 0) suffix = name.substr(12, name.size() - 12 - 5);
    ASSERT_FALSE(suffix.empty()) << next.output;
    EXPECT_EQ(hostile::Samples(dir + "/read.summary" + suffix + ".json").size(), completed);
    for (size_t i = 1; i <= completed; ++i) {
        const std::string kept = dir + "/nvme.info.sample-" + std::to_string(i) + suffix + ".json";
        EXPECT_TRUE(test::ReadFile(kept) == files[i - 1]) << kept;
    }
    EXPECT_TRUE(fs::exists(dir + "/nvme.info.sample-2.json")) << "the new run's own sample";
}
