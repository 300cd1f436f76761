#pragma once
// The few operating-system services that platform-free code needs. Each
// platform implements them in its own file (platform_linux.cpp,
// platform_windows.cpp).
#include <cstdint>
#include <ctime>
#include <string>

namespace kavo::platform {

// Local time of t; false when the system cannot convert it.
bool LocalTime(std::time_t t, std::tm& out);
// True when standard output (standard error) is an interactive console.
bool StdoutIsConsole();
bool StderrIsConsole();
// True when standard error leads to the same file, pipe or console as
// standard output, so a line written to both would show twice.
bool StderrSameAsStdout();
// Writes one formatted console line to standard output, or to standard
// error; colour 0 plain, 1 fatal, 2 error, 3 warning.
void WriteConsole(const std::string& text, int colour, bool standardError = false);
// The native line end of text files ("\n" or "\r\n").
const char* NativeLineEnd();

}  // namespace kavo::platform
