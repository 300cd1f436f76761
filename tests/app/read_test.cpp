// The read command end to end on the simulated drive.
#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <ctime>
#include <sys/wait.h>
#include <filesystem>
#include <set>
#include <thread>
#include <vector>

#include "decode/decoders.h"
#include "run_binary.h"
#include "scratch_test.h"

using test::ReadJson;
using test::RunQuellix;

namespace fs = std::filesystem;

namespace {

class ReadRun : public test::ScratchTest {
protected:
    void Drive(const std::string& name, const std::string& json) { test::WriteFile(dir + "/" + name, json); }
    Json::Value Info(const std::string& file = "nvme.info.json") { return ReadJson(dir + "/" + file); }
    // Starts a read of the built-in drive in the background; its output goes to out.txt.
    pid_t StartRead(const Json::Value& changes) {
        test::WriteJson(dir + "/read.cmd.json", test::ReadCommand(changes));
        std::string command = "cd '" + dir + "' && exec '" QUELLIX_BINARY "' -n sim > out.txt 2>&1";
        pid_t child = fork();
        if (child == 0) {
            execl("/bin/sh", "sh", "-c", command.c_str(), static_cast<char*>(nullptr));
            _exit(127);
        }
        return child;
    }
    std::string Parameter(const Json::Value& info, const char* name) {
        return info["nvme"]["parameters"][name]["value"].asString();
    }
};

}  // namespace

TEST_F(ReadRun, OneSamplePasses) {
    auto run = Read(Json::Value());
    EXPECT_EQ(run.exitCode, 0) << run.output;
    EXPECT_NE(run.output.find(" No errors found \n"), std::string::npos);
    EXPECT_EQ(run.output.find("Estimated Run Time"), std::string::npos);
    EXPECT_NE(run.output.find("[PASS] quellix returned 0"), std::string::npos);
    Json::Value info = Info();
    EXPECT_EQ(info["_metadata"]["file type"].asString(), "nvme info");
    EXPECT_EQ(info["_metadata"]["result"].asString(), "PASS");
    EXPECT_EQ(info["nvme"]["health status"].asString(), "GOOD");
    EXPECT_EQ(info["nvme"]["description"].asString(), "DRIVE sim : Unknown Quellix Simulated NVMe Drive 512GB");
    EXPECT_EQ(Parameter(info, "Size"), "512 GB");
    EXPECT_EQ(Parameter(info, "Highest Version Detected"), "1.4.0");
    EXPECT_EQ(Parameter(info, "OS Location"), "sim");
    EXPECT_EQ(info["nvme"]["parameters"]["Power On Hours"]["compare type"].asString(), "counter");
    EXPECT_TRUE(info["raw hex data"].isMember("log page 7 pre"));
    EXPECT_EQ(Parameter(info, "Self-Test 1 Result"), "Passed");
    EXPECT_EQ(Parameter(info, "Self-Test 1 Type"), "Extended Test");
    EXPECT_EQ(Parameter(info, "Current Number Of Self-Tests"), "1");
    // Numbers beside the texts, as a script reads them.
    const Json::Value& written = info["nvme"]["parameters"]["Data Units Written"];
    EXPECT_TRUE(written["number"].isUInt64()) << written.toStyledString();
    EXPECT_EQ(written["number"].asUInt64(), 23456789u);
    EXPECT_EQ(written["unit"].asString(), "data units");
    EXPECT_EQ(info["nvme"]["parameters"]["Composite Temperature"]["number"].asInt(), 37);
    EXPECT_FALSE(info["nvme"]["parameters"]["Serial Number (SN)"].isMember("number"));
    // Results appear only where they apply: no compare and no rules here.
    for (const char* member : {"compare mismatches", "all mismatches", "rule violations", "static mismatches"})
        EXPECT_FALSE(info.isMember(member)) << member;
    for (const Json::Value& command : info["_metadata"]["commands"]) EXPECT_EQ(command["return code"].asInt(), 0);
    Json::Value summary = ReadJson(dir + "/read.summary.json");
    EXPECT_EQ(summary["_cmd"]["result"].asString(), "PASS");
    EXPECT_EQ(summary["read details"]["sample"].size(), 1u);
    EXPECT_FALSE(summary["_settings"].isMember("rules"));
    EXPECT_FALSE(summary["_settings"].isMember("compare file"));
    EXPECT_EQ(summary["read details"]["sample"][0]["message"].asString(), "PASSED");
    EXPECT_EQ(summary["command times"].size(), info["_metadata"]["commands"].size());
    std::string trace = test::ReadFile(dir + "/quellix.trace.log");
    EXPECT_EQ(trace.find("ERROR"), std::string::npos) << trace;
}

