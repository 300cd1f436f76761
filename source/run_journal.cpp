// Journals of running commands, and their recovery after a crash.
#include "run_journal.h"

#include <filesystem>
#include <fstream>
#include <string_view>

#include "base/kavo_errors.h"
#include "base/json_reader.h"
#include "base/json_writer.h"
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

bool StartsWith(const std::string& text, const char* prefix) { return text.rfind(prefix, 0) == 0; }

// Calls `use` with each of the first `count` lines of a journal.
template <typename Use>
void EachLine(const std::string& path, size_t count, Use use) {
    std::ifstream file(path, std::ios::binary);
    std::string line;
    for (size_t n = 0; n < count && std::getline(file, line); ++n) use(line);
}

// Hands on the events of one member's value of a journal line ("c" or "s").
class MemberCopy : public kavo::JsonEvents {
public:
    MemberCopy(kavo::JsonEvents& target, const char* member) : copy_(target), member_(member) {}
    void Null() override { Scalar([&] { copy_.Null(); }); }
    void Bool(bool value) override { Scalar([&] { copy_.Bool(value); }); }
    void Number(std::string_view literal) override { Scalar([&] { copy_.Number(literal); }); }
    void String(std::string_view text) override { Scalar([&] { copy_.String(text); }); }
    void Key(std::string_view name) override {
        if (copying_) copy_.Key(name);
        else if (depth_ == 1) wanted_ = name == member_;
    }
    void BeginObject() override { Begin([&] { copy_.BeginObject(); }); }
    void BeginArray() override { Begin([&] { copy_.BeginArray(); }); }
    void EndObject() override { End([&] { copy_.EndObject(); }); }
    void EndArray() override { End([&] { copy_.EndArray(); }); }

private:
    template <typename F>
    void Scalar(F f) {
        if (copying_ || (depth_ == 1 && wanted_)) f();
        wanted_ = false;
    }
    template <typename F>
    void Begin(F f) {
        if (!copying_ && depth_ == 1 && wanted_) {
            copying_ = true;
            copyDepth_ = depth_ + 1;
        }
        if (copying_) f();
        ++depth_;
        wanted_ = false;
    }
    template <typename F>
    void End(F f) {
        --depth_;
        if (!copying_) return;
        f();
        if (depth_ < copyDepth_) copying_ = false;
    }
    kavo::JsonEvents& copy_;
    std::string member_;
    size_t depth_ = 0, copyDepth_ = 0;
    bool copying_ = false, wanted_ = false;
};

// The record inside a journal line: its last member ("c" or "s"), which
// runs to the line's closing brace.
std::string_view RecordOf(const std::string& line, const char* member) {
    const std::string marker = std::string("\"") + member + "\":";
    const size_t at = line.find(marker) + marker.size();
    return std::string_view(line).substr(at, line.size() - at - 1);
}

// Writes a summary with the journal's records as its command and sample
// arrays; the text reaches the file in pieces.
class SummaryWriter {
public:
    SummaryWriter(const JournalKind& kind, const std::string& journalPath, size_t lines, const std::string& path)
        : kind_(kind), journal_(journalPath), lines_(lines), file_(path) {}

    void Write(Json::Value summary) {
        // The arrays stand in the summary even when the run had no records.
        summary["command times"] = Json::Value(Json::arrayValue);
        Json::Value* samples = &summary;
        for (const std::string& member : kind_.sampleArray) samples = &(*samples)[member];
        *samples = Json::Value(Json::arrayValue);
        std::vector<std::string> path;
        Value(summary, path);
        file_.Write(out_.Buffer());
        file_.Commit();
    }

private:
    void Value(const Json::Value& value, std::vector<std::string>& path) {
        if (path == std::vector<std::string>{"command times"}) return Records(kCommandPrefix, "c");
        if (path == kind_.sampleArray) return Records(kSamplePrefix, "s");
        if (!value.isObject()) return out_.Value(value);
        out_.BeginObject();
        for (auto member = value.begin(); member != value.end(); ++member) {
            path.push_back(member.name());
            out_.Key(path.back());
            Value(*member, path);
            path.pop_back();
        }
        out_.EndObject();
    }

    // The records of an array one a line, as the journal holds them: a long
    // run's summary is mostly these, and they go in without being read.
    void Records(const char* prefix, const char* member) {
        out_.BeginArray();
        EachLine(journal_, lines_, [&](const std::string& line) {
            if (!StartsWith(line, prefix)) return;
            out_.Compact(RecordOf(line, member));
            if (out_.Buffer().size() > (1u << 16)) {
                file_.Write(out_.Buffer());
                out_.Buffer().clear();
            }
        });
        out_.EndArray();
    }

    const JournalKind& kind_;
    std::string journal_;
    size_t lines_;
    kavo::AtomicFile file_;
    kavo::JsonWriter out_;
};

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
    kavo::JsonWriter out(kavo::JsonWriter::Layout::Compact);
    for (const kavo::CommandRecord& record : records) {
        out.Buffer().clear();
        out.BeginObject();
        out.Key("c");
        kavo::WriteCommandRecord(out, record);
        out.EndObject();
        Line(out.Buffer());
    }
}

void RunJournal::Sample(const std::string& record, int staticMismatches, int counterMismatches) {
    Line(std::string(kSamplePrefix) + "\"" + kavo::CurrentTimeText() + "\",\"e\":" +
         kavo::FixedText(kavo::ElapsedMilliseconds(start_), 3) + ",\"sm\":" + std::to_string(staticMismatches) +
         ",\"cm\":" + std::to_string(counterMismatches) + ",\"s\":" + record + "}");
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
    SummaryWriter(kind_, path_, SIZE_MAX, path).Write(summary);
}

void RunJournal::EachSample(const std::function<void(const Json::Value& record)>& sample) {
    if (file_ != nullptr) Flush();
    EachLine(path_, SIZE_MAX, [&](std::string& line) {
        if (!StartsWith(line, kSamplePrefix)) return;
        Json::Value record;
        kavo::JsonValueBuilder builder(record);
        MemberCopy copy(builder, "s");
        kavo::ParseJsonEventsInPlace(line, copy);
        sample(record);
    });
}

void RunJournal::Remove() {
    if (file_ != nullptr) std::fclose(file_);
    file_ = nullptr;
    std::error_code ignored;
    fs::remove(path_, ignored);
}

std::function<void(Json::Value&, const std::function<void(const Json::Value&)>&)> SummaryWithJournal(
    const Json::Value& summary, RunJournal& journal) {
    return [&summary, &journal](Json::Value& document, const std::function<void(const Json::Value&)>& sample) {
        document = summary;
        journal.EachSample(sample);
    };
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
    SummaryWriter(kind, journalPath, lines, summaryPath).Write(summary);
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
