// The self-test command end to end on simulated drives with short tests.
#include <gtest/gtest.h>

#include <filesystem>

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
