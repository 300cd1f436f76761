// The HTML report of a read or self-test run.
#include "report.h"

#include <cmath>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <map>

#include <fmt/format.h>

#include "base/kavo_errors.h"
#include "base/kavo_json.h"
#include "base/kavo_log.h"
#include "base/kavo_text.h"
#include "quellix.h"
#include "report_chart.h"
#include "summary_reader.h"

namespace fs = std::filesystem;

namespace {

// How many failing samples the report lists one by one.
constexpr size_t kListedFailures = 200;

const char* const kStyle = R"(
body { font: 14px/1.4 system-ui, sans-serif; margin: 24px auto; max-width: 920px; color: #222; }
h1 { font-size: 22px; margin-bottom: 4px; } h2 { font-size: 17px; margin-top: 28px; }
.verdict { display: inline-block; padding: 2px 10px; border-radius: 4px; color: #fff; font-weight: 600; }
.PASS { background: #2e7d32; } .FAIL { background: #c62828; }
table { border-collapse: collapse; margin: 8px 0; } td, th { padding: 3px 10px; text-align: left; border-bottom: 1px solid #ddd; }
th { background: #f3f3f3; } td.n { text-align: right; }
svg.chart { display: block; margin: 12px 0; background: #fff; }
svg .title { font-weight: 600; font-size: 13px; } svg .legend, svg .tick, svg .axis { font-size: 11px; fill: #444; }
svg .grid { stroke: #e6e6e6; } svg .frame { fill: none; stroke: #999; }
svg .series { fill: none; stroke-width: 1.5; } svg .threshold { stroke-dasharray: 6 4; stroke-width: 1.2; }
svg .failure { fill: #c62828; stroke: #fff; }
.note { color: #666; }
)";

// The figure at the front of a text of a summary written before records
// carried numbers: "6,320.987 GB" is 6320.987, "14.45 Milliseconds" 14.45.
double LegacyFigure(const Json::Value& value) {
    if (value.isNumeric()) return value.asDouble();
    if (!value.isString()) return NAN;
    std::string digits;
    for (char c : value.asString())
        if (c != ',') digits += c;
    char* end = nullptr;
    double number = std::strtod(digits.c_str(), &end);
    return end == digits.c_str() ? NAN : number;
}

// A value of a record: its number divided by `scale` (bytes to GB), or, in a
// record without numbers, the figure of its text, which showed that unit.
double Value(const Json::Value& record, const char* name, double scale = 1) {
    const Json::Value& numbers = record["numbers"];
    if (!numbers.isObject()) return LegacyFigure(record[name]);
    const Json::Value& number = numbers[name];
    return number.isNumeric() ? number.asDouble() / scale : NAN;
}

// The duration of a sample in milliseconds.
double SampleMilliseconds(const Json::Value& record) {
    const Json::Value& numbers = record["numbers"];
    if (numbers.isObject()) return numbers["run time"].isNumeric() ? numbers["run time"].asDouble() : NAN;
    // "14.45 Milliseconds", "1.20 Seconds (1.200)"
    const double number = LegacyFigure(record["run time"]);
    const std::string text = kavo::JsonText(record, "run time");
    if (text.find("Seconds") != std::string::npos) return number * 1000;
    if (text.find("Minutes") != std::string::npos) return number * 60000;
    if (text.find("Hours") != std::string::npos) return number * 3600000;
    return number;
}

// "2026-12-08 21:40:00.123" as seconds on a day count (no time zone: only
// differences count).
double TimeOf(const Json::Value& value) {
    if (!value.isString()) return NAN;
    std::tm t{};
    double fraction = 0;
    int ms = 0;
    if (std::sscanf(value.asString().c_str(), "%d-%d-%d %d:%d:%d.%d", &t.tm_year, &t.tm_mon, &t.tm_mday, &t.tm_hour,
                    &t.tm_min, &t.tm_sec, &ms) < 6)
        return NAN;
    fraction = ms / 1000.0;
    long days = 365L * t.tm_year + t.tm_year / 4 + 31L * t.tm_mon + t.tm_mday;  // monotonic, not calendar-exact
    return days * 86400.0 + t.tm_hour * 3600.0 + t.tm_min * 60.0 + t.tm_sec + fraction;
}

// The time axis of a run: seconds since the first record's timestamp (the
// record's number where a timestamp cannot be read).
struct RunClock {
    double first = NAN, last = 0;
    size_t records = 0;
    double Next(const Json::Value& timestamp) {
        double at = TimeOf(timestamp);
        if (std::isnan(first)) first = at;
        double x = std::isnan(at) ? static_cast<double>(records) : at - first;
        last = std::max(last, x);
        ++records;
        return x;
    }
};

std::string Row(const std::string& name, const Json::Value& value) {
    std::string text = value.isString() ? value.asString() : value.isNull() ? "-" : kavo::Trim(value.toStyledString());
    return "<tr><th>" + Html(name) + "</th><td>" + Html(text) + "</td></tr>\n";
}

std::string Verdict(const Json::Value& cmd) {
    std::string result = kavo::JsonText(cmd, "result");
    return "<span class=\"verdict " + (result == "PASS" ? std::string("PASS") : std::string("FAIL")) + "\">" +
           Html(result.empty() ? "?" : result) + " (exit code " + std::to_string(cmd["return code"].asInt()) +
           ")</span>";
}

std::string RunTable(const Json::Value& summary, const Json::Value& details, size_t samples) {
    const Json::Value& settings = summary["_settings"];
    std::string html = "<table>\n";
    html += Row("command file", settings["_input"]["cmd file name"]);
    html += Row("description", settings["short description"]);
    html += Row("begin", summary["_cmd"]["begin time"]);
    html += Row("end", summary["_cmd"]["end time"]);
    html += Row("run time", details["run time"]);
    html += Row("samples", Json::Value(Json::UInt64(samples)));
    if (settings.isMember("interval in ms")) html += Row("interval", Json::Value(settings["interval in ms"].asString() + " ms"));
    html += Row("message", summary["_cmd"]["message"]);
    return html + "</table>\n";
}

std::string GroupTable(const char* title, const Json::Value& counts) {
    if (!counts.isObject() || counts.empty()) return "<h2>" + std::string(title) + "</h2><p class=\"note\">None.</p>\n";
    std::string html = "<h2>" + std::string(title) + "</h2>\n<table class=\"grouped\"><tr><th>parameter</th><th>samples</th>"
                       "<th>latest message</th></tr>\n";
    for (const std::string& name : counts.getMemberNames())
        html += "<tr><td>" + Html(name) + "</td><td class=\"n\">" + std::to_string(counts[name]["count"].asUInt()) +
                "</td><td>" + Html(kavo::JsonText(counts[name], "last message")) + "</td></tr>\n";
    return html + "</table>\n";
}

Chart MakeChart(const std::string& id, const std::string& title, const std::string& unit,
                std::initializer_list<std::pair<const char*, const char*>> series) {
    Chart chart;
    chart.id = id, chart.title = title, chart.unit = unit;
    for (const auto& [name, colour] : series) chart.series.push_back({name, colour, MinMaxSeries()});
    return chart;
}

// The page around the sections.
std::string Page(const std::string& title, const std::string& body) {
    return "<!DOCTYPE html>\n<html lang=\"en\">\n<head>\n<meta charset=\"utf-8\">\n<title>" + Html(title) +
           "</title>\n<style>" + kStyle + "</style>\n</head>\n<body>\n" + body + "</body>\n</html>\n";
}

std::string ReadReport(const SummarySource& source) {
    Chart temperature = MakeChart("temperature", "Temperature", "C", {{"Composite", "#d84315"}});
    Chart data = MakeChart("data", "Data read and written", "GB", {{"read", "#1565c0"}, {"written", "#6a1b9a"}});
    Chart commands = MakeChart("commands", "Host commands", "commands", {{"read", "#1565c0"}, {"written", "#6a1b9a"}});
    Chart wear = MakeChart("wear", "Percentage used and available spare", "%",
                           {{"percentage used", "#ef6c00"}, {"available spare", "#2e7d32"}});
    Chart duration = MakeChart("duration", "Sample duration", "ms", {{"duration", "#455a64"}});
    std::map<int, size_t> sensorSeries;
    double spareThreshold = NAN;
    size_t failures = 0;
    RunClock clock;
    std::string failed;
    Json::Value summary;
    source(summary, [&](const Json::Value& r) {
        double x = clock.Next(r["timestamp"]);
        temperature.series[0].values.Add(x, Value(r, "Composite Temperature"));
        for (int n = 1; n <= 8; ++n) {
            const std::string sensor = "Temperature Sensor " + std::to_string(n);
            if (r[sensor].isNull()) continue;
            if (!sensorSeries.count(n)) {
                static const char* const kColours[] = {"#8d6e63", "#f9a825", "#00838f", "#7cb342",
                                                       "#5e35b1", "#c2185b", "#546e7a", "#3949ab"};
                sensorSeries[n] = temperature.series.size();
                temperature.series.push_back({"sensor " + std::to_string(n), kColours[n - 1], MinMaxSeries()});
            }
            temperature.series[sensorSeries[n]].values.Add(x, Value(r, sensor.c_str()));
        }
        data.series[0].values.Add(x, Value(r, "Data Read", 1e9));
        data.series[1].values.Add(x, Value(r, "Data Written", 1e9));
        commands.series[0].values.Add(x, Value(r, "Host Read Commands"));
        commands.series[1].values.Add(x, Value(r, "Host Write Commands"));
        wear.series[0].values.Add(x, Value(r, "Percentage Used"));
        wear.series[1].values.Add(x, Value(r, "Available Spare"));
        if (!std::isnan(Value(r, "Available Spare Threshold"))) spareThreshold = Value(r, "Available Spare Threshold");
        const double ms = SampleMilliseconds(r);
        duration.series[0].values.Add(x, ms);
        if (r["return code"].asInt() != 0) {
            ++failures;
            if (duration.markers.size() < 1000) duration.markers.push_back({x, ms, kavo::JsonText(r, "message")});
            if (failures <= kListedFailures)
                failed += "<tr><td>" + Html(kavo::JsonText(r, "timestamp")) + "</td><td>" +
                          Html(kavo::JsonText(r, "message")) + "</td></tr>\n";
        }
    });
    const Json::Value& details = summary["read details"];
    const Json::Value& drive = details["drive"];
    for (const auto& [name, member, colour] :
         {std::tuple<const char*, const char*, const char*>{"warning", "warning temperature", "#f9a825"},
          {"critical", "critical temperature", "#c62828"}})
        if (!std::isnan(Value(drive, member))) temperature.lines.push_back({name, colour, Value(drive, member)});
    if (!std::isnan(spareThreshold)) wear.lines.push_back({"spare threshold", "#c62828", spareThreshold});
    for (Chart* chart : {&temperature, &data, &commands, &wear, &duration}) chart->xEnd = clock.last;

    std::string body = "<h1>quellix read report " + Verdict(summary["_cmd"]) + "</h1>\n<p>" +
                       Html(kavo::JsonText(drive, "description")) + "</p>\n<h2>Drive</h2>\n<table>\n";
    for (const char* member : {"model", "serial", "firmware", "size", "path", "host"}) body += Row(member, drive[member]);
    body += Row("worst health status", details["worst health status"]);
    body += Row("worst temp status", details["worst temp status"]);
    body += "</table>\n<h2>Run</h2>\n" + RunTable(summary, details, clock.records);
    body += "<h2>Values over time</h2>\n";
    for (Chart* chart : {&temperature, &data, &commands, &wear, &duration}) body += RenderChart(*chart);
    body += "<h2>Failing samples</h2>\n";
    if (failures == 0) {
        body += "<p class=\"note\">None.</p>\n";
    } else {
        body += "<table id=\"failures\"><tr><th>sample time</th><th>message</th></tr>\n" + failed + "</table>\n";
        if (failures > kListedFailures)
            body += "<p class=\"note\">and " + std::to_string(failures - kListedFailures) + " more failing samples</p>\n";
    }
    body += GroupTable("Compare mismatches", details["mismatches by parameter"]);
    body += GroupTable("Rule violations", details["violations by parameter"]);
    return Page("quellix read report", body);
}

// What the result code of a self-test log entry means.
const char* SelfTestMeaning(unsigned code) {
    static const char* const kMeanings[] = {
        "The test completed without error.",
        "The test was aborted by a Device Self-test command.",
        "The test was aborted by a controller reset.",
        "The test was aborted because a namespace was removed.",
        "The test was aborted by a Format NVM command.",
        "A fatal error or an unknown test error occurred while the test ran.",
        "The test completed with a failed segment; which segment failed is not known.",
        "The test completed with one or more failed segments; the first is named below.",
        "The test was aborted for an unknown reason.",
        "The test was aborted by a sanitize operation."};
    return code < 10 ? kMeanings[code] : "The drive reported a reserved result code.";
}

std::string SelfTestReport(const SummarySource& source) {
    Chart progress = MakeChart("progress", "Self-test progress", "%", {{"complete", "#1565c0"}});
    Chart temperature = MakeChart("temperature", "Temperature", "C", {{"Composite", "#d84315"}});
    RunClock clock;
    Json::Value summary;
    source(summary, [&](const Json::Value& e) {
        double x = clock.Next(e["timestamp"]);
        progress.series[0].values.Add(x, Value(e, "percent complete"));
        temperature.series[0].values.Add(x, Value(e, "Composite Temperature"));
    });
    progress.xEnd = temperature.xEnd = clock.last;
    const Json::Value& details = summary["selftest details"];
    std::string body = "<h1>quellix self-test report " + Verdict(summary["_cmd"]) + "</h1>\n<h2>Result</h2>\n<table>\n";
    body += Row("drive", summary["_settings"]["common"]["nvme path"]);
    body += Row("test", Json::Value(kavo::JsonBool(summary["_settings"], "extended self-test") ? "extended" : "short"));
    if (details.isMember("log page 6 result")) {
        unsigned code = static_cast<unsigned>(details["return code"].asUInt());
        body += Row("result code", details["log page 6 result"]);
        body += "<tr><th>meaning</th><td id=\"meaning\">" + Html(SelfTestMeaning(code)) + "</td></tr>\n";
    }
    for (const char* member : {"failing segment", "failing lba", "failing namespace", "log page 6 power on hours",
                               "run time estimate"})
        if (details.isMember(member)) body += Row(member, details[member]);
    body += "</table>\n<h2>Run</h2>\n" + RunTable(summary, details, clock.records);
    body += "<h2>Progress and temperature</h2>\n" + RenderChart(progress) + RenderChart(temperature);
    return Page("quellix self-test report", body);
}

}  // namespace

std::string ReportPathFor(const std::string& summaryPath) {
    fs::path path(summaryPath);
    std::string name = path.filename().string();
    size_t at = name.find(".summary");
    std::string stem = at == std::string::npos ? path.stem().string() : name.substr(0, at);
    std::string rest = at == std::string::npos ? "" : name.substr(at + 8);  // ".interrupted-….json" or ".json"
    rest = rest.size() > 5 ? rest.substr(0, rest.size() - 5) : "";
    return (path.parent_path() / (stem + ".report" + rest + ".html")).string();
}

void WriteReport(const SummarySource& source, bool selfTest, const std::string& reportPath) {
    kavo::WriteTextFile(reportPath, selfTest ? SelfTestReport(source) : ReadReport(source), "report");
}

void WriteReport(const std::string& summaryPath, const std::string& reportPath) {
    const bool selfTest = fs::path(summaryPath).filename().string().rfind("selftest", 0) == 0;
    WriteReport([&](Json::Value& document, const std::function<void(const Json::Value&)>& sample) {
        ReadSummary(summaryPath, document, sample);
    }, selfTest, reportPath);
}

int ReportCommand(const std::string& directory) {
    kavo::StartConsoleLogging(kavo::Severity::Info);
    int drawn = 0;
    std::error_code error;
    for (fs::directory_iterator it(directory, error), end; !error && it != end; it.increment(error)) {
        std::string name = it->path().filename().string();
        bool summary = (name.rfind("read.summary", 0) == 0 || name.rfind("selftest.summary", 0) == 0) &&
                       it->path().extension() == ".json";
        if (!summary) continue;
        std::string report = ReportPathFor(it->path().string());
        try {
            WriteReport(it->path().string(), report);
            KLOG(Info) << "Report: " << report;
            ++drawn;
        } catch (const std::exception& e) {
            KLOG(Error) << "No report of " << it->path().string() << ": " << e.what();
            return 17;
        }
    }
    if (drawn == 0) {
        KLOG(Error) << "No summary of a run in " << directory;
        return 16;
    }
    return 0;
}
