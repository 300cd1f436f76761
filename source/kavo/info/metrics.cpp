// Prometheus metrics of a sample.
#include "info/metrics.h"

#include <utility>
#include <vector>

#include <fmt/format.h>

#include "base/kavo_text.h"
#include "decode/decode_table.h"
#include "decode/health_log.h"

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

void Grades(Exposition& out, const char* name, const char* help, const std::string& current) {
    out.Family(name, "gauge", help);
    for (const char* grade : {"GOOD", "SUSPECT", "CRITICAL", "Unknown"})
        out.Sample(uint128(current == grade ? 1 : 0), {{"status", grade}});
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
    Grades(out, "quellix_health_status", "Health grade of the sample (1 for the current grade)", sample.healthStatus);
    Grades(out, "quellix_temperature_status", "Temperature history grade of the sample (1 for the current grade)",
           sample.tempStatus);
    out.One("quellix_sample_duration_seconds", "gauge", "Time the last sample took", sample.durationSeconds);
    out.One("quellix_sample_failed", "gauge", "1 when the last sample failed (read, rules, compare or health limit)",
            uint128(sample.failed ? 1 : 0));
    out.One("quellix_last_sample_timestamp_seconds", "gauge", "When the last sample was taken (Unix time)",
            sample.timeMilliseconds / 1000.0);
    return out.Finish();
}

}  // namespace kavo