TEST_F(ReadRun, ExampleDrivesDecodeWithoutErrors) {
    for (const auto& entry : fs::directory_iterator(QUELLIX_EXAMPLES "/drives")) {
        auto run = Read(Json::Value(), "-n sim:" + entry.path().string());
        EXPECT_EQ(run.exitCode, 0) << entry.path() << run.output;
        std::string trace = test::ReadFile(dir + "/quellix.trace.log");
        EXPECT_EQ(trace.find("ERROR"), std::string::npos) << entry.path() << trace;
    }
}

TEST_F(ReadRun, DrivesWhoseNamespaceOneIsNotActive) {
    // Namespaces 2 and 5 only: "Namespace 1" describes NSID 2, and Error
    // Recovery is read from it.
    auto run = Read(Json::Value(), "-n sim:" QUELLIX_EXAMPLES "/drives/namespaces-2-and-5.json");
    EXPECT_EQ(run.exitCode, 0) << run.output;
    Json::Value info = Info();
    EXPECT_EQ(Parameter(info, "Namespace 1 Size in LBA (NSZE)"), "125,026,902");
    EXPECT_EQ(Parameter(info, "Namespace 1 Active LBA Format"), "1");
    ASSERT_EQ(info["nvme"]["namespaces"].size(), 2u);
    EXPECT_EQ(info["nvme"]["namespaces"][0]["nsid"].asUInt(), 2u);
    EXPECT_EQ(info["nvme"]["namespaces"][1]["nsid"].asUInt(), 5u);
    EXPECT_EQ(Parameter(info, "Time Limited Error Recovery (TLER)"), "No Timeout");
    EXPECT_EQ(Parameter(info, "Size"), "1024 GB");

    // No namespace at all: the sample passes without the namespace's
    // parameters and says why Error Recovery was not read.
    run = Read(Json::Value(), "-n sim:" QUELLIX_EXAMPLES "/drives/no-namespace.json");
    EXPECT_EQ(run.exitCode, 0) << run.output;
    info = Info();
    EXPECT_FALSE(info["nvme"]["parameters"].isMember("Namespace 1 Size in LBA (NSZE)"));
    EXPECT_FALSE(info["nvme"]["parameters"].isMember("Time Limited Error Recovery (TLER)"));
    EXPECT_EQ(info["nvme"]["namespaces"].size(), 0u);
    EXPECT_TRUE(info["_metadata"]["namespace features"].isString());
    EXPECT_EQ(info["_metadata"]["result"].asString(), "PASS");

    // The controller answers a namespace feature on an inactive NSID with
    // Invalid Field, as real ones do.
    auto drive = kavo::GetNvmeId("sim:" QUELLIX_EXAMPLES "/drives/namespaces-2-and-5.json", false);
    kavo::CommandLog commands;
    uint32_t dw0 = 0;
    EXPECT_EQ(kavo::GetFeature(*drive, 0x05, 0, &dw0, nullptr, 0, commands, 1), 1);
    EXPECT_EQ(kavo::GetFeature(*drive, 0x05, 0, &dw0, nullptr, 0, commands, 5), 0);
}

TEST_F(ReadRun, GradesAndDescriptionsOfExampleDrives) {
    Read(Json::Value(), "-n sim:" QUELLIX_EXAMPLES "/drives/worn-end-of-life.json");
    EXPECT_EQ(Info()["nvme"]["health status"].asString(), "SUSPECT");
    EXPECT_EQ(Info()["nvme"]["temp status"].asString(), "SUSPECT");
    Read(Json::Value(), "-n sim:" QUELLIX_EXAMPLES "/drives/critical-warnings.json");
    Json::Value critical = Info();
    EXPECT_EQ(critical["nvme"]["health status"].asString(), "CRITICAL");
    EXPECT_EQ(critical["nvme"]["temp status"].asString(), "CRITICAL");
    EXPECT_EQ(Parameter(critical, "Current Number Of Errors"), "64");
    Read(Json::Value(), "-n sim:" QUELLIX_EXAMPLES "/drives/nvme-1.3.json");
    Json::Value old = Info();
    EXPECT_EQ(Parameter(old, "Highest Version Detected"), "1.3.0");
    EXPECT_EQ(old["nvme"]["description"].asString(), "DRIVE sim:" QUELLIX_EXAMPLES "/drives/nvme-1.3.json : Samsung MZVLB256HAHQ-00000 256GB");
    EXPECT_FALSE(old["raw hex data"].isMember("log page 7 pre"));
    Read(Json::Value(), "-n sim:" QUELLIX_EXAMPLES "/drives/two-namespaces.json");
    Json::Value two = Info();
    EXPECT_EQ(Parameter(two, "Size"), "1024 GB");
    EXPECT_EQ(Parameter(two, "Namespace 1 Size in LBA (NSZE)"), "1,000,215,216");
    EXPECT_EQ(Parameter(two, "Namespace 1 Active LBA Format"), "0");
    ASSERT_EQ(two["nvme"]["namespaces"].size(), 2u);
    EXPECT_EQ(two["nvme"]["namespaces"][1]["size in blocks"].asUInt64(), 125026902u);
    EXPECT_EQ(two["nvme"]["namespaces"][1]["block size"].asUInt(), 4096u);
    Read(Json::Value(Json::objectValue), "-n sim");
    Json::Value noSmart = test::ReadCommand();
    noSmart["read log page 02h"] = false;
    test::WriteJson(dir + "/read.cmd.json", noSmart);
    RunQuellix(dir, "-n sim");
    EXPECT_EQ(Info()["nvme"]["health status"].asString(), "Unknown");
}

