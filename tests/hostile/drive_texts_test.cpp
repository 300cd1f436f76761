// Drive texts: what a drive or the system reports, shown on a terminal and
// written into metrics, and drives with more namespaces than one list holds.
#include <algorithm>
#include <filesystem>

#include "base/kavo_text.h"
#include "hostile.h"
#include "host/host_linux.h"
#include "host/system_info.h"
#include "quellix.h"

namespace fs = std::filesystem;

namespace {

class DriveTexts : public test::ScratchTest {};

// A model of "ESC [2J A C CR LF L F" and a serial that sets a terminal's
// title: either would clear the screen, retitle it or split the line.
const char kHostileIdentify[] =
    R"({"identify controller": {"bytes": {"24": "1B5B324A41430D0A4C46", "4": "53450D1B5D303B7469746C6507"}}})";

}  // namespace

TEST_F(DriveTexts, TheDriveListShowsControlBytesEscaped) {
    test::WriteFile(dir + "/drive.json", kHostileIdentify);
    auto split = test::RunQuellixSplit(dir, "--list -n sim:drive.json");
    EXPECT_EQ(split.exitCode, 0) << split.errors;
    EXPECT_EQ(std::count(split.output.begin(), split.output.end(), '\n'), 2) << "the header and the drive: " << split.output;
    EXPECT_EQ(split.output.find_first_of("\x1b\r\x07"), std::string::npos) << split.output;
    EXPECT_NE(split.output.find("\\x1B[2JAC\\x0D\\x0ALF"), std::string::npos) << split.output;
    EXPECT_NE(split.output.find("SE\\x0D\\x1B]0;title\\x07"), std::string::npos) << split.output;
}

// The host's own list: texts as the kernel gives them in sysfs.
TEST_F(DriveTexts, TheHostsDriveListShowsControlBytesEscaped) {
    const std::string controller = dir + "/sys/class/nvme/nvme0";
    fs::create_directories(controller);
    test::WriteFile(controller + "/model", "Evil\x1b[2J\rModel\x9b" "31m\n");
    test::WriteFile(controller + "/serial", "S\x1b]0;x\x07N\n");
    test::WriteFile(controller + "/firmware_rev", "FW\x7f\n");
    const auto controllers = kavo::linux_host::NvmeControllerSummaries(dir);
    ASSERT_EQ(controllers.size(), 1u);
    const std::string line = DriveListLine(controllers[0]);
    EXPECT_EQ(line.find_first_of("\x1b\r\n\x07\x7f\x9b"), std::string::npos) << line;
    EXPECT_NE(line.find("Evil\\x1B[2J\\x0DModel\\x9B31m"), std::string::npos) << line;
    EXPECT_NE(line.find("S\\x1B]0;x\\x07N"), std::string::npos) << line;
    EXPECT_NE(line.find("FW\\x7F"), std::string::npos) << line;
}

// A text is shown as it is when it is printable UTF-8; bytes that are not
// UTF-8 and, when asked, control characters become \xHH.
TEST_F(DriveTexts, EscapedTextKeepsUtf8AndEscapesTheRest) {
    const std::tuple<std::string, bool, std::string> kCases[] = {
        {"Samsung SSD 970", true, "Samsung SSD 970"},
        {"Gr\xc3\xbc\xc3\x9f \xe2\x82\xac \xf0\x9f\x98\x80", true, "Gr\xc3\xbc\xc3\x9f \xe2\x82\xac \xf0\x9f\x98\x80"},
        {"a\x1b[1mb\r\n\t", true, "a\\x1B[1mb\\x0D\\x0A\\x09"},
        {"a\x1b\n", false, "a\x1b\n"},
        {"\xc2\x9b" "31m", true, "\\xC2\\x9B31m"},  // the C1 control CSI
        {"\xc2\x9b", false, "\xc2\x9b"},
        {"\xff\xfe x \x80", false, "\\xFF\\xFE x \\x80"},
        {"\xc0\xaf", false, "\\xC0\\xAF"},                  // overlong "/"
        {"\xed\xa0\x80", false, "\\xED\\xA0\\x80"},         // a surrogate
        {"\xf4\x90\x80\x80", false, "\\xF4\\x90\\x80\\x80"}, // beyond U+10FFFF
        {"\xe2\x82", false, "\\xE2\\x82"},                  // cut short
        {std::string("a\0b", 3), true, "a\\x00b"},
    };
    for (const auto& [text, controls, shown] : kCases) EXPECT_EQ(kavo::EscapedText(text, controls), shown) << text;
}

// 3,000 active namespaces: the list is asked again from the last NSID until
// it ends; all are listed and "Size" totals them all.
TEST_F(DriveTexts, EveryActiveNamespaceIsListedAndCounted) {
    Json::Value drive;
    drive["identify controller"]["NN"] = 4000;
    for (int i = 0; i < 3000; ++i) drive["namespaces"].append(Json::Value(Json::objectValue));
    test::WriteJson(dir + "/many.json", drive);
    Json::Value changes;
    changes["read log page 07h"] = false;
    changes["read log page 08h"] = false;
    test::WriteJson(dir + "/read.cmd.json", test::ReadCommand(changes));
    auto run = hostile::RunBounded(dir, "-n sim:many.json", 120);
    ASSERT_EQ(run.exitCode, 0) << run.output;
    const Json::Value info = test::ReadJson(dir + "/nvme.info.json");
    ASSERT_EQ(info["nvme"]["namespaces"].size(), 3000u);
    EXPECT_EQ(info["nvme"]["namespaces"][2999]["nsid"].asUInt(), 3000u);
    // 3,000 namespaces of 1,000,215,216 blocks of 512 bytes.
    EXPECT_EQ(info["nvme"]["parameters"]["Size"]["value"].asString(), "1536331 GB");
    EXPECT_FALSE(info["_metadata"].isMember("namespace list"));
}
