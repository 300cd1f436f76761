#pragma once
// The hostile-input and fault suite: runs of quellix against what a careless
// user, a failing system or an attacker puts in its way. Each family (signals,
// folders and files, journals, metrics, report, drive texts) is a test suite
// of its own, and a test of its own in CTest.
#include <gtest/gtest.h>

#include <string>
#include <sys/types.h>

#include <json/value.h>

#include "run_binary.h"
#include "scratch_test.h"

namespace hostile {

// Starts `quellix ARGUMENTS` in `directory` in the background, its output
// going to `output` there.
pid_t Start(const std::string& directory, const std::string& arguments, const std::string& output = "out.txt");
// Waits for a started run: its exit status, or 128 + the signal that ended it.
int Wait(pid_t child);
// Runs `quellix ARGUMENTS` in `directory`, killed after `seconds` when it
// has not ended by then (exit status 137): a run that would block forever
// fails its test instead of hanging the suite.
test::RunResult RunBounded(const std::string& directory, const std::string& arguments, int seconds = 30);
// Waits until `path` exists (up to `seconds`); false when it never does.
bool AwaitFile(const std::string& path, int seconds = 20);
// Complete lines of sample records in a journal.
size_t JournalSamples(const std::string& path);
// The names in `directory`, sorted.
std::vector<std::string> Names(const std::string& directory);
// The sample records of a summary.
Json::Value Samples(const std::string& summaryPath);

}  // namespace hostile
