// The report's pieces: bounded series that keep their peaks, axis ticks,
// report names, the summary read a record at a time, and the pages of runs.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <regex>
#include <set>

#include "base/kavo_errors.h"
#include "base/kavo_json.h"
#include "report.h"
#include "report_chart.h"
#include "run_binary.h"
#include "summary_reader.h"

namespace fs = std::filesystem;

TEST(ReportChart, LongSeriesKeepTheirPeaksInBoundedPoints) {
    MinMaxSeries series(50);
    for (int i = 0; i < 100000; ++i) series.Add(i, std::sin(i / 1000.0) + (i == 77777 ? 10 : 0) - (i == 33 ? 10 : 0));
    std::vector<std::pair<double, double>> points = series.Points();
    EXPECT_LE(points.size(), 200u);
    EXPECT_EQ(series.Count(), 100000u);
    double low = 1e9, high = -1e9;
    for (size_t i = 0; i < points.size(); ++i) {
        low = std::min(low, points[i].second), high = std::max(high, points[i].second);
        if (i > 0) {
            EXPECT_LE(points[i - 1].first, points[i].first) << "points in time order";
        }
    }
    EXPECT_NEAR(high, 10 + std::sin(77.777), 1e-9) << "the one peak sample survives";
    EXPECT_NEAR(low, -10 + std::sin(0.033), 1e-9);
    MinMaxSeries few;
    for (int i = 0; i < 7; ++i) few.Add(i, i);
    few.Add(8, NAN);  // a sample without the value
    EXPECT_EQ(few.Points().size(), 7u) << "short series are drawn sample by sample";
}

TEST(ReportChart, TicksAndLabels) {
    EXPECT_EQ(Ticks(31, 44, 5), (std::vector<double>{30, 35, 40, 45}));
    EXPECT_EQ(Ticks(0, 1, 4), (std::vector<double>{0, 0.25, 0.5, 0.75, 1}));
    EXPECT_EQ(Ticks(5, 5, 5).size(), 6u) << "a flat series still gets an axis";
    EXPECT_EQ(TimeLabel(90, 30), "90 s");
    EXPECT_EQ(TimeLabel(900, 300), "15 min");
    EXPECT_EQ(TimeLabel(7200, 3600), "2 h");
    EXPECT_EQ(TimeLabel(3, 0.5), "3 s") << "a test of a few seconds in seconds, not \"3000 ms\"";
    EXPECT_EQ(TimeLabel(0.35, 0.05), "350 ms");
    EXPECT_EQ(Html("<a href=\"x\">&</a>"), "&lt;a href=&quot;x&quot;&gt;&amp;&lt;/a&gt;");
    EXPECT_EQ(ReportPathFor("/d/read.summary.json"), "/d/read.report.html");
    EXPECT_EQ(ReportPathFor("/d/selftest.summary.json"), "/d/selftest.report.html");
    EXPECT_EQ(ReportPathFor("/d/read.summary.interrupted-20261208-214000.json"),
              "/d/read.report.interrupted-20261208-214000.html");
}

