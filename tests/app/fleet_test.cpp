// Fleet runs on simulated drives, end to end: a run per drive in a folder
// of its own, the fleet summary, the exit code, baselines by serial, the one
// metrics file, and drives that fail, hang or are not there.
#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <filesystem>
#include <set>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

#include "run_binary.h"
#include "scratch_test.h"

namespace fs = std::filesystem;

namespace {

class FleetRun : public test::ScratchTest {
protected:
    void SetUp() override {
        ScratchTest::SetUp();
        // Still drives, so that two reads of one give the same values.
        Drive("a.json", R"({"identify controller": {"SN": "SERIAL-A"}, "smart": {"AVSPARE": 5},
                            "growth per read": {"DUR": 0, "DUW": 0, "HRC": 0, "HWC": 0, "CBT": 0}, "temperature swing": 0})");
        Drive("b.json", R"({"identify controller": {"SN": "SERIAL-B"},
                            "growth per read": {"DUR": 0, "DUW": 0, "HRC": 0, "HWC": 0, "CBT": 0}, "temperature swing": 0})");
        Drive("failing.json", R"({"identify controller": {"SN": "SERIAL-F"}, "faults": [{"command": "", "status": 6}]})");
        Drive("hanging.json", R"({"identify controller": {"SN": "SERIAL-H"}, "faults": [{"command": "log 02", "hang": true}]})");
        test::WriteJson(dir + "/read.cmd.json", test::ReadCommand());
    }
    void Drive(const std::string& name, const std::string& text) { test::WriteFile(dir + "/" + name, text); }
    Json::Value Summary(const std::string& out = "out") { return test::ReadJson(dir + "/" + out + "/fleet.summary.json"); }
    static const Json::Value* Member(const Json::Value& fleet, const std::string& drive) {
        for (const Json::Value& member : fleet["drives"])
            if (member["drive"].asString() == drive) return &member;
        return nullptr;
    }
    // The parameters of an info document without those that tell the time.
    static Json::Value Timeless(Json::Value info) {
        Json::Value& parameters = info["nvme"]["parameters"];
        for (const char* name : {"Host Timestamp", "Host Timestamp Decoded", "Timestamp", "Timestamp Decoded", "Power On Hours"})
            parameters.removeMember(name);
        return parameters;
    }
};

}  // namespace

TEST_F(FleetRun, EachDriveInItsOwnFolderWithTheFilesOfASingleRun) {
    auto fleet = test::RunQuellix(dir, "read -n sim:a.json,sim:b.json -d out --jobs 1");
    EXPECT_EQ(fleet.exitCode, 0) << fleet.output;
    auto single = test::RunQuellix(dir, "read -n sim:a.json -d single");
    ASSERT_EQ(single.exitCode, 0) << single.output;
    const std::string folder = dir + "/out/sim-a-SERIAL-A";
    std::set<std::string> fleetFiles, singleFiles;
    for (const auto& entry : fs::directory_iterator(folder)) fleetFiles.insert(entry.path().filename().string());
    for (const auto& entry : fs::directory_iterator(dir + "/single")) singleFiles.insert(entry.path().filename().string());
    singleFiles.insert("quellix.console.log");  // the run's console, which a fleet keeps in a file
    EXPECT_EQ(fleetFiles, singleFiles);
    EXPECT_EQ(Timeless(test::ReadJson(folder + "/nvme.info.json")), Timeless(test::ReadJson(dir + "/single/nvme.info.json")));

    Json::Value summary = Summary();
    EXPECT_EQ(summary["_metadata"]["file type"].asString(), "fleet summary");
    EXPECT_EQ(summary["_cmd"]["return code"].asInt(), 0);
    EXPECT_EQ(summary["runs at a time"].asInt(), 1);
    ASSERT_EQ(summary["drives"].size(), 2u);
    const Json::Value& a = *Member(summary, "sim:a.json");
    EXPECT_EQ(a["serial"].asString(), "SERIAL-A");
    EXPECT_EQ(a["exit code"].asInt(), 0);
    EXPECT_EQ(a["result"].asString(), "PASS");
    EXPECT_EQ(a["health status"].asString(), "SUSPECT");
    EXPECT_EQ(a["health reasons"][0].asString(), "Available Spare 5 % is below 10 %");
    EXPECT_EQ(a["summary file"].asString(), folder + "/read.summary.json");
    EXPECT_EQ(a["files"].size(), fleetFiles.size());
    // One console line per drive, with the grade's reasons.
    EXPECT_NE(fleet.output.find(" sim-a-SERIAL-A  sim:a.json  PASS 0  Health SUSPECT (Available Spare 5 % is below 10 %)"
                                "  Temp GOOD\n"),
              std::string::npos)
        << fleet.output;
    EXPECT_NE(fleet.output.find(" sim-b-SERIAL-B  sim:b.json  PASS 0  Health GOOD  Temp GOOD\n"), std::string::npos);
}

