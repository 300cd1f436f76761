// The health verdict where users see it (console, summary), the opt-in
// health limit, and the metrics file of a read run.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>

#include "run_binary.h"
#include "scratch_test.h"

namespace fs = std::filesystem;

namespace {

class Monitoring : public test::ScratchTest {
protected:
    // promtool's verdict on a metrics file; skipped where it is missing.
    void ExpectPromtoolAccepts(const std::string& file) {
        if (std::system("command -v promtool >/dev/null 2>&1") != 0) {
            const char* ci = std::getenv("CI");
            if (ci != nullptr && std::string(ci) == "true") ADD_FAILURE() << "promtool is missing in CI";
            return;
        }
        std::string command = "promtool check metrics < '" + file + "' > '" + dir + "/promtool.txt' 2>&1";
        EXPECT_EQ(std::system(command.c_str()), 0) << test::ReadFile(dir + "/promtool.txt");
    }
};

const char* const kCritical = "-n sim:" QUELLIX_EXAMPLES "/drives/critical-warnings.json";

}  // namespace

TEST_F(Monitoring, GradesOnTheConsoleAndInTheSummary) {
    Json::Value changes;
    changes["samples"] = 2;
    changes["interval in ms"] = 0;
    auto run = Read(changes, kCritical);
    EXPECT_EQ(run.exitCode, 0) << "without a health limit the grade alone does not fail";
    size_t temperature = run.output.find(" Device Temp:        ");
    // Each grade with the reasons that set it.
    size_t health = run.output.find(
        " Health Status:      CRITICAL (Media and Data Integrity Errors 57 is above 10; Critical Warning bit 2: "
        "reliability degraded; Critical Warning bit 3: media in read only mode)\n"
        " Temp Status:        CRITICAL (Critical Composite Temperature Time 3 Min is above 0 Min)\n");
    EXPECT_NE(health, std::string::npos) << run.output;
    EXPECT_LT(temperature, health);
    EXPECT_NE(run.output.find(" Worst Health:       CRITICAL (Media and Data Integrity Errors 57"), std::string::npos);
    Json::Value summary = test::ReadJson(dir + "/read.summary.json");
    for (const Json::Value& record : summary["read details"]["sample"]) {
        EXPECT_EQ(record["health status"].asString(), "CRITICAL");
        EXPECT_EQ(record["temp status"].asString(), "CRITICAL");
        EXPECT_EQ(record["health reasons"].size(), 3u);
        EXPECT_EQ(record["temp reasons"][0].asString(), "Critical Composite Temperature Time 3 Min is above 0 Min");
    }
    EXPECT_EQ(summary["read details"]["worst health status"].asString(), "CRITICAL");
    EXPECT_EQ(summary["read details"]["worst health reasons"][1].asString(), "Critical Warning bit 2: reliability degraded");
    EXPECT_EQ(summary["read details"]["worst temp status"].asString(), "CRITICAL");

    Read(Json::Value(), "-n sim:" QUELLIX_EXAMPLES "/drives/worn-end-of-life.json");
    summary = test::ReadJson(dir + "/read.summary.json");
    EXPECT_EQ(summary["read details"]["worst health status"].asString(), "SUSPECT");
}

TEST_F(Monitoring, HealthLimitFailsSamplesAtOrBelowIt) {
    Json::Value changes;
    changes["samples"] = 3;
    changes["interval in ms"] = 0;
    changes["fail limit"] = 5;
    changes["health limit"] = "CRITICAL";
    auto critical = Read(changes, kCritical);
    EXPECT_EQ(critical.exitCode, 21) << critical.output;
    Json::Value summary = test::ReadJson(dir + "/read.summary.json");
    EXPECT_EQ(summary["read details"]["sample"][0]["message"].asString(), "Sample 1 failed health");
    changes["fail limit"] = 2;
    EXPECT_EQ(Read(changes, kCritical).exitCode, 22);
    // SUSPECT is worse than GOOD but better than CRITICAL.
    auto worn = Read(changes, "-n sim:" QUELLIX_EXAMPLES "/drives/worn-end-of-life.json");
    EXPECT_EQ(worn.exitCode, 0) << worn.output;
    changes["health limit"] = "SUSPECT";
    EXPECT_EQ(Read(changes, "-n sim:" QUELLIX_EXAMPLES "/drives/worn-end-of-life.json").exitCode, 22);
    EXPECT_EQ(Read(changes, "-n sim").exitCode, 0);
    changes["health limit"] = "";
    EXPECT_EQ(Read(changes, kCritical).exitCode, 0);
    changes["health limit"] = "BAD";
    auto wrong = Read(changes, kCritical);
    EXPECT_EQ(wrong.exitCode, 16);
    EXPECT_NE(wrong.output.find("Invalid cmd file value for 'health limit'"), std::string::npos) << wrong.output;
    // The health check example uses it.
    auto check = test::RunQuellix(dir, "'" QUELLIX_EXAMPLES "/health-check' " + std::string(kCritical) + " -d check");
    EXPECT_EQ(check.exitCode, 22) << check.output;
    EXPECT_EQ(test::ReadJson(dir + "/check/read.summary.json")["read details"]["sample"][0]["message"].asString(),
              "Sample 1 failed verify and health");
}

TEST_F(Monitoring, MetricsFileAfterEverySample) {
    Json::Value changes;
    changes["samples"] = 3;
    changes["interval in ms"] = 0;
    changes["metrics file"] = "from-file.prom";
    auto run = Read(changes, kCritical);
    EXPECT_EQ(run.exitCode, 0) << run.output;
    std::string text = test::ReadFile(dir + "/from-file.prom");
    EXPECT_NE(text.find("quellix_health_status{"), std::string::npos);
    EXPECT_NE(text.find("bit=\"reliability\"} 1\n"), std::string::npos);
    ExpectPromtoolAccepts(dir + "/from-file.prom");
    // The option overrides the command file; no temporary file is left.
    auto option = Read(changes, "-n sim --metrics option.prom");
    EXPECT_EQ(option.exitCode, 0) << option.output;
    EXPECT_NE(option.output.find(" Metrics File:       " + dir + "/option.prom"), std::string::npos);
    ExpectPromtoolAccepts(dir + "/option.prom");
    for (const auto& entry : fs::directory_iterator(dir))
        EXPECT_EQ(entry.path().filename().string().find(".tmp-"), std::string::npos) << entry.path();
    // Self-tests take no metrics option.
    test::WriteJson(dir + "/st.cmd.json", test::SelfTestCommand());
    auto selfTest = test::RunQuellix(dir, "st -n sim --metrics x.prom");
    EXPECT_EQ(selfTest.exitCode, 16);
    EXPECT_NE(selfTest.output.find("Command type self-test does not use --metrics"), std::string::npos);
}
