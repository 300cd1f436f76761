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
// True when standard output is an interactive console.
bool StdoutIsConsole();
// Writes one formatted console line; colour 0 plain, 1 fatal, 2 error, 3 warning.
void WriteConsole(const std::string& text, int colour);
// The native line end of text files ("\n" or "\r\n").
const char* NativeLineEnd();

}  // namespace kavo::platform