TEST_F(FleetRun, FailingAndMissingDrivesAndTheWorstExitCode) {
    // A repeated -n adds to the list.
    auto run = test::RunQuellix(dir, "read -n sim:a.json -n sim:failing.json -d out");
    EXPECT_EQ(run.exitCode, 22) << run.output;
    const Json::Value summary = Summary();
    const Json::Value* failing = Member(summary, "sim:failing.json");
    ASSERT_NE(failing, nullptr);
    EXPECT_EQ((*failing)["exit code"].asInt(), 22);
    EXPECT_EQ((*failing)["serial"].asString(), "SERIAL-F");
    EXPECT_EQ((*Member(summary, "sim:a.json"))["exit code"].asInt(), 0);

    // Drives that are not there: every one named, exit 19, nothing read.
    auto missing = test::RunQuellix(dir, "read -n sim:a.json,serial:NO-SUCH,nvme97n3 -d gone");
    EXPECT_EQ(missing.exitCode, 19) << missing.output;
    EXPECT_NE(missing.output.find("NVMe drive serial:NO-SUCH was not found\nNVMe drive nvme97n3 was not found"),
              std::string::npos) << missing.output;
    EXPECT_FALSE(fs::exists(dir + "/gone/fleet.summary.json"));
    auto jobs = test::RunQuellix(dir, "read -n sim,sim:a.json --jobs 0");
    EXPECT_EQ(jobs.exitCode, 16) << jobs.output;
}

TEST_F(FleetRun, AHangingDriveIsStoppedAndTheOthersComplete) {
    const std::string command = "cd '" + dir + "' && exec '" QUELLIX_BINARY
                                "' read -n sim:a.json,sim:failing.json,sim:hanging.json -d out --jobs 3 > out.txt 2>&1";
    pid_t fleet = fork();
    if (fleet == 0) {
        execl("/bin/sh", "sh", "-c", command.c_str(), static_cast<char*>(nullptr));
        _exit(127);
    }
    // The two drives that end by themselves end; the hanging one waits.
    for (int i = 0; i < 200 && !(fs::exists(dir + "/out/sim-a-SERIAL-A/read.summary.json") &&
                                 fs::exists(dir + "/out/sim-failing-SERIAL-F/read.summary.json"));
         ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    int status = 0;
    ASSERT_EQ(waitpid(fleet, &status, WNOHANG), 0) << "the fleet did not wait for its hanging drive";
    kill(fleet, SIGTERM);
    waitpid(fleet, &status, 0);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 17) << test::ReadFile(dir + "/out.txt");
    Json::Value summary = Summary();
    const Json::Value& hanging = *Member(summary, "sim:hanging.json");
    EXPECT_EQ(hanging["state"].asString(), "ended by force");
    EXPECT_EQ(hanging["exit code"].asInt(), 17);
    EXPECT_NE(hanging["message"].asString().find("did not stop within 10 s of the stop request"), std::string::npos);
    // Its journal became its summary.
    EXPECT_EQ(test::ReadJson(dir + "/out/sim-hanging-SERIAL-H/read.summary.json")["_cmd"]["result"].asString(), "FAIL");
    EXPECT_EQ((*Member(summary, "sim:a.json"))["exit code"].asInt(), 0);
    EXPECT_EQ((*Member(summary, "sim:failing.json"))["exit code"].asInt(), 22);
    // No run of the fleet is left behind.
    FILE* ps = popen(("pgrep -f '[h]anging.json -d " + dir + "'").c_str(), "r");
    char line[64] = {0};
    EXPECT_EQ(std::fgets(line, sizeof line, ps), nullptr) << "left running: " << line;
    pclose(ps);
}