// Charts whose values are all equal, huge (beyond a double's exact integers),
// or missing still draw a value axis: a constant series of 2^60 host commands
// or an all-FFh SMART page ended the run without a report, and values a few
// apart near 2^60 never finished their ticks.
TEST(ReportChart, ConstantHugeOrMissingValuesDraw) {
    const double huge = std::ldexp(1.0, 60), widest = std::ldexp(1.0, 128) * 512000;
    const struct {
        const char* name;
        std::vector<double> values;
    } kCases[] = {
        {"constant 2^60", {huge, huge, huge}},
        {"constant all-FFh data units in bytes", {widest, widest}},
        {"2^60 and 300 more", {huge, huge + 300, huge}},
        {"constant 1e300", {1e300, 1e300}},
        {"constant zero", {0, 0, 0}},
        {"constant negative", {-40, -40}},
        {"one value", {7}},
        {"no values", {}},
    };
    for (const auto& c : kCases) {
        Chart chart;
        chart.id = "c", chart.title = c.name, chart.unit = "commands";
        chart.series.push_back({"read", "#000", MinMaxSeries()});
        for (size_t i = 0; i < c.values.size(); ++i) chart.series[0].values.Add(static_cast<double>(i), c.values[i]);
        std::string svg;
        ASSERT_NO_THROW(svg = RenderChart(chart)) << c.name;
        EXPECT_GE(test::CountLines(svg, "class=\"grid\""), 2u) << c.name << ": a value axis with ticks";
        for (const char* bad : {"nan", "inf"}) EXPECT_EQ(svg.find(bad), std::string::npos) << c.name << ": " << bad;
        std::set<std::string> labels;
        const std::regex valueLabel("text-anchor=\"end\">([^<]*)</text>");
        size_t count = 0;
        for (std::sregex_iterator it(svg.begin(), svg.end(), valueLabel), end; it != end; ++it, ++count)
            labels.insert((*it)[1]);
        EXPECT_EQ(labels.size(), count) << c.name << ": every value label differs from its neighbours";
        if (c.values.empty()) continue;
        const double low = *std::min_element(c.values.begin(), c.values.end());
        const double high = *std::max_element(c.values.begin(), c.values.end());
        const std::vector<double> ticks = Ticks(low, high, 5);
        ASSERT_GE(ticks.size(), 2u) << c.name;
        EXPECT_LE(ticks.size(), 12u) << c.name;
        EXPECT_LE(ticks.front(), low) << c.name;
        EXPECT_GE(ticks.back(), high) << c.name;
        EXPECT_TRUE(std::is_sorted(ticks.begin(), ticks.end()) &&
                    std::adjacent_find(ticks.begin(), ticks.end()) == ticks.end())
            << c.name << ": distinct ascending ticks";
    }
    EXPECT_GE(Ticks(NAN, INFINITY, 5).size(), 2u) << "values that are not numbers draw an axis of their own";
}

// The same through the program: a drive whose host read and write commands
// stay at 2^60, and one whose SMART page is all FFh, draw their reports, at
// the end of the run and again with --report.
TEST(ReportRuns, ConstantHugeCountersDrawTheirReports) {
    const std::string dir = test::ScratchDirectory("report-huge");
    test::WriteJson(dir + "/read.cmd.json", test::ReadCommand());
    const std::string still = R"("growth per read": {"DUR": 0, "DUW": 0, "HRC": 0, "HWC": 0, "CBT": 0, "POH": 0})";
    test::WriteFile(dir + "/equal.json", R"({"smart": {"HRC": "1152921504606846976", "HWC": "1152921504606846976"}, )" +
                                             still + "}");
    std::string ff;
    for (int i = 0; i < 512; ++i) ff += "FF ";
    test::WriteFile(dir + "/ff.json", R"({"smart": {"raw": ")" + ff + "\"}, " + still + "}");
    for (const char* drive : {"equal", "ff"}) {
        const std::string run = std::string(drive) + "-run";
        auto result = test::RunQuellix(dir, std::string("-n sim:") + drive + ".json -s 3 -i 0 -d " + run);
        EXPECT_EQ(result.exitCode, 0) << drive << "\n" << result.output;
        EXPECT_NE(result.output.find("[PASS]"), std::string::npos) << drive;
        const std::string report = dir + "/" + run + "/read.report.html";
        ASSERT_TRUE(fs::exists(report)) << drive;
        fs::remove(report);
        EXPECT_EQ(test::RunQuellix(dir, "--report " + run).exitCode, 0) << drive;
        EXPECT_TRUE(fs::exists(report)) << drive;
    }
}

