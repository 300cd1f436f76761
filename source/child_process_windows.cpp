// Child processes on Windows: CreateProcess with an anonymous pipe as
// standard input.
#include "child_process.h"

#include <windows.h>

#include "base/kavo_errors.h"

namespace {

std::string LastError() { return "error " + std::to_string(GetLastError()); }

// One argument quoted as the C runtime's parser reads it back: backslashes
// double only before a quote or the closing quote.
std::string Quoted(const std::string& argument) {
    if (!argument.empty() && argument.find_first_of(" \t\"") == std::string::npos) return argument;
    std::string quoted = "\"";
    size_t backslashes = 0;
    for (char c : argument) {
        if (c == '\\') {
            ++backslashes;
            continue;
        }
        quoted.append(c == '"' ? backslashes * 2 + 1 : backslashes, '\\');
        backslashes = 0;
        quoted += c;
    }
    quoted.append(backslashes * 2, '\\');
    return quoted + "\"";
}

class WindowsChildProcess : public ChildProcess {
public:
    WindowsChildProcess(HANDLE process, HANDLE input) : process_(process), input_(input) {}
    ~WindowsChildProcess() override {
        CloseInput();
        int exitCode = 0;
        if (!Ended(exitCode)) {
            Kill();
            WaitForSingleObject(process_, INFINITE);
        }
        CloseHandle(process_);
    }
    bool Ended(int& exitCode) override {
        if (WaitForSingleObject(process_, 0) != WAIT_OBJECT_0) return false;
        DWORD code = 0;
        GetExitCodeProcess(process_, &code);
        exitCode = static_cast<int>(code);
        return true;
    }
    int Wait() override {
        WaitForSingleObject(process_, INFINITE);
        int exitCode = 0;
        Ended(exitCode);
        return exitCode;
    }
    void CloseInput() override {
        if (input_ != nullptr) CloseHandle(input_);
        input_ = nullptr;
    }
    void Kill() override { TerminateProcess(process_, 137); }

private:
    HANDLE process_;
    HANDLE input_;
};

}  // namespace

std::unique_ptr<ChildProcess> StartChildProcess(const std::string& program, const std::vector<std::string>& arguments,
                                                const std::string& outputPath) {
    SECURITY_ATTRIBUTES inherited{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
    HANDLE readEnd = nullptr, writeEnd = nullptr;
    if (!CreatePipe(&readEnd, &writeEnd, &inherited, 0))
        throw kavo::KavoError("Failed to make a pipe for " + program + ": " + LastError());
    // Only the child's end is inherited, so the pipe ends when we close ours.
    SetHandleInformation(writeEnd, HANDLE_FLAG_INHERIT, 0);
    HANDLE output = CreateFileA(outputPath.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherited,
                                CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (output == INVALID_HANDLE_VALUE) {
        std::string reason = LastError();
        CloseHandle(readEnd);
        CloseHandle(writeEnd);
        throw kavo::KavoError("Failed to make " + outputPath + ": " + reason);
    }
    std::string commandLine = Quoted(program);
    for (const std::string& argument : arguments) commandLine += " " + Quoted(argument);
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = readEnd;
    startup.hStdOutput = output;
    startup.hStdError = output;
    PROCESS_INFORMATION process{};
    BOOL started = CreateProcessA(program.c_str(), commandLine.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr,
                                  &startup, &process);
    std::string reason = started ? "" : LastError();
    CloseHandle(readEnd);
    CloseHandle(output);
    if (!started) {
        CloseHandle(writeEnd);
        throw kavo::KavoError("Failed to start " + program + ": " + reason);
    }
    CloseHandle(process.hThread);
    return std::make_unique<WindowsChildProcess>(process.hProcess, writeEnd);
}

std::string CurrentProgramPath() {
    char buffer[MAX_PATH * 4];
    DWORD length = GetModuleFileNameA(nullptr, buffer, sizeof buffer);
    if (length == 0 || length >= sizeof buffer) throw kavo::KavoError("Failed to find the program's own path: " + LastError());
    return std::string(buffer, length);
}

void WaitForEndOfInput() {
    HANDLE input = GetStdHandle(STD_INPUT_HANDLE);
    char buffer[256];
    DWORD count = 0;
    while (input != nullptr && input != INVALID_HANDLE_VALUE && ReadFile(input, buffer, sizeof buffer, &count, nullptr) &&
           count != 0) {
    }
}
