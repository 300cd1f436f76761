// The read report: the answers first (the verdict with the reasons of each
// grade, rule violations and compare mismatches by parameter, the wear and
// data projection), then the drive and the run, the values over time, and
// the failing samples one by one at the end.
#include <array>
#include <cmath>
#include <map>
#include <tuple>
#include <vector>

#include "base/kavo_json.h"
#include "info/grades.h"
#include "report_parts.h"
#include "report_trend.h"

namespace report {
namespace {

// How many failing samples the report lists one by one.
constexpr size_t kListedFailures = 200;

// The worst grade of a run and the reasons of its latest sample at that grade.
struct WorstGrade {
    std::string status = "Unknown";
    Json::Value reasons = Json::Value(Json::arrayValue);
    void Add(const Json::Value& status, const Json::Value& reasons) {
        if (!status.isString()) return;
        const int rank = kavo::GradeRank(status.asString());
        if (rank < kavo::GradeRank(this->status) || rank == 0) return;
        this->status = status.asString();
        this->reasons = reasons.isArray() ? reasons : Json::Value(Json::arrayValue);
    }
    // A summary whose records lack the grades or their reasons (written by
    // an older quellix) has them in its details, if anywhere.
    void Fill(const Json::Value& status, const Json::Value& reasons) {
        if (this->status == "Unknown" && status.isString()) this->status = status.asString();
        if (this->reasons.empty() && reasons.isArray()) this->reasons = reasons;
    }
};

std::string GradeCell(const char* id, const WorstGrade& grade) {
    const bool known = kavo::GradeRank(grade.status) != 0;
    std::string html = "<td id=\"" + std::string(id) + "\"><span class=\"grade " + (known ? grade.status : "Unknown") +
                       "\">" + Html(grade.status) + "</span>";
    if (!grade.reasons.empty()) {
        html += "<ul class=\"reasons\">";
        for (const Json::Value& reason : grade.reasons) html += "<li>" + Html(Shown(reason)) + "</li>";
        html += "</ul>";
    } else if (grade.status == "GOOD") {
        html += " <span class=\"note\">nothing in the SMART / health log to doubt it</span>";
    } else if (known) {
        html += " <span class=\"note\">its reasons are not in this summary (written before they were recorded)</span>";
    }
    return html + "</td>";
}

// Rule violations or compare mismatches by parameter.
std::string GroupTable(const char* id, const char* title, const Json::Value& counts) {
    std::string html = "<h2>" + std::string(title) + "</h2>\n";
    if (!counts.isObject() || counts.empty()) return html + "<p class=\"note\" id=\"" + id + "\">None.</p>\n";
    html += "<table class=\"grouped\" id=\"" + std::string(id) +
            "\"><tr><th>parameter</th><th>samples</th><th>first</th><th>last</th><th>latest message</th></tr>\n";
    for (const std::string& name : counts.getMemberNames()) {
        const Json::Value& count = counts[name];
        html += "<tr><td>" + Html(name) + "</td><td class=\"n\">" + std::to_string(count["count"].asUInt()) +
                "</td><td class=\"t\">" + Html(Shown(count["first time"])) + "</td><td class=\"t\">" +
                Html(Shown(count["last time"])) + "</td><td>" + Html(Shown(count["last message"])) + "</td></tr>\n";
    }
    return html + "</table>\n";
}

// The charts of a read run and what is gathered for the sections above them.
struct ReadPage {
    Chart temperature = MakeChart("temperature", "Temperature", "C", {{"Composite", "#d84315"}});
    Chart wear = MakeChart("wear", "Percentage used and available spare", "%",
                           {{"percentage used", "#ef6c00"}, {"available spare", "#2e7d32"}});
    Chart dataRate = MakeChart("data-rate", "Data read and written per second", "bytes per second",
                               {{"read", "#1565c0"}, {"written", "#6a1b9a"}});
    Chart data = MakeChart("data", "Data read and written (totals)", "GB", {{"read", "#1565c0"}, {"written", "#6a1b9a"}});
    Chart commandRate = MakeChart("command-rate", "Host commands per second", "commands per second",
                                  {{"read", "#1565c0"}, {"written", "#6a1b9a"}});
    Chart commands = MakeChart("commands", "Host commands (totals)", "commands",
                               {{"read", "#1565c0"}, {"written", "#6a1b9a"}});
    Chart errors = MakeChart("errors", "Media errors, error log entries and unsafe shutdowns", "count",
                             {{"media errors", "#c62828"}, {"error log entries", "#ef6c00"},
                              {"unsafe shutdowns", "#455a64"}});
    Chart hours = MakeChart("power-on-hours", "Power-on hours", "hours", {{"power-on hours", "#00838f"}});
    Chart warnings = MakeChart("critical-warnings", "Critical warning bits", "set (1) or clear (0)", {});
    Chart duration = MakeChart("duration", "Sample duration", "ms", {{"duration", "#455a64"}});
    std::array<MinMaxSeries, 8> warningBits;
    std::array<size_t, 8> warningSet{};
    std::map<int, size_t> sensorSeries;
    double spareThreshold = NAN;
    Rate rates[4];  // bytes read, bytes written, read commands, write commands
    WearTrend wearTrend;
    Span written, read;
    WorstGrade health, temperatureGrade;
    size_t failures = 0;
    std::string failed;

