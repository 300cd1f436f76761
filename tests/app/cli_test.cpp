// The built binary end to end: help and usage, command line and command
// file errors, drive choice, the trace file and the export.
#include <gtest/gtest.h>

#include <filesystem>
#include <tuple>

#include <filesystem>

#include "run_binary.h"
#include "scratch_test.h"

using test::CountLines;
using test::ReadFile;
using test::RunQuellix;

namespace {

class Cli : public test::ScratchTest {
protected:
    void WriteRead(const Json::Value& changes = Json::Value()) { test::WriteJson(dir + "/read.cmd.json", test::ReadCommand(changes)); }
};

const char* const kFail16 = "[FAIL] quellix returned 16";

}  // namespace

TEST_F(Cli, HelpAndUsageExitZeroWithoutFinalLine) {
    auto help = RunQuellix(dir, "--help");
    EXPECT_EQ(help.exitCode, 0);
    // The 45 lines of the help, then the lines of the later options.
    EXPECT_EQ(CountLines(help.output, ""), 69u) << help.output;
    size_t exportLine =
        help.output.find("   --export                        Export parameter list to parameter_list.json and ALL.filter.json\n \n");
    EXPECT_NE(exportLine, std::string::npos);
    EXPECT_LT(exportLine, help.output.find("   --version                       Show the version"));
    EXPECT_EQ(help.output.find("[PASS]"), std::string::npos);
    auto usage = RunQuellix(dir, "-u");
    EXPECT_EQ(usage.exitCode, 0);
    EXPECT_EQ(CountLines(usage.output, ""), 28u);
    EXPECT_LT(usage.output.find("   -v                              Verbose logging\n \n"), usage.output.find("   --list"));
    // The trace file of a help request stays in the current directory.
    std::string trace = ReadFile(dir + "/quellix.trace.log");
    EXPECT_EQ(trace.compare(0, 3, "\xEF\xBB\xBF"), 0);
    EXPECT_NE(trace.find("]     -r, --rules <rules file>"), std::string::npos);
    // "-u" alone is written without the loggers, "read -u" through them: the
    // console and the trace lines must not tell them apart.
    auto logged = RunQuellix(dir, "read -u");
    EXPECT_EQ(logged.exitCode, 0);
    EXPECT_EQ(logged.output, usage.output);
    auto withoutTimes = [](std::string text) {
        for (size_t at = text.find('['); at != std::string::npos; at = text.find('[', at))
            text.erase(at, text.find(']', at) - at + 1);
        return text;
    };
    EXPECT_EQ(withoutTimes(ReadFile(dir + "/quellix.trace.log")), withoutTimes(trace));
}

TEST_F(Cli, UnknownOptionsAreOneUsageError) {
    auto run = RunQuellix(dir, "read --bogus -n 0 other");
    EXPECT_EQ(run.exitCode, 16);
    size_t usageEnd = run.output.find("   -v                              Verbose logging\n \n");
    size_t error = run.output.find("USAGE ERROR\nInvalid parameter on command line: '--bogus'\n"
                                   "Invalid parameter on command line: 'other'\n");
    EXPECT_NE(usageEnd, std::string::npos);
    EXPECT_NE(error, std::string::npos) << run.output;
    EXPECT_LT(usageEnd, error);
    EXPECT_NE(run.output.find(kFail16), std::string::npos);
    EXPECT_EQ(RunQuellix(dir, "-d").exitCode, 16);
    EXPECT_NE(RunQuellix(dir, "-n").output.find("-n is missing a value"), std::string::npos);
}

TEST_F(Cli, CommandFileProblems) {
    // "--export" alone is a request of its own; with a command file the run
    // goes on and needs the file.
    auto exported = RunQuellix(dir, "--export");
    EXPECT_EQ(exported.exitCode, 0) << exported.output;
    EXPECT_EQ(exported.output.find("[FAIL]"), std::string::npos);
    EXPECT_TRUE(std::filesystem::exists(dir + "/parameter_list.json"));
    EXPECT_TRUE(std::filesystem::exists(dir + "/ALL.filter.json"));
    auto missing = RunQuellix(dir, "read --export");
    EXPECT_EQ(missing.exitCode, 16);
    EXPECT_NE(missing.output.find("Did not find command file: read.cmd.json"), std::string::npos);
    test::WriteFile(dir + "/broken.cmd.json", "{ \"command type\": ");
    auto broken = RunQuellix(dir, "broken");
    EXPECT_EQ(broken.exitCode, 16);
    EXPECT_NE(broken.output.find("Failed to parse JSON in command file: broken.cmd.json"), std::string::npos);
    test::WriteFile(dir + "/array.cmd.json", "[1, 2]");
    EXPECT_EQ(RunQuellix(dir, "array").exitCode, 16);
    test::WriteFile(dir + "/type.cmd.json", "{\"command type\": \"format\"}");
    EXPECT_NE(RunQuellix(dir, "type").output.find("cmd file contains illegal cmd type: format"), std::string::npos);

    Json::Value command = test::ReadCommand();
    command.removeMember("samples");
    command.removeMember("fail limit");
    test::WriteJson(dir + "/keys.cmd.json", command);
    auto keys = RunQuellix(dir, "keys -s 3 -n sim");
    EXPECT_EQ(keys.exitCode, 16);
    EXPECT_NE(keys.output.find("Invalid cmd file, missing parameter 'samples' required for 'read' cmd type \n"
                               "Invalid cmd file, missing parameter 'fail limit' required for 'read' cmd type \n"),
              std::string::npos) << keys.output;
}

