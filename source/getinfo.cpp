// The read command: samples of one drive on a fixed-rate schedule, each
// checked against the rules and compared with a reference, with the selected
// samples written to files and a summary of the run.
#include <filesystem>
#include <memory>
#include <optional>
#include <vector>

#include "base/json_reader.h"
#include "base/json_writer.h"
#include "base/kavo_errors.h"
#include "base/kavo_json.h"
#include "base/kavo_log.h"
#include "base/kavo_text.h"
#include "base/stop_request.h"
#include "decode/parameters.h"
#include "host/system_info.h"
#include "info/compare.h"
#include "info/grades.h"
#include "info/metrics.h"
#include "info/nvme_info.h"
#include "baselines.h"
#include "quellix.h"
#include "report.h"
#include "run_journal.h"

namespace fs = std::filesystem;

namespace {

// The parameters every sample record carries (null when the sample has none).
const char* const kSampleMembers[] = {"Composite Temperature", "Percentage Used", "Data Read", "Data Written",
                                      "Warning Composite Temperature Time", "Critical Composite Temperature Time",
                                      "Thermal Management Temperature 1 Time", "Thermal Management Temperature 2 Time",
                                      "Controller Busy Time", "Host Timestamp", "Available Spare",
                                      "Available Spare Threshold", "Host Read Commands", "Host Write Commands"};
// And those it carries only when the sample has them, under the record's name.
const std::pair<const char*, const char*> kOptionalMembers[] = {
    {"Drive Timestamp", "Timestamp"},
    {"Current Power State", "Current Power State (PS)"},
    {"Temperature Sensor 1", "Temperature Sensor 1"}, {"Temperature Sensor 2", "Temperature Sensor 2"},
    {"Temperature Sensor 3", "Temperature Sensor 3"}, {"Temperature Sensor 4", "Temperature Sensor 4"},
    {"Temperature Sensor 5", "Temperature Sensor 5"}, {"Temperature Sensor 6", "Temperature Sensor 6"},
    {"Temperature Sensor 7", "Temperature Sensor 7"}, {"Temperature Sensor 8", "Temperature Sensor 8"},
    {"Critical Warnings", "Critical Warnings"}, {"Media and Data Integrity Errors", "Media and Data Integrity Errors"},
    {"Number of Error Information Log Entries", "Number of Error Information Log Entries"},
    {"Unsafe Shutdowns", "Unsafe Shutdowns"}, {"Power On Hours", "Power On Hours"}};

// Whether a library value holds the number exactly: reals, and integers of
// up to 64 bits. A wider one (the size of a nonsense namespace structure)
// would turn into the nearest real.
bool HeldExactly(const kavo::Number& number) {
    if (!number.isInteger()) return number.present();
    const kavo::uint128 limit = number.negative() ? kavo::uint128(INT64_MAX) + 1 : kavo::uint128(UINT64_MAX);
    return number.FitsUint128() && number.low() <= limit;
}

std::string ValueOf(const kavo::InfoDocument& sample, const char* name) {
    const kavo::Parameter* record = sample.parameters.Find(name);
    return record != nullptr ? record->value : "";
}

// The drive as the run's report describes it, from its first sample.
Json::Value DriveRecord(const kavo::InfoDocument& sample) {
    static const std::pair<const char*, const char*> kMembers[] = {
        {"model", "Model Number (MN)"},
        {"serial", "Serial Number (SN)"},
        {"firmware", "Firmware Revision (FR)"},
        {"size", "Size"},
        {"path", "OS Location"},
        {"warning temperature", "Warning Composite Temperature Threshold (WCTEMP)"},
        {"critical temperature", "Critical Composite Temperature Threshold (CCTEMP)"}};
    Json::Value drive(Json::objectValue);
    for (const auto& [member, name] : kMembers) {
        const kavo::Parameter* record = sample.parameters.Find(name);
        if (record == nullptr) continue;
        drive[member] = record->value;
        // "numbers" holds exact numbers only; the text stays for any other.
        if (HeldExactly(record->number)) drive["numbers"][member] = kavo::JsonNumberValue(record->number.Literal());
    }
    drive["description"] = sample.document["nvme"]["description"];
    const Json::Value& system = sample.document["_metadata"]["system"];
    if (system.isObject() && system.isMember("hostname")) drive["host"] = system["hostname"];
    return drive;
}

// Counts, per parameter, of the entries of a sample's list (compare
// mismatches, rule violations), with the latest message and the times of the
// first and the latest sample that had one.
void CountByParameter(const Json::Value& entries, const char* messageMember, const std::string& time,
                      Json::Value& counts) {
    for (const Json::Value& entry : entries) {
        std::string name = kavo::JsonText(entry, "name");
        if (name.empty()) continue;
        Json::Value& count = counts[name];
        count["count"] = count["count"].asUInt() + 1;
        count["last message"] = entry[messageMember];
        if (!count.isMember("first time")) count["first time"] = time;
        count["last time"] = time;
    }
}

std::string SampleFileName(uint32_t samples, uint32_t sample) {
    return samples == 1 ? "nvme.info.json" : "nvme.info.sample-" + std::to_string(sample) + ".json";
}

// The sample's record for the summary, as one line of JSON: its result, the
// texts of its key values and, under "numbers", their numbers.
std::string SampleRecordText(const kavo::InfoDocument& sample, bool failed, const std::string& message,
                             const std::string& time, int64_t sampleStart) {
    kavo::NumberedRecord record;
    auto take = [&](const char* member, const kavo::Parameter* parameter) {
        record.Set(member, parameter != nullptr ? Json::Value(parameter->value) : Json::Value());
        if (parameter != nullptr) record.SetNumber(member, parameter->number);
    };
    for (const char* name : kSampleMembers) take(name, sample.parameters.Find(name));
    for (const auto& [member, name] : kOptionalMembers)
        if (const kavo::Parameter* parameter = sample.parameters.Find(name)) take(member, parameter);
    const double milliseconds = kavo::ElapsedMilliseconds(sampleStart);
    record.Set("message", failed ? message : "PASSED");
    record.Set("return code", failed ? 1 : 0);
    record.Set("timestamp", time);
    record.Set("health status", sample.document["nvme"]["health status"]);
    record.Set("temp status", sample.document["nvme"]["temp status"]);
    for (const char* reasons : {"health reasons", "temp reasons"})
        if (sample.document["nvme"].isMember(reasons)) record.Set(reasons, sample.document["nvme"][reasons]);
    record.Set("run time", kavo::DurationText(milliseconds, 2));
    record.SetNumber("run time", kavo::Number::Real(milliseconds));
    return record.Compact();
}

// A grade with the reasons that set it: "SUSPECT (Available Spare 5 % is below 10 %)".
std::string GradeText(const Json::Value& nvme, const char* status, const char* reasons) {
    std::string text = nvme[status].asString(), joined;
    for (const Json::Value& reason : nvme[reasons]) joined += (joined.empty() ? "" : "; ") + reason.asString();
    return joined.empty() ? text : text + " (" + joined + ")";
}

std::string RightAligned(uint32_t number, size_t width) {
    std::string text = std::to_string(number);
    return text.size() < width ? std::string(width - text.size(), ' ') + text : text;
}

// The compare file: an info document, found out before the drive is read.
std::optional<kavo::InfoDocument> ReadCompareFile(const std::string& path) {
    kavo::InfoDocument reference;
    bool parameters = false;
    try {
        parameters = kavo::ReadInfoDocument(path, reference);
    } catch (const std::exception&) {
        throw kavo::UsageError("Failed to parse JSON in compare file: " + path);
    }
    const Json::Value& document = reference.document;
    if (!document.isObject() || kavo::JsonText(document["_metadata"], "file type") != "nvme info" ||
        !document["nvme"].isObject() || !parameters)
        throw kavo::UsageError("Invalid compare file: " + path);
    return reference;
}

// The read command's body; its records carry the name "Read".
int RunRead(const Settings& settings) {
    KLOG_AS(Verbose, "Read") << "read command started...";
    InstallConsoleHandlers();
    const ReadSettings& read = settings.read;
    const CommonSettings& common = settings.common;
    std::vector<uint8_t> identify(4096, 0);

    Json::Value summary(Json::objectValue);
    summary["command times"] = Json::Value(Json::arrayValue);
    summary["_cmd"]["begin time"] = kavo::CurrentTimeText();
    summary["_settings"] = settings.json;
    summary["_settings"].removeMember("compare file");
    summary["_settings"].removeMember("rules");
    Json::Value& details = summary["read details"];
    details["sample"] = Json::Value(Json::arrayValue);
    details["static mismatches"] = 0;
    details["counter mismatches"] = 0;
    details["mismatches by parameter"] = Json::Value(Json::objectValue);
    details["violations by parameter"] = Json::Value(Json::objectValue);

    // Rules of a rules file replace those of the command file.
    const bool hasRules = !read.rulesFile.empty() || settings.json.isMember("rules");
    std::vector<kavo::Rule> rules = read.rules;
    std::string rulesPath;
    if (!read.rulesFile.empty()) {
        std::string name = read.rulesFile;
        if (name.find(".rules.json") == std::string::npos) name += ".rules.json";
        rulesPath = InputFilePath(name, common.commandFile);
        if (!fs::is_regular_file(rulesPath)) throw kavo::UsageError("Failed to find rules file: " + rulesPath);
        rules = LoadRulesFile(rulesPath);
    }
    std::optional<kavo::InfoDocument> reference;
    std::string comparePath;
    if (!read.compareFile.empty()) {
        comparePath = InputFilePath(read.compareFile, common.commandFile);
        if (!fs::is_regular_file(comparePath)) throw kavo::UsageError("Failed to find compare file: " + comparePath);
        reference = ReadCompareFile(comparePath);
    }
    const std::string summaryPath = fs::absolute(fs::path(common.logDirectory) / "read.summary.json").string();
    const uint32_t samples = read.samples, interval = read.intervalMs;
    const int healthLimit = kavo::GradeRank(read.healthLimit);
    const bool report = common.report && samples > 1;
    uint32_t sampleCount = 0, failCount = 0;
    kavo::NvmeHandle handle = kavo::GetNvmeId(common.drive.nvmePath, false);

    KLOG_AS(Info, "Read") << " ";
    KLOG_AS(Info, "Read") << " ---- " << common.description << " ----";
    KLOG_AS(Info, "Read") << "";
    KLOG_AS(Info, "Read") << " Begin Time:         " << summary["_cmd"]["begin time"].asString();
    if (samples != 1) {
        KLOG_AS(Info, "Read") << " Estimated Run Time: " << kavo::DurationText(static_cast<double>(interval) * samples, 2);
        KLOG_AS(Info, "Read") << " Samples:            " << samples;
        KLOG_AS(Info, "Read") << " Sample Interval:    " << interval << "mS";
    }
    if (reference) KLOG_AS(Info, "Read") << " Compare File:       " << comparePath;
    if (hasRules) KLOG_AS(Info, "Read") << " Rules File:         " << rulesPath;
    if (healthLimit != 0) KLOG_AS(Info, "Read") << " Health Limit:       " << read.healthLimit;
    if (!read.metricsFile.empty()) KLOG_AS(Info, "Read") << " Metrics File:       " << read.metricsFile;
    KLOG_AS(Info, "Read") << " Log Directory:      " << common.logDirectory;

    details["begin time"] = kavo::CurrentTimeText();
    const int64_t t0 = kavo::MonotonicNanoseconds();
    // Every command and sample record goes to the journal as it happens; the
    // summary is assembled from it at the end.
    RecoverLeftoverJournals(common.logDirectory);
    const int64_t step = static_cast<int64_t>(interval) * 1000000;
    int64_t nextStart = t0 + step;
    bool temperatureShown = false;
    std::string worstHealth = "Unknown", worstTemperature = "Unknown";
    Json::Value worstHealthReasons(Json::arrayValue), worstTemperatureReasons(Json::arrayValue);
    std::string sampleTime = kavo::CurrentTimeText();
    kavo::CommandLog commands;
    // From here the run writes into its folder: an error that ends it (a
    // file that cannot be written) ends it with a summary that says so.
    std::unique_ptr<RunJournal> journal;
    std::optional<kavo::Error> failure;
    kavo::DecodedIdentify identifyKept;
    try {
        journal = std::make_unique<RunJournal>(ReadJournal(), common.logDirectory, summary, t0);
        for (uint32_t i = 1; i <= samples; ++i) {
            kavo::InfoDocument sample;
            int64_t sampleStart = kavo::MonotonicNanoseconds();
            if (read.readSystemData) kavo::GetSystemInfo(sample, common.drive.drive, read.readExtendedSystemData);
            std::string message;
            bool failed = false;
            // The sample's command records go to the journal as they are, and
            // into the sample's document only when that is written.
            const bool readPassed = kavo::GetNvmeInfo(*handle, identify.data(), read.sample, common.drive, sample,
                                                      commands, &identifyKept);
            journal->Commands(commands);
            if (!readPassed) {
                message = "Sample " + std::to_string(i) + " failed read";
                failed = true;
            }
            const Json::Value& nvme = sample.document["nvme"];
            if (i == 1) {
                temperatureShown = sample.parameters.Has("Composite Temperature");
                if (temperatureShown) KLOG_AS(Info, "Read") << " Device Temp:        " << ValueOf(sample, "Composite Temperature");
                KLOG_AS(Info, "Read") << " Health Status:      " << GradeText(nvme, "health status", "health reasons");
                KLOG_AS(Info, "Read") << " Temp Status:        " << GradeText(nvme, "temp status", "temp reasons");
                KLOG_AS(Info, "Read") << "";
            }
            if (hasRules && !kavo::VerifyNvmeInfo(sample, rules)) {
                message = message.empty() ? "Sample " + std::to_string(i) + " failed verify" : message + " and verify";
                failed = true;
            }
            if (reference && !kavo::CompareNvmeInfo(*reference, sample, read.compareType)) {
                message = message.empty() ? "Sample " + std::to_string(i) + " failed compare" : message + " and compare";
                details["static mismatches"] = details["static mismatches"].asInt() + sample.document["static mismatches"].asInt();
                details["counter mismatches"] = details["counter mismatches"].asInt() + sample.document["counter mismatches"].asInt();
                failed = true;
            }
            // The worst grades keep the reasons of the latest sample that had them.
            const std::string health = nvme["health status"].asString();
            if (kavo::GradeRank(health) >= kavo::GradeRank(worstHealth)) {
                worstHealth = health;
                worstHealthReasons = nvme["health reasons"].isArray() ? nvme["health reasons"] : Json::Value(Json::arrayValue);
            }
            const std::string temperature = nvme["temp status"].asString();
            if (kavo::GradeRank(temperature) >= kavo::GradeRank(worstTemperature)) {
                worstTemperature = temperature;
                worstTemperatureReasons =
                    nvme["temp reasons"].isArray() ? nvme["temp reasons"] : Json::Value(Json::arrayValue);
            }
            if (healthLimit != 0 && kavo::GradeRank(health) >= healthLimit) {
                message = message.empty() ? "Sample " + std::to_string(i) + " failed health" : message + " and health";
                failed = true;
            }
            if (!read.metricsFile.empty()) {
                kavo::MetricsSample metrics;
                metrics.device = common.drive.nvmePath;
                metrics.identify = identify.data();
                metrics.info = &sample;
                metrics.healthStatus = health;
                metrics.tempStatus = temperature;
                metrics.durationSeconds = kavo::ElapsedMilliseconds(sampleStart) / 1000.0;
                metrics.failed = failed;
                metrics.timeMilliseconds = kavo::WallClockMilliseconds();
                kavo::WriteTextFile(read.metricsFile, kavo::PrometheusMetrics(metrics), "metrics file");
            }
            if (i == 1) details["drive"] = DriveRecord(sample);
            // Looked up without adding: a sample holds only the results that apply to it.
            const Json::Value& results = sample.document;
            CountByParameter(results["compare mismatches"], "message", sampleTime, details["mismatches by parameter"]);
            CountByParameter(results["rule violations"], "msg", sampleTime, details["violations by parameter"]);
            if (!reference) {
                // The first sample becomes the reference of the later ones (a
                // copy only when later ones follow), and its file carries a
                // compare type per parameter so that it can serve as the compare
                // file of a later run.
                if (i < samples) reference = sample;
                for (kavo::Parameter& record : sample.parameters.Records())
                    record.compareType = kavo::CompareTypeText("default", record.name(), record.description().source, true);
            }
            const bool stop = kavo::StopRequested();
            std::string sampleFile;
            if (stop || (failed && failCount < read.failLimit) || i == 1 || i == samples ||
                (read.logSampleRate != 0 && i % read.logSampleRate == 0)) {
                kavo::AddCommandRecords(commands, sample);
                sampleFile = SampleFileName(samples, i);
                kavo::WriteInfoDocument((fs::path(common.logDirectory) / sampleFile).string(), sample);
            }
            journal->Sample(SampleRecordText(sample, failed, message, sampleTime, sampleStart),
                            details["static mismatches"].asInt(), details["counter mismatches"].asInt(), sampleFile,
                            i == 1 ? kavo::CompactJson(details["drive"]) : "");
            journal->Flush();
            if (failed && ++failCount >= read.failLimit) KLOG_AS(Error, "Read") << "Reached the failure limit of " << read.failLimit;
            // A stop ends the run after this sample. A sample that passed is
            // recorded but not counted; one that failed counts, so that the
            // run's result says it failed.
            if (stop) {
                if (failed) ++sampleCount;
                break;
            }
            kavo::SleepUntilMonotonic(nextStart);
            nextStart += step;
            sampleTime = kavo::CurrentTimeText();
            if (read.displaySampleRate != 0 && i % read.displaySampleRate == 0) {
                std::string line = RightAligned(i, 6) + " samples completed in " + kavo::ElapsedText(t0, 2);
                if (temperatureShown) line += "   (Device Temp " + ValueOf(sample, "Composite Temperature") + ")";
                KLOG_AS(Info, "Read") << line;
            }
            ++sampleCount;
        }
    } catch (const kavo::Error& e) {
        failure = e;
    }

    handle.reset();
    details["end time"] = kavo::CurrentTimeText();
    details["run time"] = kavo::ElapsedText(t0, 2);
    details["worst health status"] = worstHealth;
    details["worst temp status"] = worstTemperature;
    details["worst health reasons"] = worstHealthReasons;
    details["worst temp reasons"] = worstTemperatureReasons;
    KLOG_AS(Info, "Read") << " ";
    KLOG_AS(Info, "Read") << " End Time:           " << details["end time"].asString();
    KLOG_AS(Info, "Read") << " Run Time:           " << details["run time"].asString();
    if (samples != 1) {
        KLOG_AS(Info, "Read") << " Worst Health:       " << GradeText(details, "worst health status", "worst health reasons");
        KLOG_AS(Info, "Read") << " Worst Temp Status:  " << GradeText(details, "worst temp status", "worst temp reasons");
    }
    KLOG_AS(Info, "Read") << " Summary File        " << summaryPath;

    int returnCode = 0;
    std::string message;
    if (failure) {
        returnCode = failure->exitCode();
        message = failure->what();
    } else if (failCount == 0) {
        message = samples == 1 ? " No errors found " : " No errors found on " + std::to_string(sampleCount) + " samples";
    } else {
        returnCode = failCount >= read.failLimit ? 22 : 21;
        message = samples == 1 ? " Found errors"
                               : " Found errors on " + std::to_string(failCount) + " samples of " +
                                     std::to_string(sampleCount) + " total samples";
    }
    // The report is drawn from the journal, which then goes, whatever
    // happens: its records stand in the summary.
    return FinishRun(summary, returnCode, message, summaryPath, journal.get(), report && journal != nullptr,
                     ReadJournal());
}

}  // namespace

std::vector<kavo::Rule> LoadRulesFile(const std::string& path) {
    Json::Value document;
    kavo::ReadJsonFile(path, document, kMaxRulesFileBytes);
    if (!document.isObject() || !document.isMember("rules"))
        throw kavo::KavoError("Invalid rules file, missing JSON 'rules' root member: " + path);
    return kavo::ParseRules(document["rules"], path);
}

int Read(const Settings& settings) {
    try {
        return RunRead(settings);
    } catch (...) {
        kavo::RethrowWithLocation("Read", __FILE__, __LINE__);
    }
}