TEST_F(FleetRun, AStopRequestEndsEveryDrivesRunWithItsSummary) {
    Json::Value changes;
    changes["samples"] = 1000;
    changes["interval in ms"] = 100;
    test::WriteJson(dir + "/long.cmd.json", test::ReadCommand(changes));
    const std::string command =
        "cd '" + dir + "' && exec '" QUELLIX_BINARY "' long -n sim:a.json,sim:b.json -d out > out.txt 2>&1";
    pid_t fleet = fork();
    if (fleet == 0) {
        execl("/bin/sh", "sh", "-c", command.c_str(), static_cast<char*>(nullptr));
        _exit(127);
    }
    for (int i = 0; i < 200 && !fs::exists(dir + "/out/sim-b-SERIAL-B/nvme.info.sample-1.json"); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    kill(fleet, SIGINT);
    int status = 0;
    waitpid(fleet, &status, 0);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0) << test::ReadFile(dir + "/out.txt");
    for (const char* folder : {"sim-a-SERIAL-A", "sim-b-SERIAL-B"}) {
        Json::Value summary = test::ReadJson(dir + "/out/" + folder + "/read.summary.json");
        EXPECT_EQ(summary["_cmd"]["result"].asString(), "PASS") << folder;
        EXPECT_LT(summary["read details"]["sample"].size(), 100u) << folder;
        EXPECT_NE(test::ReadFile(dir + "/out/" + folder + "/quellix.console.log").find("gracefully exiting"), std::string::npos);
    }
}

TEST_F(FleetRun, BaselinesPickedBySerialWhateverTheirNames) {
    ASSERT_EQ(test::RunQuellix(dir, "read -n sim:a.json,sim:b.json -d first").exitCode, 0);
    fs::create_directories(dir + "/baselines");
    fs::copy_file(dir + "/first/sim-a-SERIAL-A/nvme.info.json", dir + "/baselines/zz-was-drive-0.json");
    fs::copy_file(dir + "/first/sim-b-SERIAL-B/nvme.info.json", dir + "/baselines/aa-was-drive-1.json");
    test::WriteFile(dir + "/baselines/notes.json", R"({"not": "an info document"})");
    // The drives in the other order: each still finds its own baseline.
    auto fleet = test::RunQuellix(dir, "read -n sim:b.json,sim:a.json -d second -c baselines");
    EXPECT_EQ(fleet.exitCode, 0) << fleet.output;
    Json::Value summary = Summary("second");
    EXPECT_EQ((*Member(summary, "sim:a.json"))["compare file"].asString(), dir + "/baselines/zz-was-drive-0.json");
    EXPECT_EQ((*Member(summary, "sim:b.json"))["compare file"].asString(), dir + "/baselines/aa-was-drive-1.json");
    // A drive under another name (the host numbered it anew) is still the
    // same drive: its path is no mismatch.
    fs::copy_file(dir + "/a.json", dir + "/renumbered.json");
    auto renumbered = test::RunQuellix(dir, "read -n sim:renumbered.json -d renumbered -c baselines");
    EXPECT_EQ(renumbered.exitCode, 0) << renumbered.output;
    // One drive alone picks its own too.
    auto single = test::RunQuellix(dir, "read -n sim:b.json -d third -c baselines");
    EXPECT_EQ(single.exitCode, 0) << single.output;
    EXPECT_NE(single.output.find(" Compare File:       " + dir + "/baselines/aa-was-drive-1.json"), std::string::npos);
    // A drive of another serial, changed since: its baseline is found and fails it.
    Drive("b.json", R"({"identify controller": {"SN": "SERIAL-B", "FR": "2.0"}})");
    auto changed = test::RunQuellix(dir, "read -n sim:b.json,sim:a.json -d fourth -c baselines");
    EXPECT_EQ(changed.exitCode, 22) << changed.output;
    // A drive without a baseline is not read; the others are.
    Drive("c.json", R"({"identify controller": {"SN": "SERIAL-C"}})");
    auto without = test::RunQuellix(dir, "read -n sim:a.json,sim:c.json -d fifth -c baselines");
    EXPECT_EQ(without.exitCode, 16) << without.output;
    const Json::Value fifth = Summary("fifth");
    const Json::Value& c = *Member(fifth, "sim:c.json");
    EXPECT_EQ(c["result"].asString(), "FAIL");
    EXPECT_NE(c["message"].asString().find("No baseline for serial number SERIAL-C"), std::string::npos);
    EXPECT_EQ((*Member(fifth, "sim:a.json"))["exit code"].asInt(), 0);
}

