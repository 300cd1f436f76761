#pragma once
// The application: command line and command file, entry and dispatch, result
// reporting, usage text, console handlers and the two commands.
#include <cstdint>
#include <string>

#include <json/value.h>

constexpr const char* kProgramName = "quellix";
constexpr const char* kProgramVersion = "0.9.3.0";

// Builds the settings object from the command line and the command file.
// "--help" and "--usage" end parsing with settings holding only
// "usage request" ("help" or "usage"); errors raise kavo::UsageError.
void GetAppParameters(int argc, char** argv, Json::Value& settings);
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
// Every NVMe drive of the host, or the one named (a number, nvmeN, sim or
// sim:FILE), a line each; 0 with the list, 19 when there is none.
int ListDrives(const std::string& drive);
class RunJournal;

// Records the result in the summary document and writes it; returns
// `returnCode`. With a journal, its command and sample records fill the
// summary's arrays and the journal is removed.
int LogResult(Json::Value& summary, int returnCode, const std::string& message, const std::string& path,
              RunJournal* journal = nullptr);

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

// An unsigned setting of the command file; a value of another type is a
// KavoError naming the key. An absent key reads as 0 when `absentIsZero`.
uint32_t UnsignedSetting(const Json::Value& settings, const char* key, bool absentIsZero = false);

// The command file's "report": absent or true draws the run's report, false
// does not; anything else is a usage error.
bool ReportWanted(const Json::Value& settings);

int Read(Json::Value& settings);
void LoadRulesFile(const std::string& path, Json::Value& rules);
int SelfTest(Json::Value& settings);
