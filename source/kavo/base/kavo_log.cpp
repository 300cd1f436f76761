// Loggers, sinks and the two line layouts.
#include "base/kavo_log.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string_view>

#include <spdlog/logger.h>
#include <spdlog/sinks/base_sink.h>

#include "base/kavo_text.h"
#include "base/platform.h"

namespace kavo {
namespace {

const char* const kTraceFileName = "quellix.trace.log";

spdlog::level::level_enum ToSpdlog(Severity severity) {
    switch (severity) {
        case Severity::Verbose: return spdlog::level::trace;
        case Severity::Debug: return spdlog::level::debug;
        case Severity::Info: return spdlog::level::info;
        case Severity::Warning: return spdlog::level::warn;
        case Severity::Error: return spdlog::level::err;
        case Severity::Fatal: return spdlog::level::critical;
        default: return spdlog::level::off;
    }
}

const char* SeverityName(spdlog::level::level_enum level) {
    switch (level) {
        case spdlog::level::critical: return "FATAL";
        case spdlog::level::err: return "ERROR";
        case spdlog::level::warn: return "WARN";
        case spdlog::level::info: return "INFO";
        case spdlog::level::debug: return "DEBUG";
        case spdlog::level::trace: return "VERB";
        default: return "NONE";
    }
}

// Appends to an spdlog buffer or a string alike.
template <typename Buffer>
void Append(Buffer& dest, std::string_view text) {
    dest.append(text.data(), text.data() + text.size());
}

// "[2026-12-09 05:12:16.641]  ", the start of every trace line.
template <typename Buffer>
void AppendTraceTime(Buffer& dest, std::chrono::system_clock::time_point time) {
    using namespace std::chrono;
    std::time_t seconds = system_clock::to_time_t(time);
    auto millis = duration_cast<milliseconds>(time.time_since_epoch()).count() % 1000;
    if (millis < 0) millis += 1000;
    dest.push_back('[');
    Append(dest, LocalDateTimeOf(seconds).text);  // a trace line carries no DST mark
    dest.push_back('.');
    const int ms = static_cast<int>(millis);
    dest.push_back(static_cast<char>('0' + ms / 100));
    dest.push_back(static_cast<char>('0' + ms / 10 % 10));
    dest.push_back(static_cast<char>('0' + ms % 10));
    Append(dest, "]  ");
}

// A formatted trace record with the platform's line ends.
template <typename Buffer>
void AppendNativeLines(std::string& out, const Buffer& formatted) {
    static const std::string_view lineEnd = platform::NativeLineEnd();
    if (lineEnd == "\n") {
        out.append(formatted.begin(), formatted.end());
        return;
    }
    for (char c : formatted) {
        if (c == '\n') Append(out, lineEnd); else out += c;
    }
}

// The start of a new trace file: the UTF-8 byte order mark and the
// formatter's header, which is empty.
std::string TraceFileStart() { return "\xEF\xBB\xBF" + KavoTxtFormatter::Header(); }

int& OpenBatches() {
    static int open = 0;
    return open;
}

// Writes records to the trace file. The file is opened at the first record
// after start-up or after a switch, in append mode; a new file first gets the
// formatter's header, which is empty, so only the UTF-8 byte order mark. A
// file to be replaced is removed only then: a run that ends before its first
// record (one that finds its folder in use) leaves the old file alone.
class TraceFileSink : public spdlog::sinks::base_sink<std::mutex> {
public:
    // The sinks bring their own formatters, so no default pattern is built.
    TraceFileSink(std::string path, bool replace)
        : base_sink(std::make_unique<KavoTxtFormatter>()), path_(std::move(path)), replace_(replace) {}
    ~TraceFileSink() override { Close(); }