// A value of the wrong type is a mistake in the input: a usage error (16)
// naming the key or option and what it expects, before the drive is read.
TEST_F(Cli, WrongValueTypesAreUsageErrors) {
    const std::tuple<const char*, Json::Value, const char*> kCases[] = {
        {"samples", Json::Value("ten"), "Invalid cmd file value for 'samples': expected an unsigned number, found \"ten\""},
        {"samples", Json::Value(-1), "Invalid cmd file value for 'samples': expected an unsigned number, found -1"},
        {"log hex data", Json::Value(5), "Invalid cmd file value for 'log hex data': expected true or false, found 5"},
        {"compare type", Json::Value(7), "Invalid cmd file value for 'compare type': expected a text, found 7"},
        {"samples", Json::Value("3"), "Invalid cmd file value for 'samples': expected an unsigned number, found \"3\""},
        {"_input", Json::Value(5), "Invalid cmd file, '_input' must be an object: read.cmd.json"},
        {"common", Json::Value("x"), "Invalid cmd file, 'common' must be an object: read.cmd.json"},
        {"command type", Json::Value(5), "cmd file contains illegal cmd type: 5"},
    };
    for (const auto& [key, value, message] : kCases) {
        Json::Value command = test::ReadCommand();
        command[key] = value;
        test::WriteJson(dir + "/read.cmd.json", command);
        auto run = RunQuellix(dir, "-n sim");
        EXPECT_EQ(run.exitCode, 16) << key;
        EXPECT_NE(run.output.find(message), std::string::npos) << run.output;
        EXPECT_NE(run.output.find("[FAIL] quellix returned 16"), std::string::npos);
        EXPECT_FALSE(std::filesystem::exists(dir + "/read.summary.json")) << key;
    }
}

// -s and -i take a whole number that the command file's key would take, or
// -1 for the command file's value; anything else is named, not half read.
TEST_F(Cli, MalformedOptionValuesAreUsageErrors) {
    WriteRead(Json::Value());
    const std::pair<const char*, const char*> kOptions[] = {{"-s", "a number of samples"},
                                                            {"--interval", "an interval in milliseconds"}};
    for (const auto& [option, what] : kOptions) {
        for (const char* value : {"abc", "5x", "1s", "-5", "-2147483649", "4294967296", "99999999999999999999", "1e3",
                                  "0x10", ""}) {
            auto run = RunQuellix(dir, std::string("-n sim ") + option + " '" + value + "'");
            EXPECT_EQ(run.exitCode, 16) << option << " " << value << run.output;
            EXPECT_NE(run.output.find(std::string("Option ") + option + " needs " + what +
                                      " from 0 to 4294967295 (or -1 for the command file's value), not '" + value + "'"),
                      std::string::npos) << run.output;
            EXPECT_FALSE(std::filesystem::exists(dir + "/read.summary.json")) << option << " " << value;
        }
    }
    auto absent = RunQuellix(dir, "-n sim -s -1 -i -1");
    EXPECT_EQ(absent.exitCode, 0) << absent.output;
    EXPECT_EQ(test::ReadJson(dir + "/read.summary.json")["read details"]["sample"].size(), 1u);
    auto large = RunQuellix(dir, "-n sim -s 0 -i 4294967295");
    EXPECT_EQ(large.exitCode, 0) << "the largest interval the command file takes: " << large.output;
}