TEST_F(ReadRun, FailingCommandsFailTheSample) {
    Drive("faulty.json", R"({"faults": [{"command": "log 02", "status": "0x4002"}]})");
    auto run = Read(Json::Value(), "-n sim:faulty.json");
    EXPECT_EQ(run.exitCode, 22) << run.output;
    Json::Value info = Info();
    EXPECT_EQ(info["_metadata"]["result"].asString(), "FAIL");
    EXPECT_EQ(info["_metadata"]["read status"].asString(), "Get Log Page 0x02 failed");
    EXPECT_EQ(info["nvme"]["health status"].asString(), "Unknown");
    EXPECT_NE(run.output.find(" Found errors"), std::string::npos);
    Json::Value summary = ReadJson(dir + "/read.summary.json");
    EXPECT_EQ(summary["read details"]["sample"][0]["message"].asString(), "Sample 1 failed read");
}

TEST_F(ReadRun, FileRuleForManySamples) {
    Json::Value changes;
    changes["samples"] = 10;
    changes["log sample rate"] = 3;
    changes["display sample rate"] = 5;
    auto run = Read(changes);
    EXPECT_EQ(run.exitCode, 0) << run.output;
    for (int i = 1; i <= 10; ++i) {
        bool expected = i == 1 || i == 3 || i == 6 || i == 9 || i == 10;
        EXPECT_EQ(fs::exists(dir + "/nvme.info.sample-" + std::to_string(i) + ".json"), expected) << i;
    }
    EXPECT_FALSE(fs::exists(dir + "/nvme.info.json"));
    EXPECT_NE(run.output.find("     5 samples completed in "), std::string::npos);
    EXPECT_NE(run.output.find("(Device Temp "), std::string::npos);
    EXPECT_NE(run.output.find(" No errors found on 10 samples"), std::string::npos);
    // Samples 2 to 10 were compared with sample 1: counters grew, nothing failed.
    Json::Value last = Info("nvme.info.sample-10.json");
    EXPECT_EQ(last["counter mismatches"].asInt(), 0);
    EXPECT_GT(last["all mismatches"].size(), 0u);
    EXPECT_FALSE(Info("nvme.info.sample-1.json").isMember("all mismatches"));
    // Each written sample holds its own command records, and the summary
    // every sample's, in order.
    const Json::Value& commands = last["_metadata"]["commands"];
    ASSERT_GT(commands.size(), 0u);
    Json::Value summary = ReadJson(dir + "/read.summary.json");
    ASSERT_EQ(summary["command times"].size(), 10 * commands.size());
    for (Json::ArrayIndex k = 0; k < commands.size(); ++k) {
        const Json::Value& journalled = summary["command times"][9 * commands.size() + k];
        EXPECT_EQ(journalled["admin command"], commands[k]["admin command"]);
        EXPECT_EQ(journalled["timestamp"], commands[k]["timestamp"]);
    }
}

