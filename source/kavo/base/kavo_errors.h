#pragma once
// The program's two exception classes. Both carry only a message.
#include <stdexcept>
#include <string>

namespace kavo {

// Wrong use: command line, command file, settings, missing input files,
// and the two requests "help" and "usage".
class UsageError : public std::runtime_error {
public:
    explicit UsageError(const std::string& message) : std::runtime_error(message) {}
};

// Failures of the system or the drive.
class KavoError : public std::runtime_error {
public:
    explicit KavoError(const std::string& message) : std::runtime_error(message) {}
};

// Re-raises the exception being handled: UsageError and KavoError unchanged,
// any other as a runtime error whose text gains the function and location.
[[noreturn]] void RethrowWithLocation(const char* function, const char* file, int line);

}  // namespace kavo
