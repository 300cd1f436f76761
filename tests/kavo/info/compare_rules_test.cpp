// Compare types, counters, deltas, the document compare, and rules.
#include <gtest/gtest.h>

#include "base/kavo_errors.h"
#include "base/kavo_json.h"
#include "decode/decoders.h"
#include "info/nvme_info.h"
#include "decode/parameters.h"
#include "quellix.h"
#include "run_binary.h"

using namespace kavo;

namespace {

Json::Value Document(std::initializer_list<std::pair<const char*, const char*>> values) {
    Json::Value info(Json::objectValue);
    for (const auto& [name, value] : values) AddParameter(info["nvme"]["parameters"], name, value);
    return info;
}

}  // namespace

TEST(CompareTypes, RuleOrder) {
    EXPECT_EQ(CompareType("all", "Host Timestamp", "Calculated", true), "ignore");
    EXPECT_EQ(CompareType("all", "Timestamp", "Get Feature 0Eh", true), "exact");
    EXPECT_EQ(CompareType("default", "Timestamp", "Get Feature 0Eh", true), "ignore");
    EXPECT_EQ(CompareType("default", "Error 0 LBA", "Log Page 1", true), "ignore");
    EXPECT_EQ(CompareType("firmware", "Firmware Revision (FR)", "Identify Controller", true), "ignore");
    EXPECT_EQ(CompareType("default", "Firmware Revision (FR)", "Identify Controller", true), "exact");
    EXPECT_EQ(CompareType("firmware", "Firmware Slot 1 Revision", "Log Page 3", true), "ignore");
    EXPECT_EQ(CompareType("default", "Temperature Sensor 3", "Log Page 2", true), "ignore");
    EXPECT_EQ(CompareType("default", "Media in Read Only", "Log Page 2", false), "exact");
    EXPECT_EQ(CompareType("default", "Power On Hours", "Log Page 2", true), "counter");
    EXPECT_EQ(CompareType("default", "Power On Hours", "Log Page 2", false), "ignore");
}

TEST(Counters, GrowthUnitsAndDeltas) {
    EXPECT_TRUE(CounterNotDecreased("1,201", "1,200"));
    EXPECT_FALSE(CounterNotDecreased("1,199", "1,200"));
    EXPECT_TRUE(CounterNotDecreased("1,234.567 GB", "1,200.000 GB"));
    EXPECT_FALSE(CounterNotDecreased("10 Min", "9 Sec"));
    EXPECT_TRUE(CounterNotDecreased("36893488147419103232", "18446744073709551616"));
    EXPECT_THROW(CounterNotDecreased("abc", "12"), std::runtime_error);
    EXPECT_EQ(ValueDelta("1,201", "1,200"), "1");
    EXPECT_EQ(ValueDelta("1,199", "1,200"), "-1");
    EXPECT_EQ(ValueDelta("1,234.567 GB", "1,200.000 GB"), "34.567");
    EXPECT_EQ(ValueDelta("35 C", "40 C"), "-5");
    EXPECT_EQ(ValueDelta("10 Min", "9 Sec"), "Mismatch");
    EXPECT_EQ(ValueDelta("B", "A"), "Mismatch");
}

TEST(CompareDocuments, IdenticalCountersAndMissing) {
    Json::Value reference = Document({{"Serial Number (SN)", "A"}, {"Power On Hours", "1,200"}, {"Composite Temperature", "40 C"}});
    Json::Value current = reference;
    EXPECT_TRUE(CompareNvmeInfo(reference, current, "default"));
    EXPECT_EQ(current["all mismatches"].size(), 0u);
    EXPECT_EQ(current["nvme"]["parameters"]["Power On Hours"]["compare type"].asString(), "counter");

    AddParameter(current["nvme"]["parameters"], "Power On Hours", "1,199");
    AddParameter(current["nvme"]["parameters"], "Composite Temperature", "35 C");
    AddParameter(current["nvme"]["parameters"], "Size", "1 GB");
    EXPECT_FALSE(CompareNvmeInfo(reference, current, "default"));
    EXPECT_EQ(current["counter mismatches"].asInt(), 1);
    EXPECT_EQ(current["static mismatches"].asInt(), 0);
    ASSERT_EQ(current["compare mismatches"].size(), 2u);
    EXPECT_EQ(current["compare mismatches"][0]["message"].asString(),
              "'Power On Hours' value '1,199' is less than compare value '1,200'");
    EXPECT_EQ(current["compare mismatches"][0]["delta"].asString(), "-1");
    EXPECT_EQ(current["compare mismatches"][1]["delta"].asString(), "Compare value missing");
    EXPECT_EQ(current["nvme"]["parameters"]["Size"]["compare type"].asString(), "missing");
    EXPECT_EQ(current["all mismatches"].size(), 3u);

    // Another drive: counters are only listed.
    AddParameter(current["nvme"]["parameters"], "Serial Number (SN)", "B");
    current["nvme"]["parameters"].removeMember("Size");
    EXPECT_FALSE(CompareNvmeInfo(reference, current, "default"));  // the serial number itself differs
    EXPECT_EQ(current["counter mismatches"].asInt(), 0);
    EXPECT_EQ(current["static mismatches"].asInt(), 1);
}