TEST_F(ReadRun, FailLimitAndReturnCodes) {
    Drive("faulty.json", R"({"faults": [{"command": "identify 00", "status": 2, "after": 1}]})");
    Json::Value changes;
    changes["samples"] = 5;
    changes["fail limit"] = 2;
    auto run = Read(changes, "-n sim:faulty.json");
    EXPECT_EQ(run.exitCode, 22) << run.output;
    EXPECT_EQ(test::CountLines(run.output, "Reached the failure limit of 2"), 3u);
    EXPECT_TRUE(fs::exists(dir + "/nvme.info.sample-2.json"));
    EXPECT_TRUE(fs::exists(dir + "/nvme.info.sample-3.json"));
    EXPECT_FALSE(fs::exists(dir + "/nvme.info.sample-4.json"));
    EXPECT_NE(run.output.find(" Found errors on 4 samples of 5 total samples"), std::string::npos);
    changes["fail limit"] = 10;
    EXPECT_EQ(Read(changes, "-n sim:faulty.json").exitCode, 21);
    changes["samples"] = 0;
    auto none = Read(changes, "-n sim:faulty.json");
    EXPECT_EQ(none.exitCode, 0);
    EXPECT_NE(none.output.find(" No errors found on 0 samples"), std::string::npos);
}

// Failed samples between passing ones are counted one by one; the run fails
// with 21 below the failure limit and 22 from it on, and a failed sample's
// document is kept while fewer than the limit have failed before it.
TEST_F(ReadRun, FailuresBetweenPassingSamples) {
    // The SMART page fails in samples 2, 4 and 5 of 6.
    Drive("gaps.json", R"({"faults": [{"command": "log 02", "status": 2, "after": 3, "times": 2},
                                       {"command": "log 02", "status": 2, "after": 1, "times": 1}]})");
    const struct {
        int limit;
        int exitCode;
        std::vector<int> documents;  // the samples whose document is written
    } kLimits[] = {{4, 21, {1, 2, 4, 5, 6}}, {3, 22, {1, 2, 4, 5, 6}}, {2, 22, {1, 2, 4, 6}}, {1, 22, {1, 2, 6}}};
    for (const auto& limit : kLimits) {
        SCOPED_TRACE("fail limit " + std::to_string(limit.limit));
        for (const auto& entry : fs::directory_iterator(dir))
            if (entry.path().filename().string().rfind("nvme.info.sample-", 0) == 0) fs::remove(entry.path());
        Json::Value changes;
        changes["samples"] = 6;
        changes["fail limit"] = limit.limit;
        auto run = Read(changes, "-n sim:gaps.json");
        EXPECT_EQ(run.exitCode, limit.exitCode) << run.output;
        const Json::Value summary = ReadJson(dir + "/read.summary.json");
        EXPECT_EQ(summary["_cmd"]["message"].asString(), " Found errors on 3 samples of 6 total samples");
        const Json::Value& samples = summary["read details"]["sample"];
        ASSERT_EQ(samples.size(), 6u);
        for (Json::ArrayIndex i = 0; i < 6; ++i) {
            const bool failed = i == 1 || i == 3 || i == 4;
            EXPECT_EQ(samples[i]["message"].asString(), failed ? "Sample " + std::to_string(i + 1) + " failed read" : "PASSED");
            EXPECT_EQ(samples[i]["return code"].asInt(), failed ? 1 : 0) << i + 1;
        }
        for (int i = 1; i <= 6; ++i) {
            const bool written = std::count(limit.documents.begin(), limit.documents.end(), i) != 0;
            EXPECT_EQ(fs::exists(dir + "/nvme.info.sample-" + std::to_string(i) + ".json"), written) << i;
        }
        EXPECT_EQ(test::CountLines(run.output, "Reached the failure limit of "), static_cast<size_t>(std::max(0, 3 - limit.limit + 1)));
    }
}

// Samples start on a fixed grid: a sample whose commands take half the
// interval does not push the later ones back. The start times recorded in
// the summary are checked against the first, with room for a busy machine;
// a fixed delay after each sample would put the n-th start (n - 1) x 600 ms
// after the first instead of (n - 1) x 400 ms.
TEST_F(ReadRun, SamplesStartOnAFixedGrid) {
    Drive("slow.json", R"({"faults": [{"command": "log 02", "delay ms": 200}]})");
    constexpr int64_t kInterval = 400, kSamples = 6;
    Json::Value changes;
    changes["samples"] = static_cast<int>(kSamples);
    changes["interval in ms"] = static_cast<int>(kInterval);
    changes["read log page 07h"] = false;
    changes["read log page 08h"] = false;
    auto run = Read(changes, "-n sim:slow.json");
    ASSERT_EQ(run.exitCode, 0) << run.output;
    const Json::Value samples = ReadJson(dir + "/read.summary.json")["read details"]["sample"];
    ASSERT_EQ(samples.size(), static_cast<Json::ArrayIndex>(kSamples));
    // "YYYY-MM-DD HH:MM:SS.mmm" as milliseconds of a day count (differences only).
    auto milliseconds = [](const std::string& text) {
        std::tm t{};
        int millis = 0;
        EXPECT_EQ(std::sscanf(text.c_str(), "%d-%d-%d %d:%d:%d.%d", &t.tm_year, &t.tm_mon, &t.tm_mday, &t.tm_hour,
                              &t.tm_min, &t.tm_sec, &millis), 7) << text;
        t.tm_year -= 1900, t.tm_mon -= 1;
        return static_cast<int64_t>(timegm(&t)) * 1000 + millis;
    };
    const int64_t first = milliseconds(samples[0]["timestamp"].asString());
    for (Json::ArrayIndex n = 0; n < samples.size(); ++n) {
        EXPECT_GE(samples[n]["numbers"]["run time"].asDouble(), 200.0) << "sample " << n + 1 << " took the delay";
        const int64_t offset = milliseconds(samples[n]["timestamp"].asString()) - first;
        EXPECT_GE(offset, static_cast<int64_t>(n) * kInterval - 20) << "sample " << n + 1;
        EXPECT_LE(offset, static_cast<int64_t>(n) * kInterval + kInterval / 2) << "sample " << n + 1;
    }
}

