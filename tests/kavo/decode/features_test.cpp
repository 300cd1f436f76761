// Get Features decoders with completion values built bit by bit.
#include <gtest/gtest.h>

#include "fake_drive.h"
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
