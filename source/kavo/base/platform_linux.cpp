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

namespace {

// Writes all of `size` bytes; a pipe or console that takes part of them
// gets the rest. Errors (a closed pipe) drop the text, as a stream would.
void WriteAll(int fd, const char* data, size_t size) {
    while (size > 0) {
        const ssize_t written = write(fd, data, size);
        if (written < 0) {
            if (errno == EINTR) continue;
            return;
        }
        data += written;
        size -= static_cast<size_t>(written);
    }
}

}  // namespace

void WriteConsole(const std::string& text, int colour, bool standardError, bool flush) {
    std::FILE* stream = standardError ? stderr : stdout;
    // ANSI colours: white on red, bright red, bright yellow.
    static const char* const kCodes[] = {"", "\033[97;41m", "\033[91m", "\033[93m"};
    std::string coloured;
    const std::string* out = &text;
    if (colour > 0 && colour < 4) {
        const bool newline = !text.empty() && text.back() == '\n';
        coloured.append(kCodes[colour]).append(text, 0, text.size() - (newline ? 1 : 0)).append("\033[0m");
        if (newline) coloured += '\n';
        out = &coloured;
    }
    if (!flush) {
        std::fwrite(out->data(), 1, out->size(), stream);
        return;
    }
    // A flushed line goes straight to the descriptor, after whatever a burst
    // left in the stream: a process that writes one text (the help) sets up
    // no stream buffer for it.
    std::fflush(stream);
    WriteAll(fileno(stream), out->data(), out->size());
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
