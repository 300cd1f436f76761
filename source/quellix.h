#pragma once
// The application: command line and command file, entry and dispatch, result
// reporting, usage text, console handlers and the two commands.
#include <cstdint>
#include <string>
#include <vector>

#include <json/value.h>

#include "info/rules.h"
#include "settings.h"

constexpr const char* kProgramName = "quellix";
constexpr const char* kProgramVersion = "0.9.3.0";
// The largest command file and rules file quellix reads: far more than any
// real one holds, and read in well under a second.
constexpr uint64_t kMaxCommandFileBytes = 1u << 20;
constexpr uint64_t kMaxRulesFileBytes = 1u << 20;

// Builds the settings of a run from the command line and the command file.
// "--help", "--usage" and "--export" alone end parsing with only the request
// set; errors raise kavo::Error with their exit code.
void GetAppParameters(int argc, char** argv, Settings& settings);
// Writes "parameter_list.json" and "ALL.filter.json" into the current directory.
void ExportParameterList();
// Short usage, or the verbose help.
void DisplayUsage(bool verbose);
// "--help", "-h", "--usage" or "-u" as the only argument: the text and the
// trace file, written without starting the loggers. False for anything else.
bool AnswerUsageRequest(const std::string& option);
// The whole program: settings, dispatch, the final line; returns the exit status.
int QuellixMain(int argc, char** argv);
// "--version" and "--list" anywhere among the options: answers the request
// (no trace log, no files) and returns true with the exit status.
bool AnswerInformationRequest(int argc, char** argv, int& exitStatus);
// Program name, version, build date and commit on standard output.
void PrintVersion();
// Every NVMe drive of the host, or those named as -n names them, a line
// each or (`json`) as a JSON array; 0 with the list, 19 when there is none
// or a named one is not there.
int ListDrives(const std::vector<std::string>& drives, bool json);
namespace kavo {
struct NvmeControllerSummary;
}
// One line of the drive list: the texts of the drive and the system with
// control bytes and bytes that are not UTF-8 shown as \xHH.
std::string DriveListLine(const kavo::NvmeControllerSummary& controller);
class RunJournal;

// Records the result in the summary document and writes it; returns
// `returnCode`. With a journal, its command and sample records fill the
// summary's arrays and the journal is removed.
int LogResult(Json::Value& summary, int returnCode, const std::string& message, const std::string& path,
              RunJournal* journal = nullptr);
struct JournalKind;
// Ends a run that has begun to write into its folder: draws the report
// (with `report`), records the result and writes the summary, and removes
// the journal whatever happens. The two agree: a report that cannot be
// written makes the run's result its error (17); a summary that cannot be
// written raises its error, and then neither the report nor an earlier
// run's summary is left under the run's names. Returns the result.
int FinishRun(Json::Value& summary, int returnCode, std::string message, const std::string& summaryPath,
              RunJournal* journal, bool report, const JournalKind& kind);

// Console interrupts: the first Ctrl-C (SIGINT) or Ctrl-Break (SIGTERM on
// Linux) asks for a graceful stop; a second one ends the process.
void handleCtrlC(int signal);
void handleCtrlBreak(int signal);
void InstallConsoleHandlers();
// A console or pipe that went away (quellix ... | head) must not end the
// run: writes to it fail quietly instead of killing the process.
void IgnoreBrokenPipes();

// Process-wide settings applied by the entry point.
void RaiseProcessPriority();
void RaiseTimerResolution();

int Read(const Settings& settings);
// The rules of a rules file; a usage error lists every bad rule.
std::vector<kavo::Rule> LoadRulesFile(const std::string& path);
int SelfTest(const Settings& settings);
