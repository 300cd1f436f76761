// Error information, firmware slot, self-test and SMART / health pages.
#include <gtest/gtest.h>

#include "fake_drive.h"
#include "decode/decoders.h"
#include "base/kavo_text.h"
#include "decode/health_log.h"
#include "info/nvme_info.h"
#include "decode/parameters.h"

using namespace kavo;
using test::Put;
using test::PutText;

namespace {

class LogPageTest : public ::testing::Test {
protected:
    void SetUp() override {
        identify.assign(4096, 0);
        Put(identify, 80, 0x00010300, 4);
    }
    std::string Value(const std::string& name) {
        const Parameter* record = info.parameters.Find(name);
        return record != nullptr ? record->value : "";
    }
    bool Has(const std::string& name) { return info.parameters.Has(name); }
    std::string NumberOf(const std::string& name) {
        const Parameter* record = info.parameters.Find(name);
        return record != nullptr && record->number.present() ? record->number.Literal() : "";
    }

    std::vector<uint8_t> identify;
    InfoDocument info;
};

}  // namespace

TEST_F(LogPageTest, ErrorEntries) {
    identify[262] = 2;  // three entries
    std::vector<uint8_t> page(192, 0);
    Put(page, 0, 1234567, 8);
    Put(page, 8, 0xFFFF, 2), Put(page, 10, 0xFFFF, 2), Put(page, 12, 0x4005, 2);
    Put(page, 14, 0x0312, 2), Put(page, 16, UINT64_MAX, 8), Put(page, 24, 0xFFFFFFFF, 4);
    page[28] = 0x80;
    Put(page, 128, 7, 8);  // entry 2; entry 1 unused
    Put(page, 128 + 14, 0xFFFF, 2);
    page[128 + 28] = 0x05;
    page[128 + 29] = 1;
    EXPECT_EQ(DecodeErrorInformationLog(info, page.data(), page.size(), identify.data()), 0);
    EXPECT_EQ(Value("Error 0 Error Count"), "1,234,567");
    EXPECT_EQ(Value("Error 0 Submission Queue ID"), "Not Specific");
    EXPECT_EQ(Value("Error 0 Command ID"), "Not Specific");
    EXPECT_EQ(Value("Error 0 Status Field"), "0x4005");
    EXPECT_EQ(Value("Error 0 Bit Location"), "3");
    EXPECT_EQ(Value("Error 0 Byte Location"), "18");
    EXPECT_EQ(Value("Error 0 LBA"), "Not Applicable");
    EXPECT_EQ(Value("Error 0 Namespace"), "Not Applicable");
    EXPECT_EQ(Value("Error 0 Vendor Specific Info"), "0x80");
    EXPECT_FALSE(Has("Error 0 Transport Type"));
    EXPECT_FALSE(Has("Error 0 Transport Type Info"));
    EXPECT_FALSE(Has("Error 1 Error Count"));
    EXPECT_EQ(Value("Error 2 Bit Location"), "Not Specific");
    EXPECT_EQ(Value("Error 2 Vendor Specific Info"), "Invalid Value");
    EXPECT_EQ(Value("Error 2 Transport Type"), "RDMA");
    EXPECT_FALSE(Has("Error 2 Transport Type Info"));
    EXPECT_EQ(Value("Error 2 Command Specific Info"), "0x0000000000000000");
    EXPECT_EQ(NumberOf("Error 0 Status Field"), "16389");
    EXPECT_EQ(NumberOf("Error 0 Error Count"), "1234567");
    EXPECT_EQ(NumberOf("Error 0 LBA"), "");
    EXPECT_EQ(Value("Current Number Of Errors"), "2");
    EXPECT_EQ(info.highestVersion, 0x00010400u);
}

TEST_F(LogPageTest, TransportTypeIsAlwaysShownOnA14Controller) {
    Put(identify, 80, 0x00010400, 4);
    std::vector<uint8_t> page(64, 0);
    Put(page, 0, 5, 8);
    EXPECT_EQ(DecodeErrorInformationLog(info, page.data(), page.size(), identify.data()), 0);
    EXPECT_EQ(Value("Error 0 Transport Type"), "Not Applicable");
    EXPECT_EQ(Value("Error 0 Transport Type Info"), "Reserved");
}

TEST_F(LogPageTest, ErrorEntriesNeverReadPastThePage) {
    identify[262] = 255;  // ELPE claims 256 entries
    std::vector<uint8_t> page(64, 0);
    Put(page, 0, 1, 8);
    page[29] = 3, page[40] = 9;
    EXPECT_EQ(DecodeErrorInformationLog(info, page.data(), page.size(), identify.data()), 0);
    EXPECT_EQ(Value("Current Number Of Errors"), "1");
    EXPECT_EQ(Value("Error 0 Transport Type"), "TCP");
    EXPECT_EQ(Value("Error 0 Transport Type Info"), "9");
}

