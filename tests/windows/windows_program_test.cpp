// quellix.exe end to end under wine, as a user runs it: a read of the
// simulated drive, a comparison with that baseline, the health rules, a run
// of 20 samples with its report and metrics, self-tests, the parameter
// export and the drive list; each exit code and file is checked.
#include <gtest/gtest.h>

#include <filesystem>

#include "base/kavo_json.h"
#include "run_binary.h"

namespace {

const std::string kExamples = QUELLIX_EXAMPLES;

bool Exists(const std::string& path) { return std::filesystem::exists(path); }

class WindowsProgram : public ::testing::Test {
protected:
    void SetUp() override {
        dir = test::ScratchDirectory(std::string("program-") + testing::UnitTest::GetInstance()->current_test_info()->name());
    }
    test::RunResult Run(const std::string& arguments) { return test::RunQuellix(dir, arguments); }
    Json::Value Document(const std::string& path) { return test::ReadJson(dir + "\\" + path); }
    std::string dir;
};

}  // namespace

TEST_F(WindowsProgram, ReadCompareAndRules) {
    auto read = Run(kExamples + "/read -n sim -d baseline");
    ASSERT_EQ(read.exitCode, 0) << read.output;
    EXPECT_NE(read.output.find("[PASS] quellix returned 0"), std::string::npos) << read.output;
    Json::Value info = Document("baseline\\nvme.info.json");
    EXPECT_EQ(info["_metadata"]["result"].asString(), "PASS");
    EXPECT_EQ(info["nvme"]["health status"].asString(), "GOOD");
    EXPECT_EQ(info["nvme"]["description"].asString(), "DRIVE sim : Unknown Quellix Simulated NVMe Drive 512GB");
    for (const Json::Value& command : info["_metadata"]["commands"]) EXPECT_EQ(command["return code"].asInt(), 0);
    // Wine does not implement PowerGetActiveScheme (it returns 120): the
    // sample holds no power plan, where a Windows host gives its active
    // scheme's name and NVMe settings.
    EXPECT_FALSE(info["_metadata"]["system"].isMember("powerplan"));
    Json::Value summary = Document("baseline\\read.summary.json");
    EXPECT_EQ(summary["_cmd"]["result"].asString(), "PASS");
    EXPECT_EQ(summary["read details"]["sample"].size(), 1u);

    // The same drive compared with its baseline: no mismatch that fails.
    auto same = Run(kExamples + "/read -n sim -d later -c baseline\\nvme.info.json");
    EXPECT_EQ(same.exitCode, 0) << same.output;
    EXPECT_EQ(Document("later\\nvme.info.json")["compare mismatches"].size(), 0u);
    // A worn drive against the healthy baseline: wear went up, identity changed.
    auto worn = Run(kExamples + "/read -n sim:" + kExamples + "/drives/worn-end-of-life.json -d worn -c baseline\\nvme.info.json");
    EXPECT_EQ(worn.exitCode, 22) << worn.output;
    EXPECT_GT(Document("worn\\nvme.info.json")["compare mismatches"].size(), 0u);

    // The health rules: the healthy drive keeps them, the worn one breaks three.
    auto kept = Run(kExamples + "/read -n sim -r " + kExamples + "/rules/health -d rules");
    EXPECT_EQ(kept.exitCode, 0) << kept.output;
    EXPECT_EQ(Document("rules\\nvme.info.json")["rule violations"].size(), 0u);
    auto broken = Run(kExamples + "/health-check -n sim:" + kExamples + "/drives/worn-end-of-life.json -d broken");
    EXPECT_EQ(broken.exitCode, 22) << broken.output;
    Json::Value violations = Document("broken\\nvme.info.json")["rule violations"];
    ASSERT_EQ(violations.size(), 3u) << violations.toStyledString();
    EXPECT_EQ(violations[0]["name"].asString(), "Available Spare");
}

