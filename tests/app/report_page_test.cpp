// What the report's pages answer: rates and projections from a run's own
// values, the read page's sections in the order an operator asks, the
// self-test page's drive, test, progress, thresholds and log, summaries
// written before records had numbers, and the summaries' members the pages
// read, as the program writes them.
#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <regex>

#include "base/kavo_json.h"
#include "base/kavo_text.h"
#include "report.h"
#include "report_trend.h"
#include "run_binary.h"

namespace fs = std::filesystem;

namespace {

// A read summary of records given as JSON texts; `details` is merged into
// its "read details".
std::string ReadSummaryText(const std::vector<std::string>& records, const std::string& details = "") {
    std::string text = R"({"_cmd": {"result": "FAIL", "return code": 21, "message": " Found errors"},
        "_settings": {"short description": "a <b>run</b>", "interval in ms": 1000},
        "command times": [], "read details": {)" + details + R"("sample": [)";
    for (size_t i = 0; i < records.size(); ++i) text += (i ? ",\n" : "\n") + records[i];
    return text + "]}}";
}

std::string DrawRead(const std::string& name, const std::string& summary) {
    const std::string dir = test::ScratchDirectory(name);
    kavo::WriteTextFile(dir + "/read.summary.json", summary);
    WriteReport(dir + "/read.summary.json", dir + "/read.report.html");
    return test::ReadFile(dir + "/read.report.html");
}

// The points of a chart's series as (x, y) in picture coordinates.
std::vector<std::pair<double, double>> SeriesPoints(const std::string& page, const std::string& chart,
                                                    const std::string& series) {
    const size_t svg = page.find("<svg class=\"chart\" id=\"" + chart + "\"");
    const size_t at = page.find("data-series=\"" + series + "\"", svg);
    std::vector<std::pair<double, double>> points;
    if (svg == std::string::npos || at == std::string::npos || at > page.find("</svg>", svg)) return points;
    const size_t from = page.find(" points=\"", at) + 9;
    const std::string list = page.substr(from, page.find('"', from) - from);
    const std::regex point("([-0-9.]+),([-0-9.]+)");
    for (std::sregex_iterator it(list.begin(), list.end(), point), end; it != end; ++it)
        points.emplace_back(std::stod((*it)[1]), std::stod((*it)[2]));
    return points;
}

// The order in which texts first appear on a page.
bool InOrder(const std::string& page, const std::vector<std::string>& texts) {
    size_t last = 0;
    for (const std::string& text : texts) {
        const size_t at = page.find(text);
        if (at == std::string::npos || at < last) return false;
        last = at;
    }
    return true;
}

}  // namespace

TEST(ReportTrend, RatesAreMeasuredBetweenSamplesApart) {
    const struct {
        const char* name;
        std::vector<std::pair<double, double>> samples;  // seconds, value
        std::vector<double> rates;                        // NAN: none
    } kCases[] = {
        {"steady", {{0, 0}, {1, 100}, {2, 300}}, {NAN, 100, 200}},
        {"samples closer than 20 ms wait for a later one", {{0, 0}, {0.001, 50}, {0.5, 100}}, {NAN, NAN, 200}},
        {"a counter that goes back starts afresh", {{0, 500}, {1, 600}, {2, 10}, {3, 20}}, {NAN, 100, NAN, 10}},
        {"a missing value is passed over", {{0, 0}, {1, NAN}, {2, 100}}, {NAN, NAN, 50}},
    };
    for (const auto& c : kCases) {
        report::Rate rate;
        for (size_t i = 0; i < c.samples.size(); ++i) {
            const double got = rate.Next(c.samples[i].first, c.samples[i].second);
            if (std::isnan(c.rates[i])) {
                EXPECT_TRUE(std::isnan(got)) << c.name << " sample " << i << ": " << got;
            } else {
                EXPECT_DOUBLE_EQ(got, c.rates[i]) << c.name << " sample " << i;
            }
        }
    }
}

TEST(ReportTrend, WearIsProjectedOnlyFromTwoRisesAtLeast) {
    constexpr double kDay = 86400;
    const struct {
        const char* name;
        std::vector<std::pair<double, double>> samples;  // seconds, percentage used
        double days;                                      // NAN: no projection
        const char* says;
    } kCases[] = {
        {"no values", {}, NAN, "no Percentage Used values"},
        {"unchanged", {{0, 3}, {2, 3}}, NAN, "stayed at 3 % for the 2.0 s of the run: too short"},
        {"one rise", {{0, 3}, {kDay, 4}, {2 * kDay, 4}}, NAN, "rose once, to 4 %"},
        // 1 % in the ten days from the first rise to the second: 95 % more takes 950 days.
        {"two rises", {{0, 3}, {kDay, 4}, {5 * kDay, 4}, {11 * kDay, 5}, {12 * kDay, 5}}, 950,
         "About 950.0 days until Percentage Used reaches 100 % (now 5 %; it rose 1 % in 10.0 days, 0.1 % a day)"},
        {"worn out", {{0, 99}, {kDay, 100}, {2 * kDay, 101}}, NAN, "is 101 %: the drive has reached the end"},
        {"went down", {{0, 7}, {kDay, 8}, {2 * kDay, 9}, {3 * kDay, 2}}, NAN, "went down during the run"},
    };
    for (const auto& c : kCases) {
        report::WearTrend wear;
        for (const auto& [seconds, used] : c.samples) wear.Add(seconds, used);
        if (std::isnan(c.days)) {
            EXPECT_TRUE(std::isnan(wear.DaysToEnd())) << c.name;
        } else {
            EXPECT_NEAR(wear.DaysToEnd(), c.days, 1e-9) << c.name;
        }
        EXPECT_NE(wear.Text().find(c.says), std::string::npos) << c.name << ": " << wear.Text();
    }
}

TEST(ReportTrend, DataPerDay) {
    const struct {
        const char* name;
        std::vector<std::pair<double, double>> samples;  // seconds, bytes
        const char* says;
    } kCases[] = {
        {"one sample", {{0, 5e12}}, "The run is too short to measure data written per day."},
        {"a day", {{0, 1e12}, {43200, 1.5e12}, {86400, 2e12}}, "1 TB written per day (1 TB in 24.0 h)."},
        {"a short run", {{0, 0}, {2, 2e9}}, "86.4 TB written per day (2 GB in 2.0 s); a run this short"},
        {"nothing written", {{0, 7e9}, {7200, 7e9}}, "No data written in the 2.0 h of the run."},
        {"counter went back", {{0, 7e9}, {10, 1e9}}, "went down during the run"},
    };
    for (const auto& c : kCases) {
        report::Span span;
        for (const auto& [seconds, bytes] : c.samples) span.Add(seconds, bytes);
        const std::string text = report::PerDayText(span, "written");
        EXPECT_NE(text.find(c.says), std::string::npos) << c.name << ": " << text;
    }
}

// The answers come first: the verdict with each grade's reasons, the
// projection, violations and mismatches by parameter with their first and
// last time; then the drive, the run, the charts and the failing samples.
TEST(ReportPages, ReadPageAnswersFirst) {
    std::vector<std::string> records;
    for (int i = 0; i < 6; ++i) {
        const bool failed = i == 2 || i == 4;
        const int warning = i >= 3 ? 4 : 0;  // reliability degraded from the fourth sample on
        records.push_back(
            R"({"timestamp": "2026-12-08 21:40:0)" + std::to_string(i) + R"(.000", "return code": )" +
            (failed ? "1" : "0") + R"(, "message": ")" + (failed ? "Sample failed verify" : "PASSED") +
            R"(", "health status": ")" + (warning ? "CRITICAL" : "GOOD") + R"(", "temp status": "GOOD",)" +
            (warning ? R"("health reasons": ["Critical Warning bit 2: <reliability> degraded"],)" : "") +
            R"("numbers": {"run time": 12, "Data Read": )" + std::to_string(1000000 * i) +
            R"(, "Data Written": 5000000000, "Host Read Commands": )" + std::to_string(100 * i) +
            R"(, "Host Write Commands": 7, "Percentage Used": 3, "Power On Hours": 2345, "Unsafe Shutdowns": 12,
                "Media and Data Integrity Errors": 0, "Number of Error Information Log Entries": )" +
            std::to_string(i) + R"(, "Critical Warnings": )" + std::to_string(warning) + "}}");
    }
    const std::string page = DrawRead("report-page-read", ReadSummaryText(records, R"J(
        "drive": {"model": "<script>Drive</script>  ", "serial": "S&N", "description": "DRIVE <x>"},
        "violations by parameter": {"Composite Temperature": {"count": 2, "last message": "too <hot>",
            "first time": "2026-12-08 21:40:02.000", "last time": "2026-12-08 21:40:04.000"}},
        "mismatches by parameter": {"Serial Number (SN)": {"count": 1, "last message": "differs"}},)J"));

    EXPECT_TRUE(InOrder(page, {"id=\"verdict\"", "id=\"health-grade\"", "id=\"wear-projection\"", "id=\"violations\"",
                               "id=\"mismatches\"", "<h2>Drive</h2>", "<svg", "id=\"failures\""}))
        << "answers before details, failing samples last";
    EXPECT_NE(page.find("<span class=\"grade CRITICAL\">CRITICAL</span><ul class=\"reasons\"><li>Critical Warning "
                        "bit 2: &lt;reliability&gt; degraded</li>"),
              std::string::npos);
    EXPECT_NE(page.find("<td class=\"n\">2</td><td class=\"t\">2026-12-08 21:40:02.000</td><td class=\"t\">2026-12-08 "
                        "21:40:04.000</td><td>too &lt;hot&gt;</td>"),
              std::string::npos)
        << "count, first and last time per parameter";
    EXPECT_NE(page.find("<td class=\"n\">1</td><td class=\"t\">-</td><td class=\"t\">-</td><td>differs</td>"), std::string::npos)
        << "a summary without times shows none";
    EXPECT_NE(page.find("2 of 6"), std::string::npos) << "failing samples counted in the verdict";
    EXPECT_NE(page.find("stayed at 3 % for the 5.0 s of the run: too short"), std::string::npos);
    EXPECT_NE(page.find("No data written in the 5.0 s of the run."), std::string::npos);
    EXPECT_NE(page.find("86.4 GB read per day (5 MB in 5.0 s)"), std::string::npos);
    for (const char* hostile : {"<script>", "<b>", "<x>", "S&N"}) EXPECT_EQ(page.find(hostile), std::string::npos) << hostile;

    // Rates beside totals, and the counters of errors, hours and warnings.
    EXPECT_EQ(SeriesPoints(page, "data-rate", "read").size(), 5u) << "a rate from the second sample on";
    EXPECT_EQ(SeriesPoints(page, "command-rate", "read").size(), 5u);
    for (const auto& [chart, series] : std::vector<std::pair<std::string, std::string>>{
             {"errors", "media errors"}, {"errors", "error log entries"}, {"errors", "unsafe shutdowns"},
             {"power-on-hours", "power-on hours"}, {"critical-warnings", "bit 2: reliability degraded"}})
        EXPECT_EQ(SeriesPoints(page, chart, series).size(), 6u) << chart << " / " << series;
    EXPECT_EQ(page.find("data-series=\"bit 0"), std::string::npos) << "only bits that were set";
}

