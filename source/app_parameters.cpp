// Command line and command file into the settings object.
#include <algorithm>
#include <filesystem>
#include <vector>

#include "base/json_writer.h"
#include "base/kavo_errors.h"
#include "baselines.h"
#include "drive_selection.h"
#include "base/kavo_json.h"
#include "base/kavo_log.h"
#include "base/kavo_text.h"
#include "decode/decoders.h"
#include "transport/nvme_admin_command.h"
#include "decode/parameters.h"
#include "quellix.h"
#include "run_lock.h"
#include "settings.h"
#include "transport/simulated_drive.h"
#include "host/system_info.h"

namespace fs = std::filesystem;

namespace {

const char* const kCopyright = "Copyright (c) 2026 The quellix authors";
const char* const kWebsite = "https://quellix.dev";

// The value of -s, -i or --jobs: a whole number from 0 to 4294967295, as the
// command file's keys take, or (-s and -i) -1 for the command file's own
// value. The whole value must be the number (blanks around it aside): "5x" or
// "1s" is a mistake to report, not 5 or 1 to run with.
int64_t OptionCount(const std::string& option, const std::string& value, const char* what,
                    bool commandFileValue = true) {
    const std::string text = kavo::Trim(value);
    const std::string digits = !text.empty() && text[0] == '+' ? text.substr(1) : text;
    if (commandFileValue && text == "-1") return -1;
    if (kavo::IsDecimalDigits(digits) && digits.size() <= 10) {
        const int64_t number = std::stoll(digits);
        if (number <= UINT32_MAX) return number;
    }
    throw kavo::UsageError("Option " + option + " needs " + what + " from 0 to 4294967295" +
                           (commandFileValue ? " (or -1 for the command file's value)" : "") + ", not '" + value +
                           "'");
}

// Text of a settings member for the self-test conflict checks: a member that
// is neither absent nor an empty text counts as given.
bool NonEmptyText(const Json::Value& value) {
    if (value.isNull()) return false;
    return !value.isString() || !value.asString().empty();
}

// Picks the drives of the -n values; a single drive becomes the run's drive.
void ChooseDrives(const std::vector<std::string>& values, Settings& run) {
    Json::Value& settings = run.json;
    DriveSelection selection = SelectDrives(values);
    if (selection.fleet) {
        LearnSerials(selection);
        for (const SelectedDrive& drive : selection.drives)
            KLOG(Info) << " NVMe:           " << drive.path << (drive.serial.empty() ? "" : " (" + drive.serial + ")");
        run.fleet.selection = std::move(selection);
        return;
    }
    const SelectedDrive& drive = selection.drives.front();
    settings["common"]["drive"] = drive.drive;
    settings["common"]["nvme path"] = drive.path;
    run.common.drive = kavo::DriveName{drive.drive, drive.path};
    KLOG(Info) << " NVMe:           " << run.common.drive.nvmePath;
    run.fleet.selection = std::move(selection);
}

// A compare "file" that is a folder of baselines: a fleet picks each
// drive's own when it starts the drive's run; a single drive's is picked now.
void ChooseBaseline(Settings& run) {
    if (run.commandType != "read" || run.read.compareFile.empty()) return;
    const std::string path = InputFilePath(run.read.compareFile, run.common.commandFile, true);
    std::error_code error;
    if (!fs::is_directory(path, error)) return;
    if (run.isFleet()) {
        run.fleet.baselineFolder = path;
        return;
    }
    LearnSerials(run.fleet.selection);
    const SelectedDrive& drive = run.fleet.selection.drives.front();
    const std::string baseline = PickBaseline(IndexBaselines(path), drive.serial, drive.path);
    KLOG(Info) << " Baseline:       " << baseline;
    run.read.compareFile = baseline;
    run.json["compare file"] = baseline;
}

// "--help", "--usage" and "--export": settings that hold only the request.
void Request(Settings& settings, const char* request) {
    settings = Settings();
    settings.request = request;
}

}  // namespace

