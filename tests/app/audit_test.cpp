// Faults an outside audit found, each shown mended end to end: repeated
// options, drive text beyond ASCII, compare files and command-file rules of
// the wrong shape, and a console that goes away.
#include <gtest/gtest.h>

#include <filesystem>

#include "run_binary.h"
#include "scratch_test.h"

namespace fs = std::filesystem;

namespace {

class Audit : public test::ScratchTest {};

}  // namespace

TEST_F(Audit, TheLastOfRepeatedOptionsWinsEvenWhenEmpty) {
    ASSERT_EQ(Read(Json::Value(), "-n sim -d base").exitCode, 0);
    auto run = Read(Json::Value(), "-n sim -d later -c base/nvme.info.json -c \"\"");
    EXPECT_EQ(run.exitCode, 0) << run.output;
    EXPECT_EQ(run.output.find(" Compare File:"), std::string::npos) << "the empty -c leaves the command file's none";
    test::WriteJson(dir + "/st.cmd.json", test::SelfTestCommand());
    test::WriteFile(dir + "/quick.json", R"({"self-test": {"short seconds": 0}})");
    auto selfTest = test::RunQuellix(dir, "st -n sim:quick.json -r x -r \"\"");
    EXPECT_EQ(selfTest.exitCode, 0) << selfTest.output;
}

TEST_F(Audit, DriveTextBeyondAsciiSurvivesItsBaseline) {
    // Model number bytes FF and E9 (not UTF-8), firmware revision byte 80.
    test::WriteFile(dir + "/drive.json", R"({"identify controller": {"bytes": {"24": "51FF58E9", "64": "46573180"}},
                                            "firmware log": {"bytes": {"8": "534991"}}})");
    ASSERT_EQ(Read(Json::Value(), "-n sim:drive.json -d base").exitCode, 0);
    Json::Value info = test::ReadJson(dir + "/base/nvme.info.json");
    const Json::Value& p = info["nvme"]["parameters"];
    EXPECT_EQ(p["Model Number (MN)"]["value"].asString().substr(0, 10), "Q\\xFFX\\xE9");
    EXPECT_EQ(p["Firmware Revision (FR)"]["value"].asString().substr(0, 7), "FW1\\x80");
    EXPECT_EQ(p["Firmware Slot 1 Revision"]["value"].asString(), "SI\\x911.4.0");
    auto later = Read(Json::Value(), "-n sim:drive.json -d later -c base/nvme.info.json");
    EXPECT_EQ(later.exitCode, 0) << later.output;
    Json::Value compared = test::ReadJson(dir + "/later/nvme.info.json");
    EXPECT_EQ(compared["compare mismatches"].size(), 0u) << compared["compare mismatches"].toStyledString();
}

TEST_F(Audit, CompareFilesAndCommandFileRulesOfTheWrongShape) {
    test::WriteFile(dir + "/odd.json", R"({"_metadata": {"file type": "nvme info"}, "nvme": 5})");
    auto odd = Read(Json::Value(), "-n sim -c odd.json");
    EXPECT_EQ(odd.exitCode, 16) << odd.output;
    EXPECT_NE(odd.output.find("Invalid compare file: " + dir + "/odd.json"), std::string::npos);
    EXPECT_FALSE(fs::exists(dir + "/nvme.info.json")) << "refused before the drive is read";

    // Rule texts in the command file are rules: a failing one fails the run.
    Json::Value changes;
    changes["rules"].append("'Composite Temperature' < 10 C");
    auto rules = Read(changes, "-n sim");
    EXPECT_EQ(rules.exitCode, 22) << rules.output;
    EXPECT_EQ(test::ReadJson(dir + "/nvme.info.json")["rule violations"].size(), 1u);
    changes["rules"] = Json::Value(Json::arrayValue);
    changes["rules"].append("'No Such Parameter' < 10");
    EXPECT_EQ(Read(changes, "-n sim").exitCode, 16);
    changes["rules"] = "'Composite Temperature' < 10 C";
    auto text = Read(changes, "-n sim");
    EXPECT_EQ(text.exitCode, 16);
    EXPECT_NE(text.output.find("Invalid cmd file value for 'rules'"), std::string::npos) << text.output;
}

TEST_F(Audit, AConsoleThatGoesAwayDoesNotEndTheRun) {
    Json::Value changes;
    changes["samples"] = 4;
    changes["interval in ms"] = 50;
    changes["display sample rate"] = 1;
    test::WriteJson(dir + "/read.cmd.json", test::ReadCommand(changes));
    std::string command = "cd '" + dir + "' && ( '" QUELLIX_BINARY "' -n sim 2>/dev/null; echo $? > status.txt ) | head -n 2";
    ASSERT_EQ(std::system(command.c_str()), 0);
    EXPECT_EQ(test::ReadFile(dir + "/status.txt"), "0\n");
    Json::Value summary = test::ReadJson(dir + "/read.summary.json");
    EXPECT_EQ(summary["read details"]["sample"].size(), 4u);
}