TEST(ReportRuns, SummariesAreReadARecordAtATimeAndDrawn) {
    std::string dir = test::ScratchDirectory("report-runs");
    test::WriteJson(dir + "/read.cmd.json", test::ReadCommand());
    // One sample draws no report; several do, unless "report" is false.
    ASSERT_EQ(test::RunQuellix(dir, "-n sim -d one").exitCode, 0);
    EXPECT_FALSE(fs::exists(dir + "/one/read.report.html"));
    auto run = test::RunQuellix(dir, "-n sim -d many -s 5 -i 0");
    ASSERT_EQ(run.exitCode, 0) << run.output;
    EXPECT_NE(run.output.find(" Report File         " + dir + "/many/read.report.html"), std::string::npos);
    std::string page = test::ReadFile(dir + "/many/read.report.html");
    EXPECT_NE(page.find("data-series=\"Composite\" data-points=\"5\""), std::string::npos);
    EXPECT_EQ(page.find("<script"), std::string::npos) << "no scripts";
    EXPECT_EQ(page.find("http"), std::string::npos) << "nothing fetched";

    Json::Value summary, whole;
    std::vector<Json::Value> records;
    ReadSummary(dir + "/many/read.summary.json", summary, [&](const Json::Value& r) { records.push_back(r); });
    kavo::ReadJsonFile(dir + "/many/read.summary.json", whole);
    ASSERT_EQ(records.size(), 5u);
    EXPECT_EQ(records[4], whole["read details"]["sample"][4]);
    EXPECT_FALSE(summary.isMember("command times"));
    EXPECT_EQ(summary["_cmd"], whole["_cmd"]);

    // Drawn again from the folder; off with "report": false.
    fs::remove(dir + "/many/read.report.html");
    auto again = test::RunQuellix(dir, "--report many");
    EXPECT_EQ(again.exitCode, 0) << again.output;
    // The run drew its page from its journal, reading only the members the
    // page shows; from the summary it is the same page, but for the run's
    // end, which the summary states after the page was drawn.
    auto withoutEnd = [](std::string html) {
        const size_t at = html.find("<th>end</th><td>");
        if (at != std::string::npos) html.erase(at, html.find("</td>", at) - at);
        return html;
    };
    EXPECT_EQ(withoutEnd(test::ReadFile(dir + "/many/read.report.html")), withoutEnd(page));
    EXPECT_EQ(test::RunQuellix(dir, "--report one/none").exitCode, 16);
    Json::Value off;
    off["report"] = false;
    test::WriteJson(dir + "/read.cmd.json", test::ReadCommand(off));
    ASSERT_EQ(test::RunQuellix(dir, "-n sim -d off -s 3 -i 0").exitCode, 0);
    EXPECT_FALSE(fs::exists(dir + "/off/read.report.html"));
    off["report"] = "yes";
    test::WriteJson(dir + "/read.cmd.json", test::ReadCommand(off));
    EXPECT_EQ(test::RunQuellix(dir, "-n sim -d bad -s 3 -i 0").exitCode, 16);
}

// The command records are passed over in blocks: wherever the array's closing
// line falls against a block's end, the summary reads on after it; a summary
// cut off inside the array is refused.
TEST(ReportRuns, SkippedCommandRecordsEndWhereverTheBlocksFall) {
    const std::string dir = test::ScratchDirectory("report-skip");
    const std::string head = "{\n\t\"_cmd\" : \n\t{\n\t\t\"result\" : \"PASS\"\n\t},\n\t\"command times\" : \n";
    const std::string tail = "\n\t],\n\t\"read details\" : \n\t{\n\t\t\"sample\" : \n\t\t[\n\t\t\t{\n\t\t\t\t\"n\" : 7\n"
                             "\t\t\t}\n\t\t]\n\t}\n}\n";
    const size_t block = 1 << 16;
    for (size_t shift = 0; shift < 6; ++shift) {
        // The closing "\n\t]" starts a few bytes before, at or after a block's end.
        std::string array = "\t[\n\t\t{\n\t\t\t\"x\" : \"";
        const size_t filler = block - 3 + shift - array.size() - std::string("\"\n\t\t}").size();
        array += std::string(filler, 'a') + "\"\n\t\t}";
        const std::string path = dir + "/summary-" + std::to_string(shift) + ".json";
        kavo::WriteTextFile(path, head + array + tail);
        Json::Value summary;
        std::vector<Json::Value> records;
        ASSERT_NO_THROW(ReadSummary(path, summary, [&](const Json::Value& r) { records.push_back(r); })) << shift;
        ASSERT_EQ(records.size(), 1u) << shift;
        EXPECT_EQ(records[0]["n"].asInt(), 7) << shift;
        EXPECT_EQ(summary["_cmd"]["result"].asString(), "PASS") << shift;
        EXPECT_TRUE(summary["read details"].isObject()) << shift;
        kavo::WriteTextFile(path, head + array);
        EXPECT_THROW(ReadSummary(path, summary, [](const Json::Value&) {}), kavo::KavoError) << shift;
    }
}
