// Linux implementations of the platform services.
#include "base/platform.h"

#include <cstdio>
#include <unistd.h>

namespace kavo::platform {

bool LocalTime(std::time_t t, std::tm& out) { return localtime_r(&t, &out) != nullptr; }

bool StdoutIsConsole() { return isatty(fileno(stdout)) == 1; }

void WriteConsole(const std::string& text, int colour) {
    // ANSI colours: white on red, bright red, bright yellow.
    static const char* const kCodes[] = {"", "\033[97;41m", "\033[91m", "\033[93m"};
    if (colour > 0 && colour < 4) {
        std::string line = text;
        bool newline = !line.empty() && line.back() == '\n';
        if (newline) line.pop_back();
        std::fputs(kCodes[colour], stdout);
        std::fputs(line.c_str(), stdout);
        std::fputs("\033[0m", stdout);
        if (newline) std::fputc('\n', stdout);
    } else {
        std::fwrite(text.data(), 1, text.size(), stdout);
    }
    std::fflush(stdout);
}

const char* NativeLineEnd() { return "\n"; }

}  // namespace kavo::platform
