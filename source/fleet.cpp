// A fleet run: each drive read by a run of its own, a bounded number at a
// time, and their results brought together.
#include "fleet.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <map>
#include <memory>
#include <mutex>
#include <thread>

#include "base/json_writer.h"
#include "base/kavo_errors.h"
#include "base/kavo_json.h"
#include "base/kavo_log.h"
#include "base/kavo_text.h"
#include "base/stop_request.h"
#include "baselines.h"
#include "child_process.h"
#include "info/grades.h"
#include "info/metrics.h"
#include "quellix.h"
#include "run_journal.h"
#include "summary_reader.h"

namespace fs = std::filesystem;

namespace {

// How long a drive's run may take to end after a stop request before it is
// taken for hung and ended: a sample in progress finishes well within it.
constexpr int64_t kStopGraceNanoseconds = 10'000'000'000;
// How often the fleet looks for a stop request and changed metrics while it
// waits; the end of a run wakes it at once.
constexpr int kWakeMilliseconds = 100;
const char* const kConsoleFile = "quellix.console.log";
const char* const kMetricsFile = "metrics.prom";

enum class State { Waiting, Running, Ended, Killed, NotStarted };

struct Member {
    SelectedDrive drive;
    std::string folder;    // absolute
    std::string baseline;  // picked from the baseline folder, or ""
    std::unique_ptr<ChildProcess> process;
    std::thread waiter;    // waits for the process's end and tells the fleet
    bool killed = false;
    State state = State::Waiting;
    int exitCode = -1;
    std::string problem;   // why the run did not start or did not end by itself
    std::string beginTime, endTime;
    int64_t start = 0;
    double milliseconds = 0;
};

// Every value option, so that a value is never taken for an option.
bool TakesValue(const std::string& option) {
    static const char* const kOptions[] = {"--dir",     "-d", "--nvme",  "-n", "--samples", "-s",       "--interval",
                                           "-i",        "--compare", "-c", "--rules",   "-r",       "--recover",
                                           "--metrics", "--report",  "--jobs"};
    return std::find(std::begin(kOptions), std::end(kOptions), option) != std::end(kOptions);
}

std::string UniqueFolder(const std::string& directory, const std::string& name, std::vector<std::string>& taken) {
    std::string folder = (fs::path(directory) / name).string();
    for (int n = 2; std::find(taken.begin(), taken.end(), folder) != taken.end(); ++n)
        folder = (fs::path(directory) / (name + "-" + std::to_string(n))).string();
    taken.push_back(folder);
    return folder;
}

std::string ReadText(const std::string& path) {
    std::error_code error;
    if (!fs::is_regular_file(path, error)) return "";
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (file == nullptr) return "";
    std::string text;
    char buffer[8192];
    size_t count;
    while ((count = std::fread(buffer, 1, sizeof buffer, file)) > 0) text.append(buffer, count);
    std::fclose(file);
    return text;
}

// The last line a run wrote before its result line: its error, for a run
// that ended before it had a summary.
std::string LastMessage(const std::string& consolePath) {
    std::string text = ReadText(consolePath), last;
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos) end = text.size();
        std::string line = kavo::Trim(text.substr(start, end - start));
        start = end + 1;
        if (!line.empty() && line.find("[FAIL]") == std::string::npos && line.find("[PASS]") == std::string::npos)
            last = line;
    }
    return last;
}

class Fleet {
public:
    explicit Fleet(const Settings& settings) : settings_(settings) {}
    // Runs still going when an error ends the fleet are ended with it.
    ~Fleet() {
        for (Member& member : members_) {
            if (!member.waiter.joinable()) continue;
            member.process->Kill();
            member.waiter.join();
        }
    }
    int Run();

private:
    void Plan();
    void Start(Member& member);
    // Takes in the runs that ended; ends the runs that outlived a stop request.
    void Reap();
    bool Stopping();
    void MergeMetrics(bool final);
    void LogHeader(unsigned jobs, const std::string& beginTime) const;
    // Starts the runs, at most `jobs` at a time, until every one has ended.
    void RunAll(unsigned jobs);
    void RecoverSummary(const Member& member) const;
    // fleet.summary.json and the console lines; returns the exit code.
    int Summarise(unsigned jobs, const std::string& beginTime, int64_t t0) const;
    Json::Value Result(const Member& member) const;
    std::string ConsoleLine(const Member& member, const Json::Value& result) const;

