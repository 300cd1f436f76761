// Windows implementations of the platform services.
#include "base/platform.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>
#include <windows.h>

namespace kavo::platform {

bool LocalTime(std::time_t t, std::tm& out) { return localtime_s(&out, &t) == 0; }

namespace {

bool IsConsole(DWORD which) {
    DWORD mode = 0;
    return GetConsoleMode(GetStdHandle(which), &mode) != 0;
}

}  // namespace

bool StdoutIsConsole() { return IsConsole(STD_OUTPUT_HANDLE); }
bool StderrIsConsole() { return IsConsole(STD_ERROR_HANDLE); }

bool StderrSameAsStdout() {
    if (StdoutIsConsole() && StderrIsConsole()) return true;
    BY_HANDLE_FILE_INFORMATION out{}, err{};
    if (!GetFileInformationByHandle(GetStdHandle(STD_OUTPUT_HANDLE), &out) ||
        !GetFileInformationByHandle(GetStdHandle(STD_ERROR_HANDLE), &err))
        return false;
    return out.dwVolumeSerialNumber == err.dwVolumeSerialNumber && out.nFileIndexHigh == err.nFileIndexHigh &&
           out.nFileIndexLow == err.nFileIndexLow;
}

void WriteConsole(const std::string& text, int colour, bool standardError, bool flush) {
    HANDLE out = GetStdHandle(standardError ? STD_ERROR_HANDLE : STD_OUTPUT_HANDLE);
    std::FILE* stream = standardError ? stderr : stdout;
    if (!IsConsole(standardError ? STD_ERROR_HANDLE : STD_OUTPUT_HANDLE)) {
        std::fwrite(text.data(), 1, text.size(), stream);
        if (flush) std::fflush(stream);
        return;
    }
    CONSOLE_SCREEN_BUFFER_INFO info{};
    GetConsoleScreenBufferInfo(out, &info);
    static const WORD kAttributes[] = {
        0,
        FOREGROUND_RED | FOREGROUND_GREEN | FOREGROUND_BLUE | FOREGROUND_INTENSITY | BACKGROUND_RED,
        FOREGROUND_RED | FOREGROUND_INTENSITY,
        FOREGROUND_RED | FOREGROUND_GREEN | FOREGROUND_INTENSITY};
    if (colour > 0 && colour < 4) SetConsoleTextAttribute(out, kAttributes[colour]);
    int wideLength = MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    std::wstring wide(static_cast<size_t>(wideLength), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), wide.data(), wideLength);
    DWORD written = 0;
    WriteConsoleW(out, wide.data(), static_cast<DWORD>(wide.size()), &written, nullptr);
    if (colour > 0 && colour < 4) SetConsoleTextAttribute(out, info.wAttributes);
}

const char* NativeLineEnd() { return "\r\n"; }

std::string LastErrorText() { return std::strerror(errno); }

std::FILE* CreateNewFile(const std::string& path, std::string& reason) {
    int fd = _open(path.c_str(), _O_WRONLY | _O_CREAT | _O_EXCL | _O_BINARY | _O_NOINHERIT, _S_IREAD | _S_IWRITE);
    if (fd < 0) {
        reason = LastErrorText();
        return nullptr;
    }
    std::FILE* file = _fdopen(fd, "wb");
    if (file == nullptr) {
        reason = LastErrorText();
        _close(fd);
    }
    return file;
}

bool SyncFile(std::FILE* file, std::string& reason) {
    if (std::fflush(file) != 0 || _commit(_fileno(file)) != 0) {
        reason = LastErrorText();
        return false;
    }
    return true;
}

bool ReplaceFile(const std::string& from, const std::string& to, std::string& reason) {
    if (MoveFileExA(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) return true;
    char text[256] = {};
    FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, GetLastError(), 0, text,
                   sizeof text, nullptr);
    reason = text;
    while (!reason.empty() && (reason.back() == '\n' || reason.back() == '\r')) reason.pop_back();
    return false;
}

