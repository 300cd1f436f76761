// The report's shared pieces: record values, the time axis, tables, page.
#include "report_parts.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <ctime>

#include "base/kavo_json.h"
#include "base/kavo_text.h"

namespace report {
namespace {

// The page uses the window's width: the top sections and the charts stand
// in columns as far as they fit.
const char* const kStyle = R"(
body { font: 14px/1.4 system-ui, sans-serif; margin: 20px 28px; max-width: 2400px; color: #222; }
h1 { font-size: 22px; margin: 0 0 4px; } h2 { font-size: 17px; margin: 22px 0 6px; }
.verdict { display: inline-block; padding: 2px 10px; border-radius: 4px; color: #fff; font-weight: 600; }
.PASS { background: #2e7d32; } .FAIL { background: #c62828; }
.grade { font-weight: 600; } .grade.GOOD { color: #2e7d32; } .grade.SUSPECT { color: #e65100; }
.grade.CRITICAL { color: #c62828; } .grade.Unknown { color: #666; }
ul.reasons { margin: 2px 0; padding-left: 20px; }
table { border-collapse: collapse; margin: 6px 0; } td, th { padding: 3px 10px; text-align: left; border-bottom: 1px solid #ddd; vertical-align: top; }
th { background: #f3f3f3; } td.n { text-align: right; } td.t { white-space: nowrap; }
.columns { display: grid; grid-template-columns: repeat(auto-fit, minmax(480px, 1fr)); gap: 0 32px; align-items: start; }
.charts { display: grid; grid-template-columns: repeat(auto-fill, minmax(560px, 1fr)); gap: 4px 24px; }
svg.chart { display: block; width: 100%; height: auto; margin: 6px 0; background: #fff; }
svg .title { font-weight: 600; font-size: 13px; } svg .legend, svg .tick, svg .axis, svg .note, svg .empty { font-size: 11px; fill: #444; }
svg .note { fill: #777; font-style: italic; } svg .empty { fill: #999; }
svg .grid { stroke: #e6e6e6; } svg .frame { fill: none; stroke: #999; }
svg .series { fill: none; stroke-width: 1.5; } svg .threshold { stroke-dasharray: 6 4; stroke-width: 1.2; }
svg .failure { fill: #c62828; stroke: #fff; }
.note { color: #666; } .subtitle { margin: 0 0 8px; color: #333; }
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

}  // namespace

double Value(const Json::Value& record, const char* name, double scale) {
    const Json::Value& numbers = record["numbers"];
    if (!numbers.isObject()) return LegacyFigure(record[name]);
    const Json::Value& number = numbers[name];
    return number.isNumeric() ? number.asDouble() / scale : NAN;
}

bool HasFigure(const Json::Value& record, const char* name) {
    const Json::Value& numbers = record["numbers"];
    return numbers.isObject() ? numbers.isMember(name) : record.isMember(name);
}

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

double TimeOf(const Json::Value& value) {
    if (!value.isString()) return NAN;
    std::tm t{};
    int ms = 0;
    if (std::sscanf(value.asString().c_str(), "%d-%d-%d %d:%d:%d.%d", &t.tm_year, &t.tm_mon, &t.tm_mday, &t.tm_hour,
                    &t.tm_min, &t.tm_sec, &ms) < 6)
        return NAN;
    long days = 365L * t.tm_year + t.tm_year / 4 + 31L * t.tm_mon + t.tm_mday;  // monotonic, not calendar-exact
    return days * 86400.0 + t.tm_hour * 3600.0 + t.tm_min * 60.0 + t.tm_sec + ms / 1000.0;
}

double RunClock::Next(const Json::Value& timestamp) {
    double at = TimeOf(timestamp);
    if (std::isnan(first)) first = at;
    double x = std::isnan(at) ? static_cast<double>(records) : at - first;
    last = std::max(last, x);
    ++records;
    return x;
}

std::string Shown(const Json::Value& value) {
    if (value.isString()) return kavo::Trim(value.asString());
    return value.isNull() ? "-" : kavo::Trim(value.toStyledString());
}

std::string Row(const std::string& name, const Json::Value& value) {
    return "<tr><th>" + Html(name) + "</th><td>" + Html(Shown(value)) + "</td></tr>\n";
}

std::string Verdict(const Json::Value& cmd) {
    std::string result = kavo::JsonText(cmd, "result");
    return "<span class=\"verdict " + (result == "PASS" ? std::string("PASS") : std::string("FAIL")) + "\">" +
           Html(result.empty() ? "?" : result) + " (exit code " + std::to_string(cmd["return code"].asInt()) +
           ")</span>";
}

std::string RunTable(const Json::Value& summary, const Json::Value& details, size_t records, const char* recordName) {
    const Json::Value& settings = summary["_settings"];
    std::string html = "<table>\n";
    html += Row("command file", settings["_input"]["cmd file name"]);
    html += Row("description (command file)", settings["short description"]);
    html += Row("begin", summary["_cmd"]["begin time"]);
    html += Row("end", summary["_cmd"]["end time"]);
    html += Row("run time", details["run time"]);
    html += Row(recordName, Json::Value(Json::UInt64(records)));
    if (settings.isMember("interval in ms")) html += Row("interval", Json::Value(Shown(settings["interval in ms"]) + " ms"));
    html += Row("message", summary["_cmd"]["message"]);
    return html + "</table>\n";
}

Chart MakeChart(const std::string& id, const std::string& title, const std::string& unit,
                std::initializer_list<std::pair<const char*, const char*>> series) {
    Chart chart;
    chart.id = id, chart.title = title, chart.unit = unit;
    for (const auto& [name, colour] : series) chart.series.push_back({name, colour, MinMaxSeries()});
    return chart;
}

std::string Page(const std::string& title, const std::string& body) {
    return "<!DOCTYPE html>\n<html lang=\"en\">\n<head>\n<meta charset=\"utf-8\">\n"
           "<meta name=\"viewport\" content=\"width=device-width, initial-scale=1\">\n<title>" +
           Html(title) + "</title>\n<style>" + kStyle + "</style>\n</head>\n<body>\n" + body + "</body>\n</html>\n";
}

}  // namespace report
