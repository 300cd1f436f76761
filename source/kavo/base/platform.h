#pragma once
// The few operating-system services that platform-free code needs. Each
// platform implements them in its own file (platform_linux.cpp,
// platform_windows.cpp).
#include <cstdint>
#include <cstdio>
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
// error; colour 0 plain, 1 fatal, 2 error, 3 warning. Flushed unless
// `flush` is false (a burst of lines flushed once at its end).
void WriteConsole(const std::string& text, int colour, bool standardError = false, bool flush = true);
// The native line end of text files ("\n" or "\r\n").
const char* NativeLineEnd();

// Files written atomically. CreateNewFile makes `path` for writing only when
// nothing (not even a link) has that name; nullptr and `reason` otherwise.
std::FILE* CreateNewFile(const std::string& path, std::string& reason);
// Flushes the stream and asks the system to put the file on the device.
bool SyncFile(std::FILE* file, std::string& reason);
// Renames `from` over `to` in one step: readers see the old file or the new
// one, never a mix; a link named `to` is replaced, not followed.
bool ReplaceFile(const std::string& from, const std::string& to, std::string& reason);
// Puts a folder's entries (a rename) on the device; best effort.
void SyncDirectory(const std::string& directory);
// Opens `path` for appending, creating it when absent; a link under the name
// is not followed (nullptr and `reason`), so a planted link cannot point a
// write elsewhere.
std::FILE* OpenAppendFile(const std::string& path, std::string& reason);

// Opens `path` for reading only when it is a regular file of at most
// `maxBytes` bytes (0: any size). A pipe, device or folder is refused at
// once: opening a pipe does not wait for a writer. nullptr and `reason`
// otherwise.
std::FILE* OpenRegularFile(const std::string& path, uint64_t maxBytes, std::string& reason);
// What lies under a name, without following a link.
enum class EntryKind { Absent, Regular, Other };
EntryKind KindOf(const std::string& path);

// An exclusive advisory lock on a lock file, held by this process until it
// ends: the system drops it with the process, however the process ends. The
// file is created when absent (never through a link) and holds the holder's
// process id as text.
struct FileLock {
    enum class Outcome { Taken, HeldElsewhere, Failed } outcome = Outcome::Failed;
    long holder = 0;     // HeldElsewhere: the other process's id (0 when unknown)
    std::string reason;  // Failed: why the lock file could not be used
};
FileLock LockForProcess(const std::string& path);
long ProcessId();
// The system's text for the last failure of a C library call.
std::string LastErrorText();

}  // namespace kavo::platform