TEST_F(FleetRun, OneMetricsFileForEveryDrive) {
    auto run = test::RunQuellix(dir, "read -n sim:a.json,sim:failing.json,sim:b.json -d out --metrics all.prom");
    EXPECT_EQ(run.exitCode, 22) << run.output;
    std::string metrics = test::ReadFile(dir + "/all.prom");
    EXPECT_EQ(test::CountLines(metrics, "# TYPE quellix_health_status gauge"), 1u) << metrics;
    EXPECT_NE(metrics.find("quellix_health_status{device=\"sim:a.json\",serial=\"SERIAL-A\"} 1\n"), std::string::npos);
    EXPECT_NE(metrics.find("quellix_health_status{device=\"sim:b.json\",serial=\"SERIAL-B\"} 0\n"), std::string::npos);
    // The drive that answers nothing is still listed, under the serial the host knows.
    EXPECT_NE(metrics.find("quellix_drive_listed{device=\"sim:failing.json\",serial=\"SERIAL-F\"} 1\n"), std::string::npos);
    EXPECT_NE(metrics.find("quellix_run_exit_code{device=\"sim:failing.json\",serial=\"SERIAL-F\"} 22\n"), std::string::npos);
    EXPECT_EQ(metrics.find("serial=\"\""), std::string::npos);
    for (const char* device : {"sim:a.json", "sim:b.json"})
        EXPECT_NE(metrics.find(std::string("quellix_last_run_timestamp_seconds{device=\"") + device), std::string::npos);
}

TEST_F(FleetRun, ListAsJson) {
    auto list = test::RunQuellix(dir, "--list --json -n sim:a.json,sim:b.json");
    ASSERT_EQ(list.exitCode, 0) << list.output;
    test::WriteFile(dir + "/list.json", list.output);
    Json::Value drives = test::ReadJson(dir + "/list.json");
    ASSERT_EQ(drives.size(), 2u);
    EXPECT_EQ(drives[0]["serial"].asString(), "SERIAL-A");
    EXPECT_EQ(drives[1]["path"].asString(), "sim:b.json");
    for (const char* key : {"number", "path", "model", "serial", "firmware", "capacity", "capacity bytes", "pci address"})
        EXPECT_TRUE(drives[0].isMember(key)) << key;
    EXPECT_EQ(test::RunQuellix(dir, "--list --json -n sim,serial:NO-SUCH").exitCode, 19);
}
