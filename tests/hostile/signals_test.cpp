// Signals: SIGINT and SIGTERM at the moments that matter.
#include <chrono>
#include <csignal>
#include <filesystem>
#include <thread>

#include "hostile.h"

namespace fs = std::filesystem;

namespace {

class Signals : public test::ScratchTest {
protected:
    std::string Folder(int signal) {
        const std::string folder = dir + "/signal-" + std::to_string(signal);
        fs::create_directories(folder);
        return folder;
    }
};

}  // namespace

// The first sample's SMART read takes two seconds and fails; the stop
// arrives while it runs. The run records the failure and must not pass.
TEST_F(Signals, AStopDuringAFailingSampleEndsWithItsFailure) {
    for (int signal : {SIGINT, SIGTERM}) {
        SCOPED_TRACE(signal);
        const std::string folder = Folder(signal);
        test::WriteFile(folder + "/drive.json",
                        R"({"faults": [{"command": "log 02", "status": 2, "delay ms": 2000, "times": 1}]})");
        Json::Value changes;
        changes["samples"] = 100;
        changes["fail limit"] = 5;
        test::WriteJson(folder + "/read.cmd.json", test::ReadCommand(changes));
        const pid_t child = hostile::Start(folder, "-n sim:drive.json");
        ASSERT_TRUE(hostile::AwaitFile(folder + "/read.journal.jsonl"));
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        kill(child, signal);
        EXPECT_EQ(hostile::Wait(child), 21) << test::ReadFile(folder + "/out.txt");
        const std::string output = test::ReadFile(folder + "/out.txt");
        EXPECT_NE(output.find(" Found errors on 1 samples of 1 total samples"), std::string::npos) << output;
        EXPECT_NE(output.find("[FAIL] quellix returned 21"), std::string::npos);
        const Json::Value summary = test::ReadJson(folder + "/read.summary.json");
        EXPECT_EQ(summary["_cmd"]["result"].asString(), "FAIL");
        const Json::Value& samples = summary["read details"]["sample"];
        ASSERT_EQ(samples.size(), 1u);
        EXPECT_EQ(samples[0]["message"].asString(), "Sample 1 failed read");
    }
}

// A self-test follows the drive's test; a stop ends the following, not the
// test, and the summary and the result line say so.
TEST_F(Signals, AStoppedSelfTestLeavesTheDrivesTestRunningAndSaysSo) {
    for (int signal : {SIGINT, SIGTERM}) {
        SCOPED_TRACE(signal);
        const std::string folder = Folder(signal);
        test::WriteFile(folder + "/drive.json", R"({"self-test": {"short seconds": 120}})");
        test::WriteJson(folder + "/st.cmd.json", test::SelfTestCommand());
        const pid_t child = hostile::Start(folder, "st -n sim:drive.json");
        ASSERT_TRUE(hostile::AwaitFile(folder + "/selftest.journal.jsonl"));
        std::this_thread::sleep_for(std::chrono::milliseconds(1500));
        kill(child, signal);
        EXPECT_EQ(hostile::Wait(child), 35);
        const std::string output = test::ReadFile(folder + "/out.txt");
        EXPECT_NE(output.find("detected, gracefully exiting"), std::string::npos) << output;
        EXPECT_NE(output.find("the drive's self-test was not aborted and goes on"), std::string::npos) << output;
        EXPECT_NE(output.find("[FAIL] quellix returned 35"), std::string::npos) << output;
        ASSERT_TRUE(fs::exists(folder + "/selftest.summary.json"));
        const Json::Value summary = test::ReadJson(folder + "/selftest.summary.json");
        EXPECT_EQ(summary["_cmd"]["result"].asString(), "FAIL");
        EXPECT_EQ(summary["_cmd"]["return code"].asInt(), 35);
        EXPECT_TRUE(summary["_cmd"]["interrupted"].asBool());
        EXPECT_GE(summary["selftest details"]["status"].size(), 1u);
        EXPECT_TRUE(summary["selftest details"].isMember("end time"));
        for (const Json::Value& command : summary["command times"])
            EXPECT_NE(command["admin command"].asString(), "Abort Self-Test") << "the drive's test is left running";
        EXPECT_FALSE(fs::exists(folder + "/selftest.journal.jsonl"));
    }
}
