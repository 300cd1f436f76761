#include "hostile.h"

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace fs = std::filesystem;

namespace hostile {

pid_t Start(const std::string& directory, const std::string& arguments, const std::string& output) {
    const std::string command =
        "cd '" + directory + "' && exec '" QUELLIX_BINARY "' " + arguments + " > '" + output + "' 2>&1";
    pid_t child = fork();
    if (child == 0) {
        execl("/bin/sh", "sh", "-c", command.c_str(), static_cast<char*>(nullptr));
        _exit(127);
    }
    return child;
}

int Wait(pid_t child) {
    int status = 0;
    waitpid(child, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

test::RunResult RunBounded(const std::string& directory, const std::string& arguments, int seconds) {
    const std::string output = ".bounded-output.txt";
    const pid_t child = Start(directory, arguments, output);
    test::RunResult result;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
    int status = 0;
    while (waitpid(child, &status, WNOHANG) == 0) {
        if (std::chrono::steady_clock::now() > deadline) {
            kill(child, SIGKILL);
            waitpid(child, &status, 0);
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    result.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    result.output = test::ReadFile(directory + "/" + output);
    fs::remove(directory + "/" + output);
    return result;
}

bool AwaitFile(const std::string& path, int seconds) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
    while (!fs::exists(path)) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return true;
}

size_t JournalSamples(const std::string& path) {
    const std::string text = test::ReadFile(path);
    size_t count = 0, at = 0;
    while (true) {
        const size_t end = text.find('\n', at);
        if (end == std::string::npos) break;
        count += text.compare(at, 5, "{\"t\":") == 0;
        at = end + 1;
    }
    return count;
}

std::vector<std::string> Names(const std::string& directory) {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(directory)) names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

Json::Value Samples(const std::string& summaryPath) { return test::ReadJson(summaryPath)["read details"]["sample"]; }

}  // namespace hostile
