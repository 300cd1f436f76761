#pragma once
// The journal of a running command: the summary's skeleton, then every
// command record and every sample record as it happens, one JSON record per
// line, appended to a file beside the summary. The run keeps nothing of its
// history in memory; the summary is assembled from the journal at the end.
// A journal left behind by a run that was killed turns into a summary of
// every sample it completed (RecoverJournal).
#include <cstdint>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include <json/value.h>

#include "transport/command_record.h"

// The two kinds of run that keep a journal.
struct JournalKind {
    const char* name;           // "read", "self-test"
    const char* journalFile;    // "read.journal.jsonl"
    const char* summaryFile;    // "read.summary.json"
    std::vector<std::string> sampleArray;  // where the sample records go in the summary
};
const JournalKind& ReadJournal();
const JournalKind& SelfTestJournal();

class RunJournal {
public:
    // Starts a journal in `directory` whose first line is the summary's
    // skeleton `head`. The journal is a new file: a file or link already
    // under its name is neither followed nor replaced. Raises KavoError when
    // it cannot be written.
    RunJournal(const JournalKind& kind, const std::string& directory, const Json::Value& head, int64_t startNanoseconds);
    RunJournal(const RunJournal&) = delete;
    RunJournal& operator=(const RunJournal&) = delete;
    ~RunJournal();

    // The command records of an array, in order.
    void Commands(const kavo::CommandLog& records);
    // A sample record given as JSON text, with the running mismatch counts of
    // the read summary, the name of the file the sample was written to ("" when
    // none), which a recovery keeps beside the recovered summary, and the
    // read summary's drive record as JSON text (the first sample's; "" for
    // the others), which a recovery puts back into the summary.
    void Sample(const std::string& record, int staticMismatches = 0, int counterMismatches = 0,
                const std::string& sampleFile = "", const std::string& driveRecord = "");
    // The records so far reach the file (and, at most once a second, the
    // device). Raises KavoError when they cannot.
    void Flush();
    // Writes the summary with the journal's records in place of its command
    // and sample arrays. The journal stays until Remove.
    void WriteSummary(Json::Value& summary, const std::string& path);
    // Hands each sample record so far to `sample`, in order; with `members`,
    // each record holds only those of its members.
    void EachSample(const std::function<void(const Json::Value& record)>& sample,
                    const std::vector<std::string>* members = nullptr);
    // Removes the journal: its records stand in the summary.
    void Remove();

private:
    void Line(const std::string& text);
    [[noreturn]] void Fail(const std::string& reason);

    const JournalKind& kind_;
    std::string path_;
    std::FILE* file_ = nullptr;
    int64_t start_ = 0;
    int64_t lastSync_ = 0;
};

// Removes a journal when it leaves its scope.
struct JournalRemoval {
    RunJournal& journal;
    ~JournalRemoval() { journal.Remove(); }
};

// A run's summary in memory with its journal's sample records, as a report
// reads a summary: the report of a run is drawn before the journal goes.
// With `members`, each sample record holds only those of its members.
std::function<void(Json::Value&, const std::function<void(const Json::Value&)>&)> SummaryWithJournal(
    const Json::Value& summary, RunJournal& journal, const std::vector<std::string>* members = nullptr);

// Line prefixes of a journal: the skeleton, a command record, a sample record.
extern const char kJournalHeadPrefix[];
extern const char kJournalCommandPrefix[];
extern const char kJournalSamplePrefix[];
// Reads a journal a line at a time; only a regular file is read.
class JournalLines {
public:
    // Raises KavoError naming the journal when it cannot be opened or is no
    // regular file.
    explicit JournalLines(const std::string& path);
    JournalLines(const JournalLines&) = delete;
    JournalLines& operator=(const JournalLines&) = delete;
    ~JournalLines();
    // The next line without its line feed; `complete` tells whether the line
    // feed followed (a line cut short by a crash has none). False at the end.
    bool Next(std::string& line, bool& complete);

private:
    std::FILE* file_ = nullptr;
    std::vector<char> buffer_ = std::vector<char>(65536);
    size_t at_ = 0, end_ = 0;
};
// Writes `summary` to `path` with the records of the first `lines` lines of
// the journal at `journalPath` as its command and sample arrays.
void WriteSummaryFromJournal(const JournalKind& kind, const std::string& journalPath, size_t lines, Json::Value summary,
                             const std::string& path);
// "2026-12-08 21:40:00.123" -> "20261208-214000", for names of kept files.
std::string FileStamp(const std::string& time);
// `base` + `extension` when no file has that name, else `base` + "-2" +
// `extension`, "-3" ...: a name that never replaces an earlier file.
std::string FreeName(const std::string& base, const std::string& extension);

// Turns the journal of an interrupted run into the summary at `summaryPath`:
// every complete record, result FAIL, a message saying the run was
// interrupted and when its last record was written; the journal is then
// removed. Returns the number of samples recovered and fills `sampleFiles`
// with the names of the files the run wrote its samples to. Raises KavoError
// naming the line when the journal cannot be read as a journal, or is not a
// regular file.
size_t RecoverJournal(const JournalKind& kind, const std::string& journalPath, const std::string& summaryPath,
                      std::string& message, std::vector<std::string>* sampleFiles = nullptr);
// Recovers the journals that interrupted runs left in `directory` into
// summaries named after the interrupted run ("read.summary.interrupted-
// 20261208-214000.json"), and keeps their sample files beside them under
// the same suffix, so that a new run overwrites neither. A journal that
// cannot be read as one is set aside ("read.journal.jsonl.damaged-
// 20261208-214500"). Raises KavoError when something other than a regular
// file has a journal's name. Only for a run that holds the folder's lock.
void RecoverLeftoverJournals(const std::string& directory);
// `quellix --recover DIR`: 0 when a journal was recovered into the summary,
// 16 when DIR holds none, 17 when a journal cannot be read as one (it is then
// set aside) or something other than a regular file has its name. Logs
// through the loggers the caller started.
int RecoverCommand(const std::string& directory);
