// Recovery of the journals that interrupted runs left behind: each record is
// checked before it is trusted, a journal that cannot be read as one is set
// aside under a name of its own, and a recovered run keeps its sample files.
#include <filesystem>
#include <string_view>

#include "base/kavo_errors.h"
#include "base/kavo_json.h"
#include "base/kavo_log.h"
#include "base/kavo_text.h"
#include "base/platform.h"
#include "info/grades.h"
#include "run_journal.h"

namespace fs = std::filesystem;
using kavo::platform::EntryKind;

namespace {

bool StartsWith(const std::string& text, const char* prefix) { return text.rfind(prefix, 0) == 0; }

bool EndsWith(std::string_view text, std::string_view end) {
    return text.size() >= end.size() && text.substr(text.size() - end.size()) == end;
}

// A line with zero bytes: where a crash left the room of writes that never
// reached the device, for the whole line or the rest of it. No record holds
// one (JSON escapes it), and the parser would stop at it and take the part
// before it for the whole line.
bool HasZeros(const std::string& line) { return line.find('\0') != std::string::npos; }

// The names a run gives its sample files: "nvme.info.json" and
// "nvme.info.sample-N.json". Nothing else is renamed on a journal's word.
bool IsSampleFileName(const std::string& name) {
    if (name == "nvme.info.json") return true;
    const std::string prefix = "nvme.info.sample-", suffix = ".json";
    if (name.size() <= prefix.size() + suffix.size() || !StartsWith(name, prefix.c_str()) || !EndsWith(name, suffix))
        return false;
    return kavo::IsDecimalDigits(std::string_view(name).substr(prefix.size(), name.size() - prefix.size() - suffix.size()));
}

bool ObjectOrAbsent(const Json::Value& value) { return value.isNull() || value.isObject(); }

// Records nest a few levels; one that nests deeper than any quellix writes
// would make the summary deeper than a reader takes.
constexpr size_t kRecordNesting = 64;

// Whether `value` nests at most `levels` levels of objects and arrays.
bool NestsAtMost(const Json::Value& value, size_t levels) {
    if (!value.isObject() && !value.isArray()) return true;
    if (levels == 0) return false;
    for (const Json::Value& member : value)
        if (!NestsAtMost(member, levels - 1)) return false;
    return true;
}

// Why `record`, the first line of a journal, is not the skeleton of a run of
// `kind`; "" when it is.
std::string HeadProblem(const JournalKind& kind, const std::string& line, const Json::Value& record) {
    if (!StartsWith(line, kJournalHeadPrefix) || !record["journal"].isString())
        return "the first line is not the head of a journal";
    if (record["journal"].asString() != kind.name) return "not the journal of a " + std::string(kind.name) + " run";
    const Json::Value& head = record["head"];
    if (!head.isObject()) return "\"head\" is not an object";
    if (!ObjectOrAbsent(head["_cmd"])) return "\"head\"/\"_cmd\" is not an object";
    if (!ObjectOrAbsent(head[kind.sampleArray.front()]))
        return "\"head\"/\"" + kind.sampleArray.front() + "\" is not an object";
    return "";
}

// Why `record`, a later line, is not a command or sample record; "" when it is.
std::string RecordProblem(const JournalKind& kind, const std::string& line, const Json::Value& record) {
    if (StartsWith(line, kJournalCommandPrefix)) {
        if (!record["c"].isObject()) return "a command record that is not an object";
        return NestsAtMost(record["c"], kRecordNesting) ? "" : "a command record nested too deeply";
    }
    if (!StartsWith(line, kJournalSamplePrefix)) return "not a command or sample record";
    if (!record["t"].isString()) return "a sample record whose time \"t\" is not a text";
    if (!record["e"].isNumeric()) return "a sample record whose elapsed time \"e\" is not a number";
    if (!record["s"].isObject()) return "a sample record \"s\" that is not an object";
    if (!NestsAtMost(record["s"], kRecordNesting)) return "a sample record nested too deeply";
    if (&kind == &ReadJournal())
        for (const char* count : {"sm", "cm"})
            if (!record[count].isNull() && !record[count].isIntegral())
                return "a sample record whose mismatch count \"" + std::string(count) + "\" is not an integer";
    if (!ObjectOrAbsent(record["d"])) return "a sample record whose drive \"d\" is not an object";
    const Json::Value& file = record["f"];
    if (!file.isNull() && !(file.isString() && IsSampleFileName(file.asString())))
        return "a sample record whose file \"f\" is not the name of a sample file";
    return "";
}

// The worst grade of a read run's samples, with the reasons of the latest
// sample that had it, as the run itself keeps it.
struct WorstGrade {
    std::string status = "Unknown";
    Json::Value reasons = Json::Value(Json::arrayValue);