// Every capability the built-in drive reports, as its Identify Controller
// data sets it (OACS 0017h, ONCS 005Fh, LPA 0Eh, FRMW 14h, ...), read as a
// user reads it; the QEMU group compares a few of them with another tool.
TEST_F(ReadRun, CapabilitiesOfTheBuiltInDrive) {
    const std::pair<const char*, const char*> kCapabilities[] = {
        {"NVM Subsystem PCIe Ports", "Single"},
        {"NVM Subsystem Controllers", "Single"},
        {"Associated Function Type", "PCI"},
        {"Asymmetric Namespace Access Reporting", "Not Supported"},
        {"Firmware Activation Notices", "Supported"},
        {"Namespace Attribute Notices", "Supported"},
        {"Asymmetric Namespace Access Change Notices", "Not Supported"},
        {"Predictable Latency Event Log Change Notices", "Not Supported"},
        {"LBA Status Information Notices", "Not Supported"},
        {"Endurance Group Event Log Page Change Notices", "Not Supported"},
        {"128-bit Host Identifier", "Not Supported"},
        {"Non-Operational Power State Permissive Mode", "Supported"},
        {"NVM Sets", "Not Supported"},
        {"Read Recovery Levels", "Not Supported"},
        {"Endurance Groups", "Not Supported"},
        {"Predictable Latency Mode", "Not Supported"},
        {"Traffic Based Keep Alive Support", "Not Supported"},
        {"Namespace Granularity", "Not Supported"},
        {"SQ Associations", "Not Supported"},
        {"UUID List", "Not Supported"},
        {"PCIe Management Endpoint (PCIEME)", "Not Supported"},
        {"SMBus Management Endpoint (SMBUSME)", "Not Supported"},
        {"Security Send and Security Receive Command", "Supported"},
        {"Format NVM Command", "Supported"},
        {"Firmware Commit and Image Download Commands", "Supported"},
        {"Namespace Management and Attachment Commands", "Not Supported"},
        {"Device Self-test Command", "Supported"},
        {"Directive Send and Directive Receive Commands", "Not Supported"},
        {"NVME MI Send/Receive Commands", "Not Supported"},
        {"Virtualization Mgt Command", "Not Supported"},
        {"Doorbell Buffer Config Command", "Not Supported"},
        {"Get LBA Status capability", "Not Supported"},
        {"Firmware Activation Without Reset", "Supported"},
        {"Firmware Slots", "2"},
        {"Firmware Slot 1 Read Status", "Read/Write"},
        {"SMART/Health Log Page per Namespace", "Not Supported"},
        {"Commands Supported and Effects Log Page", "Supported"},
        {"Extended Data for Get Log Page", "Supported"},
        {"Telemetry Log Notices", "Supported"},
        {"Persistent Event Log", "Not Supported"},
        {"Admin Vendor Specific command handling", "Not Vendor Specific"},
        {"Autonomous Power State Transition", "Supported"},
        {"Replay Protected Memory Blocks (RPMBS)", "Not Supported"},
        {"One Self-Test", "Per Controller"},
        {"Host Controlled Thermal Management (HCTMA)", "Supported"},
        {"Overwrite Sanitize", "Not Supported"},
        {"Block Erase Sanitize", "Supported"},
        {"Crypto Erase Sanitize", "Supported"},
        {"No-Deallocate Inhibited (NDI)", "Not Supported"},
        {"No-Deallocate Modifies Media After Sanitize (NODMMAS)", "Media modification undefined"},
        {"Report ANA Optimized state", "Not Supported"},
        {"Report ANA Non-Optimized state", "Not Supported"},
        {"Report ANA Inaccessible state", "Not Supported"},
        {"Report ANA Persistent Loss state", "Not Supported"},
        {"Report ANA Change state", "Not Supported"},
        {"Unchanged ANAGRPID", "Not Supported"},
        {"Non-zero ANAGRPID", "Not Supported"},
        {"Compare NVM Command", "Supported"},
        {"Write Uncorrectable NVM Command", "Supported"},
        {"Dataset Management NVM Command", "Supported"},
        {"Write Zeroes NVM Command", "Supported"},
        {"Save/Select Fields in Features Command", "Supported"},
        {"Reservations", "Not Supported"},
        {"Timestamp Feature", "Supported"},
        {"Verify NVM Command", "Not Supported"},
        {"Compare and Write Fused Operation", "Not Supported"},
        {"Format All Namespaces", "Not Supported"},
        {"Secure Erase All Namespaces", "Not Supported"},
        {"Crypto Erase", "Supported"},
        {"Volatile Write Cache (VWC)", "Supported"},
        {"Volatile Write Cache Flush All NSID", "Supported"},
        {"Vendor Specific Command Configuration", "Not Vendor Specific"},
        {"Write Protect Namespace States", "Not Supported"},
        {"Write Protect Until Power Cycle", "Not Supported"},
        {"Permanent Write Protect", "Not Supported"},
        {"SGL support in NVM command", "Not Supported"},
        // fields of zero, which say the feature is not supported
        {"ANA Transition Time (ANATT)", "Not Supported"},
        {"ANA Group Identifier Maximum (ANAGRPMAX)", "Not Supported"},
        {"Number of ANA Group Identifiers (NANAGRPID)", "Not Supported"},
        {"Maximum Outstanding Commands (MAXCMD)", "Not Supported"},
    };
    ASSERT_EQ(Read(Json::Value()).exitCode, 0);
    const Json::Value info = Info();
    for (const auto& [name, value] : kCapabilities) EXPECT_EQ(Parameter(info, name), value) << name;
    // Conditions that leave parameters out: no NVM subsystem report, no
    // SGL support, no RPMB.
    for (const char* absent : {"NVMe Storage Device (NVMESD)", "NVMe Enclosure (NVMEE)", "Keyed SGL Data Block descriptor",
                               "Number of RPMB Units", "Total NVM Capacity (TNVMCAP)"})
        EXPECT_FALSE(info["nvme"]["parameters"].isMember(absent)) << absent;
    // Every capability text of the document is one of the table's.
    std::set<std::string> listed;
    for (const auto& entry : kCapabilities) listed.insert(entry.first);
    for (const std::string& name : info["nvme"]["parameters"].getMemberNames()) {
        const std::string value = Parameter(info, name.c_str());
        if (value == "Supported" || value == "Not Supported") {
            EXPECT_TRUE(listed.count(name) != 0 || info["nvme"]["parameters"][name]["source"].asString() != "Identify Controller")
                << name << " is a capability the table does not check";
        }
    }
}