TEST(CompareDocuments, DrivesWithoutSerialNumberGainNoRecord) {
    Json::Value reference = Document({{"Power Cycles", "12"}});
    Json::Value current = Document({{"Power Cycles", "13"}});
    EXPECT_TRUE(CompareNvmeInfo(reference, current, "default"));
    EXPECT_FALSE(current["nvme"]["parameters"].isMember("Serial Number (SN)"));
    EXPECT_EQ(current["all mismatches"].size(), 1u);
}

TEST(CompareDocuments, UnparsableCounterNamesTheParameter) {
    Json::Value reference = Document({{"Power Cycles", "12"}});
    Json::Value current = Document({{"Power Cycles", "twelve"}});
    try {
        CompareNvmeInfo(reference, current, "default");
        FAIL();
    } catch (const std::runtime_error& e) {
        std::string text = e.what();
        EXPECT_NE(text.find("'Power Cycles'"), std::string::npos) << text;
        EXPECT_NE(text.find("'twelve'"), std::string::npos) << text;
        EXPECT_NE(text.find("@ kavo::CompareNvmeInfo"), std::string::npos) << text;
    }
}

TEST(Rules, OperatorsUnitsAndMessages) {
    std::string message;
    EXPECT_TRUE(CheckRule("Percentage Used", "<", "90 %", "5 %", message));
    EXPECT_FALSE(CheckRule("Percentage Used", "<", "90", "5 %", message));
    EXPECT_EQ(message, " Failed rule 'Percentage Used < 90' units do not match. Value unit: %");
    EXPECT_TRUE(CheckRule("Composite Temperature", "<", "70 C", "35 C", message));
    EXPECT_TRUE(CheckRule("Critical Warnings", "match", "No", "No", message));
    EXPECT_FALSE(CheckRule("Critical Warnings", "match", "No", "Yes (0x04)", message));
    EXPECT_EQ(message, " Failed rule 'Critical Warnings match No' does not match value 'Yes (0x04)'");
    EXPECT_FALSE(CheckRule("Critical Warnings", "not-match", "No", "No", message));
    EXPECT_EQ(message, " Failed rule 'Critical Warnings not-match No' matches value 'No'");
    EXPECT_FALSE(CheckRule("Serial Number (SN)", ">", "5", "AB12345", message));
    EXPECT_EQ(message, " Failed rule 'Serial Number (SN) > 5' parameters are not numbers");
    EXPECT_TRUE(CheckRule("Power On Hours", "<=", "1,000", "999", message));
    EXPECT_TRUE(CheckRule("Media and Data Integrity Errors", "=", "0x1F", "31", message));
    EXPECT_TRUE(CheckRule("Power Cycles", "!=", "3", "4", message));
    EXPECT_TRUE(CheckRule("Power Cycles", ">=", "4", "4", message));
    EXPECT_FALSE(CheckRule("Power Cycles", ">", "4", "4", message));
    EXPECT_EQ(message, " Failed rule 'Power Cycles > 4' with value '4'");
}

