#include "run_binary.h"

#include <array>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#ifdef _WIN32
#include <process.h>
#define popen _popen
#define pclose _pclose
#define getpid _getpid
#else
#include <sys/wait.h>
#include <unistd.h>
#endif

#include "base/kavo_json.h"

namespace test {

std::string ScratchDirectory(const std::string& name) {
    std::filesystem::path path = std::filesystem::temp_directory_path() / ("quellix-test-" + std::to_string(getpid())) / name;
    std::filesystem::remove_all(path);
    std::filesystem::create_directories(path);
    return path.string();
}

namespace {

RunResult RunCommand(const std::string& directory, const std::string& arguments, const std::string& redirection) {
#ifdef _WIN32
    std::string command = "cd /d \"" + directory + "\" && \"" QUELLIX_BINARY "\" " + arguments + " " + redirection;
#else
    std::string command = "cd '" + directory + "' && '" QUELLIX_BINARY "' " + arguments + " " + redirection;
#endif
    RunResult result;
    FILE* pipe = popen(command.c_str(), "r");
    if (pipe == nullptr) return result;
    std::array<char, 4096> buffer;
    size_t count = 0;
    while ((count = fread(buffer.data(), 1, buffer.size(), pipe)) > 0) result.output.append(buffer.data(), count);
    int status = pclose(pipe);
#ifdef _WIN32
    result.exitCode = status;
#else
    result.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
#endif
    return result;
}

}  // namespace

RunResult RunQuellix(const std::string& directory, const std::string& arguments) {
    return RunCommand(directory, arguments, "2>&1");
}

RunResult RunRead(const std::string& directory, const Json::Value& changes, const std::string& arguments) {
    WriteJson(directory + "/read.cmd.json", ReadCommand(changes));
    return RunQuellix(directory, arguments);
}

SplitResult RunQuellixSplit(const std::string& directory, const std::string& arguments) {
    const std::string errors = directory + "/standard-error.txt";
    RunResult run = RunCommand(directory, arguments, "2>\"" + errors + "\"");
    SplitResult result{run.exitCode, run.output, ReadFile(errors)};
    std::filesystem::remove(errors);
    return result;
}

void WriteFile(const std::string& path, const std::string& text) {
    std::ofstream file(path, std::ios::binary);
    file << text;
}

std::string ReadFile(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    std::stringstream text;
    text << file.rdbuf();
    return text.str();
}

Json::Value ReadJson(const std::string& path) {
    Json::Value document;
    kavo::ReadJsonFile(path, document);
    return document;
}

void WriteJson(const std::string& path, const Json::Value& document) { kavo::WriteJsonFile(path, document); }

namespace {
void Merge(Json::Value& target, const Json::Value& changes) {
    if (!changes.isObject()) return;
    for (const std::string& key : changes.getMemberNames()) target[key] = changes[key];
}
}  // namespace

Json::Value ReadCommand(const Json::Value& changes) {
    Json::Value command(Json::objectValue);
    command["command type"] = "read";
    command["short description"] = "test read";
    command["log hex data"] = false;
    command["read system data"] = true;
    command["read extended system data"] = false;
    command["read identify controller"] = true;
    command["read identify namespace"] = true;
    char key[32];
    for (int f = 1; f <= 0x16; ++f) {
        std::snprintf(key, sizeof key, "read feature %02Xh", f);
        command[key] = true;
    }
    command["read feature 18h"] = true;
    for (int p = 1; p <= 0x10; ++p) {
        std::snprintf(key, sizeof key, "read log page %02Xh", p);
        command[key] = true;
    }
    command["samples"] = 1;
    command["interval in ms"] = 0;
    command["display sample rate"] = 0;
    command["log sample rate"] = 0;
    command["compare type"] = "default";
    command["compare file"] = "";
    command["rules file"] = "";
    command["fail limit"] = 1;
    command["high priority"] = false;
    command["high resolution timer"] = false;
    Merge(command, changes);
    return command;
}

Json::Value SelfTestCommand(const Json::Value& changes) {
    Json::Value command(Json::objectValue);
    command["command type"] = "self-test";
    command["short description"] = "test self-test";
    command["display sample interval in sec"] = 0;
    command["extended self-test"] = false;
    command["read command times"] = true;
    command["read smart data"] = true;
    command["abort time"] = 0;
    command["high priority"] = false;
    command["high resolution timer"] = false;
    Merge(command, changes);
    return command;
}

size_t CountLines(const std::string& text, const std::string& needle) {
    size_t count = 0;
    std::istringstream lines(text);
    for (std::string line; std::getline(lines, line);)
        if (line.find(needle) != std::string::npos) ++count;
    return count;
}

}  // namespace test
