// Error information, firmware slot, self-test and SMART / health pages.
#include <gtest/gtest.h>

#include "fake_drive.h"
#include "field_limits.h"
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

// Every field at its largest value (all bytes FF) and at a value that needs
// its top byte (only the top bit set): a field read narrower, wider, signed
// or at a shifted offset shows in the value or the number, or in another
// field that should have stayed as it was on an all-zero page.
TEST_F(LogPageTest, SmartFieldsAtTheirLargestAndTopByteValues) {
    const std::vector<test::FieldLimits> kFields = {
        {"Critical Warnings", 0, 1, {"Yes (0xFF)", "255"}, {"Yes (0x80)", "128"}},
        {"Composite Temperature", 1, 2, {"65,262 C", "65262"}, {"32,495 C", "32495"}},
        {"Available Spare", 3, 1, {"255 %", "255"}, {"128 %", "128"}},
        {"Available Spare Threshold", 4, 1, {"255 %", "255"}, {"128 %", "128"}},
        {"Percentage Used", 5, 1, {"255 %", "255"}, {"128 %", "128"}},
        {"EG Critical Warnings", 6, 1, {"Yes (0xF)", "255"}, {"Yes (0x0)", "128"}},
        {"Data Units Read", 32, 16, {"340,282,366,920,938,463,463,374,607,431,768,211,455", "340282366920938463463374607431768211455"}, {"170,141,183,460,469,231,731,687,303,715,884,105,728", "170141183460469231731687303715884105728"}},
        {"Data Read", 32, 16, {"174,224,571,863,520,493,293,247,799,005,065,324.265 GB", "174224571863520493293247799005065324264960000"}, {"87,112,285,931,760,246,646,623,899,502,532,662.133 GB", "87112285931760246646623899502532662132736000"}},
        {"Data Units Written", 48, 16, {"340,282,366,920,938,463,463,374,607,431,768,211,455", "340282366920938463463374607431768211455"}, {"170,141,183,460,469,231,731,687,303,715,884,105,728", "170141183460469231731687303715884105728"}},
        {"Data Written", 48, 16, {"174,224,571,863,520,493,293,247,799,005,065,324.265 GB", "174224571863520493293247799005065324264960000"}, {"87,112,285,931,760,246,646,623,899,502,532,662.133 GB", "87112285931760246646623899502532662132736000"}},
        {"Host Read Commands", 64, 16, {"340,282,366,920,938,463,463,374,607,431,768,211,455", "340282366920938463463374607431768211455"}, {"170,141,183,460,469,231,731,687,303,715,884,105,728", "170141183460469231731687303715884105728"}},
        {"Host Write Commands", 80, 16, {"340,282,366,920,938,463,463,374,607,431,768,211,455", "340282366920938463463374607431768211455"}, {"170,141,183,460,469,231,731,687,303,715,884,105,728", "170141183460469231731687303715884105728"}},
        {"Controller Busy Time", 96, 16, {"340,282,366,920,938,463,463,374,607,431,768,211,455 Min", "340282366920938463463374607431768211455"}, {"170,141,183,460,469,231,731,687,303,715,884,105,728 Min", "170141183460469231731687303715884105728"}},
        {"Power Cycles", 112, 16, {"340,282,366,920,938,463,463,374,607,431,768,211,455", "340282366920938463463374607431768211455"}, {"170,141,183,460,469,231,731,687,303,715,884,105,728", "170141183460469231731687303715884105728"}},
        {"Power On Hours", 128, 16, {"340,282,366,920,938,463,463,374,607,431,768,211,455", "340282366920938463463374607431768211455"}, {"170,141,183,460,469,231,731,687,303,715,884,105,728", "170141183460469231731687303715884105728"}},
        {"Unsafe Shutdowns", 144, 16, {"340,282,366,920,938,463,463,374,607,431,768,211,455", "340282366920938463463374607431768211455"}, {"170,141,183,460,469,231,731,687,303,715,884,105,728", "170141183460469231731687303715884105728"}},
        {"Media and Data Integrity Errors", 160, 16, {"340,282,366,920,938,463,463,374,607,431,768,211,455", "340282366920938463463374607431768211455"}, {"170,141,183,460,469,231,731,687,303,715,884,105,728", "170141183460469231731687303715884105728"}},
        {"Number of Error Information Log Entries", 176, 16, {"340,282,366,920,938,463,463,374,607,431,768,211,455", "340282366920938463463374607431768211455"}, {"170,141,183,460,469,231,731,687,303,715,884,105,728", "170141183460469231731687303715884105728"}},
        {"Warning Composite Temperature Time", 192, 4, {"4,294,967,295 Min", "4294967295"}, {"2,147,483,648 Min", "2147483648"}},
        {"Critical Composite Temperature Time", 196, 4, {"4,294,967,295 Min", "4294967295"}, {"2,147,483,648 Min", "2147483648"}},
        {"Temperature Sensor 1", 200, 2, {"65,262 C", "65262"}, {"32,495 C", "32495"}},
        {"Temperature Sensor 2", 202, 2, {"65,262 C", "65262"}, {"32,495 C", "32495"}},
        {"Temperature Sensor 3", 204, 2, {"65,262 C", "65262"}, {"32,495 C", "32495"}},
        {"Temperature Sensor 4", 206, 2, {"65,262 C", "65262"}, {"32,495 C", "32495"}},
        {"Temperature Sensor 5", 208, 2, {"65,262 C", "65262"}, {"32,495 C", "32495"}},
        {"Temperature Sensor 6", 210, 2, {"65,262 C", "65262"}, {"32,495 C", "32495"}},
        {"Temperature Sensor 7", 212, 2, {"65,262 C", "65262"}, {"32,495 C", "32495"}},
        {"Temperature Sensor 8", 214, 2, {"65,262 C", "65262"}, {"32,495 C", "32495"}},
        {"Thermal Management Temperature 1 Count", 216, 4, {"4,294,967,295", "4294967295"}, {"2,147,483,648", "2147483648"}},
        {"Thermal Management Temperature 2 Count", 220, 4, {"4,294,967,295", "4294967295"}, {"2,147,483,648", "2147483648"}},
        {"Thermal Management Temperature 1 Time", 224, 4, {"4,294,967,295 Sec", "4294967295"}, {"2,147,483,648 Sec", "2147483648"}},
        {"Thermal Management Temperature 2 Time", 228, 4, {"4,294,967,295 Sec", "4294967295"}, {"2,147,483,648 Sec", "2147483648"}},
    };
    Put(identify, 80, 0x00010400, 4);
    Put(identify, 322, 1, 2);  // host controlled thermal management: the thermal fields show
    test::ExpectFieldsAtTheirLimits(std::vector<uint8_t>(512, 0), kFields, [&](const std::vector<uint8_t>& page) {
        info = InfoDocument();
        DecodeSmartHealthLog(info, page.data(), page.size(), identify.data());
        return info.parameters;
    });
}