    void Take(const Json::Value& sample, const char* statusMember, const char* reasonsMember) {
        const std::string grade = kavo::JsonText(sample, statusMember);
        if (kavo::GradeRank(grade) < kavo::GradeRank(status)) return;
        status = grade;
        reasons = sample[reasonsMember].isArray() ? sample[reasonsMember] : Json::Value(Json::arrayValue);
    }
};

// What a journal holds, every line checked.
struct JournalContent {
    Json::Value summary;  // the skeleton
    Json::Value last;     // the last sample line, null when none
    size_t lines = 0, samples = 0;
    std::vector<std::string> sampleFiles;
    WorstGrade health, temperature;  // of a read run's samples
    Json::Value drive;               // a read run's drive record, null when none
};

// Every complete record counts. A line cut short by a crash (the last one,
// without its line feed) and zero bytes a crash left in place of writes end
// the records. Anything else that is not a record of the journal makes it
// damaged: KavoError naming the line.
JournalContent ReadJournalContent(const JournalKind& kind, const std::string& path) {
    JournalContent content;
    JournalLines lines(path);
    const std::string damaged = "The journal '" + path + "' cannot be read as the journal of a " + kind.name + " run: ";
    std::string line;
    bool complete = false;
    while (lines.Next(line, complete)) {
        if (HasZeros(line)) break;
        const std::string where = "line " + std::to_string(content.lines + 1) + ": ";
        Json::Value record;
        try {
            kavo::ParseJsonText(line, record);
        } catch (const kavo::Error& e) {
            if (!complete) break;  // cut short
            throw kavo::KavoError(damaged + where + e.what());
        }
        if (!record.isObject()) throw kavo::KavoError(damaged + where + "not a JSON object");
        const std::string problem = content.lines == 0 ? HeadProblem(kind, line, record) : RecordProblem(kind, line, record);
        if (!problem.empty()) throw kavo::KavoError(damaged + where + problem);
        if (content.lines == 0) {
            content.summary = record["head"];
        } else if (StartsWith(line, kJournalSamplePrefix)) {
            ++content.samples;
            if (record["f"].isString()) content.sampleFiles.push_back(record["f"].asString());
            if (record["d"].isObject() && content.drive.isNull()) content.drive = record["d"];
            content.health.Take(record["s"], "health status", "health reasons");
            content.temperature.Take(record["s"], "temp status", "temp reasons");
            content.last = std::move(record);
        }
        ++content.lines;
    }
    if (content.lines == 0) throw kavo::KavoError("The journal '" + path + "' is empty");
    return content;
}

// Writes the summary of the interrupted run and removes the journal.
std::string WriteRecoveredSummary(const JournalKind& kind, const std::string& journalPath, JournalContent& content,
                                  const std::string& summaryPath) {
    Json::Value& summary = content.summary;
    const Json::Value& last = content.last;
    const std::string lastTime =
        last.isObject() ? last["t"].asString() : kavo::JsonText(summary["_cmd"], "begin time");
    Json::Value& details = summary[kind.sampleArray.front()];
    details["end time"] = lastTime;
    details["run time"] = kavo::DurationText(last.isObject() ? last["e"].asDouble() : 0.0, 2);
    if (&kind == &ReadJournal() && last.isObject()) {
        details["static mismatches"] = last["sm"];
        details["counter mismatches"] = last["cm"];
    }
    if (&kind == &ReadJournal()) {
        // The run's verdict on the drive, which fleets and reports read.
        details["worst health status"] = content.health.status;
        details["worst temp status"] = content.temperature.status;
        details["worst health reasons"] = content.health.reasons;
        details["worst temp reasons"] = content.temperature.reasons;
        if (!content.drive.isNull()) details["drive"] = content.drive;
    }
    const std::string message = " Run interrupted: its last record was written at " + lastTime + "; " +
                                std::to_string(content.samples) + " completed samples recovered from " +
                                fs::path(journalPath).filename().string();
    Json::Value& cmd = summary["_cmd"];
    cmd["result"] = "FAIL";
    cmd["return code"] = 17;
    cmd["message"] = message;
    cmd["end time"] = lastTime;
    cmd["interrupted"] = true;
    WriteSummaryFromJournal(kind, journalPath, content.lines, summary, summaryPath);
    std::error_code ignored;
    fs::remove(journalPath, ignored);  // its records now stand in the summary
    return message;
}

// Keeps a damaged journal under a name that no later one takes; returns it.
std::string SetAside(const std::string& journalPath) {
    const std::string kept = FreeName(journalPath + ".damaged-" + FileStamp(kavo::CurrentTimeText()), "");
    std::error_code error;
    fs::rename(journalPath, kept, error);
    if (error) throw kavo::KavoError("Could not set aside the journal '" + journalPath + "': " + error.message());
    return kept;
}

// Renames the sample files of a recovered run with its summary's suffix
// ("nvme.info.sample-3.json" -> "nvme.info.sample-3.interrupted-20261208-
// 214000.json"), so that the next run does not write over them.
void KeepSampleFiles(const std::string& directory, const std::vector<std::string>& files, const std::string& suffix) {
    for (const std::string& name : files) {
        const fs::path from = fs::path(directory) / name;
        if (kavo::platform::KindOf(from.string()) != EntryKind::Regular) continue;
        const std::string to = FreeName((fs::path(directory) / fs::path(name).stem()).string() + suffix, ".json");
        std::error_code error;
        fs::rename(from, to, error);
        if (error) KLOG(Warning) << " Could not keep " << from.string() << " as " << to << ": " << error.message();
    }
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

// Whether a journal lies at `path`; raises KavoError for something that is
// not a regular file (a link, a pipe, a folder): it is never read.
bool JournalPresent(const std::string& path) {
    const EntryKind entry = kavo::platform::KindOf(path);
    if (entry == EntryKind::Other)
        throw kavo::KavoError("'" + path + "' is not a regular file, so not a journal quellix wrote: remove it");
    return entry == EntryKind::Regular;
}

}  // namespace

size_t RecoverJournal(const JournalKind& kind, const std::string& journalPath, const std::string& summaryPath,
                      std::string& message, std::vector<std::string>* sampleFiles) {
    JournalPresent(journalPath);
    JournalContent content = ReadJournalContent(kind, journalPath);
    message = WriteRecoveredSummary(kind, journalPath, content, summaryPath);
    if (sampleFiles != nullptr) *sampleFiles = content.sampleFiles;
    return content.samples;
}

void RecoverLeftoverJournals(const std::string& directory) {
    RemoveInterruptedWrites(directory);
    for (const JournalKind* kind : {&ReadJournal(), &SelfTestJournal()}) {
        const std::string journal = (fs::path(directory) / kind->journalFile).string();
        if (!JournalPresent(journal)) continue;
        JournalContent content;
        try {
            content = ReadJournalContent(*kind, journal);
        } catch (const kavo::Error& e) {
            // Kept aside so the new run starts clean and the data is not lost.
            const std::string kept = SetAside(journal);
            KLOG(Warning) << " " << e.what() << "; kept as " << kept;
            continue;
        }
        // Named after the interrupted run, so that the new run's summary and
        // sample files do not replace its own.
        const std::string stem = fs::path(kind->summaryFile).stem().string();  // "read.summary"
        const std::string begin = FileStamp(kavo::JsonText(content.summary["_cmd"], "begin time"));
        const std::string target = FreeName((fs::path(directory) / stem).string() + ".interrupted-" + begin, ".json");
        const std::string name = fs::path(target).filename().string();
        const std::string suffix = name.substr(stem.size(), name.size() - stem.size() - 5);  // ".interrupted-…"
        WriteRecoveredSummary(*kind, journal, content, target);
        KeepSampleFiles(directory, content.sampleFiles, suffix);
        KLOG(Info) << " Recovered " << content.samples << " samples of an interrupted " << kind->name << " run into "
                   << target;
    }
}

int RecoverCommand(const std::string& directory) {
    RemoveInterruptedWrites(directory);
    int recovered = 0;
    for (const JournalKind* kind : {&ReadJournal(), &SelfTestJournal()}) {
        const std::string journal = (fs::path(directory) / kind->journalFile).string();
        const std::string summary = (fs::path(directory) / kind->summaryFile).string();
        try {
            if (!JournalPresent(journal)) continue;
            JournalContent content;
            try {
                content = ReadJournalContent(*kind, journal);
            } catch (const kavo::Error& e) {
                KLOG(Error) << e.what();
                const std::string kept = SetAside(journal);
                KLOG(Error) << "Kept as " << kept;
                return kavo::kExitFailure;
            }
            const std::string message = WriteRecoveredSummary(*kind, journal, content, summary);
            KLOG(Info) << "Recovered " << content.samples << " samples of an interrupted " << kind->name << " run into "
                       << summary;
            KLOG(Info) << message;
            ++recovered;
        } catch (const kavo::Error& e) {
            KLOG(Error) << e.what();
            return e.exitCode();
        }
    }
    if (recovered == 0) {
        KLOG(Error) << "No journal of an interrupted run in " << directory;
        return kavo::kExitUsage;
    }
    return 0;
}