void SyncDirectory(const std::string&) {}

std::FILE* OpenAppendFile(const std::string& path, std::string& reason) {
    // Links on Windows need a privilege to make; _open follows none that a
    // user without it could plant.
    int fd = _open(path.c_str(), _O_WRONLY | _O_APPEND | _O_CREAT | _O_BINARY | _O_NOINHERIT, _S_IREAD | _S_IWRITE);
    if (fd < 0) {
        reason = LastErrorText();
        return nullptr;
    }
    std::FILE* file = _fdopen(fd, "ab");
    if (file == nullptr) {
        reason = LastErrorText();
        _close(fd);
    }
    return file;
}

std::FILE* OpenRegularFile(const std::string& path, uint64_t maxBytes, std::string& reason) {
    int fd = _open(path.c_str(), _O_RDONLY | _O_BINARY | _O_NOINHERIT);
    if (fd < 0) {
        reason = LastErrorText();
        return nullptr;
    }
    struct _stat64 status {};
    if (_fstat64(fd, &status) != 0) {
        reason = LastErrorText();
    } else if ((status.st_mode & _S_IFMT) != _S_IFREG) {
        reason = "not a regular file";
    } else if (maxBytes != 0 && static_cast<uint64_t>(status.st_size) > maxBytes) {
        reason = "larger than " + std::to_string(maxBytes) + " bytes";
    } else if (std::FILE* file = _fdopen(fd, "rb")) {
        return file;
    } else {
        reason = LastErrorText();
    }
    _close(fd);
    return nullptr;
}

EntryKind KindOf(const std::string& path) {
    const DWORD attributes = GetFileAttributesA(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        const DWORD error = GetLastError();
        return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND ? EntryKind::Absent : EntryKind::Other;
    }
    const DWORD notPlain = FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DEVICE;
    return (attributes & notPlain) == 0 ? EntryKind::Regular : EntryKind::Other;
}

long ProcessId() { return static_cast<long>(GetCurrentProcessId()); }

namespace {

std::string SystemErrorText(DWORD error) {
    char text[256] = {};
    FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, error, 0, text, sizeof text,
                   nullptr);
    std::string reason = text;
    while (!reason.empty() && (reason.back() == '\n' || reason.back() == '\r')) reason.pop_back();
    return reason;
}

}  // namespace

FileLock LockForProcess(const std::string& path) {
    FileLock lock;
    // Shared for reading and writing, so that another process can open the
    // file, fail to lock it and read the holder's id from it.
    HANDLE file = CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                              OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        lock.reason = SystemErrorText(GetLastError());
        return lock;
    }
    if (GetFileType(file) != FILE_TYPE_DISK) {
        lock.reason = "not a regular file";
        CloseHandle(file);
        return lock;
    }
    // The locked byte lies beyond the text, which stays readable.
    OVERLAPPED beyondText{};
    beyondText.OffsetHigh = 1;
    if (LockFileEx(file, LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0, &beyondText)) {
        const std::string pid = std::to_string(GetCurrentProcessId()) + "\r\n";
        DWORD written = 0;
        if (SetFilePointer(file, 0, nullptr, FILE_BEGIN) == 0 && SetEndOfFile(file))
            WriteFile(file, pid.data(), static_cast<DWORD>(pid.size()), &written, nullptr);
        lock.outcome = FileLock::Outcome::Taken;
        return lock;  // the handle stays open for the life of the process
    }
    const DWORD error = GetLastError();
    if (error != ERROR_LOCK_VIOLATION && error != ERROR_IO_PENDING) {
        lock.reason = SystemErrorText(error);
        CloseHandle(file);
        return lock;
    }
    lock.outcome = FileLock::Outcome::HeldElsewhere;
    char text[32] = {};
    DWORD read = 0;
    if (ReadFile(file, text, sizeof text - 1, &read, nullptr) && read > 0) lock.holder = std::strtol(text, nullptr, 10);
    CloseHandle(file);
    return lock;
}

}  // namespace kavo::platform
