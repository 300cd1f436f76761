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
    // skeleton `head`. Raises KavoError when it cannot be written.
    RunJournal(const JournalKind& kind, const std::string& directory, const Json::Value& head, int64_t startNanoseconds);
    RunJournal(const RunJournal&) = delete;
    RunJournal& operator=(const RunJournal&) = delete;
    ~RunJournal();

    // The command records of an array, in order.
    void Commands(const kavo::CommandLog& records);
    // A sample record given as JSON text, with the running mismatch counts of
    // the read summary.
    void Sample(const std::string& record, int staticMismatches = 0, int counterMismatches = 0);
    // The records so far reach the file (and, at most once a second, the
    // device). Raises KavoError when they cannot.
    void Flush();
    // Writes the summary with the journal's records in place of its command
    // and sample arrays. The journal stays until Remove.
    void WriteSummary(Json::Value& summary, const std::string& path);
    // Hands each sample record so far to `sample`, in order.
    void EachSample(const std::function<void(const Json::Value& record)>& sample);
    // Removes the journal: its records stand in the summary.
    void Remove();

private:
    void Line(const std::string& text);
    [[noreturn]] void Fail();

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
std::function<void(Json::Value&, const std::function<void(const Json::Value&)>&)> SummaryWithJournal(
    const Json::Value& summary, RunJournal& journal);

// Turns the journal of an interrupted run into the summary at `summaryPath`:
// every complete record, result FAIL, a message saying the run was
// interrupted and when its last record was written; the journal is then
// removed. Returns the number of samples recovered; raises KavoError when the
// journal cannot be read.
size_t RecoverJournal(const JournalKind& kind, const std::string& journalPath, const std::string& summaryPath,
                      std::string& message);
// Recovers the journals that interrupted runs left in `directory` into
// summaries named after the interrupted run ("read.summary.interrupted-
// 20261208-214000.json"), so that a new run does not overwrite them.
void RecoverLeftoverJournals(const std::string& directory);
// `quellix --recover DIR`: 0 when a journal was recovered into the summary,
// 16 when DIR holds none.
int RecoverCommand(const std::string& directory);
