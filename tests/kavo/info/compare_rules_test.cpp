// Compare types, the compare of documents with and without numbers, and
// rules: their units, their operators at the limit, and exact integers.
#include <gtest/gtest.h>

#include <tuple>

#include "base/kavo_errors.h"
#include "base/kavo_json.h"
#include "decode/info_document.h"
#include "decode/parameters.h"
#include "info/compare.h"
#include "info/rules.h"
#include "quellix.h"
#include "run_binary.h"

using namespace kavo;

namespace {

// A document of these records; each text's number when it is a count.
InfoDocument Document(std::initializer_list<std::tuple<const char*, const char*, const char*>> records) {
    InfoDocument info;
    for (const auto& [name, value, number] : records)
        AddParameter(info.parameters, name, Rendered(value, Number::FromLiteral(number)));
    return info;
}

// A compare file as written by hand or by an earlier version.
InfoDocument Reference(const std::string& text) {
    const std::string path = test::ScratchDirectory("compare-reference") + "/reference.json";
    test::WriteFile(path, text);
    InfoDocument reference;
    ReadInfoDocument(path, reference);
    return reference;
}

const Json::Value& Results(const InfoDocument& info, const char* member) { return info.document[member]; }

}  // namespace

TEST(CompareTypes, RuleOrder) {
    EXPECT_EQ(CompareType("all", "Host Timestamp", "Calculated", true), "ignore");
    EXPECT_EQ(CompareType("all", "Timestamp", "Get Feature 0Eh", true), "exact");
    EXPECT_EQ(CompareType("default", "Timestamp", "Get Feature 0Eh", true), "ignore");
    // The drive's path changes when the host numbers its drives anew.
    EXPECT_EQ(CompareType("default", "OS Location", "Calculated", true), "ignore");
    EXPECT_EQ(CompareType("all", "OS Location", "Calculated", true), "exact");
    EXPECT_EQ(CompareType("default", "Error 0 LBA", "Log Page 1", true), "ignore");
    EXPECT_EQ(CompareType("firmware", "Firmware Revision (FR)", "Identify Controller", true), "ignore");
    EXPECT_EQ(CompareType("default", "Firmware Revision (FR)", "Identify Controller", true), "exact");
    EXPECT_EQ(CompareType("firmware", "Firmware Slot 1 Revision", "Log Page 3", true), "ignore");
    EXPECT_EQ(CompareType("default", "Temperature Sensor 3", "Log Page 2", true), "ignore");
    EXPECT_EQ(CompareType("default", "Media in Read Only", "Log Page 2", false), "exact");
    EXPECT_EQ(CompareType("default", "Power On Hours", "Log Page 2", true), "counter");
    EXPECT_EQ(CompareType("default", "Power On Hours", "Log Page 2", false), "ignore");
}

TEST(CompareDocuments, IdenticalCountersAndMissing) {
    InfoDocument reference =
        Document({{"Serial Number (SN)", "A", ""}, {"Power On Hours", "1,200", "1200"}, {"Composite Temperature", "40 C", "40"}});
    InfoDocument current = reference;
    EXPECT_TRUE(CompareNvmeInfo(reference, current, "default"));
    EXPECT_EQ(Results(current, "all mismatches").size(), 0u);
    EXPECT_STREQ(current.parameters.Find("Power On Hours")->compareType, "counter");

    AddParameter(current.parameters, "Power On Hours", Rendered("1,199", Number::Unsigned(1199)));
    AddParameter(current.parameters, "Composite Temperature", Rendered("35 C", Number::Signed(35)));
    AddParameter(current.parameters, "Size", Rendered("1 GB", Number::Unsigned(1000000000)));
    EXPECT_FALSE(CompareNvmeInfo(reference, current, "default"));
    EXPECT_EQ(Results(current, "counter mismatches").asInt(), 1);
    EXPECT_EQ(Results(current, "static mismatches").asInt(), 0);
    const Json::Value& failed = Results(current, "compare mismatches");
    ASSERT_EQ(failed.size(), 2u);
    EXPECT_EQ(failed[0]["message"].asString(), "'Power On Hours' value '1,199' is less than compare value '1,200'");
    EXPECT_EQ(failed[0]["delta"].asString(), "-1");
    EXPECT_EQ(failed[1]["delta"].asString(), "Compare value missing");
    EXPECT_STREQ(current.parameters.Find("Size")->compareType, "missing");
    const Json::Value& all = Results(current, "all mismatches");
    ASSERT_EQ(all.size(), 3u);
    EXPECT_EQ(all[0]["name"].asString(), "Composite Temperature");
    EXPECT_EQ(all[0]["compare_type"].asString(), "ignore");
    EXPECT_EQ(all[0]["delta"].asString(), "-5");

    // Another drive: counters are only listed.
    InfoDocument other = Document({{"Serial Number (SN)", "B", ""}, {"Power On Hours", "1,199", "1199"}});
    EXPECT_FALSE(CompareNvmeInfo(reference, other, "default"));  // the serial number itself differs
    EXPECT_EQ(Results(other, "counter mismatches").asInt(), 0);
    EXPECT_EQ(Results(other, "static mismatches").asInt(), 1);
}

