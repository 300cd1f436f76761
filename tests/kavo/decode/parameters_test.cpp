// The parameter descriptions table, its expansion, records, vendors and gates.
#include <gtest/gtest.h>

#include "base/kavo_errors.h"
#include "decode/parameter_reuse.h"
#include "decode/parameters.h"

using namespace kavo;

class ParameterTable : public ::testing::Test {};

TEST_F(ParameterTable, ExpandsEveryFamilyAndDropsTemplates) {
    EXPECT_EQ(ParameterCount(), 4157u);
    for (size_t i = 0; i < ParameterCount(); ++i) {
        EXPECT_EQ(ParameterName(i).find('#'), std::string::npos) << ParameterName(i);
        if (i > 0) {
            EXPECT_LT(ParameterName(i - 1), ParameterName(i)) << "byte order";
        }
        EXPECT_EQ(FindParameter(ParameterName(i)), &ParameterAt(i));
    }
    EXPECT_TRUE(FindParameter("Power State 31 Idle Power (IDLP)"));
    EXPECT_FALSE(FindParameter("Power State 32 Idle Power (IDLP)"));
    EXPECT_TRUE(FindParameter("Error 255 LBA"));
    EXPECT_FALSE(FindParameter("Error 256 LBA"));
    EXPECT_TRUE(FindParameter("Namespace 1 LBA 15 Metadata Size (MS)"));
    EXPECT_FALSE(FindParameter("Namespace 1 LBA 16 Metadata Size (MS)"));
    EXPECT_FALSE(FindParameter("Namespace 2 Size"));
    EXPECT_TRUE(FindParameter("Namespace 1 Size"));
    EXPECT_FALSE(FindParameter("Interrupt Vector 0 Coalescing Disable (CD)"));
    EXPECT_TRUE(FindParameter("Temperature Sensor 8"));
    EXPECT_FALSE(FindParameter("Temperature Sensor 9"));
    EXPECT_TRUE(FindParameter("Temperature Sensor 3 Over Threshold"));
    EXPECT_FALSE(FindParameter("Power State # Maximum Power (MP)"));
}

TEST_F(ParameterTable, SourcesAndDescriptionConventions) {
    EXPECT_EQ(FindParameter("Disable Normal (DN)")->source, "Get Feature 0Ah");
    EXPECT_EQ(FindParameter("Firmware Activation Notices")->description,
              "Controller support for asynchronous events Firmware Activation Notices, from OAES");
    for (const char* name : {"Endurance Group Aggregate Log Change Notices Enable", "LBA Status Information Notices Enable",
                             "Predictable Latency Aggregate Log Change Notices Enable",
                             "Asymmetric Namespace Access Change Notices Enable"})
        EXPECT_EQ(FindParameter(name)->source, "Get Feature 0Bh") << name;
    for (size_t i = 0; i < ParameterCount(); ++i) {
        const ParameterDescription& description = ParameterAt(i);
        if (description.source.compare(0, 12, "Get Feature ") == 0) {
            std::string prefix = "Feature " + std::string(description.source.substr(12, 3)) + ":";
            EXPECT_EQ(description.description.compare(0, 12, prefix), 0) << ParameterName(i);
        }
    }
}

TEST_F(ParameterTable, AddParameterWritesRecordsAndKeepsCompareType) {
    Json::Value parameters(Json::objectValue);
    AddParameter(parameters, "Size", "100 GB");
    AddParameter(parameters, "Serial Number (SN)", "S4EWNX0R");
    const Json::Value& serial = parameters["Serial Number (SN)"];
    EXPECT_EQ(serial.getMemberNames(), (std::vector<std::string>{"description", "name", "source", "value"}));
    EXPECT_EQ(serial["name"].asString(), "Serial Number (SN)");
    EXPECT_EQ(serial["value"].asString(), "S4EWNX0R");
    EXPECT_EQ(serial["source"].asString(), "Identify Controller");
    EXPECT_EQ(serial["description"].asString(), std::string(FindParameter("Serial Number (SN)")->description));
    parameters["Size"]["compare type"] = "exact";
    AddParameter(parameters, "Size", "200 GB");
    EXPECT_EQ(parameters["Size"]["value"].asString(), "200 GB");
    EXPECT_EQ(parameters["Size"]["compare type"].asString(), "exact");
    EXPECT_EQ(parameters["Size"]["source"].asString(), "Calculated");
    EXPECT_EQ(parameters["Size"]["name"].asString(), "Size");
    EXPECT_THROW(AddParameter(parameters, "Power State 32 Idle Power (IDLP)", "x"), KavoError);
    try {
        AddParameter(parameters, "Namespace 2 Size", "x");
    } catch (const KavoError& e) {
        EXPECT_STREQ(e.what(), "Parameter 'Namespace 2 Size' not in parameter descriptions");
    }
    EXPECT_FALSE(parameters.isMember("Namespace 2 Size"));
}

TEST(VendorLookup, CaseInsensitiveIdentifiers) {
    EXPECT_EQ(LookupVendorName("0x1b96"), "Western Digital");
    EXPECT_EQ(LookupVendorName("0x144D"), "Samsung");
    EXPECT_EQ(LookupVendorName("0X8086"), "Intel");
    EXPECT_EQ(LookupVendorName("0x0000"), "Unknown");
    EXPECT_EQ(LookupVendorName(""), "Unknown");
}

TEST(VersionGates, ReportAndRaiseTheHighestVersion) {
    uint32_t highest = 0x00010200;
    EXPECT_FALSE(VersionGate13(0x00010200, highest, false));
    EXPECT_FALSE(VersionGate14(0x00010200, highest, false));
    EXPECT_EQ(highest, 0x00010200u);
    EXPECT_TRUE(VersionGate14(0x00010200, highest, true));
    EXPECT_EQ(highest, 0x00010400u);
    highest = 0;
    EXPECT_TRUE(VersionGate13(0x00020000, highest, false));
    EXPECT_EQ(highest, 0x00010300u);
    EXPECT_TRUE(VersionGate14(0x00020000, highest, false));
    EXPECT_EQ(highest, 0x00010400u);
    highest = 0x00020000;
    EXPECT_TRUE(VersionGate13(0x00020000, highest, true));
    EXPECT_EQ(highest, 0x00020000u);
}

// The compare's walk remembers the index of each position; a position that
// now holds another name must be looked up again, not given the old index.
TEST(ParameterReuseWalk, PositionsAnswerForTheNameTheyHoldNow) {
    ParameterReuse reuse;
    size_t expected = 0, index = 0;
    for (const char* name : {"Serial Number (SN)", "Composite Temperature", "Serial Number (SN)"}) {
        ASSERT_TRUE(FindParameterIndex(name, expected));
        ASSERT_TRUE(reuse.IndexAt(3, name, index)) << name;
        EXPECT_EQ(index, expected) << name;
    }
    EXPECT_FALSE(reuse.IndexAt(3, "No Such Parameter", index));
    ASSERT_TRUE(reuse.IndexAt(3, "Serial Number (SN)", index));
    EXPECT_EQ(index, expected);
}
