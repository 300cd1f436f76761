// The self-test command end to end on simulated drives with short tests.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "run_binary.h"
#include "scratch_test.h"

using test::ReadJson;
using test::RunQuellix;

namespace {

class SelfTestRun : public test::ScratchTest {
protected:
    // Runs the self-test command on a simulated drive described by `drive`.
    test::RunResult Run(const std::string& drive, const Json::Value& changes = Json::Value(), const std::string& extra = "") {
        test::WriteFile(dir + "/drive.json", drive);
        test::WriteJson(dir + "/st.cmd.json", test::SelfTestCommand(changes));
        auto result = RunQuellix(dir, "st -n sim:drive.json " + extra);
        if (std::filesystem::exists(dir + "/selftest.summary.json")) summary = ReadJson(dir + "/selftest.summary.json");
        return result;
    }
    const Json::Value& Details() { return summary["selftest details"]; }
    Json::Value summary;
};

const char* const kQuick = R"({"self-test": {"short seconds": 2, "extended seconds": 3}})";

}  // namespace

TEST_F(SelfTestRun, ShortTestPassesWithStatusEntries) {
    auto run = Run(kQuick);
    EXPECT_EQ(run.exitCode, 0) << run.output;
    EXPECT_NE(run.output.find("   0% complete at start   Temp: "), std::string::npos) << run.output;
    EXPECT_NE(run.output.find("% complete after "), std::string::npos);
    EXPECT_NE(run.output.find(" SELF-TEST PASSED"), std::string::npos);
    EXPECT_EQ(summary["_cmd"]["result"].asString(), "PASS");
    EXPECT_EQ(Details()["run time estimate"].asString(), "< 2 minutes");
    EXPECT_EQ(Details()["return code"].asInt(), 0);
    EXPECT_EQ(Details()["log page 6 result"].asString(), "0");
    const Json::Value& status = Details()["status"];
    ASSERT_GE(status.size(), 3u);
    EXPECT_EQ(status[0]["percent complete"].asString(), "0");
    EXPECT_TRUE(status[0].isMember("Composite Temperature"));
    EXPECT_EQ(status[1]["status"].asInt(), 1);
    EXPECT_EQ(status[status.size() - 1]["status"].asInt(), 0);
    EXPECT_EQ(summary["command times"][0]["admin command"].asString(), "Identify Controller");
    EXPECT_EQ(summary["command times"][3]["admin command"].asString(), "Start Extended Self-Test");
}

TEST_F(SelfTestRun, ExtendedTestWithoutSmartAndAtDisplayInterval) {
    Json::Value changes;
    changes["read smart data"] = false;
    changes["display sample interval in sec"] = 10;
    auto run = Run(kQuick, changes, "-e");
    EXPECT_EQ(run.exitCode, 0) << run.output;
    EXPECT_EQ(Details()["run time estimate"].asString(), "5 Minutes");
    const Json::Value& status = Details()["status"];
    ASSERT_EQ(status.size(), 2u) << "the first and the final entry only";
    EXPECT_FALSE(status[1].isMember("Composite Temperature"));
    EXPECT_EQ(run.output.find("Temp:"), std::string::npos);
}

TEST_F(SelfTestRun, FinishedAtTheFirstPoll) {
    auto run = Run(R"({"self-test": {"short seconds": 0}})");
    EXPECT_EQ(run.exitCode, 0) << run.output;
    EXPECT_EQ(Details()["status"].size(), 2u);
}

TEST_F(SelfTestRun, FailingTest) {
    auto run = Run(R"({"self-test": {"short seconds": 1, "result": 7, "segment": 2}})");
    EXPECT_EQ(run.exitCode, 33) << run.output;
    EXPECT_EQ(Details()["return code"].asInt(), 7);
    EXPECT_NE(run.output.find(" SELF-TEST FAILED"), std::string::npos);
}

TEST_F(SelfTestRun, AbortConfirmedPasses) {
    Json::Value changes;
    changes["abort time"] = 1;
    auto run = Run(R"({"self-test": {"short seconds": 30}})", changes);
    EXPECT_EQ(run.exitCode, 0) << run.output;
    EXPECT_EQ(Details()["return code"].asInt(), 1);
    EXPECT_NE(run.output.find(" Self-Test Result  : 1"), std::string::npos);
}

