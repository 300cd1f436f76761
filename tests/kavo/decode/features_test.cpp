// Get Features decoders with completion values built bit by bit.
#include <gtest/gtest.h>

#include "fake_drive.h"
#include "field_limits.h"
#include "decode/decoders.h"
#include "info/nvme_info.h"
#include "decode/parameters.h"

using namespace kavo;
using test::Put;

namespace {

class FeatureTest : public ::testing::Test {
protected:
    void SetUp() override {
        identify.assign(4096, 0);
        Put(identify, 80, 0x00010400, 4);
        settings = test::SampleSettings(true);
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

    test::FakeDrive drive;
    std::vector<uint8_t> identify;
    InfoDocument info;
    SampleSettings settings;
    CommandLog run;
};

}  // namespace

TEST_F(FeatureTest, ArbitrationErrorRecoveryCoalescing) {
    drive.SetFeature(0x01, 0, 0x03020107);
    EXPECT_EQ(GetFeature01(drive, info, run, settings), 0);
    EXPECT_EQ(Value("Arbitration Burst (AB)"), "No Limit");
    EXPECT_EQ(Value("Low Priority Weight (LPW)"), "2");
    EXPECT_EQ(Value("High Priority Weight (HPW)"), "4");
    drive.SetFeature(0x01, 0, 0x00000003);
    GetFeature01(drive, info, run, settings);
    EXPECT_EQ(Value("Arbitration Burst (AB)"), "3 (2^3=8)");
    EXPECT_EQ(Value("Medium Priority Weight (MPW)"), "1");
    drive.SetFeature(0x05, 0, 25);
    GetFeature05(drive, info, run, settings, 1);
    EXPECT_EQ(Value("Time Limited Error Recovery (TLER)"), "2,500 mS");
    drive.SetFeature(0x05, 0, 0x10000);
    GetFeature05(drive, info, run, settings, 1);
    EXPECT_EQ(Value("Time Limited Error Recovery (TLER)"), "No Timeout");
    EXPECT_EQ(Value("Deallocated or Unwritten Logical Block Error Enable (DULBE)"), "Enabled");
    drive.SetFeature(0x08, 0, 0x00000A09);
    GetFeature08(drive, info, run, settings);
    EXPECT_EQ(Value("Aggregation Time (TIME)"), "1,000 uS");
    EXPECT_EQ(Value("Aggregation Threshold (THR)"), "10");
    EXPECT_EQ(run[0].name, "Get Feature 1");
}

TEST_F(FeatureTest, GatesIssueNoCommand) {
    EXPECT_EQ(GetFeature06(drive, info, run, settings, identify.data()), 0);
    Put(identify, 320, 2, 2);  // KAS 2: only exactly 1 reads the keep alive timer
    EXPECT_EQ(GetFeature0F(drive, info, run, settings, identify.data()), 0);
    EXPECT_EQ(GetFeature10(drive, info, run, settings, identify.data()), 0);
    EXPECT_EQ(GetFeature11(drive, info, run, settings, identify.data()), 0);
    EXPECT_EQ(GetFeature0C(drive, info, run, settings, identify.data()), 0);
    EXPECT_TRUE(drive.requests.empty());
    settings.features[0x01] = false;
    EXPECT_EQ(GetFeature01(drive, info, run, settings), 0);
    EXPECT_TRUE(drive.requests.empty());
    EXPECT_EQ(GetFeature02(drive, info, run, settings), 1);  // no answer: the command fails
}

TEST_F(FeatureTest, AsynchronousEventNoticesFollowCapabilities) {
    Put(identify, 92, 0x200, 4);  // OAES bit 9 only
    drive.SetFeature(0x0B, 0, 0x0000021F);
    EXPECT_EQ(GetFeature0B(drive, info, run, settings, identify.data()), 0);
    EXPECT_EQ(info.parameters.size(), 2u);
    EXPECT_EQ(Value("Firmware Activation Notices Enable"), "Enabled");
    EXPECT_EQ(Value("SMART Critical Warning Notices Enable"), "0x1F");
    Put(identify, 92, 0x7300, 4);
    identify[76] = 0x08;
    info = InfoDocument();
    EXPECT_EQ(GetFeature0B(drive, info, run, settings, identify.data()), 0);
    EXPECT_EQ(Value("Endurance Group Aggregate Log Change Notices Enable"), "Disabled");
    EXPECT_EQ(Value("Asymmetric Namespace Access Change Notices Enable"), "Disabled");
}

TEST_F(FeatureTest, TemperatureThresholdsPerReportingSensor) {
    drive.SetFeature(0x04, 0, 0x0157);
    drive.SetFeature(0x04, 0x00100000, 273);
    drive.SetFeature(0x04, 0x00020000, 0x0160);
    drive.SetFeature(0x04, 0x00120000, 263);
    AddParameter(info.parameters, "Temperature Sensor 2", "30 C");
    EXPECT_EQ(GetFeature04(drive, info, run, settings, identify.data()), 0);
    EXPECT_EQ(Value("Composite Temperature Over Threshold"), "70 C");
    EXPECT_EQ(Value("Composite Temperature Under Threshold"), "0 C");
    EXPECT_EQ(Value("Temperature Sensor 2 Over Threshold"), "79 C");
    EXPECT_EQ(Value("Temperature Sensor 2 Under Threshold"), "-10 C");
    EXPECT_FALSE(Has("Temperature Sensor 1 Over Threshold"));
    EXPECT_EQ(run[1].name, "Get Feature 4 (0x100000)");
    EXPECT_EQ(drive.requests.size(), 4u);
}

TEST_F(FeatureTest, ApstHostMemoryTimestampThermal) {
    identify[265] = 1, identify[263] = 4;
    std::vector<uint8_t> apst(256, 0);
    Put(apst, 0, (100 << 8) | (3 << 3), 8);
    drive.SetFeature(0x0C, 0, 1, apst);
    EXPECT_EQ(GetFeature0C(drive, info, run, settings, identify.data()), 0);
    EXPECT_EQ(Value("Autonomous Power State Transition Enable (APSTE)"), "Enabled");
    EXPECT_EQ(Value("Power State 0 Idle Time Prior to Transition (ITPT)"), "100 mS");
    EXPECT_EQ(Value("Power State 0 Idle Transition Power State (ITPS)"), "3");
    EXPECT_EQ(Value("Power State 4 Idle Time Prior to Transition (ITPT)"), "Disabled");
    EXPECT_FALSE(Has("Power State 4 Idle Transition Power State (ITPS)"));

    Put(identify, 272, 100, 4);
    std::vector<uint8_t> hmb(4096, 0);
    Put(hmb, 0, 8192, 4), Put(hmb, 4, 0xABCD, 4);
    drive.SetFeature(0x0D, 0, 0, hmb);
    GetFeature0D(drive, info, run, settings, identify.data());
    EXPECT_EQ(Value("Enable Host Memory (EHM)"), "Disabled");
    EXPECT_EQ(Value("Host Memory Buffer Size (HSIZE)"), "8,192");
    EXPECT_EQ(Value("Host Memory Descriptor List Address (HMDLAL)"), "0x0000ABCD");

    Put(identify, 520, 0x40, 2);
    std::vector<uint8_t> stamp(8, 0);
    Put(stamp, 0, 90061000, 6);
    drive.SetFeature(0x0E, 0, 0, stamp);
    GetFeature0E(drive, info, run, settings, identify.data());
    EXPECT_EQ(Value("Timestamp"), "90,061,000 mS");
    EXPECT_EQ(Value("Timestamp Decoded"), "25.017 Hours (25:01:01.000)");
    EXPECT_EQ(Value("Timestamp Origin"), "Controller Reset");
    EXPECT_EQ(Value("Timestamp Stopped"), "False");
    stamp[6] = 0x03;
    drive.SetFeature(0x0E, 0, 0, stamp);
    GetFeature0E(drive, info, run, settings, identify.data());
    EXPECT_EQ(Value("Timestamp Origin"), "Host Programmed");
    EXPECT_EQ(Value("Timestamp Stopped"), "True");

    Put(identify, 322, 1, 2);
    drive.SetFeature(0x10, 0, 0x01590000);
    GetFeature10(drive, info, run, settings, identify.data());
    EXPECT_EQ(Value("Thermal Management Temperature 1 (TMT1)"), "72 C");
    EXPECT_EQ(Value("Thermal Management Temperature 2 (TMT2)"), "Disabled");

    Put(identify, 320, 1, 2);
    drive.SetFeature(0x0F, 0, 0);
    GetFeature0F(drive, info, run, settings, identify.data());
    EXPECT_EQ(Value("Keep Alive Timeout (KATO)"), "Disabled");
}

namespace {

uint32_t Dword(const std::vector<uint8_t>& bytes, size_t at) {
    return static_cast<uint32_t>(bytes[at] | bytes[at + 1] << 8 | bytes[at + 2] << 16 | uint32_t(bytes[at + 3]) << 24);
}

}  // namespace

// Every decoded feature field at its largest value and at a value that needs
// its top byte, every gate open. A feature's structure is its completion
// dword (bytes 0-3) followed by its data; Temperature Threshold's is the
// dwords of its four reads: composite over and under, sensor 1 over and under.
TEST_F(FeatureTest, FieldsAtTheirLargestAndTopByteValues) {
    struct Feature {
        uint8_t fid;
        size_t bytes;
        std::vector<test::FieldLimits> fields;
    };
    const test::Shown kMaxKelvin{"65,262 C", "65262"}, kTopKelvin{"32,495 C", "32495"};
    const test::Shown kMax32{"4,294,967,295", "4294967295"}, kTop32{"2,147,483,648", "2147483648"};
    const test::Shown kMaxIdle{"16,777,215 mS", "16777215"}, kTopIdle{"8,388,608 mS", "8388608"};
    const Feature kFeatures[] = {
        {0x01, 4, {
            {"Arbitration Burst (AB)", 0, 1, {"No Limit", ""}, {"0 (2^0=1)", "1"}, "count"},
            {"Low Priority Weight (LPW)", 1, 1, {"256", "256"}, {"129", "129"}, "count"},
            {"Medium Priority Weight (MPW)", 2, 1, {"256", "256"}, {"129", "129"}, "count"},
            {"High Priority Weight (HPW)", 3, 1, {"256", "256"}, {"129", "129"}, "count"},
        }},
        {0x02, 4, {
            {"Current Power State (PS)", 0, 1, {"31", "31"}, {"0", "0"}, "identifier"},
            {"Workload Hint (WH)", 0, 1, {"7", "7"}, {"4", "4"}, "code"},
            {"Workload Hint (WH)", 0, 4, {"7", "7"}, {"0", "0"}, "code"},  // bits 31:8 reserved
        }},
        {0x04, 16, {
            {"Composite Temperature Over Threshold", 0, 2, kMaxKelvin, kTopKelvin, "celsius"},
            {"Composite Temperature Under Threshold", 4, 2, kMaxKelvin, kTopKelvin, "celsius"},
            {"Temperature Sensor 1 Over Threshold", 8, 2, kMaxKelvin, kTopKelvin, "celsius"},
            {"Temperature Sensor 1 Under Threshold", 12, 2, kMaxKelvin, kTopKelvin, "celsius"},
            // Bits 31:16 of a threshold's dword echo the sensor it belongs to.
            {"Composite Temperature Over Threshold", 0, 4, kMaxKelvin, {"-273 C", "-273"}, "celsius"},
            {"Temperature Sensor 1 Under Threshold", 12, 4, kMaxKelvin, {"-273 C", "-273"}, "celsius"},
        }},
        {0x05, 4, {
            {"Time Limited Error Recovery (TLER)", 0, 2, {"6,553,500 mS", "6553500"}, {"3,276,800 mS", "3276800"}, "milliseconds"},
            {"Deallocated or Unwritten Logical Block Error Enable (DULBE)", 2, 1, {"Enabled", ""}, {"Disabled", ""}},
        }},
        {0x08, 4, {
            {"Aggregation Threshold (THR)", 0, 1, {"256", "256"}, {"129", "129"}, "count"},
            {"Aggregation Time (TIME)", 1, 1, {"25,500 uS", "25500"}, {"12,800 uS", "12800"}, "microseconds"},
            {"Aggregation Time (TIME)", 1, 3, {"25,500 uS", "25500"}, {"No Delay", ""}, "microseconds"},  // bits 31:16 reserved
        }},
        {0x0B, 4, {
            {"SMART Critical Warning Notices Enable", 0, 1, {"0xFF", "255"}, {"0x80", "128"}, "bit field"},
        }},
        {0x0C, 4 + 256, {
            {"Autonomous Power State Transition Enable (APSTE)", 0, 1, {"Enabled", ""}, {"Disabled", ""}},
            {"Power State 0 Idle Transition Power State (ITPS)", 4, 1, {"31", "31"}, {"16", "16"}, "identifier"},
            {"Power State 0 Idle Time Prior to Transition (ITPT)", 5, 3, kMaxIdle, kTopIdle, "milliseconds"},
            // The whole entry: bits 63:32 are reserved (an idle time of 0 hides the power state).
            {"Power State 0 Idle Time Prior to Transition (ITPT)", 4, 8, kMaxIdle, {"Disabled", ""}, "milliseconds", true},
            {"Power State 31 Idle Transition Power State (ITPS)", 252, 1, {"31", "31"}, {"16", "16"}, "identifier"},
            {"Power State 31 Idle Time Prior to Transition (ITPT)", 253, 3, kMaxIdle, kTopIdle, "milliseconds"},
        }},
        {0x0D, 4 + 16, {
            {"Enable Host Memory (EHM)", 0, 1, {"Enabled", ""}, {"Disabled", ""}},
            {"Host Memory Buffer Size (HSIZE)", 4, 4, kMax32, kTop32, "count"},
            {"Host Memory Descriptor List Address (HMDLAL)", 8, 4, {"0xFFFFFFFF", "4294967295"}, {"0x80000000", "2147483648"}, "identifier"},
            {"Host Memory Descriptor List Address (HMDLAU)", 12, 4, {"0xFFFFFFFF", "4294967295"}, {"0x80000000", "2147483648"}, "identifier"},
            {"Host Memory Descriptor List Entry Count (HMDLEC)", 16, 4, kMax32, kTop32, "count"},
        }},
        {0x0E, 4 + 8, {
            {"Timestamp", 4, 6, {"281,474,976,710,655 mS", "281474976710655"}, {"140,737,488,355,328 mS", "140737488355328"}, "milliseconds"},
            {"Timestamp Decoded", 4, 6, {"78187493.531 Hours (78187493:31:50.655)", ""}, {"39093746.765 Hours (39093746:45:55.328)", ""}},
            {"Timestamp Stopped", 10, 1, {"True", ""}, {"False", ""}},
        }},
        {0x0F, 4, {
            {"Keep Alive Timeout (KATO)", 0, 4, {"4,294,967,295 mS", "4294967295"}, {"2,147,483,648 mS", "2147483648"}, "milliseconds"},
        }},
        {0x10, 4, {
            {"Thermal Management Temperature 2 (TMT2)", 0, 2, kMaxKelvin, kTopKelvin, "celsius"},
            {"Thermal Management Temperature 1 (TMT1)", 2, 2, kMaxKelvin, kTopKelvin, "celsius"},
        }},
    };
    identify[96] = 0x02, identify[263] = 31, identify[265] = 1, identify[525] = 1;
    Put(identify, 272, 1, 4), Put(identify, 320, 1, 2), Put(identify, 322, 1, 2), Put(identify, 520, 0x40, 2);
    auto answer = [&](uint8_t fid, const std::vector<uint8_t>& bytes) {
        if (fid != 0x04) return drive.SetFeature(fid, 0, Dword(bytes, 0), std::vector<uint8_t>(bytes.begin() + 4, bytes.end()));
        const uint32_t kReads[] = {0, 0x00100000, 0x00010000, 0x00110000};
        for (size_t read = 0; read < 4; ++read) drive.SetFeature(0x04, kReads[read], Dword(bytes, 4 * read));
    };
    auto decode = [&](uint8_t fid) {
        switch (fid) {
            case 0x01: return GetFeature01(drive, info, run, settings);
            case 0x02: return GetFeature02(drive, info, run, settings);
            case 0x04: return GetFeature04(drive, info, run, settings, identify.data());
            case 0x05: return GetFeature05(drive, info, run, settings, 1);
            case 0x08: return GetFeature08(drive, info, run, settings);
            case 0x0B: return GetFeature0B(drive, info, run, settings, identify.data());
            case 0x0C: return GetFeature0C(drive, info, run, settings, identify.data());
            case 0x0D: return GetFeature0D(drive, info, run, settings, identify.data());
            case 0x0E: return GetFeature0E(drive, info, run, settings, identify.data());
            case 0x0F: return GetFeature0F(drive, info, run, settings, identify.data());
            default: return GetFeature10(drive, info, run, settings, identify.data());
        }
    };
    for (const Feature& feature : kFeatures) {
        std::vector<uint8_t> base(feature.bytes, 0);
        if (feature.fid == 0x0C) base[5] = base[253] = 1;  // an idle time of 1 ms: the idle power states show
        test::ExpectFieldsAtTheirLimits(base, feature.fields, [&](const std::vector<uint8_t>& bytes) {
            answer(feature.fid, bytes);
            info = InfoDocument();
            AddParameter(info.parameters, "Temperature Sensor 1", "30 C");
            EXPECT_EQ(decode(feature.fid), 0) << "feature " << int(feature.fid);
            return info.parameters;
        });
    }
}