// A summary of an older quellix: texts without numbers, no reasons, no
// times, no counters of errors; it still draws, from its texts.
TEST(ReportPages, ReadPageOfAnOlderSummary) {
    std::vector<std::string> records;
    for (int i = 0; i < 3; ++i)
        records.push_back(R"({"timestamp": "2026-12-08 21:4)" + std::to_string(i) +
                          R"J(:00.000", "return code": 0, "message": "PASSED", "run time": "1.20 Seconds (1.200)",
                          "Composite Temperature": "4)J" + std::to_string(i) + R"( C", "Percentage Used": "7 %",
                          "Data Written": "1,000.)" + std::to_string(i) + R"(00 GB", "health status": "SUSPECT"})");
    const std::string page = DrawRead("report-page-old", ReadSummaryText(records, R"(
        "worst health status": "SUSPECT", "violations by parameter": {},)"));
    EXPECT_EQ(SeriesPoints(page, "temperature", "Composite").size(), 3u);
    EXPECT_NE(page.find("stayed at 7 % for the 2 min of the run"), std::string::npos);
    EXPECT_NE(page.find("144 GB written per day (200 MB in 2 min)"), std::string::npos);
    EXPECT_NE(page.find("<span class=\"grade SUSPECT\">SUSPECT</span> <span class=\"note\">its reasons are not in "
                        "this summary"),
              std::string::npos)
        << "a grade without reasons";
    EXPECT_TRUE(SeriesPoints(page, "errors", "media errors").empty());
    EXPECT_NE(page.find("no values in this run"), std::string::npos);
}