TEST_F(Cli, SelfTestConflicts) {
    Json::Value command = test::SelfTestCommand();
    command["rules file"] = "";
    test::WriteJson(dir + "/st.cmd.json", command);
    EXPECT_NE(RunQuellix(dir, "st -n sim -s 2").output.find("Command type self-test does not use --samples"), std::string::npos);
    EXPECT_NE(RunQuellix(dir, "st -n sim -i 2").output.find("Command type self-test does not use --interval"), std::string::npos);
    EXPECT_NE(RunQuellix(dir, "st -n sim -r x").output.find("Command type self-test does not use rules file"), std::string::npos);
    EXPECT_NE(RunQuellix(dir, "st -n sim -c x").output.find("Command type self-test does not use compare file"), std::string::npos);
    WriteRead();
    EXPECT_NE(RunQuellix(dir, "-n sim -e").output.find("Command type read does not use --extended"), std::string::npos);
}

TEST_F(Cli, DriveChoice) {
    WriteRead();
    auto unknown = RunQuellix(dir, "-n 97");
    if (std::filesystem::exists("/sys/class/nvme/nvme0")) {
        EXPECT_EQ(unknown.exitCode, 19) << unknown.output;
        EXPECT_NE(unknown.output.find("NVMe drive 97 was not found"), std::string::npos);
    } else {
        // Without a drive list a named drive is used unchecked.
        EXPECT_EQ(unknown.exitCode, 17) << unknown.output;
        EXPECT_NE(unknown.output.find("Failed to open handle for NVME drive '/dev/nvme97'"), std::string::npos);
    }
    auto first = RunQuellix(dir, "");
    if (!std::filesystem::exists("/sys/class/nvme/nvme0")) {
        EXPECT_EQ(first.exitCode, 17);
        EXPECT_NE(first.output.find("Failed to get list of NVMe drives from OS and NVMe drive not specified (eg: --nvme 0)\n"
                                    " Error Message: No NVMe drives found"), std::string::npos) << first.output;
    }
    auto path = RunQuellix(dir, "-n ../../dev/sda");
    EXPECT_EQ(path.exitCode, 16);
    EXPECT_NE(path.output.find("Invalid NVMe drive '../../dev/sda': use * for the first NVMe drive, a drive number such "
                               "as 0 (or nvme0 or /dev/nvme0)"),
              std::string::npos) << path.output;
    // The Linux names of a drive are that drive's number.
    for (const char* name : {"nvme97", "/dev/nvme97"}) {
        auto named = RunQuellix(dir, std::string("-n ") + name);
        EXPECT_EQ(named.exitCode, unknown.exitCode) << name << named.output;
        EXPECT_NE(named.output.find(" NVMe:           /dev/nvme97\n"), std::string::npos) << name << named.output;
    }
    for (const char* wrong : {"nvme", "nvme1x", "/dev/nvme0n1p1", "/dev/sda0"})
        EXPECT_EQ(RunQuellix(dir, std::string("-n ") + wrong).exitCode, 16) << wrong;
    // A namespace's name stands for its controller, which must be there.
    auto namespaceName = RunQuellix(dir, "-n /dev/nvme97n1");
    EXPECT_EQ(namespaceName.exitCode, 19) << namespaceName.output;
    EXPECT_NE(namespaceName.output.find("USAGE ERROR\nNVMe drive /dev/nvme97n1 was not found"), std::string::npos)
        << namespaceName.output;
    EXPECT_NE(namespaceName.output.find("Display this usage information"), std::string::npos)
        << "a drive that is not there comes with the usage text";
    auto description = RunQuellix(dir, "-n sim:missing.json");
    EXPECT_EQ(description.exitCode, 16);
    EXPECT_NE(description.output.find("Simulated drive description 'missing.json': file not found"), std::string::npos);
}

TEST_F(Cli, TraceFileInTheLogDirectory) {
    WriteRead();
    auto run = RunQuellix(dir, "-n sim -d logs -x");
    EXPECT_EQ(run.exitCode, 0) << run.output;
    std::string trace = ReadFile(dir + "/logs/quellix.trace.log");
    EXPECT_EQ(trace.compare(0, 3, "\xEF\xBB\xBF"), 0);
    EXPECT_NE(trace.find("]  Command '"), std::string::npos);
    EXPECT_EQ(run.output.find("Command '"), std::string::npos) << "the command line reaches the trace file only";
    EXPECT_NE(trace.find("]  Admin command Identify Controller completed in"), std::string::npos) << "debug lines with -x";
    EXPECT_EQ(trace.find("FATAL"), std::string::npos);
    // A second run with the same log directory leaves only its own trace.
    auto second = RunQuellix(dir, "-n sim -d logs -u");
    std::string again = ReadFile(dir + "/logs/quellix.trace.log");
    EXPECT_EQ(again, trace);
    auto third = RunQuellix(dir, "-n sim:none.json -d logs");
    std::string last = ReadFile(dir + "/logs/quellix.trace.log");
    EXPECT_NE(last.find("FATAL [main@"), std::string::npos) << last;
    EXPECT_EQ(CountLines(last, "Command '"), 1u);
}