TEST_F(SelfTestRun, AbortRefusedUnconfirmedOrUnreadable) {
    Json::Value changes;
    changes["abort time"] = 1;
    EXPECT_EQ(Run(R"({"self-test": {"short seconds": 30}, "faults": [{"command": "self-test 0F", "status": 2}]})", changes).exitCode, 34);
    EXPECT_EQ(summary["_cmd"]["message"].asString(), "Self-test did NOT abort");
    EXPECT_EQ(Run(R"({"self-test": {"short seconds": 30}, "faults": [{"command": "log 06", "status": 2, "after abort": true}]})", changes).exitCode, 36);
    auto ignored = Run(R"({"self-test": {"short seconds": 30, "ignore abort": true}})", changes);
    EXPECT_EQ(ignored.exitCode, 33);
    EXPECT_NE(ignored.output.find("Operation field is not 'No device self-test operation in progress'"), std::string::npos);
}

TEST_F(SelfTestRun, EarlyEnds) {
    EXPECT_EQ(Run(R"({"identify controller": {"OACS": "0x0007"}})").exitCode, 30);
    EXPECT_EQ(summary["_cmd"]["message"].asString(), "Device does NOT support self-test");
    EXPECT_FALSE(summary.isMember("selftest details")) << "no null details after an early end";
    EXPECT_EQ(Run(R"({"faults": [{"command": "identify 01", "status": 6}]})").exitCode, 30);
    EXPECT_EQ(Run(R"({"faults": [{"command": "self-test 01", "status": 6}]})").exitCode, 31);
    EXPECT_EQ(Run(R"({"identify controller": {"EDSTT": 0}})", Json::Value(), "-e").exitCode, 32);
    EXPECT_FALSE(summary.isMember("selftest details"));
    EXPECT_EQ(Run(R"({"identify controller": {"EDSTT": 0}, "self-test": {"short seconds": 0}})").exitCode, 0);
}

TEST_F(SelfTestRun, ProgressBackwardsAndFailedReadsCount) {
    auto backwards = Run(R"({"self-test": {"short seconds": 4, "progress": [10, 20, 15]}})");
    EXPECT_EQ(backwards.exitCode, 33);
    EXPECT_NE(backwards.output.find("Progress must increase.  Last progress: 20 Current progress: 15"), std::string::npos);
    auto unreadable = Run(R"({"self-test": {"short seconds": 2}, "faults": [{"command": "log 06", "status": 2, "after": 1, "times": 1},
                                                                            {"command": "log 02", "status": 2, "after": 1, "times": 1}]})");
    EXPECT_EQ(unreadable.exitCode, 33) << unreadable.output;
    bool page6 = false, page2 = false;
    for (const Json::Value& entry : Details()["status"]) {
        if (entry["message"].asString() == "Failed to read log page 6 for status update") page6 = !entry.isMember("status");
        if (entry["message"].asString() == "Failed to read log page 2 for status update") page2 = true;
    }
    EXPECT_TRUE(page6);
    EXPECT_TRUE(page2);
}

TEST_F(SelfTestRun, PollingEndsWhenTheLogCannotBeRead) {
    // Log page 06h fails for ever once the test runs: the polling stops
    // after ten failed reads in a row instead of waiting for ever.
    auto run = Run(R"({"self-test": {"short seconds": 100}, "faults": [{"command": "log 06", "status": 2, "after": 1}]})");
    EXPECT_EQ(run.exitCode, 33) << run.output;
    EXPECT_EQ(summary["_cmd"]["message"].asString(), "Log Page 6 read failed 10 times in a row: the self-test cannot be followed");
    EXPECT_EQ(Details()["status"].size(), 11u) << "the entry at the start and the ten failed reads";
}

