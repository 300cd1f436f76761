// Journals of running commands, and their recovery after a crash.
#include "run_journal.h"

#include <filesystem>
#include <fstream>
#include <string_view>

#include "base/kavo_errors.h"
#include "base/kavo_json.h"
#include "base/kavo_log.h"
#include "base/kavo_text.h"
#include "base/platform.h"
#include "quellix.h"

namespace fs = std::filesystem;

namespace {

// Line prefixes: the skeleton, a command record, a sample record.
const char kHeadPrefix[] = "{\"journal\":";
const char kCommandPrefix[] = "{\"c\":";
const char kSamplePrefix[] = "{\"t\":";
const char kSampleMember[] = ",\"s\":";

bool StartsWith(const std::string& text, const char* prefix) { return text.rfind(prefix, 0) == 0; }

// The record inside a command or sample line.
std::string CommandOf(const std::string& line) {
    return line.substr(sizeof kCommandPrefix - 1, line.size() - sizeof kCommandPrefix);
}
std::string SampleOf(const std::string& line) {
    size_t at = line.find(kSampleMember) + sizeof kSampleMember - 1;
    return line.substr(at, line.size() - at - 1);
}

// Calls `use` with each of the first `count` lines of a journal.
template <typename Use>
void EachLine(const std::string& path, size_t count, Use use) {
    std::ifstream file(path, std::ios::binary);
    std::string line;
    for (size_t n = 0; n < count && std::getline(file, line); ++n) use(line);
}

// The streamed arrays of a summary: commands and samples from the journal.
std::vector<kavo::StreamedArray> JournalArrays(const JournalKind& kind, const std::string& path, size_t lines) {
    auto from = [path, lines](bool samples) {
        return [path, lines, samples](const std::function<void(const std::string&)>& emit) {
            EachLine(path, lines, [&](const std::string& line) {
                if (samples && StartsWith(line, kSamplePrefix)) emit(SampleOf(line));
                else if (!samples && StartsWith(line, kCommandPrefix)) emit(CommandOf(line));
            });
        };
    };
    return {{{"command times"}, from(false)}, {kind.sampleArray, from(true)}};
}

// "2026-12-08 21:40:00.123" -> "20261208-214000".
std::string Stamp(const std::string& time) {
    std::string digits;
    for (char c : time)
        if (c >= '0' && c <= '9') digits += c;
    if (digits.size() < 14) return digits.empty() ? "unknown" : digits;
    return digits.substr(0, 8) + "-" + digits.substr(8, 6);
}

}  // namespace

const JournalKind& ReadJournal() {
    static const JournalKind kind{"read", "read.journal.jsonl", "read.summary.json", {"read details", "sample"}};
    return kind;
}

const JournalKind& SelfTestJournal() {
    static const JournalKind kind{"self-test", "selftest.journal.jsonl", "selftest.summary.json",
                                  {"selftest details", "status"}};
    return kind;
}

RunJournal::RunJournal(const JournalKind& kind, const std::string& directory, const Json::Value& head,
                       int64_t startNanoseconds)
    : kind_(kind), path_((fs::path(directory) / kind.journalFile).string()), start_(startNanoseconds) {
    file_ = std::fopen(path_.c_str(), "wb");
    if (file_ == nullptr) Fail();
    Line(std::string(kHeadPrefix) + "\"" + kind.name + "\",\"head\":" + kavo::CompactJson(head) + "}");
    Flush();
}

RunJournal::~RunJournal() {
    if (file_ != nullptr) std::fclose(file_);
}

void RunJournal::Line(const std::string& text) {
    if (std::fwrite(text.data(), 1, text.size(), file_) != text.size() || std::fputc('\n', file_) == EOF) Fail();
}

void RunJournal::Fail() {
    throw kavo::KavoError("Could not write the run's journal '" + path_ + "': " + kavo::platform::LastErrorText());
}

void RunJournal::Commands(const kavo::CommandLog& records) {
    for (const kavo::CommandRecord& record : records) Line(kCommandPrefix + kavo::CommandRecordText(record) + "}");
}

void RunJournal::Sample(const Json::Value& record, int staticMismatches, int counterMismatches) {
    Line(std::string(kSamplePrefix) + "\"" + kavo::CurrentTimeText() + "\",\"e\":" +
         kavo::FixedText(kavo::ElapsedMilliseconds(start_), 3) + ",\"sm\":" + std::to_string(staticMismatches) +
         ",\"cm\":" + std::to_string(counterMismatches) + kSampleMember + kavo::CompactJson(record) + "}");
}

void RunJournal::Flush() {
    // Flushed records survive a killed process; a power loss takes at most
    // the last second.
    if (std::fflush(file_) != 0) Fail();
    int64_t now = kavo::MonotonicNanoseconds();
    if (now - lastSync_ < 1000000000) return;
    std::string reason;
    if (!kavo::platform::SyncFile(file_, reason)) Fail();
    lastSync_ = now;
}

void RunJournal::WriteSummary(Json::Value& summary, const std::string& path) {
    Flush();
    std::fclose(file_);
    file_ = nullptr;
    kavo::WriteJsonFile(path, summary, JournalArrays(kind_, path_, SIZE_MAX));
    std::error_code ignored;
    fs::remove(path_, ignored);
}