TEST_F(WindowsProgram, TwentySamplesWithReportAndMetrics) {
    auto run = Run(kExamples + "/read -n sim -s 20 -i 50 -d run --metrics run\\quellix.prom");
    ASSERT_EQ(run.exitCode, 0) << run.output;
    Json::Value summary = Document("run\\read.summary.json");
    EXPECT_EQ(summary["_cmd"]["result"].asString(), "PASS");
    EXPECT_EQ(summary["read details"]["sample"].size(), 20u);
    for (const Json::Value& sample : summary["read details"]["sample"]) EXPECT_EQ(sample["message"].asString(), "PASSED");
    EXPECT_TRUE(Exists(dir + "\\run\\nvme.info.sample-1.json"));
    const std::string report = test::ReadFile(dir + "\\run\\read.report.html");
    EXPECT_NE(report.find("<html"), std::string::npos);
    EXPECT_NE(report.find("<svg"), std::string::npos) << "the charts of the 20 samples";
    const std::string metrics = test::ReadFile(dir + "\\run\\quellix.prom");
    EXPECT_NE(metrics.find("# TYPE "), std::string::npos) << metrics;
    EXPECT_NE(metrics.find("quellix_"), std::string::npos) << metrics;
    EXPECT_EQ(metrics.find("\r\n"), std::string::npos) << "the text format has bare line feeds on every platform";
    EXPECT_FALSE(Exists(dir + "\\run\\read.journal.jsonl")) << "the journal goes once the summary is written";
}

TEST_F(WindowsProgram, SelfTests) {
    auto passed = Run(kExamples + "/self-test-short -n sim -d short");
    ASSERT_EQ(passed.exitCode, 0) << passed.output;
    Json::Value summary = Document("short\\selftest.summary.json");
    EXPECT_EQ(summary["_cmd"]["result"].asString(), "PASS");
    EXPECT_TRUE(Exists(dir + "\\short\\selftest.report.html"));
    auto failed = Run(kExamples + "/self-test-short -n sim:" + kExamples + "/drives/self-test-fails.json -d failed");
    EXPECT_EQ(failed.exitCode, 33) << failed.output;
    EXPECT_EQ(Document("failed\\selftest.summary.json")["_cmd"]["result"].asString(), "FAIL");
}

TEST_F(WindowsProgram, ExportAndDriveList) {
    auto exported = Run("--export");
    EXPECT_EQ(exported.exitCode, 0) << exported.output;
    Json::Value list = Document("parameter_list.json");
    EXPECT_GT(list["parameters"].size(), 500u);
    EXPECT_EQ(Document("ALL.filter.json")["filter"].size(), list["parameters"].size());

    std::filesystem::remove(dir + "\\quellix.trace.log");  // --export's
    auto simulated = Run("--list -n sim");
    EXPECT_EQ(simulated.exitCode, 0) << simulated.output;
    EXPECT_NE(simulated.output.find("Number"), std::string::npos) << simulated.output;
    EXPECT_NE(simulated.output.find("Quellix Simulated NVMe Drive"), std::string::npos) << simulated.output;
    EXPECT_FALSE(Exists(dir + "\\quellix.trace.log")) << "--list leaves no file";
    // Wine's WMI has no NVMe disk (its disks are IDE\DISK...VEN_WINE): the
    // host list is empty, exit code 19.
    auto host = Run("--list");
    EXPECT_EQ(host.exitCode, 19) << host.output;
}

TEST_F(WindowsProgram, FleetOfSimulatedDrivesInChildProcesses) {
    // Each drive read by quellix.exe started again (CreateProcess) into a
    // folder of its own; the worst drive's exit code; the list as JSON.
    const std::string worn = "sim:" + kExamples + "/drives/worn-end-of-life.json";
    auto fleet = Run(kExamples + "/read -n sim," + worn + " -d fleet --metrics fleet\\all.prom");
    EXPECT_EQ(fleet.exitCode, 0) << fleet.output;
    Json::Value summary = Document("fleet\\fleet.summary.json");
    ASSERT_EQ(summary["drives"].size(), 2u) << fleet.output;
    EXPECT_EQ(summary["drives"][0]["folder"].asString(), dir + "\\fleet\\sim-QLX0SIM0000000000001");
    EXPECT_EQ(summary["drives"][1]["health status"].asString(), "SUSPECT");
    EXPECT_TRUE(Exists(dir + "\\fleet\\sim-QLX0SIM0000000000001\\nvme.info.json"));
    EXPECT_TRUE(Exists(dir + "\\fleet\\sim-worn-end-of-life-QLXWORN0000000000042\\read.summary.json"));
    std::string metrics = test::ReadFile(dir + "\\fleet\\all.prom");
    EXPECT_NE(metrics.find("quellix_drive_listed{device=\"sim\""), std::string::npos) << metrics;
    auto missing = Run(kExamples + "/read -n sim,serial:NO-SUCH -d gone");
    EXPECT_EQ(missing.exitCode, 19) << missing.output;
    auto list = Run("--list --json -n sim");
    EXPECT_EQ(list.exitCode, 0) << list.output;
    EXPECT_NE(list.output.find("\"serial\" : \"QLX0SIM0000000000001\""), std::string::npos) << list.output;
}
