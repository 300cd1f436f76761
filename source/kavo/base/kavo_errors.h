#pragma once
// The program's error: a message and the exit code the run ends with. The
// entry point reads the code; nothing is ever told apart by its text.
#include <stdexcept>
#include <string>

namespace kavo {

// Exit codes of errors that end a run.
constexpr int kExitUsage = 16;          // wrong use: command line, command file, settings, input files
constexpr int kExitFailure = 17;        // a failure of the system or the drive
constexpr int kExitDriveNotFound = 19;  // a drive that was named is not there

class Error : public std::runtime_error {
public:
    Error(int exitCode, const std::string& message) : std::runtime_error(message), exitCode_(exitCode) {}
    int exitCode() const { return exitCode_; }

private:
    int exitCode_;
};

// The errors by their codes, for the places that raise them.
struct UsageError : Error {
    explicit UsageError(const std::string& message) : Error(kExitUsage, message) {}
};
struct KavoError : Error {
    explicit KavoError(const std::string& message) : Error(kExitFailure, message) {}
};
struct DriveNotFound : Error {
    explicit DriveNotFound(const std::string& message) : Error(kExitDriveNotFound, message) {}
};

// Re-raises the exception being handled: an Error unchanged, any other as a
// runtime error whose text gains the function and location.
[[noreturn]] void RethrowWithLocation(const char* function, const char* file, int line);

}  // namespace kavo