// A summary without samples (a run stopped before its first) draws its
// charts empty and says so.
TEST(ReportPages, PagesOfRunsWithoutRecordsDraw) {
    const std::string page = DrawRead("report-page-empty", ReadSummaryText({}));
    EXPECT_EQ(test::CountLines(page, "no values in this run"), 10u) << "every chart";
    EXPECT_NE(page.find("The run has no Percentage Used values: no projection."), std::string::npos);
    EXPECT_NE(page.find("The run is too short to measure data written per day."), std::string::npos);
    EXPECT_NE(page.find("0 of 0"), std::string::npos);
}

namespace {

// A self-test summary with status entries given as JSON texts.
std::string DrawSelfTest(const std::string& name, const std::string& details, const std::vector<std::string>& entries,
                         const std::string& settings = "") {
    std::string text = R"({"_cmd": {"result": "PASS", "return code": 0, "message": " SELF-TEST PASSED"},
        "_settings": {"short description": "Short device self-test", "common": {"nvme path": "/dev/nvme0"})" +
                       settings + R"(}, "command times": [], "selftest details": {)" + details + R"("status": [)";
    for (size_t i = 0; i < entries.size(); ++i) text += (i ? ",\n" : "\n") + entries[i];
    const std::string dir = test::ScratchDirectory(name);
    kavo::WriteTextFile(dir + "/selftest.summary.json", text + "]}}");
    WriteReport(dir + "/selftest.summary.json", dir + "/selftest.report.html");
    return test::ReadFile(dir + "/selftest.report.html");
}

std::string Entry(int second, int percent, int status, int celsius) {
    return R"({"timestamp": "2026-12-08 21:40:0)" + std::to_string(second) + R"(.000", "percent complete": ")" +
           std::to_string(percent) + R"(", "status": )" + std::to_string(status) +
           R"(, "numbers": {"percent complete": )" + std::to_string(percent) + R"(, "Composite Temperature": )" +
           std::to_string(celsius) + "}}";
}

}  // namespace