TEST_F(ReadRun, StopRequestEndsAfterTheSampleInProgress) {
    Json::Value changes;
    changes["samples"] = 1000;
    changes["interval in ms"] = 200;
    pid_t child = StartRead(changes);
    std::this_thread::sleep_for(std::chrono::milliseconds(900));
    kill(child, SIGTERM);
    int status = 0;
    waitpid(child, &status, 0);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
    std::string output = test::ReadFile(dir + "/out.txt");
    EXPECT_NE(output.find("<CTRL BREAK> detected, gracefully exiting"), std::string::npos) << output;
    Json::Value summary = ReadJson(dir + "/read.summary.json");
    Json::ArrayIndex records = summary["read details"]["sample"].size();
    EXPECT_GE(records, 2u);
    EXPECT_LT(records, 10u);
    EXPECT_TRUE(fs::exists(dir + "/nvme.info.sample-" + std::to_string(records) + ".json"));
    EXPECT_EQ(summary["_cmd"]["message"].asString(), " No errors found on " + std::to_string(records - 1) + " samples");
}

TEST_F(ReadRun, UnwritableLogDirectoryNeverPasses) {
    test::WriteFile(dir + "/blocker", "a file where the directory should be");
    auto run = Read(Json::Value(), "-n sim -d blocker/logs");
    EXPECT_EQ(run.exitCode, 16);
    EXPECT_NE(run.output.find("Failed to make log directory: "), std::string::npos);
    EXPECT_EQ(run.output.find("[PASS]"), std::string::npos);
}

