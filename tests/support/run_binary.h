#pragma once
// Runs the built quellix binary in a scratch directory and collects its
// exit status and output, for end-to-end tests.
#include <string>

#include <json/value.h>

namespace test {

struct RunResult {
    int exitCode = -1;
    std::string output;  // standard output and standard error
};

// A fresh empty directory below the system's temporary directory.
std::string ScratchDirectory(const std::string& name);
// Runs `quellix ARGUMENTS` with `directory` as working directory.
RunResult RunQuellix(const std::string& directory, const std::string& arguments);
// The same with standard error kept apart: `output` holds standard output
// only, `errors` standard error.
struct SplitResult {
    int exitCode = -1;
    std::string output, errors;
};
SplitResult RunQuellixSplit(const std::string& directory, const std::string& arguments);
// Writes read.cmd.json (a complete read command file with `changes`) into
// `directory` and runs `quellix ARGUMENTS` there.
RunResult RunRead(const std::string& directory, const Json::Value& changes, const std::string& arguments);
void WriteFile(const std::string& path, const std::string& text);
std::string ReadFile(const std::string& path);
Json::Value ReadJson(const std::string& path);
// A complete read command file; `changes` are merged on top.
Json::Value ReadCommand(const Json::Value& changes = Json::Value());
Json::Value SelfTestCommand(const Json::Value& changes = Json::Value());
void WriteJson(const std::string& path, const Json::Value& document);
size_t CountLines(const std::string& text, const std::string& needle);

}  // namespace test
