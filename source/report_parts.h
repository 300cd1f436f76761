#pragma once
// The pieces the report's pages share: values of summary records (numbers,
// or the figures of texts in summaries written before records had numbers),
// the run's time axis, tables, the verdict and the page around it.
#include <initializer_list>
#include <string>
#include <utility>

#include <json/value.h>

#include "report.h"
#include "report_chart.h"

namespace report {

// A value of a record: its number divided by `scale` (bytes to GB), or, in a
// record without numbers, the figure of its text, which showed that unit.
// NAN when the record lacks it.
double Value(const Json::Value& record, const char* name, double scale = 1);
// Whether a record has a value `name`: among its numbers, or, in a record
// without numbers, as a member.
bool HasFigure(const Json::Value& record, const char* name);
// The duration of a sample in milliseconds.
double SampleMilliseconds(const Json::Value& record);
// "2026-12-08 21:40:00.123" as seconds on a day count (no time zone: only
// differences count); NAN when it is no such text.
double TimeOf(const Json::Value& value);

// The time axis of a run: seconds since the first record's timestamp (the
// record's number where a timestamp cannot be read).
struct RunClock {
    double first = NAN, last = 0;
    size_t records = 0;
    double Next(const Json::Value& timestamp);
};

// A drive text as shown: its padding trimmed.
std::string Shown(const Json::Value& value);
// A table row of a name and a value ("-" for none).
std::string Row(const std::string& name, const Json::Value& value);
// The result badge: "PASS (exit code 0)".
std::string Verdict(const Json::Value& cmd);
// The table of the run: command file, description, times, records, message.
std::string RunTable(const Json::Value& summary, const Json::Value& details, size_t records, const char* recordName);
Chart MakeChart(const std::string& id, const std::string& title, const std::string& unit,
                std::initializer_list<std::pair<const char*, const char*>> series);
// The page around the sections.
std::string Page(const std::string& title, const std::string& body);

// The two pages.
std::string ReadReport(const SummarySource& source);
std::string SelfTestReport(const SummarySource& source);

}  // namespace report