TEST(ReportPages, SelfTestPageNamesTheDriveTestAndLog) {
    const std::string page = DrawSelfTest("report-page-selftest", R"(
        "test": "extended", "return code": 0, "log page 6 result": "0",
        "drive": {"model": "Fast <Drive> & Co  ", "serial": "SN1", "firmware": "FW2", "path": "/dev/nvme0",
                  "warning temperature": "84 C", "critical temperature": "88 C",
                  "numbers": {"warning temperature": 84, "critical temperature": 88}},
        "self-test log": [
            {"test": "Extended Test", "result": "Failed", "segment": "3", "power on hours": "2,345",
             "failing lba": "987,654,321", "numbers": {"result": 7}},
            {"test": "Short Test", "result": "Passed", "power on hours": "2,300", "numbers": {"result": 0}}],)",
                                          {Entry(0, 0, 0, 35), Entry(1, 40, 2, 37), Entry(2, 90, 2, 38),
                                           Entry(3, 0, 0, 36)},
                                          R"(, "extended self-test": false)");
    EXPECT_NE(page.find("Extended device self-test of Fast &lt;Drive&gt; &amp; Co, serial SN1, firmware FW2"),
              std::string::npos)
        << "the test that ran, whatever the description says";
    EXPECT_NE(page.find("<td>Short device self-test</td>"), std::string::npos) << "the description, as the command file's";
    // Progress on 0 to 100 %: 0 before the start, held at 100 % once the test has ended.
    EXPECT_NE(page.find("id=\"progress\" viewBox=\"0 0 640 250\" width=\"640\" height=\"250\" role=\"img\" "
                        "aria-label=\"Self-test progress\" data-y-min=\"0\" data-y-max=\"100\""),
              std::string::npos);
    const auto progress = SeriesPoints(page, "progress", "complete");
    ASSERT_EQ(progress.size(), 4u);
    EXPECT_DOUBLE_EQ(progress.front().second, 34 + 176) << "0 % at the bottom";
    EXPECT_DOUBLE_EQ(progress.back().second, 34) << "100 % at the top once complete";
    for (const char* line : {"data-threshold=\"warning\" data-value=\"84\"", "data-threshold=\"critical\" data-value=\"88\""})
        EXPECT_NE(page.find(line), std::string::npos) << line;
    EXPECT_NE(page.find("<td class=\"t\">Extended Test</td><td>Failed</td><td>The test completed with one or more failed segments"),
              std::string::npos);
    EXPECT_NE(page.find("<td>3</td><td>2,345</td><td>-</td><td>987,654,321</td>"), std::string::npos);
    EXPECT_NE(page.find("<td class=\"t\">Short Test</td><td>Passed</td>"), std::string::npos);
}

