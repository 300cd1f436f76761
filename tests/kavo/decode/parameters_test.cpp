// The parameter descriptions table, its expansion, records, vendors and gates.
#include <gtest/gtest.h>

#include "base/kavo_errors.h"
#include "base/kavo_json.h"
#include "decode/info_document.h"
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
    Parameters parameters;
    AddParameter(parameters, "Size", Rendered("100 GB", Number::Unsigned(100000000000)));
    AddParameter(parameters, "Serial Number (SN)", "S4EWNX0R");
    const Parameter* serial = parameters.Find("Serial Number (SN)");
    ASSERT_NE(serial, nullptr);
    EXPECT_EQ(serial->name(), "Serial Number (SN)");
    EXPECT_EQ(serial->value, "S4EWNX0R");
    EXPECT_FALSE(serial->number.present());
    EXPECT_EQ(serial->description().source, "Identify Controller");
    parameters.Find("Size")->compareType = "exact";
    AddParameter(parameters, "Size", Rendered("200 GB", Number::Unsigned(200000000000)));
    const Parameter* size = parameters.Find("Size");
    EXPECT_EQ(size->value, "200 GB");
    EXPECT_EQ(size->number.Literal(), "200000000000");
    EXPECT_STREQ(size->compareType, "exact");
    EXPECT_EQ(parameters.size(), 2u);
    // The records in name order, whatever order they were added in.
    EXPECT_EQ(parameters.Ordered().front()->name(), "Serial Number (SN)");
    EXPECT_THROW(AddParameter(parameters, "Power State 32 Idle Power (IDLP)", "x"), KavoError);
    try {
        AddParameter(parameters, "Namespace 2 Size", "x");
    } catch (const KavoError& e) {
        EXPECT_STREQ(e.what(), "Parameter 'Namespace 2 Size' not in parameter descriptions");
    }
    EXPECT_FALSE(parameters.Has("Namespace 2 Size"));
}

// A record is written with its number and unit beside the text, and read
// back to the same record.
TEST_F(ParameterTable, RecordsCarryNumberAndUnitThroughADocument) {
    EXPECT_EQ(FindParameter("Composite Temperature")->unit, Unit::Celsius);
    EXPECT_EQ(FindParameter("Temperature Sensor 8")->unit, Unit::Celsius);
    EXPECT_EQ(FindParameter("Data Units Read")->unit, Unit::DataUnits);
    EXPECT_EQ(FindParameter("Serial Number (SN)")->unit, Unit::None);
    EXPECT_STREQ(UnitName(Unit::DataUnits), "data units");
    InfoDocument info;
    info.document["nvme"]["health status"] = "GOOD";
    info.document["_metadata"]["file type"] = "nvme info";
    AddParameter(info.parameters, "Composite Temperature", Rendered("-5 C", Number::Signed(-5)));
    AddParameter(info.parameters, "Data Units Read", Rendered("big", Number::Product(kUint128Max, 3)));
    AddParameter(info.parameters, "Model Number (MN)", "MODEL \"1\"");
    const std::string text = InfoDocumentText(info);
    EXPECT_NE(text.find("\"number\" : 1020847100762815390390123822295304634365,"), std::string::npos) << text;
    EXPECT_NE(text.find("\"unit\" : \"celsius\","), std::string::npos);
    EXPECT_EQ(text.find("compare type"), std::string::npos);
    const std::string path = ::testing::TempDir() + "info-roundtrip.json";
    WriteTextFile(path, text);
    InfoDocument back;
    size_t unknown = 0;
    ASSERT_TRUE(ReadInfoDocument(path, back, &unknown));
    EXPECT_EQ(unknown, 0u);
    EXPECT_EQ(InfoDocumentText(back), text);
    EXPECT_EQ(back.document["nvme"]["health status"].asString(), "GOOD");
    EXPECT_FALSE(back.document["nvme"].isMember("parameters"));
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