    const Settings& settings_;
    std::vector<Member> members_;  // filled before any run starts; never moved after
    std::mutex mutex_;
    std::condition_variable wake_;
    std::vector<std::pair<size_t, int>> ended_;  // member index, exit code
    std::string program_;
    bool stopping_ = false;
    int64_t stopAt_ = 0;
    std::string mergedMetrics_;
};

void Fleet::Plan() {
    const FleetSettings& fleet = settings_.fleet;
    BaselineFolder baselines;
    if (!fleet.baselineFolder.empty()) baselines = IndexBaselines(fleet.baselineFolder);
    std::vector<std::string> taken;
    for (const SelectedDrive& drive : fleet.selection.drives) {
        Member member;
        member.drive = drive;
        member.folder = UniqueFolder(settings_.common.logDirectory, DriveFolderName(drive), taken);
        if (!fleet.baselineFolder.empty()) {
            try {
                member.baseline = PickBaseline(baselines, drive.serial, drive.path);
            } catch (const kavo::Error& e) {
                member.state = State::NotStarted;
                member.exitCode = e.exitCode();
                member.problem = e.what();
            }
        }
        members_.push_back(std::move(member));
    }
}

void Fleet::Start(Member& member) {
    member.beginTime = kavo::CurrentTimeText();
    member.start = kavo::MonotonicNanoseconds();
    std::error_code error;
    fs::create_directories(member.folder, error);
    const std::string metrics = settings_.read.metricsFile.empty() ? "" : (fs::path(member.folder) / kMetricsFile).string();
    try {
        if (error) throw kavo::KavoError("Failed to make log directory: " + member.folder);
        fs::remove(fs::path(member.folder) / kMetricsFile, error);  // no older run's values in the merged file
        member.process = StartChildProcess(
            program_,
            DriveRunArguments(settings_.common.arguments, member.drive.drive, member.folder, member.baseline, metrics),
            (fs::path(member.folder) / kConsoleFile).string());
        member.state = State::Running;
        const size_t index = static_cast<size_t>(&member - members_.data());
        member.waiter = std::thread([this, index] {
            const int exitCode = members_[index].process->Wait();
            std::lock_guard<std::mutex> lock(mutex_);
            ended_.emplace_back(index, exitCode);
            wake_.notify_one();
        });
        KLOG_AS(Debug, "Fleet") << " Started the run of " << member.drive.path << " in " << member.folder;
    } catch (const kavo::Error& e) {
        member.state = State::NotStarted;
        member.exitCode = e.exitCode();
        member.problem = e.what();
    }
}

bool Fleet::Stopping() {
    if (!stopping_ && kavo::StopRequested()) {
        stopping_ = true;
        stopAt_ = kavo::MonotonicNanoseconds();
        KLOG_AS(Info, "Fleet") << " Stopping the drives' runs";
        for (Member& member : members_)
            if (member.state == State::Running) member.process->CloseInput();
    }
    return stopping_;
}

void Fleet::Reap() {
    if (stopping_ && kavo::MonotonicNanoseconds() - stopAt_ > kStopGraceNanoseconds) {
        for (Member& member : members_) {
            if (member.state != State::Running || member.killed) continue;
            member.process->Kill();
            member.killed = true;
        }
    }
    std::vector<std::pair<size_t, int>> ended;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        ended.swap(ended_);
    }
    for (auto [index, exitCode] : ended) {
        Member& member = members_[index];
        member.waiter.join();
        if (member.killed) {
            member.state = State::Killed;
            member.problem = "ended by force: it did not stop within 10 s of the stop request";
            exitCode = kavo::kExitFailure;
        } else {
            member.state = State::Ended;
            // quellix's own codes are small; a larger one is a crash (a
            // signal on Linux, an exception code on Windows).
            if (exitCode > 128 || exitCode < 0) {
                member.problem = exitCode > 128 && exitCode < 256 ? "ended by signal " + std::to_string(exitCode - 128)
                                                                   : "ended with code " + std::to_string(exitCode);
                exitCode = kavo::kExitFailure;
            }
        }
        member.exitCode = exitCode;
        member.endTime = kavo::CurrentTimeText();
        member.milliseconds = kavo::ElapsedMilliseconds(member.start);
        member.process.reset();
    }
}