size_t RecoverJournal(const JournalKind& kind, const std::string& journalPath, const std::string& summaryPath,
                      std::string& message) {
    std::ifstream file(journalPath, std::ios::binary);
    if (!file) throw kavo::KavoError("Could not read the journal '" + journalPath + "'");
    Json::Value summary, last;
    size_t lines = 0, samples = 0;
    std::string line;
    // Every complete record counts; a line cut short by the crash, and
    // anything after it, does not.
    while (std::getline(file, line)) {
        Json::Value record;
        try {
            if (line.empty() || line.back() != '}') break;
            kavo::ParseJsonText(line, record);
        } catch (const kavo::KavoError&) {
            break;
        }
        if (lines == 0) {
            if (!StartsWith(line, kHeadPrefix) || record["journal"].asString() != kind.name || !record["head"].isObject())
                throw kavo::KavoError("Not the journal of a " + std::string(kind.name) + " run: '" + journalPath + "'");
            summary = record["head"];
        } else if (StartsWith(line, kSamplePrefix) && record.isMember("s")) {
            last = record;
            ++samples;
        } else if (!StartsWith(line, kCommandPrefix)) {
            break;
        }
        ++lines;
    }
    if (lines == 0) throw kavo::KavoError("The journal '" + journalPath + "' is empty");

    std::string lastTime = last.isObject() ? last["t"].asString() : summary["_cmd"]["begin time"].asString();
    Json::Value& details = summary[kind.sampleArray.front()];
    details["end time"] = lastTime;
    details["run time"] = kavo::DurationText(last.isObject() ? last["e"].asDouble() : 0.0, 2);
    if (&kind == &ReadJournal() && last.isObject()) {
        details["static mismatches"] = last["sm"];
        details["counter mismatches"] = last["cm"];
    }
    message = " Run interrupted: its last record was written at " + lastTime + "; " + std::to_string(samples) +
              " completed samples recovered from " + fs::path(journalPath).filename().string();
    summary["_cmd"]["result"] = "FAIL";
    summary["_cmd"]["return code"] = 17;
    summary["_cmd"]["message"] = message;
    summary["_cmd"]["end time"] = lastTime;
    summary["_cmd"]["interrupted"] = true;
    kavo::WriteJsonFile(summaryPath, summary, JournalArrays(kind, journalPath, lines));
    std::error_code ignored;
    fs::remove(journalPath, ignored);  // its records now stand in the summary
    return samples;
}

namespace {

bool EndsWith(std::string_view text, std::string_view end) {
    return text.size() >= end.size() && text.substr(text.size() - end.size()) == end;
}

// Temporary files of document writes (.json, .prom, .html) that a crash cut
// short.
void RemoveInterruptedWrites(const std::string& directory) {
    std::error_code error;
    for (fs::directory_iterator it(directory, error), end; !error && it != end; it.increment(error)) {
        const std::string name = it->path().filename().string();
        std::string_view document;
        if (kavo::IsAtomicTemporary(name, document) &&
            (EndsWith(document, ".json") || EndsWith(document, ".prom") || EndsWith(document, ".html")))
            fs::remove(it->path(), error);
    }
}

}  // namespace

void RecoverLeftoverJournals(const std::string& directory) {
    std::error_code error;
    RemoveInterruptedWrites(directory);
    for (const JournalKind* kind : {&ReadJournal(), &SelfTestJournal()}) {
        fs::path journal = fs::path(directory) / kind->journalFile;
        if (!fs::exists(journal, error)) continue;
        std::string head;
        Json::Value skeleton;
        std::string begin = "unknown";
        {
            std::ifstream file(journal, std::ios::binary);
            std::getline(file, head);
            try {
                kavo::ParseJsonText(head, skeleton);
                begin = Stamp(skeleton["head"]["_cmd"]["begin time"].asString());
            } catch (const kavo::KavoError&) {
            }
        }
        std::string stem = fs::path(kind->summaryFile).stem().string();  // "read.summary"
        fs::path target = fs::path(directory) / (stem + ".interrupted-" + begin + ".json");
        for (int n = 2; fs::exists(target, error); ++n)
            target = fs::path(directory) / (stem + ".interrupted-" + begin + "-" + std::to_string(n) + ".json");
        try {
            std::string message;
            size_t samples = RecoverJournal(*kind, journal.string(), target.string(), message);
            KLOG(Info) << " Recovered " << samples << " samples of an interrupted " << kind->name << " run into "
                       << target.string();
        } catch (const kavo::KavoError& e) {
            // Kept aside so the new run starts clean and the data is not lost.
            fs::rename(journal, journal.string() + ".damaged", error);
            KLOG(Warning) << " " << e.what() << ": kept as " << journal.string() << ".damaged";
        }
    }
}

int RecoverCommand(const std::string& directory) {
    kavo::StartConsoleLogging(kavo::Severity::Info);
    RemoveInterruptedWrites(directory);
    int recovered = 0;
    for (const JournalKind* kind : {&ReadJournal(), &SelfTestJournal()}) {
        fs::path journal = fs::path(directory) / kind->journalFile;
        std::error_code error;
        if (!fs::exists(journal, error)) continue;
        fs::path summary = fs::path(directory) / kind->summaryFile;
        try {
            std::string message;
            size_t samples = RecoverJournal(*kind, journal.string(), summary.string(), message);
            KLOG(Info) << "Recovered " << samples << " samples of an interrupted " << kind->name << " run into "
                       << summary.string();
            KLOG(Info) << message;
            ++recovered;
        } catch (const kavo::KavoError& e) {
            KLOG(Error) << e.what();
            return 17;
        }
    }
    if (recovered == 0) {
        KLOG(Error) << "No journal of an interrupted run in " << directory;
        return 16;
    }
    return 0;
}