// Counters compare as integers of any width: 2^53 + 1 is more than 2^53
// though both are the same double, and 128-bit counters differ by one.
TEST(CompareDocuments, CountersCompareExactlyAtEveryWidth) {
    const std::pair<const char*, const char*> kSteps[] = {
        {"9007199254740992", "9007199254740993"},
        {"340282366920938463463374607431768211454", "340282366920938463463374607431768211455"},
    };
    for (const auto& [before, after] : kSteps) {
        InfoDocument reference = Document({{"Host Read Commands", after, after}});
        InfoDocument current = Document({{"Host Read Commands", before, before}});
        EXPECT_FALSE(CompareNvmeInfo(reference, current, "default")) << before;
        EXPECT_EQ(Results(current, "compare mismatches")[0]["delta"].asString(), "-1") << before;
        EXPECT_TRUE(CompareNvmeInfo(current, reference, "default")) << after;
    }
    // Data amounts compare, and differ, in bytes.
    InfoDocument reference = Document({{"Data Read", "1,200.000 GB", "1200000000000"}});
    InfoDocument current = Document({{"Data Read", "1,234.567 GB", "1234567000000"}});
    EXPECT_TRUE(CompareNvmeInfo(reference, current, "default"));
    EXPECT_EQ(Results(current, "all mismatches")[0]["delta"].asString(), "34,567,000,000");
}

TEST(CompareDocuments, DrivesWithoutSerialNumberGainNoRecord) {
    InfoDocument reference = Document({{"Power Cycles", "12", "12"}});
    InfoDocument current = Document({{"Power Cycles", "13", "13"}});
    EXPECT_TRUE(CompareNvmeInfo(reference, current, "default"));
    EXPECT_FALSE(current.parameters.Has("Serial Number (SN)"));
    EXPECT_EQ(Results(current, "all mismatches").size(), 1u);
}

// A baseline written before records carried numbers compares by its texts,
// as it always did: figures of one unit, integers exactly.
TEST(CompareDocuments, BaselinesWithoutNumbersCompareByTheirTexts) {
    auto record = [](const char* name, const char* value) {
        return std::string("\"") + name + "\": {\"name\": \"" + name + "\", \"value\": \"" + value + "\"}";
    };
    InfoDocument reference = Reference("{\"_metadata\": {\"file type\": \"nvme info\"}, \"nvme\": {\"parameters\": {" +
                                       record("Power On Hours", "1,200") + ", " + record("Data Read", "1,200.000 GB") +
                                       ", " + record("Controller Busy Time", "9 Sec") + ", " +
                                       record("Power Cycles", "twelve") + "}}}");
    EXPECT_FALSE(reference.parameters.Find("Power On Hours")->number.present());
    InfoDocument current = Document({{"Power On Hours", "1,199", "1199"},
                                      {"Data Read", "1,234.567 GB", "1234567000000"},
                                      {"Controller Busy Time", "10 Min", "10"},
                                      {"Power Cycles", "13", "13"}});
    EXPECT_FALSE(CompareNvmeInfo(reference, current, "default"));
    const Json::Value& all = Results(current, "all mismatches");
    ASSERT_EQ(all.size(), 4u);
    std::map<std::string, std::string> deltas;
    for (const Json::Value& entry : all) deltas[entry["name"].asString()] = entry["delta"].asString();
    EXPECT_EQ(deltas["Power On Hours"], "-1");
    EXPECT_EQ(deltas["Data Read"], "34.567");
    EXPECT_EQ(deltas["Controller Busy Time"], "Mismatch");
    EXPECT_EQ(deltas["Power Cycles"], "Mismatch");
    // Hours went down, minutes are not seconds, and a counter that was not a
    // number cannot be seen to grow: three failures, and no error.
    EXPECT_EQ(Results(current, "counter mismatches").asInt(), 3);
}

