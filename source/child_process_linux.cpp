// Child processes on Linux: posix_spawn with a pipe as standard input.
#include "child_process.h"

#include <atomic>
#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include "base/kavo_errors.h"
#include "base/platform.h"

extern char** environ;

namespace {

class LinuxChildProcess : public ChildProcess {
public:
    LinuxChildProcess(pid_t pid, int input) : pid_(pid), input_(input) {}
    ~LinuxChildProcess() override {
        CloseInput();
        int exitCode = 0;
        if (!Ended(exitCode)) {
            // Not left behind as a stray process or a zombie.
            Kill();
            waitpid(pid_, nullptr, 0);
        }
    }
    bool Ended(int& exitCode) override {
        if (reaped_) {
            exitCode = exitCode_;
            return true;
        }
        int status = 0;
        pid_t result = waitpid(pid_, &status, WNOHANG);
        if (result != pid_) return false;
        reaped_ = true;
        exitCode_ = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + (WIFSIGNALED(status) ? WTERMSIG(status) : 0);
        exitCode = exitCode_;
        return true;
    }
    int Wait() override {
        int status = 0;
        while (!reaped_) {
            if (waitpid(pid_, &status, 0) == pid_) {
                reaped_ = true;
                exitCode_ = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + (WIFSIGNALED(status) ? WTERMSIG(status) : 0);
            } else if (errno != EINTR) {
                reaped_ = true;  // not our child any more: nothing to wait for
            }
        }
        return exitCode_;
    }
    void CloseInput() override {
        if (input_ >= 0) close(input_);
        input_ = -1;
    }
    void Kill() override {
        if (!reaped_) kill(pid_, SIGKILL);
    }

private:
    pid_t pid_;
    int input_;
    std::atomic<bool> reaped_{false};  // Wait runs on a thread of its own
    int exitCode_ = -1;
};

}  // namespace

std::unique_ptr<ChildProcess> StartChildProcess(const std::string& program, const std::vector<std::string>& arguments,
                                                const std::string& outputPath) {
    // Both ends close on exec: the child gets its own copy as descriptor 0
    // only, so no other child holds this pipe open.
    int pipeEnds[2];
    if (pipe2(pipeEnds, O_CLOEXEC) != 0)
        throw kavo::KavoError("Failed to make a pipe for " + program + ": " + kavo::platform::LastErrorText());
    int output = open(outputPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (output < 0) {
        std::string reason = kavo::platform::LastErrorText();
        close(pipeEnds[0]);
        close(pipeEnds[1]);
        throw kavo::KavoError("Failed to make " + outputPath + ": " + reason);
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, pipeEnds[0], 0);
    posix_spawn_file_actions_adddup2(&actions, output, 1);
    posix_spawn_file_actions_adddup2(&actions, output, 2);
    // The parent blocks its stop signals for its watcher thread and ignores
    // broken pipes; the child starts with neither.
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    sigset_t none, defaults;
    sigemptyset(&none);
    sigemptyset(&defaults);
    sigaddset(&defaults, SIGINT);
    sigaddset(&defaults, SIGTERM);
    sigaddset(&defaults, SIGPIPE);
    posix_spawnattr_setsigmask(&attributes, &none);
    posix_spawnattr_setsigdefault(&attributes, &defaults);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);

    std::vector<char*> argv;
    std::string name = program;
    argv.push_back(name.data());
    std::vector<std::string> copies = arguments;
    for (std::string& argument : copies) argv.push_back(argument.data());
    argv.push_back(nullptr);
    pid_t pid = 0;
    int error = posix_spawn(&pid, program.c_str(), &actions, &attributes, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attributes);
    close(pipeEnds[0]);
    close(output);
    if (error != 0) {
        close(pipeEnds[1]);
        throw kavo::KavoError("Failed to start " + program + ": error " + std::to_string(error));
    }
    return std::make_unique<LinuxChildProcess>(pid, pipeEnds[1]);
}

std::string CurrentProgramPath() {
    std::vector<char> buffer(4096);
    ssize_t length = readlink("/proc/self/exe", buffer.data(), buffer.size() - 1);
    if (length <= 0) throw kavo::KavoError("Failed to find the program's own path: " + kavo::platform::LastErrorText());
    return std::string(buffer.data(), static_cast<size_t>(length));
}

void WaitForEndOfInput() {
    char buffer[256];
    while (true) {
        ssize_t count = read(0, buffer, sizeof buffer);
        if (count == 0 || (count < 0 && errno != EINTR)) return;
    }
}
