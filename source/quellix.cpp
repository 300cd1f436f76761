// Entry, dispatch, result reporting and the stop request.
#include <atomic>
#include <string>

#include "base/kavo_errors.h"
#include "base/kavo_json.h"
#include "base/kavo_log.h"
#include "base/kavo_text.h"
#include "base/stop_request.h"
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

uint32_t UnsignedSetting(const Json::Value& settings, const char* key, bool absentIsZero) {
    const Json::Value& value = settings[key];
    if (value.isUInt()) return value.asUInt();
    if (value.isNull() && absentIsZero) return 0;
    throw kavo::KavoError(std::string("Invalid cmd file value for '") + key + "': expected an unsigned number, found " +
                          kavo::Trim(value.toStyledString()));
}

bool ReportWanted(const Json::Value& settings) {
    const Json::Value& value = settings["report"];
    if (value.isNull()) return true;
    if (value.isBool()) return value.asBool();
    throw kavo::UsageError("Invalid cmd file value for 'report': use true or false, not " + kavo::Trim(value.toStyledString()));
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
    Json::Value settings;
    try {
        GetAppParameters(argc, argv, settings);
        if (settings.isMember("usage request")) {
            DisplayUsage(settings["usage request"].asString() == "help");
            return 0;
        }
        if (kavo::JsonBool(settings, "high priority")) RaiseProcessPriority();
        if (kavo::JsonBool(settings, "high resolution timer")) RaiseTimerResolution();
        std::string type = kavo::JsonText(settings, "command type");
        if (type == "read") returnCode = Read(settings);
        else if (type == "self-test") returnCode = SelfTest(settings);
    } catch (const kavo::UsageError& e) {
        std::string text = e.what();
        if (text == "export") {
            KLOG_AS(Info, "main") << "Parameter list exported to parameter_list.json and ALL.filter.json";
            return 0;
        }
        DisplayUsage(false);
        KLOG_AS(Error, "main") << "USAGE ERROR";
        KLOG_AS(Error, "main") << text;
        returnCode = text.find("was not found") != std::string::npos ? 19 : 16;
    } catch (const kavo::KavoError& e) {
        KLOG_AS(Error, "main") << e.what();
        returnCode = 17;
    } catch (const std::exception& e) {
        const char* text = e.what();
        UnhandledLines(text != nullptr ? text : "Unknown exception", __LINE__);
        returnCode = 17;
    } catch (...) {
        UnhandledLines(" Unknown exception type", __LINE__);
        returnCode = 17;
    }
    if (returnCode == 0) KLOG_AS(Info, "main") << "[PASS] " << kProgramName << " returned 0";
    else KLOG_AS(Fatal, "main") << "[FAIL] " << kProgramName << " returned " << returnCode;
    kavo::StopLogging();
    return returnCode;
}
