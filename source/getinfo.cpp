// The read command: samples of one drive on a fixed-rate schedule, each
// checked against the rules and compared with a reference, with the selected
// samples written to files and a summary of the run.
#include <cstring>
#include <filesystem>
#include <vector>

#include "base/kavo_errors.h"
#include "base/kavo_json.h"
#include "base/kavo_log.h"
#include "decode/decoders.h"
#include "info/metrics.h"
#include "info/nvme_info.h"
#include "base/kavo_text.h"
#include "base/stop_request.h"
#include "decode/parameters.h"
#include "quellix.h"
#include "report.h"
#include "run_journal.h"
#include "host/system_info.h"

namespace fs = std::filesystem;

namespace {

const char* const kSampleMembers[] = {"Composite Temperature", "Percentage Used", "Data Read", "Data Written",
                                      "Warning Composite Temperature Time", "Critical Composite Temperature Time",
                                      "Thermal Management Temperature 1 Time", "Thermal Management Temperature 2 Time",
                                      "Controller Busy Time", "Host Timestamp", "Available Spare",
                                      "Available Spare Threshold", "Host Read Commands", "Host Write Commands"};

// The drive as the run's report describes it, from its first sample.
Json::Value DriveRecord(const Json::Value& sample) {
    const Json::Value& parameters = sample["nvme"]["parameters"];
    Json::Value drive(Json::objectValue);
    static const std::pair<const char*, const char*> kMembers[] = {
        {"model", "Model Number (MN)"},
        {"serial", "Serial Number (SN)"},
        {"firmware", "Firmware Revision (FR)"},
        {"size", "Size"},
        {"path", "OS Location"},
        {"warning temperature", "Warning Composite Temperature Threshold (WCTEMP)"},
        {"critical temperature", "Critical Composite Temperature Threshold (CCTEMP)"}};
    for (const auto& [member, name] : kMembers)
        if (parameters.isMember(name)) drive[member] = parameters[name]["value"];
    drive["description"] = sample["nvme"]["description"];
    const Json::Value& system = sample["_metadata"]["system"];
    if (system.isObject() && system.isMember("hostname")) drive["host"] = system["hostname"];
    return drive;
}

// Counts, per parameter, of the entries of a sample's list (compare
// mismatches, rule violations), with the latest message.
void CountByParameter(const Json::Value& entries, const char* messageMember, Json::Value& counts) {
    for (const Json::Value& entry : entries) {
        std::string name = kavo::JsonText(entry, "name");
        if (name.empty()) continue;
        Json::Value& count = counts[name];
        count["count"] = count["count"].asUInt() + 1;
        count["last message"] = entry[messageMember];
    }
}

std::string TextSetting(const Json::Value& settings, const char* key) {
    const Json::Value& value = settings[key];
    if (value.isString()) return value.asString();
    if (value.isNull()) return "";
    throw kavo::KavoError(std::string("Invalid cmd file value for '") + key + "': expected a text, found " +
                          kavo::Trim(value.toStyledString()));
}

// An input file named in the settings: relative to the current directory,
// or, when it is not found there, relative to the command file's folder, so
// a command file can name the rules that lie beside it from anywhere.
std::string InputFilePath(const std::string& name, const Json::Value& settings) {
    fs::path path = fs::absolute(name);
    std::error_code error;
    if (fs::is_regular_file(path, error) || fs::path(name).is_absolute()) return path.string();
    fs::path commandFile = kavo::JsonText(settings["_input"], "cmd file name");
    fs::path besideCommandFile = fs::absolute(commandFile).parent_path() / name;
    return fs::is_regular_file(besideCommandFile, error) ? besideCommandFile.string() : path.string();
}

std::string ParameterText(const Json::Value& parameters, const char* name) {
    const Json::Value& value = parameters[name]["value"];
    return value.isString() ? value.asString() : "";
}

// Grades from best to worst; a sample graded Unknown tells nothing.
int GradeRank(const std::string& grade) {
    if (grade == "GOOD") return 1;
    if (grade == "SUSPECT") return 2;
    if (grade == "CRITICAL") return 3;
    return 0;
}

std::string WorseGrade(const std::string& a, const std::string& b) { return GradeRank(b) > GradeRank(a) ? b : a; }

// "health limit": "" (or absent) off, else the grade at which a sample fails.
int HealthLimitRank(const Json::Value& settings) {
    const Json::Value& value = settings["health limit"];
    if (value.isNull() || (value.isString() && value.asString().empty())) return 0;
    if (value.isString() && (value.asString() == "SUSPECT" || value.asString() == "CRITICAL"))
        return GradeRank(value.asString());
    throw kavo::UsageError("Invalid cmd file value for 'health limit': use \"\" (off), \"SUSPECT\" or \"CRITICAL\", not " +
                           kavo::Trim(value.toStyledString()));
}

std::string SampleFileName(uint32_t samples, uint32_t sample) {
    return samples == 1 ? "nvme.info.json" : "nvme.info.sample-" + std::to_string(sample) + ".json";
}

Json::Value SampleRecord(const Json::Value& sample, bool failed, const std::string& message, const std::string& time,
                         int64_t sampleStart) {
    // Every sample of a run makes one: the keys are literals the record
    // refers to, and each parameter is looked up once.
    static const char* const kSensors[] = {"Temperature Sensor 1", "Temperature Sensor 2", "Temperature Sensor 3",
                                           "Temperature Sensor 4", "Temperature Sensor 5", "Temperature Sensor 6",
                                           "Temperature Sensor 7", "Temperature Sensor 8"};
    Json::Value record(Json::objectValue);
    const Json::Value& parameters = sample["nvme"]["parameters"];
    // The parameter's value; null when the sample has no such record.
    auto valueOf = [&](const char* name) -> const Json::Value* {
        static const Json::Value kNull;
        const Json::Value* found = parameters.isObject() ? parameters.find(name, name + std::strlen(name)) : nullptr;
        if (found == nullptr) return nullptr;
        static const char kValue[] = "value";
        const Json::Value* value = found->isObject() ? found->find(kValue, kValue + 5) : nullptr;
        return value != nullptr ? value : &kNull;
    };
    record[Json::StaticString("message")] = failed ? message : "PASSED";
    record[Json::StaticString("return code")] = failed ? 1 : 0;
    record[Json::StaticString("timestamp")] = time;
    for (const char* name : kSampleMembers) {
        const Json::Value* value = valueOf(name);
        record[Json::StaticString(name)] = value != nullptr ? *value : Json::Value();
    }
    if (const Json::Value* value = valueOf("Timestamp")) record[Json::StaticString("Drive Timestamp")] = *value;
    if (const Json::Value* value = valueOf("Current Power State (PS)"))
        record[Json::StaticString("Current Power State")] = *value;
    for (const char* sensor : kSensors)
        if (const Json::Value* value = valueOf(sensor)) record[Json::StaticString(sensor)] = *value;
    record["health status"] = sample["nvme"]["health status"];
    record["temp status"] = sample["nvme"]["temp status"];
    record["run time"] = kavo::ElapsedText(sampleStart, 2);
    return record;
}

std::string RightAligned(uint32_t number, size_t width) {
    std::string text = std::to_string(number);
    return text.size() < width ? std::string(width - text.size(), ' ') + text : text;
}

// Rule texts ("'Name' operator limit") into the rules the verification
// checks; every bad rule is reported at once, as a usage error naming `origin`.
void ParseRuleTexts(const Json::Value& list, const std::string& origin, Json::Value& rules) {
    rules = Json::Value(Json::objectValue);
    rules["rules"] = Json::Value(Json::arrayValue);
    if (!list.isArray()) throw kavo::UsageError("Invalid rule file: " + origin + "\n\n 'rules' must be an array of rule texts\n");
    std::string errors = "Invalid rule file: " + origin + "\n\n";
    int errorCount = 0;
    for (const Json::Value& element : list) {
        KLOG(Verbose) << "Parsing rule " << kavo::Trim(element.toStyledString());
        if (!element.isString()) {
            errors += " Rule Error: Rule is not a text: " + kavo::Trim(element.toStyledString()) + "\n";
            ++errorCount;
            continue;
        }
        std::string rule = element.asString();
        size_t open = rule.find('\'');
        size_t close = open == std::string::npos ? std::string::npos : rule.find('\'', open + 1);
        if (close == std::string::npos) {
            errors += " Rule Error: Did not find quoted parameter name in rule: " + rule + "\n";
            ++errorCount;
            continue;
        }
        std::string name = rule.substr(open + 1, close - open - 1);
        std::string rest = kavo::Trim(rule.substr(close + 1));
        size_t blank = rest.find(' ');
        if (blank == std::string::npos) {
            errors += " Rule Error: Did not find operator in rule: " + rule + "\n";
            ++errorCount;
            continue;
        }
        std::string op = kavo::Trim(rest.substr(0, blank));
        std::string limit = kavo::Trim(rest.substr(blank));
        static const char* const kOperators[] = {"match", "not-match", "=", "!=", ">", ">=", "<", "<="};
        if (kavo::FindParameter(name) == nullptr) {
            errors += " Rule Error: Unknown parameter '" + name + "' in rule: " + rule + "\n";
            ++errorCount;
            continue;
        }
        if (std::find(std::begin(kOperators), std::end(kOperators), op) == std::end(kOperators)) {
            errors += " Rule Error: Unknown operator '" + op + "' in rule: " + rule + "\n";
            ++errorCount;
            continue;
        }
        Json::Value parsed(Json::objectValue);
        parsed["parameter"] = name;
        parsed["operator"] = op;
        parsed["limit"] = limit;
        parsed["rule"] = rule;
        rules["rules"].append(parsed);
    }
    if (errorCount != 0) throw kavo::UsageError(errors);
}

bool IsParsedRule(const Json::Value& rule) {
    if (!rule.isObject()) return false;
    for (const char* member : {"parameter", "operator", "limit"})
        if (!rule[member].isString()) return false;
    return true;
}

// A "rules" member of the command file: rule texts, as in a rules file, or
// rules already in the parsed form; anything else is refused before the
// drive is read.
void CommandFileRules(Json::Value& settings) {
    if (!settings.isMember("rules")) return;
    Json::Value& rules = settings["rules"];
    if (rules.isArray()) {
        Json::Value texts = rules;
        ParseRuleTexts(texts, "cmd file member 'rules'", rules);
        return;
    }
    bool parsed = rules.isObject() && rules["rules"].isArray();
    for (const Json::Value& rule : parsed ? rules["rules"] : Json::Value(Json::arrayValue)) parsed = parsed && IsParsedRule(rule);
    if (!parsed)
        throw kavo::UsageError("Invalid cmd file value for 'rules': use an array of rule texts such as "
                               "[\"'Percentage Used' < 90 %\"], or a rules file");
}

// The read command's body; its records carry the name "Read".
int RunRead(Json::Value& settings) {
    KLOG_AS(Verbose, "Read") << "read command started...";
    InstallConsoleHandlers();
    std::vector<uint8_t> identify(4096, 0);

    Json::Value summary(Json::objectValue);
    summary["command times"] = Json::Value(Json::arrayValue);
    summary["_cmd"]["begin time"] = kavo::CurrentTimeText();
    summary["_settings"] = settings;
    summary["read details"]["sample"] = Json::Value(Json::arrayValue);
    summary["read details"]["static mismatches"] = 0;
    summary["read details"]["counter mismatches"] = 0;
    summary["read details"]["mismatches by parameter"] = Json::Value(Json::objectValue);
    summary["read details"]["violations by parameter"] = Json::Value(Json::objectValue);

    CommandFileRules(settings);
    std::string rulesFile = TextSetting(settings, "rules file");
    if (!rulesFile.empty()) {
        if (rulesFile.find(".rules.json") == std::string::npos) rulesFile += ".rules.json";
        std::string path = InputFilePath(rulesFile, settings);
        if (!fs::is_regular_file(path)) throw kavo::UsageError("Failed to find rules file: " + path);
        settings["rules file"] = path;
        LoadRulesFile(path, settings["rules"]);
    }
    Json::Value reference;
    std::string compareFile = TextSetting(settings, "compare file");
    if (!compareFile.empty()) {
        std::string path = InputFilePath(compareFile, settings);
        if (!fs::is_regular_file(path)) throw kavo::UsageError("Failed to find compare file: " + path);
        settings["compare file"] = path;
        try {
            kavo::ReadJsonFile(path, reference);
        } catch (const std::exception&) {
            throw kavo::UsageError("Failed to parse JSON in compare file: " + path);
        }
        // Only an info document can serve: found out before the drive is read.
        if (!reference.isObject() || !reference["_metadata"].isObject() ||
            kavo::JsonText(reference["_metadata"], "file type") != "nvme info" || !reference["nvme"].isObject() ||
            !reference["nvme"]["parameters"].isObject())
            throw kavo::UsageError("Invalid compare file: " + path);
    }
    Json::Value rules = settings.isMember("rules") ? settings["rules"] : Json::Value();
    const std::string logDirectory = kavo::JsonText(settings["common"], "log directory");
    const std::string summaryPath = fs::absolute(fs::path(logDirectory) / "read.summary.json").string();
    summary["_settings"].removeMember("compare file");
    summary["_settings"].removeMember("rules");

    const uint32_t samples = UnsignedSetting(settings, "samples");
    const uint32_t interval = UnsignedSetting(settings, "interval in ms");
    const uint32_t logSampleRate = UnsignedSetting(settings, "log sample rate");
    const uint32_t displaySampleRate = UnsignedSetting(settings, "display sample rate");
    const uint32_t failLimit = UnsignedSetting(settings, "fail limit");
    const std::string compareType = TextSetting(settings, "compare type");
    const int healthLimit = HealthLimitRank(settings);
    const bool report = ReportWanted(settings) && samples > 1;
    const std::string healthLimitText = healthLimit == 0 ? "" : settings["health limit"].asString();
    std::string metricsFile = TextSetting(settings, "metrics file");
    if (!metricsFile.empty()) metricsFile = fs::absolute(metricsFile).string();
    const std::string description = TextSetting(settings, "short description");
    uint32_t sampleCount = 0, failCount = 0;
    kavo::NvmeHandle handle = kavo::GetNvmeId(kavo::JsonText(settings["common"], "nvme path"), false);

    KLOG_AS(Info, "Read") << " ";
    KLOG_AS(Info, "Read") << " ---- " << description << " ----";
    KLOG_AS(Info, "Read") << "";
    KLOG_AS(Info, "Read") << " Begin Time:         " << summary["_cmd"]["begin time"].asString();
    if (samples != 1) {
        KLOG_AS(Info, "Read") << " Estimated Run Time: " << kavo::DurationText(static_cast<double>(interval) * samples, 2);
        KLOG_AS(Info, "Read") << " Samples:            " << samples;
        KLOG_AS(Info, "Read") << " Sample Interval:    " << interval << "mS";
    }
    if (!reference.isNull()) KLOG_AS(Info, "Read") << " Compare File:       " << settings["compare file"].asString();
    if (!rules.isNull()) KLOG_AS(Info, "Read") << " Rules File:         " << settings["rules file"].asString();
    if (healthLimit != 0) KLOG_AS(Info, "Read") << " Health Limit:       " << healthLimitText;
    if (!metricsFile.empty()) KLOG_AS(Info, "Read") << " Metrics File:       " << metricsFile;
    KLOG_AS(Info, "Read") << " Log Directory:      " << logDirectory;

    Json::Value& details = summary["read details"];
    details["begin time"] = kavo::CurrentTimeText();
    const int64_t t0 = kavo::MonotonicNanoseconds();
    // Every command and sample record goes to the journal as it happens; the
    // summary is assembled from it at the end.
    RecoverLeftoverJournals(logDirectory);
    RunJournal journal(ReadJournal(), logDirectory, summary, t0);
    const int64_t step = static_cast<int64_t>(interval) * 1000000;
    int64_t nextStart = t0 + step;
    bool temperatureShown = false;
    std::string worstHealth = "Unknown", worstTemperature = "Unknown";
    std::string sampleTime = kavo::CurrentTimeText();
    // Each sample overwrites the parameter records of the one before. Every
    // sample after the first is compared, which sets each record's compare
    // type again.
    // A single sample has nothing to carry over: no reuse at all.
    kavo::ParameterReuse runReuse;
    kavo::ParameterReuse* reuse = samples > 1 ? &runReuse : nullptr;
    kavo::CommandLog commands;

    for (uint32_t i = 1; i <= samples; ++i) {
        Json::Value sample;
        int64_t sampleStart = kavo::MonotonicNanoseconds();
        if (kavo::JsonBool(settings, "read system data"))
            kavo::GetSystemInfo(sample, kavo::JsonText(settings["common"], "drive"),
                                kavo::JsonBool(settings, "read extended system data"));
        if (reuse != nullptr) reuse->Lend(sample);
        std::string message;
        bool failed = false;
        // The sample's command records go to the journal as they are, and
        // into the sample's document only when that is written.
        kavo::SampleStructures structures;
        bool readPassed = kavo::GetNvmeInfo(*handle, identify.data(), settings, sample, &structures, reuse, &commands);
        journal.Commands(commands);
        if (!readPassed) {
            message = "Sample " + std::to_string(i) + " failed read";
            failed = true;
        }
        const Json::Value& parameters = sample["nvme"]["parameters"];
        if (i == 1) {
            temperatureShown = parameters.isMember("Composite Temperature");
            if (temperatureShown) KLOG_AS(Info, "Read") << " Device Temp:        " << ParameterText(parameters, "Composite Temperature");
            KLOG_AS(Info, "Read") << " Health Status:      " << sample["nvme"]["health status"].asString();
            KLOG_AS(Info, "Read") << " Temp Status:        " << sample["nvme"]["temp status"].asString();
            KLOG_AS(Info, "Read") << "";
        }
        if (!rules.isNull() && !kavo::VerifyNvmeInfo(sample, rules)) {
            message = message.empty() ? "Sample " + std::to_string(i) + " failed verify" : message + " and verify";
            failed = true;
        }
        if (!reference.isNull() && !kavo::CompareNvmeInfo(reference, sample, compareType, reuse)) {
            message = message.empty() ? "Sample " + std::to_string(i) + " failed compare" : message + " and compare";
            details["static mismatches"] = details["static mismatches"].asInt() + sample["static mismatches"].asInt();
            details["counter mismatches"] = details["counter mismatches"].asInt() + sample["counter mismatches"].asInt();
            failed = true;
        }
        const std::string health = sample["nvme"]["health status"].asString();
        worstHealth = WorseGrade(worstHealth, health);
        worstTemperature = WorseGrade(worstTemperature, sample["nvme"]["temp status"].asString());
        if (healthLimit != 0 && GradeRank(health) >= healthLimit) {
            message = message.empty() ? "Sample " + std::to_string(i) + " failed health" : message + " and health";
            failed = true;
        }
        if (!metricsFile.empty()) {
            kavo::MetricsSample metrics;
            metrics.device = kavo::JsonText(settings["common"], "nvme path");
            metrics.identify = identify.data();
            metrics.structures = &structures;
            metrics.healthStatus = health;
            metrics.tempStatus = sample["nvme"]["temp status"].asString();
            metrics.durationSeconds = kavo::ElapsedMilliseconds(sampleStart) / 1000.0;
            metrics.failed = failed;
            metrics.timeMilliseconds = kavo::WallClockMilliseconds();
            kavo::WriteTextFile(metricsFile, kavo::PrometheusMetrics(metrics));
        }
        if (i == 1) details["drive"] = DriveRecord(sample);
        CountByParameter(sample["compare mismatches"], "message", details["mismatches by parameter"]);
        CountByParameter(sample["rule violations"], "msg", details["violations by parameter"]);
        if (reference.isNull()) {
            // The first sample becomes the reference of the later ones (a
            // copy only when later ones follow), and its file carries a
            // compare type per parameter so that it can serve as the compare
            // file of a later run.
            if (i < samples) reference = sample;
            for (Json::Value& record : sample["nvme"]["parameters"])
                record[Json::StaticString("compare type")] = Json::StaticString(kavo::CompareTypeText(
                    "default", kavo::JsonText(record, "name"), kavo::JsonText(record, "source"), true));
        }
        bool stop = kavo::StopRequested();
        if (stop || (failed && failCount < failLimit) || i == 1 || i == samples ||
            (logSampleRate != 0 && i % logSampleRate == 0)) {
            kavo::AddCommandRecords(commands, sample);
            kavo::WriteJsonFile((fs::path(logDirectory) / SampleFileName(samples, i)).string(), sample);
        }
        journal.Sample(SampleRecord(sample, failed, message, sampleTime, sampleStart),
                       details["static mismatches"].asInt(), details["counter mismatches"].asInt());
        journal.Flush();
        if (stop) break;
        if (failed && ++failCount >= failLimit) KLOG_AS(Error, "Read") << "Reached the failure limit of " << failLimit;
        kavo::SleepUntilMonotonic(nextStart);
        nextStart += step;
        sampleTime = kavo::CurrentTimeText();
        if (displaySampleRate != 0 && i % displaySampleRate == 0) {
            std::string line = RightAligned(i, 6) + " samples completed in " + kavo::ElapsedText(t0, 2);
            if (temperatureShown) line += "   (Device Temp " + ParameterText(sample["nvme"]["parameters"], "Composite Temperature") + ")";
            KLOG_AS(Info, "Read") << line;
        }
        ++sampleCount;
        if (reuse != nullptr) reuse->Reclaim(sample);
    }

    handle.reset();
    details["end time"] = kavo::CurrentTimeText();
    details["run time"] = kavo::ElapsedText(t0, 2);
    details["worst health status"] = worstHealth;
    details["worst temp status"] = worstTemperature;
    KLOG_AS(Info, "Read") << " ";
    KLOG_AS(Info, "Read") << " End Time:           " << details["end time"].asString();
    KLOG_AS(Info, "Read") << " Run Time:           " << details["run time"].asString();
    if (samples != 1) {
        KLOG_AS(Info, "Read") << " Worst Health:       " << worstHealth;
        KLOG_AS(Info, "Read") << " Worst Temp Status:  " << worstTemperature;
    }
    KLOG_AS(Info, "Read") << " Summary File        " << summaryPath;

    int returnCode = 0;
    std::string message;
    if (failCount == 0) {
        message = samples == 1 ? " No errors found " : " No errors found on " + std::to_string(sampleCount) + " samples";
    } else {
        returnCode = failCount >= failLimit ? 22 : 21;
        message = samples == 1 ? " Found errors"
                               : " Found errors on " + std::to_string(failCount) + " samples of " +
                                     std::to_string(sampleCount) + " total samples";
    }
    LogResult(summary, returnCode, message, summaryPath, &journal);
    if (report) {
        std::string reportPath = ReportPathFor(summaryPath);
        WriteReport(summaryPath, reportPath);
        KLOG_AS(Info, "Read") << " Report File         " << reportPath;
    }
    return returnCode;
}

}  // namespace

void LoadRulesFile(const std::string& path, Json::Value& rules) {
    if (path.empty()) {
        rules = Json::Value();
        return;
    }
    Json::Value document;
    kavo::ReadJsonFile(path, document);
    if (!document.isObject() || !document.isMember("rules"))
        throw kavo::KavoError("Invalid rules file, missing JSON 'rules' root member: " + path);
    ParseRuleTexts(document["rules"], path, rules);
}

int Read(Json::Value& settings) {
    try {
        return RunRead(settings);
    } catch (...) {
        kavo::RethrowWithLocation("Read", __FILE__, __LINE__);
    }
}