TEST(CompareMend, ANumberInAHandEditedBaselineIsItsText) {
    InfoDocument reference = Reference(
        R"({"_metadata": {"file type": "nvme info"}, "nvme": {"parameters": {"Power Cycles": {"value": 321}}}})");
    InfoDocument current = Document({{"Power Cycles", "322", "322"}});
    EXPECT_TRUE(CompareNvmeInfo(reference, current, "default"));
    current = Document({{"Power Cycles", "320", "320"}});
    EXPECT_FALSE(CompareNvmeInfo(reference, current, "default"));
    EXPECT_EQ(Results(current, "compare mismatches")[0]["compare_value"].asString(), "321");
}

TEST(CompareMend, ACompareFileOfAnyShapeIsNoCrash) {
    // Found by fuzzing: a reference whose "nvme" or "parameters" is not an
    // object made the compare fail with an unhandled JSON error.
    for (const char* text : {R"j("just a text")j", R"j({"nvme": 5})j", R"j({"nvme": {"parameters": [1, 2]}})j",
                             R"j({"nvme": {"parameters": {"Serial Number (SN)": "S1", "Power Cycles": 7}}})j",
                             R"j({"nvme": {"parameters": {"No Such Name": {"value": "1"}}}})j"}) {
        InfoDocument reference = Reference(text);
        InfoDocument current = Document({{"Power Cycles", "3", "3"}, {"Serial Number (SN)", "S1", ""}});
        EXPECT_NO_THROW(CompareNvmeInfo(reference, current, "default")) << text;
        EXPECT_STREQ(current.parameters.Find("Power Cycles")->compareType, "missing") << text;
    }
}

// Rules are checked against the parameters' units when they are loaded.
TEST(Rules, LimitsNeedANumberInTheParametersUnit) {
    const std::pair<const char*, const char*> kRules[] = {
        {"'Composite Temperature' < 70 C", ""},
        {"'Composite Temperature' < 70", "Limit '70' needs the unit C"},
        {"'Composite Temperature' < 70 F", "Limit '70 F' needs the unit C"},
        {"'Percentage Used' < 90abc", "Limit '90abc' is not a number"},
        {"'Percentage Used' < 90abc %", "Limit '90abc %' is not a number"},
        {"'Percentage Used' < 90 %", ""},
        {"'Media and Data Integrity Errors' = 0x1F", ""},
        {"'Media and Data Integrity Errors' = 0 %", "Limit '0 %' needs no unit"},
        {"'Power On Hours' <= 1,000", ""},
        {"'Data Written' < 1.5 TB", ""},
        {"'Data Written' < 1000", "Limit '1000' needs the unit B, KB, MB, GB, TB, KiB, MiB, GiB or TiB"},
        {"'Thermal Management Temperature 1 Time' = 0 sec", ""},
        {"'Serial Number (SN)' > 5", "'Serial Number (SN)' has no number: compare it with match or not-match"},
        {"'Serial Number (SN)' match ABC", ""},
    };
    for (const auto& [text, error] : kRules) {
        Json::Value texts(Json::arrayValue);
        texts.append(text);
        try {
            ParseRules(texts, "test");
            EXPECT_STREQ(error, "") << text;
        } catch (const UsageError& e) {
            EXPECT_NE(std::string(e.what()).find(std::string(" Rule Error: ") + error + " in rule: " + text), std::string::npos)
                << e.what();
            EXPECT_NE(std::string(error), "") << e.what();
        }
    }
}