void Fleet::MergeMetrics(bool final) {
    const std::string& path = settings_.read.metricsFile;
    if (path.empty()) return;
    std::vector<std::string> texts;
    std::vector<kavo::FleetDriveMetrics> drives;
    for (const Member& member : members_) {
        std::string text = ReadText((fs::path(member.folder) / kMetricsFile).string());
        // A drive that does not answer Identify has no serial of its own in
        // its run's series; the fleet knows it from the host's list.
        const std::string unknown = "serial=\"\"", known = "serial=\"" + kavo::EscapeLabelValue(member.drive.serial) + "\"";
        for (size_t at = text.find(unknown); !member.drive.serial.empty() && at != std::string::npos; at = text.find(unknown, at))
            text.replace(at, unknown.size(), known);
        texts.push_back(std::move(text));
        kavo::FleetDriveMetrics drive;
        drive.device = member.drive.path;
        drive.serial = member.drive.serial;
        drive.ended = member.state == State::Ended || member.state == State::Killed ||
                      (member.state == State::NotStarted && member.exitCode >= 0);
        drive.exitCode = member.exitCode;
        drives.push_back(drive);
    }
    texts.push_back(kavo::FleetMetrics(drives));
    std::string merged = kavo::MergeMetricsTexts(texts);
    if (merged == mergedMetrics_ && !final) return;
    mergedMetrics_ = merged;
    try {
        kavo::WriteTextFile(path, merged);
    } catch (const kavo::Error& e) {
        KLOG_AS(Error, "Fleet") << e.what();
    }
}

Json::Value TextArray(const Json::Value& value) { return value.isArray() ? value : Json::Value(Json::arrayValue); }

// Every file a drive's run left in its folder, by name.
Json::Value FilesOf(const std::string& folder) {
    std::vector<std::string> names;
    std::error_code error;
    for (fs::directory_iterator it(folder, error), end; !error && it != end; it.increment(error))
        if (it->is_regular_file(error)) names.push_back(it->path().string());
    std::sort(names.begin(), names.end());
    Json::Value files(Json::arrayValue);
    for (const std::string& name : names) files.append(name);
    return files;
}

Json::Value Fleet::Result(const Member& member) const {
    Json::Value result(Json::objectValue);
    result["drive"] = member.drive.drive;
    result["path"] = member.drive.path;
    result["serial"] = member.drive.serial;
    result["folder"] = member.folder;
    if (!member.baseline.empty()) result["compare file"] = member.baseline;
    static const char* const kStates[] = {"not started", "running", "ended", "ended by force", "not started"};
    result["state"] = kStates[static_cast<int>(member.state)];
    if (!member.beginTime.empty()) result["begin time"] = member.beginTime;
    if (!member.endTime.empty()) {
        result["end time"] = member.endTime;
        result["run time"] = kavo::DurationText(member.milliseconds, 2);
    }
    const bool read = settings_.commandType == "read";
    const fs::path summaryPath = fs::path(member.folder) / (read ? ReadJournal() : SelfTestJournal()).summaryFile;
    Json::Value summary;
    std::error_code error;
    if (fs::is_regular_file(summaryPath, error)) {
        try {
            ReadSummary(summaryPath.string(), summary, [](const Json::Value&) {});
            result["summary file"] = summaryPath.string();
        } catch (const kavo::Error&) {
        }
    }
    const Json::Value& cmd = summary["_cmd"];
    std::string message = cmd["message"].isString() ? kavo::Trim(cmd["message"].asString()) : "";
    if (!member.problem.empty()) message = member.problem + (message.empty() ? "" : "; " + message);
    if (message.empty() && member.exitCode != 0) message = LastMessage((fs::path(member.folder) / kConsoleFile).string());
    if (member.exitCode >= 0) {
        result["result"] = member.exitCode == 0 ? "PASS" : "FAIL";
        result["exit code"] = member.exitCode;
    } else {
        result["result"] = "NOT RUN";
        result["exit code"] = Json::Value();
    }
    result["message"] = message;
    const Json::Value& details = summary["read details"];
    result["health status"] = details["worst health status"].isString() ? details["worst health status"] : "Unknown";
    result["health reasons"] = TextArray(details["worst health reasons"]);
    result["temp status"] = details["worst temp status"].isString() ? details["worst temp status"] : "Unknown";
    result["temp reasons"] = TextArray(details["worst temp reasons"]);
    result["files"] = FilesOf(member.folder);
    return result;
}

std::string Grade(const char* label, const Json::Value& result, const char* status, const char* reasons) {
    std::string text = std::string("  ") + label + " " + result[status].asString();
    std::string joined;
    for (const Json::Value& reason : result[reasons]) joined += (joined.empty() ? "" : "; ") + reason.asString();
    return joined.empty() ? text : text + " (" + joined + ")";
}