TEST(Rules, LoadReportsEveryBadRuleAtOnce) {
    std::string dir = test::ScratchDirectory("rules-load");
    Json::Value document;
    document["rules"].append("Percentage Used < 90");
    document["rules"].append("'Percentage Used'<90");
    document["rules"].append("'Percentage Use' < 90");
    document["rules"].append("'Percentage Used' =< 90");
    document["rules"].append(5);
    document["rules"].append("'Percentage Used' < 90 %");
    test::WriteJson(dir + "/bad.rules.json", document);
    Json::Value rules;
    try {
        LoadRulesFile(dir + "/bad.rules.json", rules);
        FAIL();
    } catch (const UsageError& e) {
        std::string text = e.what();
        EXPECT_EQ(text.find("Invalid rule file: " + dir + "/bad.rules.json\n\n"), 0u);
        EXPECT_NE(text.find(" Rule Error: Did not find quoted parameter name in rule: Percentage Used < 90\n"), std::string::npos);
        EXPECT_NE(text.find(" Rule Error: Did not find operator in rule: 'Percentage Used'<90\n"), std::string::npos);
        EXPECT_NE(text.find(" Rule Error: Unknown parameter 'Percentage Use' in rule"), std::string::npos);
        EXPECT_NE(text.find(" Rule Error: Unknown operator '=<' in rule"), std::string::npos);
        EXPECT_NE(text.find(" Rule Error: Rule is not a text: 5"), std::string::npos);
    }
    test::WriteFile(dir + "/norules.rules.json", "{\"limits\": []}");
    EXPECT_THROW(LoadRulesFile(dir + "/norules.rules.json", rules), KavoError);
    test::WriteFile(dir + "/notarray.rules.json", "{\"rules\": \"x\"}");
    EXPECT_THROW(LoadRulesFile(dir + "/notarray.rules.json", rules), UsageError);
    LoadRulesFile("", rules);
    EXPECT_TRUE(rules.isNull());
}

TEST(Rules, VerifySkipsUnreportedParameters) {
    Json::Value info = Document({{"Percentage Used", "95 %"}});
    Json::Value rules;
    auto add = [&](const char* parameter, const char* op, const char* limit) {
        Json::Value rule;
        rule["parameter"] = parameter, rule["operator"] = op, rule["limit"] = limit;
        rule["rule"] = std::string("'") + parameter + "' " + op + " " + limit;
        rules["rules"].append(rule);
    };
    add("Temperature Sensor 3", "<", "70 C");
    EXPECT_TRUE(VerifyNvmeInfo(info, rules));
    EXPECT_EQ(info["rule violations"].size(), 0u);
    add("Percentage Used", "<", "90 %");
    add("No Such Parameter", "<", "1");
    EXPECT_FALSE(VerifyNvmeInfo(info, rules));
    ASSERT_EQ(info["rule violations"].size(), 2u);
    EXPECT_EQ(info["rule violations"][0]["value"].asString(), "95 %");
    EXPECT_EQ(info["rule violations"][0]["msg"].asString(), " Failed rule 'Percentage Used < 90 %' with value '95 %'");
    EXPECT_EQ(info["rule violations"][1]["value"].asString(), "N/A");
}

TEST(CompareMend, ANumberInAHandEditedBaselineIsItsText) {
    Json::Value reference, current;
    reference["nvme"]["parameters"]["Power Cycles"]["value"] = 321;  // edited by hand: a number
    reference["nvme"]["parameters"]["Power Cycles"]["name"] = "Power Cycles";
    reference["nvme"]["parameters"]["Power Cycles"]["compare type"] = "counter";
    AddParameter(current["nvme"]["parameters"], "Power Cycles", "322");
    EXPECT_TRUE(CompareNvmeInfo(reference, current, "default")) << current.toStyledString();
    AddParameter(current["nvme"]["parameters"], "Power Cycles", "320");
    EXPECT_FALSE(CompareNvmeInfo(reference, current, "default"));
    EXPECT_EQ(current["compare mismatches"][0]["compare_value"].asString(), "321");
}

TEST(CompareMend, ACompareFileOfAnyShapeIsNoCrash) {
    // Found by fuzzing: a reference whose "nvme" or "parameters" is not an
    // object made the compare fail with an unhandled JSON error.
    for (const char* text : {R"j("just a text")j", R"j({"nvme": 5})j", R"j({"nvme": {"parameters": [1, 2]}})j",
                             R"j({"nvme": {"parameters": {"Serial Number (SN)": "S1", "Power Cycles": 7}}})j"}) {
        Json::Value reference, current;
        ParseJsonText(text, reference);
        AddParameter(current["nvme"]["parameters"], "Power Cycles", "3");
        AddParameter(current["nvme"]["parameters"], "Serial Number (SN)", "S1");
        EXPECT_NO_THROW(CompareNvmeInfo(reference, current, "default")) << text;
        EXPECT_EQ(current["nvme"]["parameters"]["Power Cycles"]["compare type"].asString(), "missing") << text;
    }
}