// Every operator exactly at its limit, one below and one above, in the
// units a value shows (a limit in GB against bytes).
TEST(Rules, OperatorsAtTheLimitBelowAndAbove) {
    const std::tuple<const char*, bool, bool, bool> kOperators[] = {
        // operator, value below, at, above the limit
        {"=", false, true, false},  {"!=", true, false, true}, {">", false, false, true},
        {">=", false, true, true},  {"<", true, false, false}, {"<=", true, true, false},
    };
    const std::tuple<const char*, const char*, const char*, const char*, const char*> kValues[] = {
        // parameter, limit, the numbers below, at and above it
        {"Composite Temperature", "-5 C", "-6", "-5", "-4"},
        {"Percentage Used", "90 %", "89", "90", "91"},
        {"Data Written", "1 GB", "999999999", "1000000000", "1000000001"},
        {"Power On Hours", "9007199254740992", "9007199254740991", "9007199254740992", "9007199254740993"},
        {"Critical Composite Temperature Time", "0 Min", "-1", "0", "1"},
        {"Warning Composite Temperature Time", "10 Min", "9", "10", "11"},
        // every unit text, and every scale of bytes
        {"ANA Transition Time (ANATT)", "5 Sec", "4", "5", "6"},
        {"ANA Transition Time (ANATT)", "5 sec", "4", "5", "6"},
        {"Keep Alive Support (KAS)", "100 mS", "99", "100", "101"},
        {"Keep Alive Support (KAS)", "100 ms", "99", "100", "101"},
        {"RTD3 Resume Latency (RTD3R)", "10 uS", "9", "10", "11"},
        {"RTD3 Resume Latency (RTD3R)", "10 us", "9", "10", "11"},
        {"Power State 0 Maximum Power (MP)", "8.25 Watts", "8.24", "8.25", "8.26"},
        {"Power State 0 Maximum Power (MP)", "25 W", "24.99", "25", "25.01"},
        {"Data Written", "7 B", "6", "7", "8"},
        {"Data Written", "2 KB", "1999", "2000", "2001"},
        {"Data Written", "3 MB", "2999999", "3000000", "3000001"},
        {"Data Written", "4 TB", "3999999999999", "4000000000000", "4000000000001"},
        {"Data Written", "1 KiB", "1023", "1024", "1025"},
        {"Data Written", "1 MiB", "1048575", "1048576", "1048577"},
        {"Data Written", "1 GiB", "1073741823", "1073741824", "1073741825"},
        {"Data Written", "1 TiB", "1099511627775", "1099511627776", "1099511627777"},
        {"Data Written", "1.5 GB", "1499999999", "1500000000", "1500000001"},
        {"Data Written", "0.5 KiB", "511", "512", "513"},
        {"Available Spare", "10 %", "9", "10", "11"},
        {"Composite Temperature", "70 C", "69", "70", "71"},
        {"Power Cycles", "0x10", "15", "16", "17"},
        {"Power Cycles", "1,000", "999", "1000", "1001"},
        {"Namespace 1 Size in LBA (NSZE)", "2e3", "1999", "2000", "2001"},
        {"Media and Data Integrity Errors", "340282366920938463463374607431768211455",
         "340282366920938463463374607431768211454", "340282366920938463463374607431768211455",
         "340282366920938463463374607431768211456"},
    };
    for (const auto& [op, below, at, above] : kOperators)
        for (const auto& [parameter, limit, under, equal, over] : kValues) {
            Json::Value texts(Json::arrayValue);
            texts.append(std::string("'") + parameter + "' " + op + " " + limit);
            const Rule rule = ParseRules(texts, "test").at(0);
            for (const auto& [number, expected] : {std::pair<const char*, bool>{under, below}, {equal, at}, {over, above}}) {
                Parameters parameters;
                const Parameter& record = parameters.Add(parameter, Rendered("shown", Number::FromLiteral(number)));
                std::string message;
                EXPECT_EQ(CheckRule(rule, record, message), expected) << rule.text << " with " << number;
                if (!expected) {
                    EXPECT_EQ(message, " Failed rule '" + rule.parameter + " " + op + " " + limit + "' with value 'shown'");
                }
            }
        }
}

