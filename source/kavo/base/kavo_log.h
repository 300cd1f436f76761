#pragma once
// Logging: a main logger (trace file, then console) and a trace logger (trace
// file only), each with its own severity filter. Everything the user sees is
// a log record; the console shows the bare message, the trace file adds a
// time stamp and, for records other than info and debug, the severity and
// the function that logged it.
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include <spdlog/formatter.h>

namespace kavo {

// Severity numbers as the trace file and the -v / -x options know them.
enum class Severity : int { None = 0, Fatal = 1, Error = 2, Warning = 3, Info = 4, Debug = 5, Verbose = 6 };

// Console layout: the message and a line feed, nothing else.
class KavoFormatter : public spdlog::formatter {
public:
    static std::string Header() { return ""; }
    void format(const spdlog::details::log_msg& msg, spdlog::memory_buf_t& dest) override;
    std::unique_ptr<spdlog::formatter> clone() const override;
};

// Trace file layout: "[YYYY-MM-DD HH:MM:SS.mmm]  " then, for severities other
// than info and debug, "NAME  [function@line] ", then the message.
class KavoTxtFormatter : public spdlog::formatter {
public:
    static std::string Header() { return ""; }
    void format(const spdlog::details::log_msg& msg, spdlog::memory_buf_t& dest) override;
    std::unique_ptr<spdlog::formatter> clone() const override;
};

// Creates both loggers at severity info, the trace file being
// "quellix.trace.log" in the current directory; an old file of that name is
// replaced at the first record.
void StartLogging();
// Both loggers without a trace file: records reach the console only. For
// requests that must leave no file behind (the drive list).
void StartConsoleLogging(Severity maximum);
// Makes `path` the trace file; the next record replaces a file of that
// name and opens it.
void SwitchTraceFile(const std::string& path);
// Records reach the console only from now on.
void StopTraceFile();
// Sets the maximum severity of both loggers.
void SetLogSeverity(Severity maximum);
bool LogEnabled(Severity severity);
void LogMessage(Severity severity, const std::string& function, int line, const std::string& text);
// The trace logger alone: reaches the trace file, never the console.
void LogTraceOnly(Severity severity, const std::string& function, int line, const std::string& text);
// Flushes and closes the trace file (tests and process end).
void StopLogging();
// What StartLogging and records of severity info would leave in
// "quellix.trace.log" and on the console, written without any logger: for
// requests that log nothing else (help, usage), where starting the loggers
// would be most of the run.
void WriteInfoRecordsAlone(const std::vector<const char*>& lines);

// "bool kavo::GetNvmeInfo(kavo::DriveHandle&, ...)" -> "kavo::GetNvmeInfo".
std::string QualifiedFunctionName(const char* prettyFunction);

// While one lives, records are written without a flush each; the last one
// to end flushes the console and the trace file. For bursts of lines that
// are written whole or not at all (the usage text), where a flush per line
// is most of the cost.
class LogBatch {
public:
    LogBatch();
    ~LogBatch();
    LogBatch(const LogBatch&) = delete;
    LogBatch& operator=(const LogBatch&) = delete;
};

// One record built with stream syntax, logged when it goes out of scope.
class LogRecord {
public:
    LogRecord(Severity severity, std::string function, int line, bool traceOnly = false)
        : severity_(severity), function_(std::move(function)), line_(line), traceOnly_(traceOnly) {}
    LogRecord(const LogRecord&) = delete;
    LogRecord& operator=(const LogRecord&) = delete;
    ~LogRecord();
    std::ostream& stream() { return stream_; }

private:
    Severity severity_;
    std::string function_;
    int line_;
    bool traceOnly_;
    std::ostringstream stream_;
};

}  // namespace kavo

// KLOG(Info) << "text";  records the calling function's qualified name.
// The one-pass loop keeps the macro safe inside an unbraced if / else.
#define KLOG(sev)                                                                               \
    for (bool kavoLogOnce = ::kavo::LogEnabled(::kavo::Severity::sev); kavoLogOnce; kavoLogOnce = false) \
    ::kavo::LogRecord(::kavo::Severity::sev, ::kavo::QualifiedFunctionName(__PRETTY_FUNCTION__), __LINE__).stream()

// KLOG_AS(Error, "WIN_IOCTL_STORAGE_QUERY_PROPERTY") << ...;  an explicit source name.
#define KLOG_AS(sev, name)                                                                      \
    for (bool kavoLogOnce = ::kavo::LogEnabled(::kavo::Severity::sev); kavoLogOnce; kavoLogOnce = false) \
    ::kavo::LogRecord(::kavo::Severity::sev, (name), __LINE__).stream()