std::string Fleet::ConsoleLine(const Member& member, const Json::Value& result) const {
    std::string line = " " + fs::path(member.folder).filename().string() + "  " + member.drive.path + "  " +
                       result["result"].asString();
    if (!result["exit code"].isNull()) line += " " + std::to_string(result["exit code"].asInt());
    if (settings_.commandType == "read" && result.isMember("summary file")) {
        line += Grade("Health", result, "health status", "health reasons");
        line += Grade("Temp", result, "temp status", "temp reasons");
    }
    if (result["result"].asString() != "PASS" && !result["message"].asString().empty())
        line += "  " + result["message"].asString();
    return line;
}

void Fleet::LogHeader(unsigned jobs, const std::string& beginTime) const {
    KLOG_AS(Info, "Fleet") << " ";
    KLOG_AS(Info, "Fleet") << " ---- " << settings_.common.description << " ----";
    KLOG_AS(Info, "Fleet") << "";
    KLOG_AS(Info, "Fleet") << " Begin Time:         " << beginTime;
    KLOG_AS(Info, "Fleet") << " Drives:             " << members_.size();
    KLOG_AS(Info, "Fleet") << " Runs at a Time:     " << jobs;
    if (!settings_.fleet.baselineFolder.empty())
        KLOG_AS(Info, "Fleet") << " Baseline Folder:    " << settings_.fleet.baselineFolder;
    if (!settings_.read.metricsFile.empty()) KLOG_AS(Info, "Fleet") << " Metrics File:       " << settings_.read.metricsFile;
    KLOG_AS(Info, "Fleet") << " Log Directory:      " << settings_.common.logDirectory;
}

void Fleet::RunAll(unsigned jobs) {
    int64_t lastMerge = kavo::MonotonicNanoseconds();
    while (true) {
        Reap();
        size_t running = 0;
        for (const Member& member : members_) running += member.state == State::Running ? 1 : 0;
        if (!Stopping()) {
            for (Member& member : members_) {
                if (running >= jobs) break;
                if (member.state != State::Waiting) continue;
                Start(member);
                running += member.state == State::Running ? 1 : 0;
            }
        }
        const bool waiting = !stopping_ && std::any_of(members_.begin(), members_.end(),
                                                        [](const Member& m) { return m.state == State::Waiting; });
        if (running == 0 && !waiting) break;
        if (kavo::MonotonicNanoseconds() - lastMerge > 1'000'000'000) {
            MergeMetrics(false);
            lastMerge = kavo::MonotonicNanoseconds();
        }
        std::unique_lock<std::mutex> lock(mutex_);
        wake_.wait_for(lock, std::chrono::milliseconds(kWakeMilliseconds), [this] { return !ended_.empty(); });
    }
    for (Member& member : members_) {
        if (member.state == State::Waiting) {
            member.state = State::NotStarted;
            member.problem = "not started: the run was stopped before its turn";
        }
        if (member.state == State::Killed) RecoverSummary(member);
    }
    MergeMetrics(true);
}

void Fleet::RecoverSummary(const Member& member) const {
    // A run ended by force leaves its journal: its samples become its summary.
    const JournalKind& kind = settings_.commandType == "read" ? ReadJournal() : SelfTestJournal();
    const fs::path journal = fs::path(member.folder) / kind.journalFile;
    std::error_code error;
    std::string message;
    try {
        if (fs::exists(journal, error))
            RecoverJournal(kind, journal.string(), (fs::path(member.folder) / kind.summaryFile).string(), message);
    } catch (const kavo::Error& e) {
        KLOG_AS(Error, "Fleet") << e.what();
    }
}

