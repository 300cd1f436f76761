// Journals of running commands: written a record at a time, read a line at
// a time, and turned into the summary at the end.
#include "run_journal.h"

#include <algorithm>
#include <cstring>
#include <filesystem>
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

bool StartsWith(const std::string& text, const char* prefix) { return text.rfind(prefix, 0) == 0; }

// Calls `use` with each of the first `count` lines of a journal.
template <typename Use>
void EachLine(const std::string& path, size_t count, Use use) {
    JournalLines lines(path);
    std::string line;
    bool complete = false;
    for (size_t n = 0; n < count && lines.Next(line, complete); ++n) use(line);
}

// Hands on the events of one member's value of a journal line ("c" or "s");
// with `keep`, of that value's own members only those named there (what
// they hold passes whole): a reader that needs a few members of each record
// builds no values for the rest.
class MemberCopy : public kavo::JsonEvents {
public:
    MemberCopy(kavo::JsonEvents& target, const char* member, const std::vector<std::string>* keep = nullptr)
        : copy_(target), member_(member), keep_(keep) {}
    void Null() override { Scalar([&] { copy_.Null(); }); }
    void Bool(bool value) override { Scalar([&] { copy_.Bool(value); }); }
    void Number(std::string_view literal) override { Scalar([&] { copy_.Number(literal); }); }
    void String(std::string_view text) override { Scalar([&] { copy_.String(text); }); }
    void Key(std::string_view name) override {
        if (copying_) {
            if (keep_ != nullptr && depth_ == copyDepth_)
                skipping_ = std::find(keep_->begin(), keep_->end(), name) == keep_->end();
            if (!skipping_) copy_.Key(name);
        } else if (depth_ == 1) {
            wanted_ = name == member_;
        }
    }
    void BeginObject() override { Begin([&] { copy_.BeginObject(); }); }
    void BeginArray() override { Begin([&] { copy_.BeginArray(); }); }
    void EndObject() override { End([&] { copy_.EndObject(); }); }
    void EndArray() override { End([&] { copy_.EndArray(); }); }

private:
    template <typename F>
    void Scalar(F f) {
        if ((copying_ && !skipping_) || (depth_ == 1 && wanted_)) f();
        if (copying_ && depth_ == copyDepth_) skipping_ = false;
        wanted_ = false;
    }
    template <typename F>
    void Begin(F f) {
        if (!copying_ && depth_ == 1 && wanted_) {
            copying_ = true;
            copyDepth_ = depth_ + 1;
        }
        if (copying_ && !skipping_) f();
        ++depth_;
        wanted_ = false;
    }
    template <typename F>
    void End(F f) {
        --depth_;
        if (!copying_) return;
        if (!skipping_) f();
        if (depth_ == copyDepth_) skipping_ = false;
        if (depth_ < copyDepth_) copying_ = false;
    }
    kavo::JsonEvents& copy_;
    std::string member_;
    const std::vector<std::string>* keep_;
    size_t depth_ = 0, copyDepth_ = 0;
    bool copying_ = false, wanted_ = false, skipping_ = false;
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
        if (path == std::vector<std::string>{"command times"}) return Records(kJournalCommandPrefix, "c");
        if (path == kind_.sampleArray) return Records(kJournalSamplePrefix, "s");
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

}  // namespace

const char kJournalHeadPrefix[] = "{\"journal\":";
const char kJournalCommandPrefix[] = "{\"c\":";
const char kJournalSamplePrefix[] = "{\"t\":";

JournalLines::JournalLines(const std::string& path) {
    std::string reason;
    file_ = kavo::platform::OpenRegularFile(path, 0, reason);
    if (file_ == nullptr) throw kavo::KavoError("Could not read the journal '" + path + "': " + reason);
}

JournalLines::~JournalLines() { std::fclose(file_); }

bool JournalLines::Next(std::string& line, bool& complete) {
    line.clear();
    while (true) {
        if (at_ == end_) {
            at_ = 0;
            end_ = std::fread(buffer_.data(), 1, buffer_.size(), file_);
            if (end_ == 0) {
                complete = false;
                return !line.empty();
            }
        }
        const char* start = buffer_.data() + at_;
        const void* feed = std::memchr(start, '\n', end_ - at_);
        const size_t length = feed != nullptr ? static_cast<const char*>(feed) - start : end_ - at_;
        line.append(start, length);
        at_ += length;
        if (feed != nullptr) {
            ++at_;
            complete = true;
            return true;
        }
    }
}

