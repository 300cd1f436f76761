// The self-test report: which test ran on which drive and how it ended, its
// progress and the temperature against the drive's thresholds, and the
// drive's self-test log.
#include <cmath>
#include <tuple>

#include "base/kavo_json.h"
#include "report_parts.h"

namespace report {
namespace {

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
        "The test completed with one or more failed segments; the segment number names the first.",
        "The test was aborted for an unknown reason.",
        "The test was aborted by a sanitize operation."};
    return code < 10 ? kMeanings[code] : "The drive reported a reserved result code.";
}

// "extended" or "short": the test the run started. Summaries written before
// the run recorded it have the command's settings, -e included.
std::string TestType(const Json::Value& summary) {
    const Json::Value& test = summary["selftest details"]["test"];
    if (test.isString()) return test.asString();
    return kavo::JsonBool(summary["_settings"], "extended self-test") ? "extended" : "short";
}

// The progress of a status entry in percent. The drive reports completion
// only while the test runs: an entry after the start whose operation is 0
// (no test in progress) is one of a test that has ended, drawn as 100 %.
double Progress(const Json::Value& entry, size_t index, bool& ended) {
    const Json::Value& status = entry["status"];
    if (index > 0 && status.isIntegral() && status.asInt() == 0) ended = true;
    return ended ? 100 : Value(entry, "percent complete");
}

std::string LogCell(const Json::Value& entry, const char* member, const char* cellClass = "") {
    return std::string("<td") + (*cellClass ? " class=\"" + std::string(cellClass) + "\"" : "") + ">" +
           Html(Shown(entry[member])) + "</td>";
}

// Every entry of the drive's self-test log as the test left it.
std::string SelfTestLogTable(const Json::Value& log) {
    std::string html = "<h2>Self-test log of the drive</h2>\n";
    if (!log.isArray())
        return html + "<p class=\"note\" id=\"selftest-log\">Not in this summary: it was written before quellix "
                      "recorded the self-test log, or the test ended before it was read.</p>\n";
    if (log.empty()) return html + "<p class=\"note\" id=\"selftest-log\">The drive's self-test log is empty.</p>\n";
    html += "<table id=\"selftest-log\"><tr><th>#</th><th>test</th><th>result</th><th>meaning</th><th>segment</th>"
            "<th>power-on hours</th><th>namespace</th><th>failing LBA</th><th>status code type / code</th></tr>\n";
    unsigned number = 0;
    for (const Json::Value& entry : log) {
        const Json::Value& code = entry["numbers"]["result"];
        std::string status = "-";
        if (entry.isMember("status code type") || entry.isMember("status code"))
            status = Shown(entry["status code type"]) + " / " + Shown(entry["status code"]);
        html += "<tr><td class=\"n\">" + std::to_string(++number) + "</td>" + LogCell(entry, "test", "t") +
                LogCell(entry, "result") + "<td>" +
                Html(code.isIntegral() ? SelfTestMeaning(code.asUInt()) : "-") + "</td>" + LogCell(entry, "segment") +
                LogCell(entry, "power on hours") + LogCell(entry, "namespace") + LogCell(entry, "failing lba") +
                "<td>" + Html(status) + "</td></tr>\n";
    }
    return html + "</table>\n<p class=\"note\">Newest first; the drive keeps its last 20 results.</p>\n";
}

std::string ResultTable(const Json::Value& summary, const std::string& test) {
    const Json::Value& details = summary["selftest details"];
    const Json::Value& drive = details["drive"];
    std::string html = "<table>\n<tr><th>test</th><td id=\"test-type\">" + Html(test) + " device self-test</td></tr>\n";
    for (const char* member : {"model", "serial", "firmware"})
        if (drive.isMember(member)) html += Row(member, drive[member]);
    html += Row("path", drive.isMember("path") ? drive["path"] : summary["_settings"]["common"]["nvme path"]);
    if (details.isMember("log page 6 result")) {
        unsigned code = static_cast<unsigned>(details["return code"].asUInt());
        html += Row("result code", details["log page 6 result"]);
        html += "<tr><th>meaning</th><td id=\"meaning\">" + Html(SelfTestMeaning(code)) + "</td></tr>\n";
    }
    for (const char* member : {"failing segment", "failing lba", "failing namespace", "log page 6 power on hours",
                               "run time estimate"})
        if (details.isMember(member)) html += Row(member, details[member]);
    return html + "</table>\n";
}

}  // namespace

std::string SelfTestReport(const SummarySource& source) {
    Chart progress = MakeChart("progress", "Self-test progress", "% complete", {{"complete", "#1565c0"}});
    progress.yFrom = 0, progress.yTo = 100;
    Chart temperature = MakeChart("temperature", "Temperature", "C", {{"Composite", "#d84315"}});
    RunClock clock;
    bool ended = false;
    Json::Value summary;
    source(summary, [&](const Json::Value& e) {
        const size_t index = clock.records;
        double x = clock.Next(e["timestamp"]);
        progress.series[0].values.Add(x, Progress(e, index, ended));
        temperature.series[0].values.Add(x, Value(e, "Composite Temperature"));
    });
    progress.xEnd = temperature.xEnd = clock.last;
    const Json::Value& details = summary["selftest details"];
    const Json::Value& drive = details["drive"];
    for (const auto& [name, member, colour] :
         {std::tuple<const char*, const char*, const char*>{"warning", "warning temperature", "#f9a825"},
          {"critical", "critical temperature", "#c62828"}})
        if (!std::isnan(Value(drive, member))) temperature.lines.push_back({name, colour, Value(drive, member)});
    const std::string test = TestType(summary);

    std::string title = test == "extended" ? "Extended device self-test" : "Short device self-test";
    if (drive.isMember("model")) title += " of " + Shown(drive["model"]) + ", serial " + Shown(drive["serial"]) +
                                           ", firmware " + Shown(drive["firmware"]);
    if (!details.isObject()) title += ": not started";  // the drive could not run it
    std::string body = "<h1>quellix self-test report " + Verdict(summary["_cmd"]) + "</h1>\n<p class=\"subtitle\">" +
                       Html(title) + "</p>\n<div class=\"columns\">\n<section id=\"verdict\">\n<h2>Result</h2>\n" +
                       ResultTable(summary, test) + "</section>\n<section>\n<h2>Run</h2>\n" +
                       RunTable(summary, details, clock.records, "status entries") + "</section>\n</div>\n";
    body += "<h2>Progress and temperature</h2>\n<div class=\"charts\">\n" + RenderChart(progress) +
            RenderChart(temperature) + "</div>\n";
    body += SelfTestLogTable(details["self-test log"]);
    return Page("quellix self-test report", body);
}

}  // namespace report
