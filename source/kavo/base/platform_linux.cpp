// Linux implementations of the platform services.
#include "base/platform.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
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

std::FILE* OpenAppendFile(const std::string& path, std::string& reason) {
    int fd = open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0666);
    if (fd < 0) {
        reason = LastErrorText();
        return nullptr;
    }
    std::FILE* file = fdopen(fd, "ab");
    if (file == nullptr) {
        reason = LastErrorText();
        close(fd);
    }
    return file;
}

std::FILE* OpenRegularFile(const std::string& path, uint64_t maxBytes, std::string& reason) {
    // Non-blocking only for the open: a pipe would wait for a writer.
    int fd = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        reason = LastErrorText();
        return nullptr;
    }
    struct stat status {};
    if (fstat(fd, &status) != 0) {
        reason = LastErrorText();
    } else if (!S_ISREG(status.st_mode)) {
        reason = "not a regular file";
    } else if (maxBytes != 0 && static_cast<uint64_t>(status.st_size) > maxBytes) {
        reason = "larger than " + std::to_string(maxBytes) + " bytes";
    } else if (fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK) != 0) {
        reason = LastErrorText();
    } else if (std::FILE* file = fdopen(fd, "rb")) {
        return file;
    } else {
        reason = LastErrorText();
    }
    close(fd);
    return nullptr;
}

EntryKind KindOf(const std::string& path) {
    struct stat status {};
    if (lstat(path.c_str(), &status) != 0) return errno == ENOENT ? EntryKind::Absent : EntryKind::Other;
    return S_ISREG(status.st_mode) ? EntryKind::Regular : EntryKind::Other;
}

long ProcessId() { return static_cast<long>(getpid()); }

namespace {

// The process id a lock file names, 0 when it names none.
long RecordedHolder(int fd) {
    char text[32] = {};
    const ssize_t length = pread(fd, text, sizeof text - 1, 0);
    return length > 0 ? std::strtol(text, nullptr, 10) : 0;
}

}  // namespace

FileLock LockForProcess(const std::string& path) {
    FileLock lock;
    const int fd = open(path.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0644);
    if (fd < 0) {
        lock.reason = LastErrorText();
        return lock;
    }
    struct stat status {};
    if (fstat(fd, &status) != 0 || !S_ISREG(status.st_mode)) {
        lock.reason = "not a regular file";
        close(fd);
        return lock;
    }
    // A record lock of the whole file: the system releases it when the
    // process ends, and tells another process who holds it.
    struct flock whole {};
    whole.l_type = F_WRLCK;
    whole.l_whence = SEEK_SET;
    if (fcntl(fd, F_SETLK, &whole) == 0) {
        const std::string pid = std::to_string(getpid()) + "\n";
        // The id is a courtesy for other processes; the lock holds without it.
        const bool recorded = ftruncate(fd, 0) == 0 && pwrite(fd, pid.data(), pid.size(), 0) > 0;
        (void)recorded;
        lock.outcome = FileLock::Outcome::Taken;
        return lock;  // the descriptor stays open for the life of the process
    }
    if (errno != EACCES && errno != EAGAIN) {
        lock.reason = LastErrorText();
        close(fd);
        return lock;
    }
    lock.outcome = FileLock::Outcome::HeldElsewhere;
    struct flock probe {};
    probe.l_type = F_WRLCK;
    probe.l_whence = SEEK_SET;
    // The id the system gives is 0 for a holder in another PID namespace.
    if (fcntl(fd, F_GETLK, &probe) == 0 && probe.l_type != F_UNLCK && probe.l_pid > 0) lock.holder = probe.l_pid;
    else lock.holder = RecordedHolder(fd);
    close(fd);  // this process holds no lock on the file, so closing drops none
    return lock;
}

}  // namespace kavo::platform