TEST_F(ReadRun, BaselineComparedInALaterRun) {
    // One drive file, changed between the runs, keeps the drive's location.
    Drive("drive.json", "{}");
    ASSERT_EQ(Read(Json::Value(), "-n sim:drive.json -d baseline").exitCode, 0);
    auto later = Read(Json::Value(), "-n sim:drive.json -d later -c baseline/nvme.info.json");
    EXPECT_EQ(later.exitCode, 0) << later.output;
    EXPECT_NE(later.output.find(" Compare File:       " + dir + "/baseline/nvme.info.json"), std::string::npos);
    Json::Value info = Info("later/nvme.info.json");
    EXPECT_EQ(info["compare mismatches"].size(), 0u);
    EXPECT_GT(info["all mismatches"].size(), 0u);  // counters grew, host time moved
    EXPECT_EQ(info["nvme"]["parameters"]["Data Units Read"]["compare type"].asString(), "counter");

    // The same baseline against a drive with other firmware: an exact failure,
    // unless the compare type allows a firmware update.
    Drive("drive.json", R"({"identify controller": {"FR": "SIM1.5.0"}})");
    auto firmware = Read(Json::Value(), "-n sim:drive.json -d fw -c baseline/nvme.info.json");
    EXPECT_EQ(firmware.exitCode, 22);
    EXPECT_NE(firmware.output.find("Compare fail: 'Firmware Revision (FR)' value 'SIM1.5.0' does not match compare value 'SIM1.4.0'"),
              std::string::npos) << firmware.output;
    Json::Value summary = ReadJson(dir + "/fw/read.summary.json");
    EXPECT_EQ(summary["read details"]["static mismatches"].asInt(), 1);
    EXPECT_EQ(summary["read details"]["sample"][0]["message"].asString(), "Sample 1 failed compare");
    Json::Value allowed;
    allowed["compare type"] = "firmware";
    EXPECT_EQ(Read(allowed, "-n sim:drive.json -d fw2 -c baseline/nvme.info.json").exitCode, 0);

    // Another serial number: counters are no longer judged, but the serial
    // number itself is a static mismatch.
    Drive("drive.json", R"({"identify controller": {"SN": "OTHER000000000000001"}, "smart": {"POH": 1}})");
    auto serial = Read(Json::Value(), "-n sim:drive.json -d sn -c baseline/nvme.info.json");
    EXPECT_EQ(serial.exitCode, 22);
    Json::Value other = Info("sn/nvme.info.json");
    EXPECT_EQ(other["static mismatches"].asInt(), 1);
    EXPECT_EQ(other["counter mismatches"].asInt(), 0);
    EXPECT_EQ(other["nvme"]["parameters"]["Power On Hours"]["compare type"].asString(), "ignore");
}

TEST_F(ReadRun, CompareAndRulesFileProblemsStopBeforeTheDrive) {
    auto missing = Read(Json::Value(), "-n sim -c nothing.json");
    EXPECT_EQ(missing.exitCode, 16);
    EXPECT_NE(missing.output.find("Failed to find compare file: " + dir + "/nothing.json"), std::string::npos);
    test::WriteFile(dir + "/broken.json", "{");
    EXPECT_NE(Read(Json::Value(), "-n sim -c broken.json").output.find("Failed to parse JSON in compare file: "), std::string::npos);
    test::WriteFile(dir + "/other.json", R"({"_metadata": {"file type": "read summary"}})");
    EXPECT_NE(Read(Json::Value(), "-n sim -c other.json").output.find("Invalid compare file: "), std::string::npos);
    test::WriteFile(dir + "/list.json", "[]");
    EXPECT_EQ(Read(Json::Value(), "-n sim -c list.json").exitCode, 16);
    auto rules = Read(Json::Value(), "-n sim -r nothing");
    EXPECT_EQ(rules.exitCode, 16);
    EXPECT_NE(rules.output.find("Failed to find rules file: " + dir + "/nothing.rules.json"), std::string::npos);
    test::WriteFile(dir + "/bad.rules.json", R"({"rules": ["Percentage Used < 90", "'Percentage Used' =< 90"]})");
    auto bad = Read(Json::Value(), "-n sim -r bad");
    EXPECT_EQ(bad.exitCode, 16);
    EXPECT_NE(bad.output.find("Did not find quoted parameter name"), std::string::npos);
    EXPECT_NE(bad.output.find("Unknown operator '=<'"), std::string::npos);
    // A limit without the unit of its parameter, or that is no number,
    // stops the run before any command reaches the drive.
    test::WriteFile(dir + "/units.rules.json", R"({"rules": ["'Composite Temperature' < 70", "'Percentage Used' < 90abc"]})");
    auto units = Read(Json::Value(), "-n sim -r units");
    EXPECT_EQ(units.exitCode, 16);
    EXPECT_NE(units.output.find("Limit '70' needs the unit C in rule: 'Composite Temperature' < 70"), std::string::npos)
        << units.output;
    EXPECT_NE(units.output.find("Limit '90abc' is not a number"), std::string::npos);
    EXPECT_EQ(test::ReadFile(dir + "/quellix.trace.log").find("Identify Controller"), std::string::npos);
    EXPECT_FALSE(fs::exists(dir + "/read.summary.json"));
}

