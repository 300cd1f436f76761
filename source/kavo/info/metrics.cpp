// Prometheus metrics of a sample.
#include "info/metrics.h"

#include <map>
#include <utility>
#include <vector>

#include <fmt/format.h>

#include "base/kavo_text.h"
#include "decode/decode_table.h"
#include "decode/health_log.h"
#include "info/grades.h"

namespace kavo {
namespace {

using decode::Le;
using Labels = std::vector<std::pair<std::string, std::string>>;

// Floats carry 53 bits of a counter exactly; beyond that Prometheus keeps
// the nearest float. The file gives the exact value and says so.
const uint128 kExactFloatLimit = uint128(1) << 53;

class Exposition {
public:
    explicit Exposition(Labels drive) : drive_(std::move(drive)) {}

    void Family(const char* name, const char* type, const char* help) {
        text_ += "# HELP " + std::string(name) + " " + help + "\n# TYPE " + name + " " + type + "\n";
        name_ = name;
    }
    void Sample(const std::string& value, const Labels& extra = {}) {
        Labels labels = drive_;
        labels.insert(labels.end(), extra.begin(), extra.end());
        text_ += name_ + "{";
        for (size_t i = 0; i < labels.size(); ++i)
            text_ += (i ? "," : "") + labels[i].first + "=\"" + EscapeLabelValue(labels[i].second) + "\"";
        text_ += "} " + value + "\n";
    }
    void Sample(const Number& value, const Labels& extra = {}) {
        Sample(value.Literal(), extra);
        if (value.isInteger() && CompareNumbers(value, Number::Unsigned(kExactFloatLimit)) > 0) beyondFloat_.push_back(name_);
    }
    void Sample(uint128 value, const Labels& extra = {}) { Sample(Number::Unsigned(value), extra); }
    // The shortest text that reads back as the same double ("37", "0.05").
    void Sample(double value, const Labels& extra = {}) { Sample(fmt::format("{}", value), extra); }
    // A counter or gauge of one series.
    void One(const char* name, const char* type, const char* help, const Number& value) {
        Family(name, type, help);
        Sample(value);
    }
    void One(const char* name, const char* type, const char* help, uint128 value) { One(name, type, help, Number::Unsigned(value)); }
    void One(const char* name, const char* type, const char* help, double value) {
        Family(name, type, help);
        Sample(value);
    }
    std::string Finish() {
        if (!beyondFloat_.empty()) {
            // Not "counter" in the name: a gauge named so fails the
            // exposition format's lint.
            Family("quellix_value_beyond_float_precision", "gauge",
                   "1 for a series whose exact value in this file exceeds 2^53: Prometheus stores it rounded to a float");
            for (const std::string& name : beyondFloat_) Sample(std::string("1"), {{"series", name}});
        }
        return text_;
    }

private:
    Labels drive_;
    std::string text_, name_;
    std::vector<std::string> beyondFloat_;
};

double Celsius(uint64_t kelvin) { return static_cast<double>(kelvin) - 273.0; }

// A grade as one number per drive (0 good, 1 suspect, 2 critical; no
// series while Unknown), and as one series per grade with the current one
// at 1.
void Grades(Exposition& out, const char* kind, const std::string& current) {
    const std::string status = std::string("quellix_") + kind + "_status", grade = std::string("quellix_") + kind + "_grade";
    const int rank = GradeRank(current);
    if (rank != 0) {
        out.Family(status.c_str(), "gauge",
                   (std::string("The ") + kind + " grade of the last sample: 0 GOOD, 1 SUSPECT, 2 CRITICAL").c_str());
        out.Sample(uint128(rank - 1));
    }
    out.Family(grade.c_str(), "gauge", (std::string("The ") + kind + " grade of the last sample (1 for the current grade)").c_str());
    for (const char* name : {"GOOD", "SUSPECT", "CRITICAL", "Unknown"})
        out.Sample(uint128(current == name ? 1 : 0), {{"status", name}});
}

void Thresholds(Exposition& out, const uint8_t* id) {
    out.Family("quellix_temperature_threshold_celsius", "gauge",
               "Composite temperature thresholds of Identify Controller (WCTEMP, CCTEMP)");
    for (const auto& [kind, offset] : {std::pair<const char*, size_t>{"warning", 266}, {"critical", 268}}) {
        uint64_t kelvin = Le(id, 4096, offset, 2);
        if (kelvin != 0) out.Sample(Celsius(kelvin), {{"kind", kind}});
    }
}

void Health(Exposition& out, const SmartHealth& h) {
    out.Family("quellix_temperature_celsius", "gauge", "Composite and sensor temperatures of the SMART / health log");
    out.Sample(Celsius(h.compositeKelvin), {{"sensor", "composite"}});
    for (size_t n = 0; n < h.sensorKelvin.size(); ++n)
        if (h.sensorKelvin[n] != 0) out.Sample(Celsius(h.sensorKelvin[n]), {{"sensor", std::to_string(n + 1)}});
    out.One("quellix_available_spare_ratio", "gauge", "Available spare capacity (0 to 1)", h.availableSpare / 100.0);
    out.One("quellix_available_spare_threshold_ratio", "gauge", "Available spare threshold (0 to 1)",
            h.availableSpareThreshold / 100.0);
    out.One("quellix_percentage_used_ratio", "gauge", "Estimated life used (1 = 100 %, may exceed 1)", h.percentageUsed / 100.0);
    out.Family("quellix_critical_warning", "gauge", "Critical warning bits of the SMART / health log (1 = raised)");
    static const char* const kBits[] = {"available_spare", "temperature", "reliability", "read_only",
                                        "volatile_memory_backup", "persistent_memory"};
    for (int bit = 0; bit < 6; ++bit) out.Sample(uint128((h.criticalWarning >> bit) & 1), {{"bit", kBits[bit]}});
    // Products of a 128-bit counter and its unit need up to 192 bits: exact.
    out.One("quellix_data_read_bytes_total", "counter", "Data read by the host", Number::Product(h.dataUnitsRead, kDataUnitBytes));
    out.One("quellix_data_written_bytes_total", "counter", "Data written by the host",
            Number::Product(h.dataUnitsWritten, kDataUnitBytes));
    out.One("quellix_host_read_commands_total", "counter", "Read commands completed", h.hostReadCommands);
    out.One("quellix_host_write_commands_total", "counter", "Write commands completed", h.hostWriteCommands);
    out.One("quellix_controller_busy_seconds_total", "counter", "Time the controller was busy with I/O",
            Number::Product(h.controllerBusyMinutes, 60));
    out.One("quellix_power_cycles_total", "counter", "Power cycles", h.powerCycles);
    out.One("quellix_power_on_seconds_total", "counter", "Power-on time (counted in hours)", Number::Product(h.powerOnHours, 3600));
    out.One("quellix_unsafe_shutdowns_total", "counter", "Unsafe shutdowns", h.unsafeShutdowns);
    out.One("quellix_media_errors_total", "counter", "Media and data integrity errors", h.mediaErrors);
    out.One("quellix_error_log_entries_total", "counter", "Error information log entries over the drive's life",
            h.errorLogEntries);
    out.One("quellix_warning_temperature_seconds_total", "counter",
            "Time above the warning composite temperature (counted in minutes)",
            Number::Product(h.warningTemperatureMinutes, 60));
    out.One("quellix_critical_temperature_seconds_total", "counter",
            "Time above the critical composite temperature (counted in minutes)",
            Number::Product(h.criticalTemperatureMinutes, 60));
    out.Family("quellix_thermal_management_transitions_total", "counter",
               "Transitions into host controlled thermal management");
    out.Sample(uint128(h.thermalTransitions[0]), {{"level", "1"}});
    out.Sample(uint128(h.thermalTransitions[1]), {{"level", "2"}});
    out.Family("quellix_thermal_management_seconds_total", "counter", "Time in host controlled thermal management");
    out.Sample(uint128(h.thermalSeconds[0]), {{"level", "1"}});
    out.Sample(uint128(h.thermalSeconds[1]), {{"level", "2"}});
}

// The newest entry of the self-test log, when there is one.
void LastSelfTest(Exposition& out, const SelfTestLog& log) {
    const SelfTestResult& newest = log.results[0];
    if (!newest.used()) return;
    out.One("quellix_self_test_last_result", "gauge",
            "Result code of the newest self-test (0 passed, 1 aborted by command, 2 aborted by reset, ... 7 failed)",
            uint128(newest.result()));
    out.One("quellix_self_test_last_power_on_seconds", "gauge", "Power-on time of the drive when the newest self-test ended",
            Number::Product(newest.powerOnHours, 3600));
}

}  // namespace

std::string EscapeLabelValue(const std::string& value) {
    // The exposition is UTF-8: a byte that is not (a path named in another
    // encoding) would make the whole file unreadable, so it shows as \xHH.
    std::string escaped;
    for (char c : EscapedText(value, false)) {
        if (c == '\\') escaped += "\\\\";
        else if (c == '"') escaped += "\\\"";
        else if (c == '\n') escaped += "\\n";
        else escaped += c;
    }
    return escaped;
}

std::string PrometheusMetrics(const MetricsSample& sample) {
    const uint8_t* id = sample.identify;
    std::string serial = id != nullptr ? DriveField(id + 4, 20) : "";
    Exposition out({{"device", sample.device}, {"serial", serial}});
    out.Family("quellix_drive_info", "gauge", "The drive: model, serial number, firmware revision and path");
    out.Sample(std::string("1"), {{"model", id != nullptr ? DriveField(id + 24, 40) : ""},
                                  {"firmware", id != nullptr ? DriveField(id + 64, 8) : ""}});
    if (id != nullptr) Thresholds(out, id);
    const InfoDocument* info = sample.info;
    if (info != nullptr && info->smartHealth) Health(out, *info->smartHealth);
    if (info != nullptr && info->selfTestLog) LastSelfTest(out, *info->selfTestLog);
    Grades(out, "health", sample.healthStatus);
    Grades(out, "temperature", sample.tempStatus);
    out.One("quellix_sample_duration_seconds", "gauge", "Time the last sample took", sample.durationSeconds);
    out.One("quellix_sample_failed", "gauge", "1 when the last sample failed (read, rules, compare or health limit)",
            uint128(sample.failed ? 1 : 0));
    out.One("quellix_last_sample_timestamp_seconds", "gauge", "When the last sample was taken (Unix time)",
            sample.timeMilliseconds / 1000.0);
    out.One("quellix_last_run_timestamp_seconds", "gauge",
            "When a run last read the drive and wrote its metrics (Unix time); alert when it grows old",
            sample.timeMilliseconds / 1000.0);
    return out.Finish();
}

std::string FleetMetrics(const std::vector<FleetDriveMetrics>& drives) {
    std::string text;
    auto family = [&](const char* name, const char* help, bool endedOnly, auto value) {
        std::string samples;
        for (const FleetDriveMetrics& drive : drives) {
            if (endedOnly && !drive.ended) continue;
            samples += std::string(name) + "{device=\"" + EscapeLabelValue(drive.device) + "\",serial=\"" +
                       EscapeLabelValue(drive.serial) + "\"} " + value(drive) + "\n";
        }
        if (!samples.empty()) text += "# HELP " + std::string(name) + " " + help + "\n# TYPE " + name + " gauge\n" + samples;
    };
    family("quellix_drive_listed", "1 for every drive the host listed for the fleet run; alert when one goes missing", false,
           [](const FleetDriveMetrics&) { return std::string("1"); });
    family("quellix_run_exit_code", "Exit code of the drive's last run in the fleet run (0 passed)", true,
           [](const FleetDriveMetrics& drive) { return std::to_string(drive.exitCode); });
    return text;
}

std::string MergeMetricsTexts(const std::vector<std::string>& texts) {
    struct Family {
        std::string help, type, samples;
    };
    std::vector<std::string> order;
    std::map<std::string, Family> families;
    auto familyOf = [&](const std::string& name) -> Family& {
        if (families.find(name) == families.end()) order.push_back(name);
        return families[name];
    };
    for (const std::string& text : texts) {
        std::string current;
        size_t start = 0;
        while (start < text.size()) {
            size_t end = text.find('\n', start);
            if (end == std::string::npos) end = text.size();
            const std::string line = text.substr(start, end - start);
            start = end + 1;
            if (line.empty()) continue;
            if (line.compare(0, 7, "# HELP ") == 0 || line.compare(0, 7, "# TYPE ") == 0) {
                const size_t nameEnd = line.find(' ', 7);
                current = line.substr(7, nameEnd == std::string::npos ? std::string::npos : nameEnd - 7);
                std::string& member = line[2] == 'H' ? familyOf(current).help : familyOf(current).type;
                if (member.empty()) member = line;
            } else if (line[0] != '#') {
                const std::string name = line.substr(0, line.find_first_of("{ "));
                familyOf(current.empty() || name.compare(0, current.size(), current) != 0 ? name : current).samples +=
                    line + "\n";
            }
        }
    }
    std::string merged;
    for (const std::string& name : order) {
        const Family& family = families[name];
        if (!family.help.empty()) merged += family.help + "\n";
        if (!family.type.empty()) merged += family.type + "\n";
        merged += family.samples;
    }
    return merged;
}

}  // namespace kavo
