// Linux implementations of the platform services.
#include "base/platform.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace kavo::platform {

bool LocalTime(std::time_t t, std::tm& out) { return localtime_r(&t, &out) != nullptr; }

bool StdoutIsConsole() { return isatty(fileno(stdout)) == 1; }
bool StderrIsConsole() { return isatty(fileno(stderr)) == 1; }

bool StderrSameAsStdout() {
    struct stat out {}, err {};
    if (fstat(fileno(stdout), &out) != 0 || fstat(fileno(stderr), &err) != 0) return false;
    return out.st_dev == err.st_dev && out.st_ino == err.st_ino;
}

void WriteConsole(const std::string& text, int colour, bool standardError, bool flush) {
    std::FILE* stream = standardError ? stderr : stdout;
    // ANSI colours: white on red, bright red, bright yellow.
    static const char* const kCodes[] = {"", "\033[97;41m", "\033[91m", "\033[93m"};
    if (colour > 0 && colour < 4) {
        std::string line = text;
        bool newline = !line.empty() && line.back() == '\n';
        if (newline) line.pop_back();
        std::fputs(kCodes[colour], stream);
        std::fputs(line.c_str(), stream);
        std::fputs("\033[0m", stream);
        if (newline) std::fputc('\n', stream);
    } else {
        std::fwrite(text.data(), 1, text.size(), stream);
    }
    if (flush) std::fflush(stream);
}

const char* NativeLineEnd() { return "\n"; }

std::string LastErrorText() { return std::strerror(errno); }

std::FILE* CreateNewFile(const std::string& path, std::string& reason) {
    int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
    if (fd < 0) {
        reason = LastErrorText();
        return nullptr;
    }
    std::FILE* file = fdopen(fd, "wb");
    if (file == nullptr) {
        reason = LastErrorText();
        close(fd);
    }
    return file;
}

bool SyncFile(std::FILE* file, std::string& reason) {
    if (std::fflush(file) != 0 || fsync(fileno(file)) != 0) {
        reason = LastErrorText();
        return false;
    }
    return true;
}

bool ReplaceFile(const std::string& from, const std::string& to, std::string& reason) {
    if (std::rename(from.c_str(), to.c_str()) == 0) return true;
    reason = LastErrorText();
    return false;
}

void SyncDirectory(const std::string& directory) {
    int fd = open(directory.empty() ? "." : directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return;
    fsync(fd);
    close(fd);
}

}  // namespace kavo::platform