// The error entry, firmware slot and self-test fields at their limits, with
// the same check as the SMART fields. The error entry is one of a TCP
// controller, so that its transport information is a number.
TEST_F(LogPageTest, LogEntryFieldsAtTheirLargestAndTopByteValues) {
    const char* const kMax64 = "18,446,744,073,709,551,615";
    const char* const kTop64 = "9,223,372,036,854,775,808";
    const std::vector<test::FieldLimits> kErrorFields = {
        {"Error 0 Error Count", 0, 8, {kMax64, "18446744073709551615"}, {kTop64, "9223372036854775808"}, "count"},
        {"Error 0 Submission Queue ID", 8, 2, {"Not Specific", ""}, {"32,768", "32768"}, "identifier"},
        {"Error 0 Command ID", 10, 2, {"Not Specific", ""}, {"32,768", "32768"}, "identifier"},
        {"Error 0 Status Field", 12, 2, {"0xFFFF", "65535"}, {"0x8000", "32768"}, "bit field"},
        {"Error 0 Bit Location", 14, 2, {"Not Specific", ""}, {"0", "0"}, "count"},
        {"Error 0 Byte Location", 14, 2, {"Not Specific", ""}, {"0", "0"}, "count"},
        {"Error 0 LBA", 16, 8, {"Not Applicable", ""}, {kTop64, "9223372036854775808"}, "identifier"},
        {"Error 0 Namespace", 24, 4, {"Not Applicable", ""}, {"2,147,483,648", "2147483648"}, "identifier"},
        {"Error 0 Vendor Specific Info", 28, 1, {"0xFF", "255"}, {"0x80", "128"}, "identifier"},
        {"Error 0 Transport Type", 29, 1, {"Reserved", ""}, {"Reserved", ""}, nullptr, true},
        {"Error 0 Command Specific Info", 32, 8, {"0xFFFFFFFFFFFFFFFF", "18446744073709551615"},
         {"0x8000000000000000", "9223372036854775808"}, "bit field"},
        // TCP defines byte 40 only (the transport's status); byte 41 is reserved.
        {"Error 0 Transport Type Info", 40, 2, {"255", "255"}, {"0", "0"}, "code"},
    };
    Put(identify, 80, 0x00010400, 4);
    std::vector<uint8_t> entry(64, 0);
    entry[0] = 1, entry[29] = 3;
    test::ExpectFieldsAtTheirLimits(entry, kErrorFields, [&](const std::vector<uint8_t>& page) {
        info = InfoDocument();
        DecodeErrorInformationLog(info, page.data(), page.size(), identify.data());
        return info.parameters;
    });

    const std::vector<test::FieldLimits> kSlotFields = {
        {"Firmware Active Slot", 0, 1, {"7", "7"}, {"0", "0"}, "identifier"},
        {"Firmware Pending Slot", 0, 1, {"7", "7"}, {"Not Reported", ""}, "identifier"},
        {"Firmware Slot 1 Revision", 8, 8, {"\\xFF\\xFF\\xFF\\xFF\\xFF\\xFF\\xFF\\xFF", ""}, {"", ""}},
        {"Firmware Slot 7 Revision", 56, 8, {"\\xFF\\xFF\\xFF\\xFF\\xFF\\xFF\\xFF\\xFF", ""}, {"", ""}},
    };
    identify[260] = 0x0E;  // seven slots
    test::ExpectFieldsAtTheirLimits(std::vector<uint8_t>(512, 0), kSlotFields, [&](const std::vector<uint8_t>& page) {
        info = InfoDocument();
        DecodeFirmwareSlotLog(info, page.data(), page.size(), identify.data());
        return info.parameters;
    });

    // The first and the last result: failed in a segment, every diagnostic valid.
    const std::vector<test::FieldLimits> kSelfTestFields = {
        {"Current Self-Test Operation", 0, 1, {"Reserved", ""}, {"Reserved", ""}},
        {"Current Self-Test Completion", 1, 1, {"255", "255"}, {"128", "128"}, "percent"},
        {"Self-Test 1 Segment Number", 5, 1, {"255", "255"}, {"128", "128"}, "identifier"},
        {"Self-Test 1 Power On Hours", 8, 8, {kMax64, "18446744073709551615"}, {kTop64, "9223372036854775808"}, "hours"},
        {"Self-Test 1 Namespace ID", 16, 4, {"4294967295", "4294967295"}, {"2147483648", "2147483648"}, "identifier"},
        {"Self-Test 1 Failing LBA", 20, 8, {kMax64, "18446744073709551615"}, {kTop64, "9223372036854775808"}, "identifier"},
        {"Self-Test 1 Status Code Type", 28, 1, {"255", "255"}, {"128", "128"}, "code"},
        {"Self-Test 1 Status Code", 29, 1, {"255", "255"}, {"128", "128"}, "code"},
        {"Self-Test 20 Segment Number", 537, 1, {"255", "255"}, {"128", "128"}, "identifier"},
        {"Self-Test 20 Power On Hours", 540, 8, {kMax64, "18446744073709551615"}, {kTop64, "9223372036854775808"}, "hours"},
        {"Self-Test 20 Namespace ID", 548, 4, {"4294967295", "4294967295"}, {"2147483648", "2147483648"}, "identifier"},
        {"Self-Test 20 Failing LBA", 552, 8, {kMax64, "18446744073709551615"}, {kTop64, "9223372036854775808"}, "identifier"},
        {"Self-Test 20 Status Code Type", 560, 1, {"255", "255"}, {"128", "128"}, "code"},
        {"Self-Test 20 Status Code", 561, 1, {"255", "255"}, {"128", "128"}, "code"},
    };
    std::vector<uint8_t> log(564, 0);
    for (size_t j = 0; j < 20; ++j) log[4 + 28 * j] = 0x0F;
    for (const size_t at : {size_t(4), size_t(4 + 28 * 19)}) log[at] = 0x27, log[at + 2] = 0x0F;
    test::ExpectFieldsAtTheirLimits(log, kSelfTestFields, [&](const std::vector<uint8_t>& page) {
        info = InfoDocument();
        DecodeSelfTestLog(info, page.data(), page.size());
        return info.parameters;
    });
}

// Each critical warning bit sets its own flag and no other.
TEST_F(LogPageTest, SmartWarningBitsEachSetOneFlag) {
    const std::pair<size_t, std::vector<const char*>> kBytes[] = {
        {0, {"Available Space Below Threshold", "Temperature Over/Under Threshold", "Reliability Degraded",
             "Media in Read Only", "Volatile Backup Failed", "Persistent Memory Unreliable"}},
        {6, {"EG Available Space Below Threshold", nullptr, "EG Reliability Degraded", "EG in Read Only"}},
    };
    Put(identify, 80, 0x00010400, 4);
    for (const auto& [offset, flags] : kBytes)
        for (unsigned bit = 0; bit < flags.size(); ++bit) {
            std::vector<uint8_t> page(512, 0);
            page[offset] = static_cast<uint8_t>(1u << bit);
            info = InfoDocument();
            DecodeSmartHealthLog(info, page.data(), page.size(), identify.data());
            for (unsigned other = 0; other < flags.size(); ++other)
                if (flags[other] != nullptr) {
                    EXPECT_EQ(Value(flags[other]), other == bit ? "Yes" : "No") << "byte " << offset << " bit " << bit;
                }
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