TEST_F(LogPageTest, FirmwareSlots) {
    identify[260] = 0x06;  // three slots
    std::vector<uint8_t> page(512, 0);
    page[0] = 0x13;
    PutText(page, 8, "ABCDEFGH", 8);
    PutText(page, 16, "1.0", 8, '\0');
    EXPECT_EQ(DecodeFirmwareSlotLog(info, page.data(), page.size(), identify.data()), 0);
    EXPECT_EQ(Value("Firmware Active Slot"), "3");
    EXPECT_EQ(Value("Firmware Pending Slot"), "1");
    EXPECT_EQ(Value("Firmware Slot 1 Revision"), "ABCDEFGH");
    EXPECT_EQ(Value("Firmware Slot 2 Revision"), "1.0");
    EXPECT_EQ(Value("Firmware Slot 3 Revision"), "");
    page[0] = 0x02;
    DecodeFirmwareSlotLog(info, page.data(), page.size(), identify.data());
    EXPECT_EQ(Value("Firmware Pending Slot"), "Not Reported");
}

TEST_F(LogPageTest, SelfTestEntries) {
    std::vector<uint8_t> page(564, 0);
    for (int j = 0; j < 20; ++j) page[4 + 28 * j] = 0x0F;
    EXPECT_EQ(DecodeSelfTestLog(info, page.data(), page.size()), 0);
    EXPECT_EQ(Value("Current Self-Test Operation"), "No Test In Progress");
    EXPECT_EQ(Value("Current Number Of Self-Tests"), "0");
    EXPECT_FALSE(Has("Self-Test 1 Result"));

    page[0] = 2, page[1] = 40;
    page[4] = 0x27, page[5] = 3;  // extended, failed in segment 3, no valid diagnostics
    Put(page, 8, 1200, 8);
    page[32] = 0x10;  // short, passed, with every diagnostic valid
    page[34] = 0x0F;
    Put(page, 32 + 12, 1, 4), Put(page, 32 + 16, 4096, 8);
    page[32 + 24] = 2, page[32 + 25] = 0x81;
    info = InfoDocument();
    DecodeSelfTestLog(info, page.data(), page.size());
    EXPECT_EQ(Value("Current Self-Test Operation"), "Extended Test In Progress");
    EXPECT_EQ(Value("Current Self-Test Completion"), "40");
    EXPECT_EQ(Value("Self-Test 1 Result"), "Failed");
    EXPECT_EQ(Value("Self-Test 1 Result Code"), "7");
    EXPECT_EQ(Value("Self-Test 1 Type"), "Extended Test");
    EXPECT_EQ(Value("Self-Test 1 Segment Number"), "3");
    EXPECT_EQ(Value("Self-Test 1 Power On Hours"), "1,200");
    EXPECT_FALSE(Has("Self-Test 1 Namespace ID"));
    EXPECT_EQ(Value("Self-Test 2 Result"), "Passed");
    EXPECT_EQ(Value("Self-Test 2 Failing LBA"), "4,096");
    EXPECT_EQ(Value("Self-Test 2 Status Code"), "129");
    EXPECT_EQ(NumberOf("Self-Test 2 Failing LBA"), "4096");
    EXPECT_EQ(NumberOf("Self-Test 1 Segment Number"), "3");
    ASSERT_TRUE(info.selfTestLog);
    EXPECT_EQ(info.selfTestLog->results[0].result(), 7u);
    EXPECT_EQ(Value("Current Number Of Self-Tests"), "2");
    EXPECT_EQ(Value("Number Of Failed Self-Tests"), "1");
}