TEST_F(ReadRun, WornDriveBreaksTheHealthRules) {
    auto run = Read(Json::Value(), "-n sim:" QUELLIX_EXAMPLES "/drives/worn-end-of-life.json -r " QUELLIX_EXAMPLES
                                   "/rules/health.rules.json");
    EXPECT_EQ(run.exitCode, 22) << run.output;
    Json::Value info = Info();
    ASSERT_EQ(info["rule violations"].size(), 3u) << info["rule violations"].toStyledString();
    EXPECT_EQ(info["rule violations"][0]["name"].asString(), "Available Spare");
    EXPECT_EQ(info["rule violations"][1]["msg"].asString(), " Failed rule 'Percentage Used < 90 %' with value '95 %'");
    EXPECT_EQ(info["rule violations"][2]["name"].asString(), "Media and Data Integrity Errors");
    Json::Value summary = ReadJson(dir + "/read.summary.json");
    EXPECT_EQ(summary["read details"]["sample"][0]["message"].asString(), "Sample 1 failed verify");
    EXPECT_EQ(summary["_settings"]["rules file"].asString(), QUELLIX_EXAMPLES "/rules/health.rules.json");
    EXPECT_EQ(Read(Json::Value(), "-n sim -r " QUELLIX_EXAMPLES "/rules/health").exitCode, 0);
}

TEST_F(ReadRun, SecondInterruptEndsTheProcessAtOnce) {
    Json::Value changes;
    changes["samples"] = 1000;
    changes["interval in ms"] = 2000;
    pid_t child = StartRead(changes);
    std::this_thread::sleep_for(std::chrono::milliseconds(700));
    kill(child, SIGINT);
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    kill(child, SIGINT);
    int status = 0;
    waitpid(child, &status, 0);
    // The first interrupt asked for a stop after the sample in progress; the
    // run was still waiting for its next sample when the second one ended it.
    ASSERT_TRUE(WIFSIGNALED(status)) << test::ReadFile(dir + "/out.txt");
    EXPECT_EQ(WTERMSIG(status), SIGINT);
    EXPECT_NE(test::ReadFile(dir + "/out.txt").find("<CTRL C> detected, gracefully exiting"), std::string::npos);
    EXPECT_FALSE(fs::exists(dir + "/read.summary.json"));
}

TEST_F(ReadRun, TelemetryOnlyWhenItsPagesAreRequested) {
    Json::Value changes;
    changes["read log page 07h"] = false;
    ASSERT_EQ(Read(changes).exitCode, 0);
    Json::Value info = Info();
    EXPECT_FALSE(info["raw hex data"].isMember("log page 7 pre"));
    EXPECT_TRUE(info["raw hex data"].isMember("log page 8 pre"));
    for (const Json::Value& command : info["_metadata"]["commands"])
        EXPECT_NE(command["admin command"].asString(), "Get Log Page 0x07");
    changes["log hex data"] = true;
    ASSERT_EQ(Read(changes).exitCode, 0);
    EXPECT_TRUE(Info()["raw hex data"].isMember("log page 0x08"));
    EXPECT_TRUE(Info()["raw hex data"].isMember("Identify Controller"));
}

TEST_F(ReadRun, ExtendedHostDataFromThisMachine) {
    Json::Value changes;
    changes["read extended system data"] = true;
    auto run = Read(changes);
    EXPECT_EQ(run.exitCode, 0) << run.output;
    Json::Value info = Info();
    const Json::Value& system = info["_metadata"]["system"];
    for (const char* key : {"hostname", "username", "power source", "Device Tree", "nvme", "drive", "nvme list", "processor"})
        EXPECT_TRUE(system.isMember(key)) << key;
    EXPECT_TRUE(info["_metadata"].isMember("date"));
    EXPECT_EQ(test::ReadFile(dir + "/quellix.trace.log").find("ERROR"), std::string::npos);
}