    void Add(double x, const Json::Value& r);
    void AddSensors(double x, const Json::Value& r);
    void AddWarnings(double x, const Json::Value& r);
    void Finish(const Json::Value& details, double xEnd);
    std::vector<Chart*> Charts() {
        return {&temperature, &wear, &dataRate, &data, &commandRate, &commands, &errors, &hours, &warnings, &duration};
    }
};

void ReadPage::AddSensors(double x, const Json::Value& r) {
    static const char* const kColours[] = {"#8d6e63", "#f9a825", "#00838f", "#7cb342",
                                           "#5e35b1", "#c2185b", "#546e7a", "#3949ab"};
    for (int n = 1; n <= 8; ++n) {
        const std::string sensor = "Temperature Sensor " + std::to_string(n);
        if (!HasFigure(r, sensor.c_str())) continue;
        if (!sensorSeries.count(n)) {
            sensorSeries[n] = temperature.series.size();
            temperature.series.push_back({"sensor " + std::to_string(n), kColours[n - 1], MinMaxSeries()});
        }
        temperature.series[sensorSeries[n]].values.Add(x, Value(r, sensor.c_str()));
    }
}

void ReadPage::AddWarnings(double x, const Json::Value& r) {
    const double bits = Value(r, "Critical Warnings");
    if (!std::isfinite(bits) || bits < 0 || bits > 255) return;
    for (unsigned bit = 0; bit < 8; ++bit) {
        const bool set = (static_cast<unsigned>(bits) >> bit) & 1;
        warningBits[bit].Add(x, set ? 1 : 0);
        warningSet[bit] += set;
    }
}

void ReadPage::Add(double x, const Json::Value& r) {
    temperature.series[0].values.Add(x, Value(r, "Composite Temperature"));
    AddSensors(x, r);
    const double bytesRead = Value(r, "Data Read", 1e9) * 1e9, bytesWritten = Value(r, "Data Written", 1e9) * 1e9;
    data.series[0].values.Add(x, bytesRead / 1e9);
    data.series[1].values.Add(x, bytesWritten / 1e9);
    dataRate.series[0].values.Add(x, rates[0].Next(x, bytesRead));
    dataRate.series[1].values.Add(x, rates[1].Next(x, bytesWritten));
    read.Add(x, bytesRead), written.Add(x, bytesWritten);
    const double readCommands = Value(r, "Host Read Commands"), writeCommands = Value(r, "Host Write Commands");
    commands.series[0].values.Add(x, readCommands);
    commands.series[1].values.Add(x, writeCommands);
    commandRate.series[0].values.Add(x, rates[2].Next(x, readCommands));
    commandRate.series[1].values.Add(x, rates[3].Next(x, writeCommands));
    wear.series[0].values.Add(x, Value(r, "Percentage Used"));
    wear.series[1].values.Add(x, Value(r, "Available Spare"));
    wearTrend.Add(x, Value(r, "Percentage Used"));
    if (!std::isnan(Value(r, "Available Spare Threshold"))) spareThreshold = Value(r, "Available Spare Threshold");
    errors.series[0].values.Add(x, Value(r, "Media and Data Integrity Errors"));
    errors.series[1].values.Add(x, Value(r, "Number of Error Information Log Entries"));
    errors.series[2].values.Add(x, Value(r, "Unsafe Shutdowns"));
    hours.series[0].values.Add(x, Value(r, "Power On Hours"));
    AddWarnings(x, r);
    health.Add(r["health status"], r["health reasons"]);
    temperatureGrade.Add(r["temp status"], r["temp reasons"]);
    const double ms = SampleMilliseconds(r);
    duration.series[0].values.Add(x, ms);
    if (r["return code"].asInt() != 0) {
        ++failures;
        if (duration.markers.size() < 1000) duration.markers.push_back({x, ms, kavo::JsonText(r, "message")});
        if (failures <= kListedFailures)
            failed += "<tr><td class=\"t\">" + Html(kavo::JsonText(r, "timestamp")) + "</td><td>" +
                      Html(kavo::JsonText(r, "message")) +
                      "</td></tr>\n";
    }
}

void ReadPage::Finish(const Json::Value& details, double xEnd) {
    const Json::Value& drive = details["drive"];
    for (const auto& [name, member, colour] :
         {std::tuple<const char*, const char*, const char*>{"warning", "warning temperature", "#f9a825"},
          {"critical", "critical temperature", "#c62828"}})
        if (!std::isnan(Value(drive, member))) temperature.lines.push_back({name, colour, Value(drive, member)});
    if (!std::isnan(spareThreshold)) wear.lines.push_back({"spare threshold", "#c62828", spareThreshold});
    wear.yFrom = 0, wear.yTo = 100;
    dataRate.yFrom = commandRate.yFrom = 0;
    static const char* const kColours[] = {"#2e7d32", "#d84315", "#c62828", "#6a1b9a",
                                           "#1565c0", "#00838f", "#455a64", "#8d6e63"};
    for (unsigned bit = 0; bit < 8; ++bit)
        if (warningSet[bit] > 0)
            warnings.series.push_back({"bit " + std::to_string(bit) + ": " + kavo::CriticalWarningMeaning(bit),
                                       kColours[bit], warningBits[bit]});
    if (warnings.series.empty()) {
        // No bit was set: bit 0 stands for all of them, flat at 0.
        warnings.series.push_back({"no bit set", "#2e7d32", warningBits[0]});
        if (warningBits[0].Count() > 0) warnings.note = "no critical warning bit was set in any sample";
    }
    warnings.yFrom = 0, warnings.yTo = 1;
    health.Fill(details["worst health status"], details["worst health reasons"]);
    temperatureGrade.Fill(details["worst temp status"], details["worst temp reasons"]);
    for (Chart* chart : Charts()) chart->xEnd = xEnd;
}

std::string VerdictSection(const Json::Value& summary, const ReadPage& page, size_t samples) {
    std::string html = "<section id=\"verdict\">\n<h2>Verdict</h2>\n<table>\n<tr><th>result</th><td>" +
                       Verdict(summary["_cmd"]) + " " + Html(Shown(summary["_cmd"]["message"])) + "</td></tr>\n";
    html += "<tr><th>failing samples</th><td>" + std::to_string(page.failures) + " of " + std::to_string(samples);
    if (page.failures > 0) html += " (<a href=\"#failures\">listed at the end</a>)";
    html += "</td></tr>\n<tr><th>health</th>" + GradeCell("health-grade", page.health) + "</tr>\n";
    html += "<tr><th>temperature</th>" + GradeCell("temp-grade", page.temperatureGrade) + "</tr>\n";
    return html + "</table>\n</section>\n";
}

std::string ProjectionSection(const ReadPage& page) {
    return "<section>\n<h2>Projection from this run</h2>\n<table id=\"projection\">\n"
           "<tr><th>wear</th><td id=\"wear-projection\">" + Html(page.wearTrend.Text()) + "</td></tr>\n"
           "<tr><th>written</th><td id=\"written-per-day\">" + Html(PerDayText(page.written, "written")) + "</td></tr>\n"
           "<tr><th>read</th><td id=\"read-per-day\">" + Html(PerDayText(page.read, "read")) + "</td></tr>\n"
           "</table>\n</section>\n";
}

}  // namespace

std::string ReadReport(const SummarySource& source) {
    ReadPage page;
    RunClock clock;
    Json::Value summary;
    source(summary, [&](const Json::Value& r) { page.Add(clock.Next(r["timestamp"]), r); });
    const Json::Value& details = summary["read details"];
    const Json::Value& drive = details["drive"];
    page.Finish(details, clock.last);

    std::string body = "<h1>quellix read report " + Verdict(summary["_cmd"]) + "</h1>\n<p class=\"subtitle\">" +
                       Html(kavo::JsonText(drive, "description")) + "</p>\n";
    body += "<div class=\"columns\">\n" + VerdictSection(summary, page, clock.records) + ProjectionSection(page) +
            "</div>\n<section id=\"by-parameter\">\n" +
            GroupTable("violations", "Rule violations by parameter", details["violations by parameter"]) +
            GroupTable("mismatches", "Compare mismatches by parameter", details["mismatches by parameter"]) +
            "</section>\n";
    body += "<div class=\"columns\">\n<section>\n<h2>Drive</h2>\n<table>\n";
    for (const char* member : {"model", "serial", "firmware", "size", "path", "host"}) body += Row(member, drive[member]);
    body += "</table>\n</section>\n<section>\n<h2>Run</h2>\n" + RunTable(summary, details, clock.records, "samples") +
            "</section>\n</div>\n";
    body += "<h2>Values over time</h2>\n<div class=\"charts\">\n";
    for (Chart* chart : page.Charts()) body += RenderChart(*chart);
    body += "</div>\n<h2>Failing samples</h2>\n";
    if (page.failures == 0) {
        body += "<p class=\"note\">None.</p>\n";
    } else {
        body += "<table id=\"failures\"><tr><th>sample time</th><th>message</th></tr>\n" + page.failed + "</table>\n";
        if (page.failures > kListedFailures)
            body += "<p class=\"note\">and " + std::to_string(page.failures - kListedFailures) +
                    " more failing samples</p>\n";
    }
    return Page("quellix read report", body);
}

}  // namespace report

const std::vector<std::string>& ReadReportSampleMembers() {
    // What ReadPage::Add and the failing-sample list read of a record.
    static const std::vector<std::string> members = {"numbers",     "health status", "health reasons",
                                                     "temp status", "temp reasons",  "return code",
                                                     "timestamp",   "message",       "run time"};
    return members;
}