TEST_F(LogPageTest, SmartCountersTemperaturesAndGates) {
    std::vector<uint8_t> page(512, 0);
    page[0] = 0x05;
    Put(page, 1, 272, 2);
    page[3] = 100, page[4] = 10, page[5] = 3;
    page[6] = 0x0D;
    Put(page, 32, 1, 8);                    // one unit
    Put(page, 48, 1953125000, 8);           // 1,000,000 GB
    Put(page, 64, 5, 8), Put(page, 72, 1, 8);  // above 2^64 - 1
    Put(page, 200, 308, 2), Put(page, 204, 1273, 2);
    EXPECT_EQ(DecodeSmartHealthLog(info, page.data(), page.size(), identify.data()), 0);
    EXPECT_EQ(Value("Critical Warnings"), "Yes (0x05)");
    EXPECT_EQ(Value("Available Space Below Threshold"), "Yes");
    EXPECT_EQ(Value("Temperature Over/Under Threshold"), "No");
    EXPECT_EQ(Value("Reliability Degraded"), "Yes");
    EXPECT_FALSE(Has("Persistent Memory Unreliable"));
    EXPECT_EQ(Value("Composite Temperature"), "-1 C");
    EXPECT_EQ(Value("Available Spare"), "100 %");
    EXPECT_EQ(Value("EG Critical Warnings"), "Yes (0xD)");
    EXPECT_EQ(Value("EG in Read Only"), "Yes");
    EXPECT_EQ(Value("Data Units Read"), "1");
    EXPECT_EQ(Value("Data Read"), "0.001 GB");
    EXPECT_EQ(Value("Data Written"), "1,000,000.000 GB");
    EXPECT_EQ(Value("Host Read Commands"), "18,446,744,073,709,551,621");
    EXPECT_EQ(Value("Controller Busy Time"), "0 Min");
    EXPECT_EQ(Value("Temperature Sensor 1"), "35 C");
    EXPECT_FALSE(Has("Temperature Sensor 2"));
    EXPECT_EQ(Value("Temperature Sensor 3"), "1,000 C");
    EXPECT_FALSE(Has("Thermal Management Temperature 1 Time"));
    const std::pair<const char*, const char*> kNumbers[] = {
        {"Critical Warnings", "5"},          {"Composite Temperature", "-1"},
        {"Available Spare", "100"},          {"EG Critical Warnings", "13"},
        {"Data Units Read", "1"},            {"Data Read", "512000"},
        {"Data Written", "1000000000000000"}, {"Host Read Commands", "18446744073709551621"},
        {"Controller Busy Time", "0"},       {"Temperature Sensor 3", "1000"},
        {"Reliability Degraded", ""},
    };
    for (const auto& [name, number] : kNumbers) EXPECT_EQ(NumberOf(name), number) << name;
    ASSERT_TRUE(info.smartHealth);
    EXPECT_EQ(info.smartHealth->dataUnitsWritten, 1953125000u);
    EXPECT_EQ(info.highestVersion, 0x00010400u);

    Put(identify, 80, 0x00010201, 4);
    Put(identify, 322, 1, 2);
    page[0] = 0, page[6] = 0;
    Put(page, 224, 60, 4);
    info = InfoDocument();
    DecodeSmartHealthLog(info, page.data(), page.size(), identify.data());
    EXPECT_EQ(Value("Critical Warnings"), "No");
    EXPECT_FALSE(Has("EG Critical Warnings"));
    EXPECT_EQ(Value("Thermal Management Temperature 1 Time"), "60 Sec");
    EXPECT_EQ(info.highestVersion, 0x00010300u);
}

// Each critical warning bit raised alone shows in its own flag and no other.
TEST_F(LogPageTest, EachCriticalWarningBitShowsInItsOwnFlag) {
    const char* const flags[] = {"Available Space Below Threshold", "Temperature Over/Under Threshold",
                                 "Reliability Degraded", "Media in Read Only", "Volatile Backup Failed",
                                 "Persistent Memory Unreliable"};
    Put(identify, 80, 0x00010400, 4);
    std::vector<uint8_t> page(512, 0);
    for (unsigned raised = 0; raised < 6; ++raised) {
        page[0] = static_cast<uint8_t>(1u << raised);
        info = InfoDocument();
        DecodeSmartHealthLog(info, page.data(), page.size(), identify.data());
        for (unsigned bit = 0; bit < 6; ++bit)
            EXPECT_EQ(Value(flags[bit]), bit == raised ? "Yes" : "No") << flags[bit] << " with bit " << raised << " raised";
    }
}

// A data unit is 64/125 of a thousandth of a gigabyte: rounded to the
// nearest thousandth, exactly, up to the largest counter.
TEST(DataUnits, GigabytesRoundToTheNearestThousandthExactly) {
    auto gigabytes = [](uint64_t low, uint64_t high) { return DataUnitsAsGigabytes(U128FromHalves(low, high)).text; };
    EXPECT_EQ(gigabytes(0, 0), "0.000 GB");
    EXPECT_EQ(gigabytes(83, 0), "0.042 GB");  // 42.496 thousandths
    EXPECT_EQ(gigabytes(42, 0), "0.022 GB");  // 21.504 thousandths
    EXPECT_EQ(gigabytes(UINT64_MAX, UINT64_MAX), "174,224,571,863,520,493,293,247,799,005,065,324.265 GB");
    // The number is the bytes, exact beyond 128 bits.
    EXPECT_EQ(DataUnitsAsGigabytes(kUint128Max).number.Literal(), "174224571863520493293247799005065324264960000");
}

TEST_F(LogPageTest, GetLogPageHonoursSettingsAndFailures) {
    test::FakeDrive drive;
    CommandLog run;
    SampleSettings settings = test::SampleSettings(false);
    EXPECT_EQ(GetLogPage(0x02, 512, drive, info, run, settings, identify.data()), 0);
    EXPECT_TRUE(drive.requests.empty());
    settings.logPages[0x02] = true;
    EXPECT_EQ(GetLogPage(0x02, 512, drive, info, run, settings, identify.data()), 1);
    EXPECT_EQ(run[0].name, "Get Log Page 0x02");
    drive.SetLogPage(0x02, std::vector<uint8_t>(512, 0));
    settings.logHexData = true;
    EXPECT_EQ(GetLogPage(0x02, 512, drive, info, run, settings, identify.data()), 0);
    EXPECT_EQ(info.document["raw hex data"]["log page 0x02"].size(), 32u);
}