TEST_F(Cli, ExportWritesEveryNameInByteOrder) {
    auto run = RunQuellix(dir, "--export --export -h");
    EXPECT_EQ(run.exitCode, 0);
    Json::Value list = test::ReadJson(dir + "/parameter_list.json");
    Json::Value filter = test::ReadJson(dir + "/ALL.filter.json");
    ASSERT_EQ(list["parameters"].size(), 4157u);
    ASSERT_EQ(filter["filter"].size(), 4157u);
    for (Json::ArrayIndex i = 1; i < filter["filter"].size(); ++i)
        ASSERT_LT(filter["filter"][i - 1].asString(), filter["filter"][i].asString());
    EXPECT_EQ(list["parameters"][0]["name"].asString(), filter["filter"][0].asString());
    std::string text = ReadFile(dir + "/ALL.filter.json");
    EXPECT_LT(text.find("\"Error 10 Error Count\""), text.find("\"Error 2 Error Count\""));
}

TEST_F(Cli, VersionAndDriveListLeaveNoFiles) {
    auto version = RunQuellix(dir, "--version");
    EXPECT_EQ(version.exitCode, 0);
    EXPECT_EQ(version.output.rfind("quellix 0.9.3.0\nbuild date: ", 0), 0u) << version.output;
    EXPECT_NE(version.output.find("\ncommit: "), std::string::npos);
    // After any options, even a read's; an option's value is not a request.
    EXPECT_EQ(RunQuellix(dir, "read -n sim -d out --version").exitCode, 0);

    auto sim = RunQuellix(dir, "--list -n sim");
    EXPECT_EQ(sim.exitCode, 0) << sim.output;
    EXPECT_EQ(sim.output.rfind("Number  Path", 0), 0u) << sim.output;
    EXPECT_NE(sim.output.find("sim     sim            Quellix Simulated NVMe Drive 512GB       QLX0SIM0000000000001 "
                              "SIM1.4.0    512.11 GB  -"),
              std::string::npos) << sim.output;
    auto two = RunQuellix(dir, "--list -n sim:" QUELLIX_EXAMPLES "/drives/two-namespaces.json");
    EXPECT_NE(two.output.find("1024.22 GB"), std::string::npos) << two.output;
    auto host = RunQuellix(dir, "--list");
    if (std::filesystem::exists("/sys/class/nvme/nvme0")) {
        EXPECT_EQ(host.exitCode, 0) << host.output;
        EXPECT_NE(host.output.find("/dev/nvme0"), std::string::npos);
    } else {
        EXPECT_EQ(host.exitCode, 19) << host.output;
        EXPECT_NE(host.output.find("No NVMe drives found"), std::string::npos);
    }
    EXPECT_EQ(RunQuellix(dir, "--list -n sim:missing.json").exitCode, 16);
    for (const auto& entry : std::filesystem::directory_iterator(dir))
        ADD_FAILURE() << "left behind: " << entry.path();
    // A value is not a request: this is a log directory named --version.
    EXPECT_EQ(RunQuellix(dir, "-d --version").exitCode, 16);
    EXPECT_TRUE(std::filesystem::is_directory(dir + "/--version"));
}

TEST_F(Cli, ErrorLinesAlsoReachStandardError) {
    auto usage = test::RunQuellixSplit(dir, "--bogus");
    EXPECT_EQ(usage.exitCode, 16);
    EXPECT_NE(usage.output.find("USAGE ERROR\nInvalid parameter on command line: '--bogus'\n"), std::string::npos);
    EXPECT_NE(usage.output.find("[FAIL] quellix returned 16"), std::string::npos);
    EXPECT_NE(usage.errors.find("USAGE ERROR\nInvalid parameter on command line: '--bogus'\n"), std::string::npos)
        << usage.errors;
    EXPECT_EQ(usage.errors.find("   -u, --usage"), std::string::npos) << "only error lines reach standard error";
    // Both streams into one pipe: each line once; no colours off a terminal.
    auto together = RunQuellix(dir, "--bogus");
    EXPECT_EQ(CountLines(together.output, "USAGE ERROR"), 1u) << together.output;
    EXPECT_EQ(together.output.find("\033["), std::string::npos);
    WriteRead();
    auto pass = test::RunQuellixSplit(dir, "-n sim");
    EXPECT_EQ(pass.exitCode, 0);
    EXPECT_NE(pass.output.find("[PASS] quellix returned 0"), std::string::npos);
    EXPECT_EQ(pass.errors, "");
}
