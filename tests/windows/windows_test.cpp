// What wine can show of the Windows binding: the drive open and I/O control
// error paths, WMI and its absence, the device tree and power scheme
// failures, the platform's files and lock, and the program end to end.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <windows.h>

#include "base/kavo_errors.h"
#include "base/kavo_json.h"
#include "base/platform.h"
#include "decode/decoders.h"
#include "info/nvme_info.h"
#include "decode/parameters.h"
#include "run_binary.h"
#include "host/system_info.h"

namespace kavo {
bool WmiIsRunning();
int ReadDeviceTree(Json::Value& system);
}  // namespace kavo

using namespace kavo;

TEST(WindowsDrive, OpenAndIoControlErrors) {
    EXPECT_THROW(GetNvmeId("\\\\.\\PHYSICALDRIVE97", false), KavoError);
    // Wine opens drive 0 but fails the storage controls: return code 1 and a record.
    NvmeHandle drive;
    try {
        drive = GetNvmeId("\\\\.\\PHYSICALDRIVE0", false);
    } catch (const KavoError&) {
        GTEST_SKIP() << "this host does not open PHYSICALDRIVE0";
    }
    CommandLog run;
    std::vector<uint8_t> buffer(4096, 0x5A);
    EXPECT_EQ(IdentifyController(*drive, buffer.data(), &run), 1);
    EXPECT_EQ(buffer[0], 0x5A);
    EXPECT_EQ(run[0].returnCode, 1);
    EXPECT_NE(NvmePassThroughCommand(*drive, "Start Extended Self-Test", 0x14, 0xFFFFFFFF, 1, 0, 0, 0, 0, 0, &run), 0);
    EXPECT_EQ(run.size(), 2u);
}

TEST(WindowsHost, SystemInfoWithAndWithoutExtendedData) {
    InfoDocument sample;
    EXPECT_EQ(GetSystemInfo(sample, "0", false), 0);
    const Json::Value& info = sample.document;
    const Json::Value& system = info["_metadata"]["system"];
    EXPECT_FALSE(system["hostname"].asString().empty());
    EXPECT_FALSE(system["username"].asString().empty());
    EXPECT_TRUE(system["power source"] == "AC" || system["power source"] == "Battery" || system["power source"] == "Unknown");
    EXPECT_FALSE(system.isMember("Device Tree"));
    // Wine has no configuration manager: the tree read fails with its message.
    Json::Value tree;
    try {
        ReadDeviceTree(tree);
    } catch (const KavoError& e) {
        EXPECT_EQ(std::string(e.what()).find("Failed to connect to machine to get device tree. CM_Connect_Machine. Returned "), 0u);
    }
}

TEST(WindowsHost, DriveListWithoutNvmeDisks) {
    if (!WmiIsRunning()) {
        try {
            GetNvmeDriveList();
            FAIL() << "no list without WMI";
        } catch (const KavoError& e) {
            EXPECT_STREQ(e.what(), "WMI is not running");
        }
        return;
    }
    EXPECT_TRUE(GetNvmeDriveList().empty());
}

TEST(WindowsProgram, HelpUsageErrorAndTraceLog) {
    std::string dir = test::ScratchDirectory("windows-program");
    auto help = test::RunQuellix(dir, "--help");
    EXPECT_EQ(help.exitCode, 0);
    EXPECT_NE(help.output.find("--export"), std::string::npos);
    auto wrong = test::RunQuellix(dir, "--bogus");
    EXPECT_EQ(wrong.exitCode, 16);
    EXPECT_NE(wrong.output.find("USAGE ERROR"), std::string::npos);
    std::string trace = test::ReadFile(dir + "\\quellix.trace.log");
    ASSERT_GT(trace.size(), 3u);
    EXPECT_EQ(trace.compare(0, 3, "\xEF\xBB\xBF"), 0);
    EXPECT_NE(trace.find("USAGE ERROR\r\n"), std::string::npos);
    EXPECT_EQ(trace.find("R\n"), std::string::npos);
}

// The platform's files under wine: the log folder's lock, regular files for
// reading only, and what lies under a name.
TEST(WindowsFiles, LockAndRegularFiles) {
    const std::string dir = test::ScratchDirectory("windows-files");
    const std::string lockFile = dir + "\\quellix.lock";
    EXPECT_EQ(platform::LockForProcess(lockFile).outcome, platform::FileLock::Outcome::Taken);
    // A lock belongs to its handle: a second one is refused and told the
    // holder, this process.
    const platform::FileLock second = platform::LockForProcess(lockFile);
    EXPECT_EQ(second.outcome, platform::FileLock::Outcome::HeldElsewhere);
    EXPECT_EQ(second.holder, static_cast<long>(GetCurrentProcessId()));
    // quellix.exe itself on the folder this test holds: refused at once.
    auto run = test::RunQuellix(dir, std::string(QUELLIX_EXAMPLES) + "/read -n sim -d .");
    EXPECT_EQ(run.exitCode, 17) << run.output;
    EXPECT_NE(run.output.find("is in use by another quellix run (process " + std::to_string(GetCurrentProcessId()) + ")"),
              std::string::npos) << run.output;
    EXPECT_FALSE(std::filesystem::exists(dir + "\\read.summary.json"));

    std::string reason;
    EXPECT_EQ(platform::OpenRegularFile(dir, 0, reason), nullptr);
    test::WriteFile(dir + "\\ten.json", "[1,2,3,44]");
    EXPECT_EQ(platform::OpenRegularFile(dir + "\\ten.json", 5, reason), nullptr);
    EXPECT_EQ(reason, "larger than 5 bytes");
    std::FILE* file = platform::OpenRegularFile(dir + "\\ten.json", 10, reason);
    ASSERT_NE(file, nullptr) << reason;
    std::fclose(file);
    EXPECT_EQ(platform::KindOf(dir + "\\ten.json"), platform::EntryKind::Regular);
    EXPECT_EQ(platform::KindOf(dir), platform::EntryKind::Other);
    EXPECT_EQ(platform::KindOf(dir + "\\missing.json"), platform::EntryKind::Absent);
}