    void SetFileName(const std::string& path, bool replace) {
        std::lock_guard<std::mutex> lock(mutex_);
        Close();
        path_ = path;
        replace_ = replace;
    }
    void CloseFile() {
        std::lock_guard<std::mutex> lock(mutex_);
        Close();
    }

protected:
    void sink_it_(const spdlog::details::log_msg& msg) override {
        if (file_ == nullptr && !Open()) return;
        spdlog::memory_buf_t formatted;
        formatter_->format(msg, formatted);
        static const bool newlineIsNative = std::string_view(platform::NativeLineEnd()) == "\n";
        if (newlineIsNative) {
            std::fwrite(formatted.data(), 1, formatted.size(), file_);
        } else {
            std::string converted;  // "\r\n" for each "\n"
            AppendNativeLines(converted, formatted);
            std::fwrite(converted.data(), 1, converted.size(), file_);
        }
        if (OpenBatches() == 0) std::fflush(file_);
    }
    void flush_() override {
        if (file_ != nullptr) std::fflush(file_);
    }

private:
    bool Open() {
        if (path_.empty()) return false;  // console-only logging
        if (replace_) std::remove(path_.c_str());
        replace_ = false;
        std::string reason;
        file_ = platform::OpenAppendFile(path_, reason);  // never through a link
        if (file_ == nullptr) return false;
        std::fseek(file_, 0, SEEK_END);
        if (std::ftell(file_) == 0) {
            const std::string start = TraceFileStart();
            std::fwrite(start.data(), 1, start.size(), file_);
        }
        return true;
    }
    void Close() {
        if (file_ != nullptr) std::fclose(file_);
        file_ = nullptr;
    }