TEST(Rules, MatchAndTextValues) {
    Json::Value texts(Json::arrayValue);
    texts.append("'Critical Warnings' match No");
    texts.append("'Critical Warnings' not-match No");
    texts.append("'Available Spare' > 5 %");
    const std::vector<Rule> rules = ParseRules(texts, "test");
    Parameters parameters;
    parameters.Add("Critical Warnings", Rendered("No", Number::Unsigned(0)));
    parameters.Add("Available Spare", "Not Reported");
    const Parameter& no = *parameters.Find("Critical Warnings");
    const Parameter& spare = *parameters.Find("Available Spare");
    std::string message;
    EXPECT_TRUE(CheckRule(rules[0], no, message));
    EXPECT_FALSE(CheckRule(rules[1], no, message));
    EXPECT_EQ(message, " Failed rule 'Critical Warnings not-match No' matches value 'No'");
    EXPECT_FALSE(CheckRule(rules[2], spare, message));
    EXPECT_EQ(message, " Failed rule 'Available Spare > 5 %' parameters are not numbers");
    const Parameter& warning = parameters.Add("Critical Warnings", Rendered("Yes (0x04)", Number::Unsigned(4)));
    EXPECT_FALSE(CheckRule(rules[0], warning, message));
    EXPECT_EQ(message, " Failed rule 'Critical Warnings match No' does not match value 'Yes (0x04)'");
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
    try {
        LoadRulesFile(dir + "/bad.rules.json");
        FAIL();
    } catch (const UsageError& e) {
        std::string text = e.what();
        EXPECT_EQ(text.find("Invalid rule file: " + dir + "/bad.rules.json\n\n"), 0u);
        EXPECT_NE(text.find(" Rule Error: Did not find quoted parameter name in rule: Percentage Used < 90\n"), std::string::npos);
        EXPECT_NE(text.find(" Rule Error: Did not find operator in rule: 'Percentage Used'<90\n"), std::string::npos);
        EXPECT_NE(text.find(" Rule Error: Unknown parameter 'Percentage Use' in rule"), std::string::npos);
        EXPECT_NE(text.find(" Rule Error: Unknown operator '=<' in rule"), std::string::npos);
        EXPECT_NE(text.find(" Rule Error: Rule is not a text: 5"), std::string::npos);
        EXPECT_EQ(text.find("'Percentage Used' < 90 %"), std::string::npos) << "the good rule";
    }
    test::WriteFile(dir + "/norules.rules.json", "{\"limits\": []}");
    EXPECT_THROW(LoadRulesFile(dir + "/norules.rules.json"), KavoError);
    test::WriteFile(dir + "/notarray.rules.json", "{\"rules\": \"x\"}");
    EXPECT_THROW(LoadRulesFile(dir + "/notarray.rules.json"), UsageError);
}

TEST(Rules, VerifySkipsUnreportedParameters) {
    InfoDocument info = Document({{"Percentage Used", "95 %", "95"}});
    Json::Value texts(Json::arrayValue);
    texts.append("'Temperature Sensor 3' < 70 C");
    EXPECT_TRUE(VerifyNvmeInfo(info, ParseRules(texts, "test")));
    EXPECT_EQ(Results(info, "rule violations").size(), 0u);
    texts.append("'Percentage Used' < 90 %");
    EXPECT_FALSE(VerifyNvmeInfo(info, ParseRules(texts, "test")));
    const Json::Value& violations = Results(info, "rule violations");
    ASSERT_EQ(violations.size(), 1u);
    EXPECT_EQ(violations[0]["value"].asString(), "95 %");
    EXPECT_EQ(violations[0]["msg"].asString(), " Failed rule 'Percentage Used < 90 %' with value '95 %'");
    EXPECT_EQ(violations[0]["rule"].asString(), "'Percentage Used' < 90 %");
}