TEST(ReportPages, SelfTestPageOfAnOlderSummary) {
    // No "test", no drive, no log: the test type from the settings, -e included.
    const std::string page = DrawSelfTest("report-page-selftest-old", "", {Entry(0, 0, 0, 35), Entry(5, 0, 0, 36)},
                                          R"(, "extended self-test": true)");
    EXPECT_NE(page.find("<td id=\"test-type\">extended device self-test</td>"), std::string::npos);
    EXPECT_NE(page.find("<tr><th>path</th><td>/dev/nvme0</td></tr>"), std::string::npos);
    EXPECT_NE(page.find("id=\"selftest-log\">Not in this summary"), std::string::npos);
    EXPECT_EQ(SeriesPoints(page, "temperature", "Composite").size(), 2u);
    const std::string empty = DrawSelfTest("report-page-selftest-empty", "", {});
    EXPECT_EQ(test::CountLines(empty, "no values in this run"), 2u);
    EXPECT_NE(empty.find("<td id=\"test-type\">short device self-test</td>"), std::string::npos);
    const std::string dir = test::ScratchDirectory("report-page-selftest-unstarted");
    kavo::WriteTextFile(dir + "/selftest.summary.json", R"({"_cmd": {"result": "FAIL", "return code": 30,
        "message": "Device does NOT support self-test"}, "_settings": {}, "command times": []})");
    WriteReport(dir + "/selftest.summary.json", dir + "/selftest.report.html");
    EXPECT_NE(test::ReadFile(dir + "/selftest.report.html").find("Short device self-test: not started"),
              std::string::npos);
}