int Fleet::Summarise(unsigned jobs, const std::string& beginTime, int64_t t0) const {
    const CommonSettings& common = settings_.common;
    Json::Value fleet(Json::objectValue);
    fleet["_metadata"]["file type"] = "fleet summary";
    fleet["command type"] = settings_.commandType;
    fleet["command file"] = common.commandFile;
    fleet["log directory"] = common.logDirectory;
    fleet["runs at a time"] = jobs;
    if (!settings_.read.metricsFile.empty()) fleet["metrics file"] = settings_.read.metricsFile;
    fleet["drives"] = Json::Value(Json::arrayValue);
    std::vector<int> codes;
    std::vector<std::string> lines;
    for (const Member& member : members_) {
        Json::Value result = Result(member);
        if (member.exitCode >= 0) codes.push_back(member.exitCode);
        lines.push_back(ConsoleLine(member, result));
        fleet["drives"].append(result);
    }
    const int returnCode = WorstExitCode(codes);
    const std::string summaryPath = (fs::path(common.logDirectory) / "fleet.summary.json").string();
    KLOG_AS(Info, "Fleet") << " ";
    KLOG_AS(Info, "Fleet") << " End Time:           " << kavo::CurrentTimeText();
    KLOG_AS(Info, "Fleet") << " Run Time:           " << kavo::ElapsedText(t0, 2);
    KLOG_AS(Info, "Fleet") << " ";
    for (const std::string& line : lines) KLOG_AS(Info, "Fleet") << line;
    KLOG_AS(Info, "Fleet") << " ";
    KLOG_AS(Info, "Fleet") << " Fleet Summary File  " << summaryPath;
    fleet["_cmd"]["begin time"] = beginTime;
    fleet["_cmd"]["end time"] = kavo::CurrentTimeText();
    fleet["_cmd"]["run time"] = kavo::ElapsedText(t0, 2);
    fleet["_cmd"]["result"] = returnCode == 0 ? "PASS" : "FAIL";
    fleet["_cmd"]["return code"] = returnCode;
    kavo::WriteJsonFile(summaryPath, fleet);
    return returnCode;
}

int Fleet::Run() {
    InstallConsoleHandlers();
    program_ = CurrentProgramPath();
    Plan();
    size_t runnable = 0;
    for (const Member& member : members_) runnable += member.state == State::Waiting ? 1 : 0;
    unsigned jobs = settings_.fleet.jobs != 0 ? settings_.fleet.jobs : std::max(1u, std::thread::hardware_concurrency());
    jobs = static_cast<unsigned>(std::max<size_t>(1, std::min<size_t>(jobs, runnable)));
    const std::string beginTime = kavo::CurrentTimeText();
    const int64_t t0 = kavo::MonotonicNanoseconds();
    LogHeader(jobs, beginTime);
    RunAll(jobs);
    return Summarise(jobs, beginTime, t0);
}

int Rank(int code) {
    if (code == 0) return 0;
    if (code == kavo::kExitFailure) return 1000;
    if (code == kavo::kExitDriveNotFound) return 999;
    if (code == kavo::kExitUsage) return 998;
    if (code == 21 || code == 22 || (code >= 30 && code <= 36)) return code;
    return 997;
}

}  // namespace

int WorstExitCode(const std::vector<int>& codes) {
    int worst = 0;
    for (int code : codes)
        if (Rank(code) > Rank(worst)) worst = code;
    return worst;
}

std::vector<std::string> DriveRunArguments(const std::vector<std::string>& fleetArguments, const std::string& drive,
                                           const std::string& folder, const std::string& baseline,
                                           const std::string& metricsFile) {
    std::vector<std::string> arguments;
    for (size_t i = 0; i < fleetArguments.size(); ++i) {
        const std::string& arg = fleetArguments[i];
        if (i == 0 && (arg.empty() || arg[0] != '-')) {
            arguments.push_back(arg);
            continue;
        }
        const bool dropped = arg == "-n" || arg == "--nvme" || arg == "-d" || arg == "--dir" || arg == "--metrics" ||
                             arg == "--jobs" || arg == "--stop-on-eof" ||
                             (!baseline.empty() && (arg == "-c" || arg == "--compare"));
        const bool withValue = TakesValue(arg) && i + 1 < fleetArguments.size();
        if (!dropped) {
            arguments.push_back(arg);
            if (withValue) arguments.push_back(fleetArguments[i + 1]);
        }
        if (withValue) ++i;
    }
    for (const std::string& extra : {std::string("-n"), drive, std::string("-d"), folder}) arguments.push_back(extra);
    if (!baseline.empty()) arguments.insert(arguments.end(), {"-c", baseline});
    if (!metricsFile.empty()) arguments.insert(arguments.end(), {"--metrics", metricsFile});
    arguments.push_back("--stop-on-eof");
    return arguments;
}

void StopWhenInputEnds() {
    std::thread([] {
        WaitForEndOfInput();
        KLOG(Info) << " ";
        KLOG(Info) << " <END OF INPUT> detected, gracefully exiting";
        kavo::RequestStop();
    }).detach();
}

int RunFleet(const Settings& settings) { return Fleet(settings).Run(); }
