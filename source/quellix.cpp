// Entry, dispatch, result reporting and the stop request.
#include <atomic>
#include <filesystem>
#include <string>

#include "base/kavo_errors.h"
#include "base/kavo_json.h"
#include "base/kavo_log.h"
#include "base/kavo_text.h"
#include "base/platform.h"
#include "base/stop_request.h"
#include "fleet.h"
#include "quellix.h"
#include "report.h"
#include "run_journal.h"

namespace fs = std::filesystem;


void handleCtrlC(int /*signal*/) {
    KLOG(Info) << " ";
    KLOG(Info) << " <CTRL C> detected, gracefully exiting";
    kavo::RequestStop();
}

void handleCtrlBreak(int /*signal*/) {
    KLOG(Info) << " ";
    KLOG(Info) << " <CTRL BREAK> detected, gracefully exiting";
    kavo::RequestStop();
}

namespace {

void RecordResult(Json::Value& summary, int returnCode, const std::string& message) {
    summary["_cmd"]["result"] = returnCode == 0 ? "PASS" : "FAIL";
    summary["_cmd"]["return code"] = returnCode;
    summary["_cmd"]["message"] = message;
    summary["_cmd"]["end time"] = kavo::CurrentTimeText();
}

// A summary in memory as a report reads one: its sample records handed over
// one at a time.
SummarySource InMemory(const Json::Value& summary, const JournalKind& kind) {
    return [&summary, &kind](Json::Value& document, const std::function<void(const Json::Value&)>& sample) {
        document = summary;
        document.removeMember("command times");
        Json::Value* records = &document;
        for (const std::string& member : kind.sampleArray) {
            if (!records->isObject()) return;
            records = &(*records)[member];
        }
        const Json::Value all = *records;
        *records = Json::Value(Json::arrayValue);
        for (const Json::Value& record : all) sample(record);
    };
}

// Moves the summary and report that an earlier run left under a run's names
// aside ("read.summary.before-20261208-214000.json"): a run whose own
// summary cannot be written must not leave another run's result under its
// summary's name.
void SetAsideEarlierRun(const std::string& summaryPath, const std::string& beginTime) {
    const fs::path summary(summaryPath);
    if (kavo::platform::KindOf(summaryPath) != kavo::platform::EntryKind::Regular) return;
    const std::string kept =
        FreeName((summary.parent_path() / summary.stem()).string() + ".before-" + FileStamp(beginTime), ".json");
    std::error_code error;
    fs::rename(summary, kept, error);
    if (error) {
        // Removed when it cannot be moved: it must not stand for this run.
        fs::remove(summary, error);
        return;
    }
    KLOG(Warning) << " The summary of an earlier run is kept as " << kept;
    const std::string report = ReportPathFor(summaryPath);
    if (kavo::platform::KindOf(report) == kavo::platform::EntryKind::Regular) fs::rename(report, ReportPathFor(kept), error);
}

}  // namespace

int LogResult(Json::Value& summary, int returnCode, const std::string& message, const std::string& path,
              RunJournal* journal) {
    KLOG(Info) << " ";
    if (!message.empty()) {
        if (returnCode != 0) KLOG(Error) << message;
        else KLOG(Info) << message;
        KLOG(Info) << " ";
    }
    RecordResult(summary, returnCode, message);
    if (journal != nullptr) journal->WriteSummary(summary, path);
    else kavo::WriteJsonFile(path, summary);
    return returnCode;
}

int FinishRun(Json::Value& summary, int returnCode, std::string message, const std::string& summaryPath,
              RunJournal* journal, bool report, const JournalKind& kind) {
    // The journal goes whatever happens: its records stand in the summary,
    // or, when that cannot be written, belong to a run that ended.
    struct Removal {
        RunJournal* journal;
        ~Removal() {
            if (journal != nullptr) journal->Remove();
        }
    } removal{journal};
    const std::string reportPath = ReportPathFor(summaryPath);
    bool reportWritten = false;
    if (report) {
        // Drawn first, so that a report that cannot be written is the run's
        // result in the summary too.
        RecordResult(summary, returnCode, message);
        try {
            const bool read = &kind == &ReadJournal();
            WriteReport(journal != nullptr
                            ? SummaryWithJournal(summary, *journal, read ? &ReadReportSampleMembers() : nullptr)
                            : InMemory(summary, kind),
                        &kind == &SelfTestJournal(), reportPath);
            reportWritten = true;
        } catch (const kavo::Error& e) {
            returnCode = e.exitCode();
            message = message.empty() ? e.what() : message + "; " + e.what();
        }
    }
    try {
        LogResult(summary, returnCode, message, summaryPath, journal);
    } catch (...) {
        std::error_code ignored;
        if (reportWritten) fs::remove(reportPath, ignored);
        SetAsideEarlierRun(summaryPath, kavo::JsonText(summary["_cmd"], "begin time"));
        throw;
    }
    if (reportWritten) KLOG(Info) << " Report File         " << reportPath;
    return returnCode;
}

namespace {

void UnhandledLines(const std::string& text, int line) {
    KLOG_AS(Error, "main") << "\nUnhandled Exception:";
    KLOG_AS(Error, "main") << text;
    KLOG_AS(Error, "main") << " @ Main:  " << __FILE__ << " " << line;
}

}  // namespace

int QuellixMain(int argc, char** argv) {
    int returnCode = 0;
    IgnoreBrokenPipes();
    if (argc == 2 && AnswerUsageRequest(argv[1])) return 0;
    if (AnswerInformationRequest(argc, argv, returnCode)) return returnCode;
    Settings settings;
    try {
        GetAppParameters(argc, argv, settings);
        if (settings.request == "export") {
            KLOG_AS(Info, "main") << "Parameter list exported to parameter_list.json and ALL.filter.json";
            return 0;
        }
        if (!settings.request.empty()) {
            DisplayUsage(settings.request == "help");
            return 0;
        }
        if (settings.common.highPriority) RaiseProcessPriority();
        if (settings.common.highResolutionTimer) RaiseTimerResolution();
        if (settings.common.stopOnEndOfInput) StopWhenInputEnds();
        if (settings.isFleet()) returnCode = RunFleet(settings);
        else returnCode = settings.commandType == "read" ? Read(settings) : SelfTest(settings);
    } catch (const kavo::Error& e) {
        returnCode = e.exitCode();
        // Wrong use and a drive that is not there come with the usage text.
        if (returnCode == kavo::kExitUsage || returnCode == kavo::kExitDriveNotFound) {
            DisplayUsage(false);
            KLOG_AS(Error, "main") << "USAGE ERROR";
        }
        KLOG_AS(Error, "main") << e.what();
    } catch (const std::exception& e) {
        const char* text = e.what();
        UnhandledLines(text != nullptr ? text : "Unknown exception", __LINE__);
        returnCode = kavo::kExitFailure;
    } catch (...) {
        UnhandledLines(" Unknown exception type", __LINE__);
        returnCode = kavo::kExitFailure;
    }
    if (returnCode == 0) KLOG_AS(Info, "main") << "[PASS] " << kProgramName << " returned 0";
    else KLOG_AS(Fatal, "main") << "[FAIL] " << kProgramName << " returned " << returnCode;
    kavo::StopLogging();
    return returnCode;
}