void ExportParameterList() {
    Json::Value list(Json::objectValue), filter(Json::objectValue);
    list["parameters"] = Json::Value(Json::arrayValue);
    filter["filter"] = Json::Value(Json::arrayValue);
    for (size_t i = 0; i < kavo::ParameterCount(); ++i) {
        const std::string name(kavo::ParameterName(i));
        const kavo::ParameterDescription& description = kavo::ParameterAt(i);
        Json::Value entry(Json::objectValue);
        entry["name"] = name;
        entry["description"] = std::string(description.description);
        entry["source"] = std::string(description.source);
        if (description.unit != kavo::Unit::None) entry["unit"] = kavo::UnitName(description.unit);
        list["parameters"].append(entry);
        filter["filter"].append(name);
    }
    kavo::WriteJsonFile("ALL.filter.json", filter);
    kavo::WriteJsonFile("parameter_list.json", list);
}

void GetAppParameters(int argc, char** argv, Settings& run) {
    std::vector<std::string> args(argv + (argc > 0 ? 1 : 0), argv + argc);
    std::string commandFile = "read", compareFile, rulesFile, metricsFile, logDirectory = ".", invalid;
    std::vector<std::string> drives;
    int64_t samples = -1, interval = -1, jobs = 0;
    bool extended = false, stopOnEndOfInput = false;
    std::string commandLine = argc > 0 ? argv[0] : kProgramName;
    for (const std::string& arg : args) commandLine += " " + arg;

    kavo::StartLogging();
    // "--export" alone (with -v or -x at most) is a request of its own, like
    // "--help": the files are written and the run ends there with 0.
    bool exportOnly = std::find(args.begin(), args.end(), "--export") != args.end() &&
                      std::all_of(args.begin(), args.end(),
                                  [](const std::string& arg) { return arg == "--export" || arg == "-v" || arg == "-x"; });

    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        auto value = [&]() -> std::string {
            if (i + 1 >= args.size()) throw kavo::UsageError(arg + " is missing a value");
            return args[++i];
        };
        if (i == 0 && (arg.empty() || arg[0] != '-')) commandFile = arg;
        else if (arg == "--dir" || arg == "-d") logDirectory = value();
        // A repeated -n adds its drives to the list.
        else if (arg == "--nvme" || arg == "-n") drives.push_back(value());
        else if (arg == "--jobs") jobs = OptionCount(arg, value(), "a number of runs at a time", false);
        else if (arg == "--stop-on-eof") stopOnEndOfInput = true;
        else if (arg == "--samples" || arg == "-s") samples = OptionCount(arg, value(), "a number of samples");
        else if (arg == "--interval" || arg == "-i") interval = OptionCount(arg, value(), "an interval in milliseconds");
        // The last one wins; an empty one leaves the command file's value.
        else if (arg == "--compare" || arg == "-c") compareFile = value();
        else if (arg == "--rules" || arg == "-r") rulesFile = value();
        else if (arg == "--extended" || arg == "-e") extended = true;
        else if (arg == "--metrics") metricsFile = value();
        else if (arg == "--export") ExportParameterList();
        // The two requests end parsing like an error would, but without an
        // exception: the static binary's first exception costs more than
        // the rest of its start-up (the unwinder sorts its frame table).
        else if (arg == "--help" || arg == "-h") return Request(run, "help");
        else if (arg == "--usage" || arg == "-u") return Request(run, "usage");
        else if (arg == "-v") kavo::SetLogSeverity(kavo::Severity::Verbose);
        else if (arg == "-x") kavo::SetLogSeverity(kavo::Severity::Debug);
        else invalid += "Invalid parameter on command line: '" + arg + "'\n";
    }
    if (exportOnly) return Request(run, "export");

    std::error_code error;
    fs::path directory = fs::absolute(logDirectory, error);
    bool directoryMade = !error;
    if (directoryMade) {
        fs::create_directories(directory, error);
        directoryMade = !error && fs::is_directory(directory, error);
    }
    if (directoryMade) {
        // Before anything is written there: a folder in use by another run
        // is left as it is, its trace file included.
        try {
            LockLogFolder(directory.string());
        } catch (const kavo::Error&) {
            kavo::StopTraceFile();
            throw;
        }
        kavo::SwitchTraceFile((directory / "quellix.trace.log").string());
    }

    kavo::LogTraceOnly(kavo::Severity::Info, "GetAppParameters", __LINE__, "Command '" + commandLine + "'");
    const std::string separator(128, '-');
    KLOG(Info) << separator;
    KLOG(Info) << " " << kProgramName << " " << kProgramVersion << " - 2022/07/21 16:58:24 - " << kCopyright
               << " - website: " << kWebsite;
    KLOG(Info) << separator;

    if (!invalid.empty()) throw kavo::UsageError(invalid);
    if (jobs == 0 && std::find(args.begin(), args.end(), "--jobs") != args.end())
        throw kavo::UsageError("Option --jobs needs a number of runs at a time of at least 1");
    if (drives.empty()) drives.push_back("*");
    std::string drive = drives.front();
    for (size_t i = 1; i < drives.size(); ++i) drive += "," + drives[i];
    if (!directoryMade) throw kavo::UsageError("Failed to make log directory: " + directory.string());

    if (commandFile.find(".cmd.json") == std::string::npos) commandFile += ".cmd.json";
    // A link to a command file is a command file; a pipe or device is not,
    // and is never opened (a pipe would wait for a writer).
    const fs::file_status status = fs::status(commandFile, error);
    if (!fs::exists(status)) throw kavo::UsageError("Did not find command file: " + commandFile);
    if (!fs::is_regular_file(status)) throw kavo::UsageError("Command file is not a regular file: " + commandFile);
    if (fs::file_size(commandFile, error) > kMaxCommandFileBytes)
        throw kavo::UsageError("Command file is larger than " + std::to_string(kMaxCommandFileBytes) +
                               " bytes: " + commandFile);
    Json::Value document;
    try {
        kavo::ReadJsonFile(commandFile, document, kMaxCommandFileBytes);
    } catch (const std::exception&) {
        throw kavo::UsageError("Failed to parse JSON in command file: " + commandFile);
    }
    // A command file is an object of settings; anything else cannot be one.
    if (!document.isObject()) throw kavo::UsageError("Failed to parse JSON in command file: " + commandFile);
    KLOG(Info) << " Command file:   " << fs::absolute(commandFile, error).string();

    // The members quellix fills in must be objects to be filled.
    for (const char* member : {"_input", "common"})
        if (document.isMember(member) && !document[member].isObject())
            throw kavo::UsageError("Invalid cmd file, '" + std::string(member) + "' must be an object: " + commandFile);
    Json::Value& settings = run.json;
    settings = document;
    settings["_input"]["cmd file"] = document;
    settings["_input"]["command line"] = commandLine;
    settings["_input"]["cmd file name"] = commandFile;
    settings["common"]["log directory"] = directory.string();
    settings["common"]["drive"] = drive;
    if (!compareFile.empty()) settings["compare file"] = compareFile;
    if (!rulesFile.empty()) settings["rules file"] = rulesFile;
    if (samples != -1) settings["samples"] = Json::UInt64(samples);
    if (interval != -1) settings["interval in ms"] = Json::UInt64(interval);
    if (extended) settings["extended self-test"] = true;
    if (!metricsFile.empty()) settings["metrics file"] = metricsFile;

    const Json::Value& type = document["command type"];
    // Anything but a text is shown as it stands, not as an empty type.
    std::string commandType = type.isString() ? type.asString() : type.isNull() ? "" : kavo::CompactJson(type);
    if (commandType == "read") {
        if (extended) throw kavo::UsageError("Command type read does not use --extended");
    } else if (commandType == "self-test") {
        if (NonEmptyText(settings["rules file"])) throw kavo::UsageError("Command type self-test does not use rules file");
        if (NonEmptyText(settings["compare file"])) throw kavo::UsageError("Command type self-test does not use compare file");
        if (samples != -1) throw kavo::UsageError("Command type self-test does not use --samples");
        if (interval != -1) throw kavo::UsageError("Command type self-test does not use --interval");
        if (!metricsFile.empty()) throw kavo::UsageError("Command type self-test does not use --metrics");
    } else {
        throw kavo::UsageError("cmd file contains illegal cmd type: " + commandType);
    }
    std::string missing;
    for (const std::string& key : RequiredKeys(commandType))
        if (!document.isMember(key))
            missing += "Invalid cmd file, missing parameter '" + key + "' required for '" + commandType + "' cmd type \n";
    if (!missing.empty()) throw kavo::UsageError(missing);
    run.commandType = commandType;
    TypeSettings(run);
    run.common.arguments = args;
    run.common.stopOnEndOfInput = stopOnEndOfInput;
    run.fleet.jobs = static_cast<unsigned>(jobs);

    ChooseDrives(drives, run);
    ChooseBaseline(run);
}