// Every result code the drive can give for the newest test: the run's exit
// code and message, the code in the details and the result's text in the
// self-test log (code Fh marks an unused entry, which the log leaves out).
TEST_F(SelfTestRun, EveryResultCode) {
    const char* const kTexts[16] = {"Passed",   "Aborted",  "Aborted",  "Aborted", "Aborted",  "Failed",
                                    "Failed",   "Failed",   "Aborted",  "Reserved", "Reserved", "Reserved",
                                    "Reserved", "Reserved", "Reserved", nullptr};
    for (unsigned code = 0; code < 16; ++code) {
        SCOPED_TRACE("result " + std::to_string(code));
        auto run = Run(R"({"self-test": {"short seconds": 0, "result": )" + std::to_string(code) + "}}");
        EXPECT_EQ(run.exitCode, code == 0 ? 0 : 33) << run.output;
        EXPECT_EQ(summary["_cmd"]["message"].asString(), code == 0 ? " SELF-TEST PASSED" : " SELF-TEST FAILED");
        EXPECT_EQ(summary["_cmd"]["result"].asString(), code == 0 ? "PASS" : "FAIL");
        EXPECT_EQ(Details()["return code"].asInt(), static_cast<int>(code));
        EXPECT_EQ(Details()["log page 6 result"].asString(), std::to_string(code));
        EXPECT_NE(run.output.find(" Self-Test Result:   " + std::to_string(code) + "\n"), std::string::npos);
        EXPECT_EQ(Details().isMember("failing segment"), code == 7);
        const Json::Value& log = Details()["self-test log"];
        ASSERT_GE(log.size(), 1u);
        if (kTexts[code] != nullptr) {
            EXPECT_EQ(log[0]["result"].asString(), kTexts[code]);
            EXPECT_EQ(log[0]["numbers"]["result"].asUInt(), code);
            EXPECT_EQ(log[0]["test"].asString(), "Short Test");
        } else {
            EXPECT_EQ(log[0]["test"].asString(), "Extended Test") << "the unused entry is left out";
        }
    }
}

// Failed reads of the self-test log are counted one by one, and only an
// unbroken run of them ends the polling: ten failures with a good read
// between them let the test be followed to its end, and the run fails.
TEST_F(SelfTestRun, FailedStatusReadsBetweenGoodOnes) {
    // Reads 2 to 6 and 8 to 12 of log page 06h fail (the first is the one at the start).
    auto run = Run(R"({"self-test": {"short seconds": 13},
                       "faults": [{"command": "log 06", "status": 2, "after": 7, "times": 5},
                                  {"command": "log 06", "status": 2, "after": 1, "times": 5}]})");
    EXPECT_EQ(run.exitCode, 33) << run.output;
    EXPECT_EQ(summary["_cmd"]["message"].asString(), " SELF-TEST FAILED");
    EXPECT_EQ(Details()["return code"].asInt(), 0) << "the drive's test itself passed";
    std::vector<std::string> entries;
    for (const Json::Value& entry : Details()["status"])
        entries.push_back(entry["message"].asString().empty() ? entry["percent complete"].asString() : "failed");
    ASSERT_GE(entries.size(), 13u);
    const std::vector<std::string> failures(5, "failed");
    EXPECT_EQ(std::vector<std::string>(entries.begin() + 1, entries.begin() + 6), failures);
    EXPECT_NE(entries[6], "failed");
    EXPECT_EQ(std::vector<std::string>(entries.begin() + 7, entries.begin() + 12), failures);
    EXPECT_EQ(std::count(entries.begin(), entries.end(), "failed"), 10);
    EXPECT_EQ(Details()["status"][static_cast<Json::ArrayIndex>(entries.size() - 1)]["status"].asInt(), 0) << "the final entry";
    EXPECT_EQ(test::CountLines(run.output, "Failed to read log page 6 for status update"), 10u);

    // A single failed read of the SMART page alone fails an otherwise good run.
    auto smart = Run(R"({"self-test": {"short seconds": 3}, "faults": [{"command": "log 02", "status": 2, "after": 2, "times": 1}]})");
    EXPECT_EQ(smart.exitCode, 33) << smart.output;
    EXPECT_EQ(test::CountLines(smart.output, "Failed to read log page 2 for status update"), 1u);
    EXPECT_EQ(Run(R"({"self-test": {"short seconds": 3}})").exitCode, 0);
}