    std::string path_;
    bool replace_ = false;
    std::FILE* file_ = nullptr;
};

// NO_COLOR set to any text turns colours off (no-color.org).
bool ColourWanted() {
    const char* noColour = std::getenv("NO_COLOR");
    return noColour == nullptr || noColour[0] == '\0';
}

int ColourOf(spdlog::level::level_enum level) {
    if (level == spdlog::level::critical) return 1;
    if (level == spdlog::level::err) return 2;
    if (level == spdlog::level::warn) return 3;
    return 0;
}

// Writes records to standard output, coloured on a console. Error and fatal
// records also go to standard error, so they reach the user when the output
// is redirected, unless standard error leads to the same place.
class ConsoleSink : public spdlog::sinks::base_sink<std::mutex> {
public:
    ConsoleSink()
        : base_sink(std::make_unique<KavoFormatter>()),
          stdoutColours_(platform::StdoutIsConsole() && ColourWanted()),
          stderrColours_(platform::StderrIsConsole() && ColourWanted()),
          errorsToStderr_(!platform::StderrSameAsStdout()) {}

protected:
    void sink_it_(const spdlog::details::log_msg& msg) override {
        spdlog::memory_buf_t formatted;
        formatter_->format(msg, formatted);
        std::string text(formatted.data(), formatted.size());
        int colour = ColourOf(msg.level);
        const bool flush = OpenBatches() == 0;
        platform::WriteConsole(text, stdoutColours_ ? colour : 0, false, flush);
        bool error = msg.level == spdlog::level::err || msg.level == spdlog::level::critical;
        if (error && errorsToStderr_) platform::WriteConsole(text, stderrColours_ ? colour : 0, true, flush);
    }
    void flush_() override {
        std::fflush(stdout);
        std::fflush(stderr);
    }

private:
    bool stdoutColours_;
    bool stderrColours_;
    bool errorsToStderr_;
};

struct Loggers {
    std::shared_ptr<TraceFileSink> traceSink;
    std::shared_ptr<spdlog::logger> traceLogger;
    std::shared_ptr<spdlog::logger> mainLogger;
};

Loggers& State() {
    static Loggers loggers;
    return loggers;
}

void EnsureStarted() {
    if (!State().mainLogger) StartLogging();
}

void Emit(spdlog::logger& logger, Severity severity, const std::string& function, int line, const std::string& text) {
    spdlog::source_loc location{"", line, function.c_str()};
    logger.log(location, ToSpdlog(severity), spdlog::string_view_t(text.data(), text.size()));
}

}  // namespace

void KavoFormatter::format(const spdlog::details::log_msg& msg, spdlog::memory_buf_t& dest) {
    dest.append(msg.payload.data(), msg.payload.data() + msg.payload.size());
    dest.push_back('\n');
}

std::unique_ptr<spdlog::formatter> KavoFormatter::clone() const { return std::make_unique<KavoFormatter>(); }

void KavoTxtFormatter::format(const spdlog::details::log_msg& msg, spdlog::memory_buf_t& dest) {
    AppendTraceTime(dest, msg.time);
    if (msg.level != spdlog::level::info && msg.level != spdlog::level::debug) {
        const std::string_view name = SeverityName(msg.level);
        Append(dest, name);
        for (size_t pad = name.size(); pad < 5; ++pad) dest.push_back(' ');
        Append(dest, " [");
        Append(dest, msg.source.funcname != nullptr ? msg.source.funcname : "");
        Append(dest, "@" + std::to_string(msg.source.line) + "] ");
    }
    dest.append(msg.payload.data(), msg.payload.data() + msg.payload.size());
    dest.push_back('\n');
}

std::unique_ptr<spdlog::formatter> KavoTxtFormatter::clone() const { return std::make_unique<KavoTxtFormatter>(); }

// Creates both loggers with `tracePath` as trace file ("" for none), or
// points the existing ones at it (tests run several start-ups in one process).
static void StartLoggers(const std::string& tracePath, Severity maximum) {
    Loggers& state = State();
    if (state.traceSink) {
        state.traceSink->SetFileName(tracePath, true);
    } else {
        state.traceSink = std::make_shared<TraceFileSink>(tracePath, true);
        // The main logger writes to the trace file and the console; the
        // trace logger, for trace-only records, to the same trace sink.
        state.traceLogger = std::make_shared<spdlog::logger>("trace", state.traceSink);
        auto console = std::make_shared<ConsoleSink>();
        state.mainLogger = std::make_shared<spdlog::logger>("main", spdlog::sinks_init_list{state.traceSink, console});
    }
    SetLogSeverity(maximum);
}

void StartLogging() { StartLoggers(kTraceFileName, Severity::Info); }

void WriteInfoRecordsAlone(const std::vector<const char*>& lines) {
    std::remove(kTraceFileName);
    // A process that only answers -h touches as few fresh pages as it can.
    // The first time stamp is made before anything else: the time-zone data
    // is read with memory that is free again when the text's room is made,
    // and the console's text then takes the trace file's room.
    std::string record;
    AppendTraceTime(record, std::chrono::system_clock::now());
    const size_t traceTimeLength = record.size();
    size_t textLength = 0;
    for (const char* line : lines) textLength += std::strlen(line) + 2;
    std::string text = TraceFileStart();
    text.reserve(text.size() + textLength + lines.size() * traceTimeLength);
    for (const char* line : lines) {
        // Info records carry no severity name or source.
        record.clear();
        AppendTraceTime(record, std::chrono::system_clock::now());
        (record += line) += '\n';
        AppendNativeLines(text, record);
    }
    std::string reason;
    if (std::FILE* file = platform::OpenAppendFile(kTraceFileName, reason)) {
        std::setvbuf(file, nullptr, _IONBF, 0);  // one write, no stream buffer
        std::fwrite(text.data(), 1, text.size(), file);
        std::fclose(file);
    }
    text.clear();
    for (const char* line : lines) (text += line) += '\n';
    platform::WriteConsole(text, 0);
}

void StartConsoleLogging(Severity maximum) { StartLoggers("", maximum); }

void SwitchTraceFile(const std::string& path) {
    EnsureStarted();
    State().traceSink->SetFileName(path, true);
}

void StopTraceFile() {
    EnsureStarted();
    State().traceSink->SetFileName("", false);
}

void SetLogSeverity(Severity maximum) {
    EnsureStarted();
    State().mainLogger->set_level(ToSpdlog(maximum));
    State().traceLogger->set_level(ToSpdlog(maximum));
}

bool LogEnabled(Severity severity) {
    EnsureStarted();
    return State().mainLogger->should_log(ToSpdlog(severity));
}

void LogMessage(Severity severity, const std::string& function, int line, const std::string& text) {
    EnsureStarted();
    Emit(*State().mainLogger, severity, function, line, text);
}

void LogTraceOnly(Severity severity, const std::string& function, int line, const std::string& text) {
    EnsureStarted();
    Emit(*State().traceLogger, severity, function, line, text);
}

void StopLogging() {
    if (State().traceSink) State().traceSink->CloseFile();
}

std::string QualifiedFunctionName(const char* prettyFunction) {
    std::string text = prettyFunction;
    size_t paren = text.find('(');
    if (paren != std::string::npos) text.erase(paren);
    size_t space = text.rfind(' ');
    if (space != std::string::npos) text.erase(0, space + 1);
    const std::string anonymous = "{anonymous}::";
    for (size_t at = text.find(anonymous); at != std::string::npos; at = text.find(anonymous)) text.erase(at, anonymous.size());
    return text;
}

LogBatch::LogBatch() { ++OpenBatches(); }

LogBatch::~LogBatch() {
    if (--OpenBatches() > 0) return;
    Loggers& state = State();
    if (state.mainLogger) state.mainLogger->flush();
    if (state.traceLogger) state.traceLogger->flush();
}

LogRecord::~LogRecord() {
    if (traceOnly_) LogTraceOnly(severity_, function_, line_, stream_.str());
    else LogMessage(severity_, function_, line_, stream_.str());
}

}  // namespace kavo