void WriteSummaryFromJournal(const JournalKind& kind, const std::string& journalPath, size_t lines, Json::Value summary,
                             const std::string& path) {
    SummaryWriter(kind, journalPath, lines, path).Write(std::move(summary));
}

std::string FileStamp(const std::string& time) {
    std::string digits;
    for (char c : time)
        if (c >= '0' && c <= '9') digits += c;
    if (digits.size() < 14) return digits.empty() ? "unknown" : digits;
    return digits.substr(0, 8) + "-" + digits.substr(8, 6);
}

std::string FreeName(const std::string& base, const std::string& extension) {
    std::string name = base + extension;
    for (int n = 2; kavo::platform::KindOf(name) != kavo::platform::EntryKind::Absent; ++n)
        name = base + "-" + std::to_string(n) + extension;
    return name;
}

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
    // A new file, never one a link under the name points to.
    std::string reason;
    file_ = kavo::platform::CreateNewFile(path_, reason);
    if (file_ == nullptr) Fail(reason);
    Line(std::string(kJournalHeadPrefix) + "\"" + kind.name + "\",\"head\":" + kavo::CompactJson(head) + "}");
    Flush();
}

RunJournal::~RunJournal() {
    if (file_ != nullptr) std::fclose(file_);
}

void RunJournal::Line(const std::string& text) {
    if (std::fwrite(text.data(), 1, text.size(), file_) != text.size() || std::fputc('\n', file_) == EOF)
        Fail(kavo::platform::LastErrorText());
}

void RunJournal::Fail(const std::string& reason) {
    throw kavo::KavoError("Could not write the run's journal '" + path_ + "': " + reason);
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

void RunJournal::Sample(const std::string& record, int staticMismatches, int counterMismatches,
                        const std::string& sampleFile, const std::string& driveRecord) {
    const std::string file = sampleFile.empty() ? "" : ",\"f\":" + kavo::CompactJson(Json::Value(sampleFile));
    const std::string drive = driveRecord.empty() ? "" : ",\"d\":" + driveRecord;
    Line(std::string(kJournalSamplePrefix) + "\"" + kavo::CurrentTimeText() + "\",\"e\":" +
         kavo::FixedText(kavo::ElapsedMilliseconds(start_), 3) + ",\"sm\":" + std::to_string(staticMismatches) +
         ",\"cm\":" + std::to_string(counterMismatches) + file + drive + ",\"s\":" + record + "}");
}

void RunJournal::Flush() {
    // Flushed records survive a killed process; a power loss takes at most
    // the last second.
    if (std::fflush(file_) != 0) Fail(kavo::platform::LastErrorText());
    int64_t now = kavo::MonotonicNanoseconds();
    if (now - lastSync_ < 1000000000) return;
    std::string reason;
    if (!kavo::platform::SyncFile(file_, reason)) Fail(reason);
    lastSync_ = now;
}

void RunJournal::WriteSummary(Json::Value& summary, const std::string& path) {
    Flush();
    std::fclose(file_);
    file_ = nullptr;
    SummaryWriter(kind_, path_, SIZE_MAX, path).Write(summary);
}

void RunJournal::EachSample(const std::function<void(const Json::Value& record)>& sample,
                            const std::vector<std::string>* members) {
    if (file_ != nullptr) Flush();
    EachLine(path_, SIZE_MAX, [&](std::string& line) {
        if (!StartsWith(line, kJournalSamplePrefix)) return;
        Json::Value record;
        kavo::JsonValueBuilder builder(record);
        MemberCopy copy(builder, "s", members);
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
    const Json::Value& summary, RunJournal& journal, const std::vector<std::string>* members) {
    return [&summary, &journal, members](Json::Value& document,
                                         const std::function<void(const Json::Value&)>& sample) {
        document = summary;
        journal.EachSample(sample, members);
    };
}

