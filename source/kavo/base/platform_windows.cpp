// Windows implementations of the platform services.
#include "base/platform.h"

#include <cerrno>
#include <cstdio>
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

}  // namespace kavo::platform
