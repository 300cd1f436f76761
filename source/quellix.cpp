// Entry, dispatch, result reporting and the stop request.
#include <atomic>
#include <string>

#include "base/kavo_errors.h"
#include "base/kavo_json.h"
#include "base/kavo_log.h"
#include "base/kavo_text.h"
#include "base/stop_request.h"
#include "fleet.h"
#include "quellix.h"
#include "run_journal.h"


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

int LogResult(Json::Value& summary, int returnCode, const std::string& message, const std::string& path,
              RunJournal* journal) {
    KLOG(Info) << " ";
    summary["_cmd"]["result"] = returnCode == 0 ? "PASS" : "FAIL";
    if (!message.empty()) {
        if (returnCode != 0) KLOG(Error) << message;
        else KLOG(Info) << message;
        KLOG(Info) << " ";
    }
    summary["_cmd"]["return code"] = returnCode;
    summary["_cmd"]["message"] = message;
    summary["_cmd"]["end time"] = kavo::CurrentTimeText();
    if (journal != nullptr) journal->WriteSummary(summary, path);
    else kavo::WriteJsonFile(path, summary);
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
