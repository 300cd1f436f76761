#pragma once
// The report of a run: one self-contained HTML page (inline SVG and CSS, no
// scripts, nothing fetched) that shows the drive, the run and how the drive's
// values moved, drawn from the run's summary.
#include <functional>
#include <string>
#include <vector>

#include <json/value.h>

// Where a report's data comes from: the summary without its sample records
// into `document`, and each sample record handed to `sample` in order.
using SummarySource = std::function<void(Json::Value& document, const std::function<void(const Json::Value&)>& sample)>;

// Writes the report of the summary at `summaryPath` to `reportPath`,
// atomically. The summary is read a record at a time, so a run of any length
// can be drawn. Raises KavoError when the summary cannot be read.
void WriteReport(const std::string& summaryPath, const std::string& reportPath);
// The same from another source: a run draws its report from its journal.
void WriteReport(const SummarySource& source, bool selfTest, const std::string& reportPath);
// The members of a read run's sample records that its report draws (the
// parameters it charts come from "numbers"): a run reading its journal for
// the report needs no others.
const std::vector<std::string>& ReadReportSampleMembers();
// The report's file name beside a summary: "read.report.html" beside
// "read.summary.json", "selftest.report.html" beside "selftest.summary.json".
std::string ReportPathFor(const std::string& summaryPath);
// `quellix --report DIR`: draws the report of every summary in DIR; 0 when
// one was drawn, 16 when DIR holds no summary.
int ReportCommand(const std::string& directory);