// The members the pages read, as the program writes them.
TEST(ReportPages, SummariesCarryWhatThePagesShow) {
    const std::string dir = test::ScratchDirectory("report-page-runs");
    test::WriteFile(dir + "/worn.json", R"({"smart": {"PUSED": 95, "MEDIA": 2, "CW": "0x04", "UNSAFE": 12}})");
    test::WriteFile(dir + "/hot.rules.json", R"({"rules": ["'Composite Temperature' < 20 C"]})");
    auto run = test::RunRead(dir, Json::Value(), "-n sim:worn.json -s 3 -i 0 -r hot -d read");
    ASSERT_EQ(run.exitCode, 22) << run.output;
    const Json::Value details = test::ReadJson(dir + "/read/read.summary.json")["read details"];
    EXPECT_EQ(details["worst health status"].asString(), "CRITICAL");
    EXPECT_EQ(details["worst health reasons"][0].asString(), "Critical Warning bit 2: reliability degraded");
    EXPECT_TRUE(details["worst temp reasons"].isArray());
    const Json::Value& violation = details["violations by parameter"]["Composite Temperature"];
    EXPECT_EQ(violation["count"].asUInt(), 3u);
    EXPECT_EQ(violation["first time"], details["sample"][0]["timestamp"]);
    EXPECT_EQ(violation["last time"], details["sample"][2]["timestamp"]);
    const Json::Value& record = details["sample"][1];
    EXPECT_EQ(record["health reasons"], details["worst health reasons"]);
    EXPECT_EQ(record["temp reasons"], Json::Value(Json::arrayValue)) << "no reasons: an empty list";
    for (const auto& [member, text, number] : std::vector<std::tuple<const char*, const char*, uint64_t>>{
             {"Critical Warnings", "Yes (0x04)", 4}, {"Media and Data Integrity Errors", "2", 2},
             {"Unsafe Shutdowns", "12", 12}, {"Number of Error Information Log Entries", "0", 0}}) {
        EXPECT_EQ(record[member].asString(), text) << member;
        EXPECT_EQ(record["numbers"][member].asUInt64(), number) << member;
    }
    EXPECT_TRUE(record["numbers"]["Power On Hours"].isIntegral());

    // A short command file run with -e: an extended test, and the drive and its log in the summary.
    test::WriteJson(dir + "/selftest.cmd.json", test::SelfTestCommand());
    test::WriteFile(dir + "/fails.json", R"({"identify controller": {"MN": "Model <M>", "SN": "SERIAL9"},
        "self-test": {"extended seconds": 2, "result": 7, "segment": 3, "failing lba": 4096,
                      "history": [{"result": 0, "code": 1, "power on hours": 10}]}})");
    auto selfTest = test::RunQuellix(dir, "selftest -e -n sim:fails.json -d test");
    ASSERT_EQ(selfTest.exitCode, 33) << selfTest.output;
    const Json::Value test = test::ReadJson(dir + "/test/selftest.summary.json")["selftest details"];
    EXPECT_EQ(test["test"].asString(), "extended");
    EXPECT_EQ(kavo::Trim(test["drive"]["model"].asString()), "Model <M>");
    EXPECT_EQ(kavo::Trim(test["drive"]["serial"].asString()), "SERIAL9");
    EXPECT_EQ(test["drive"]["numbers"]["warning temperature"].asInt(), 84);
    ASSERT_EQ(test["self-test log"].size(), 2u);
    const Json::Value& newest = test["self-test log"][0];
    EXPECT_EQ(newest["test"].asString(), "Extended Test");
    EXPECT_EQ(newest["result"].asString(), "Failed");
    EXPECT_EQ(newest["segment"].asString(), "3");
    EXPECT_EQ(newest["numbers"]["failing lba"].asUInt64(), 4096u);
    EXPECT_EQ(test["self-test log"][1]["power on hours"].asString(), "10");
    const std::string page = test::ReadFile(dir + "/test/selftest.report.html");
    EXPECT_NE(page.find("Extended device self-test of Model &lt;M&gt;, serial SERIAL9"), std::string::npos);
}
