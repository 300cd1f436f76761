#pragma once
// One run per log folder: a run, `--recover` and `--report` hold an advisory
// lock on the folder's lock file for as long as they live, so that a second
// run neither takes a live run's journal for an interrupted one nor writes
// over its files.
#include <string>

// The lock file's name in a log folder.
constexpr const char* kLockFileName = "quellix.lock";

// Takes the lock of `directory` for the rest of the process (nothing to do
// when this process holds it already). Raises KavoError naming the folder
// and the other run's process id when another run holds it, and when the
// lock file cannot be made; the folder is then left as it was.
void LockLogFolder(const std::string& directory);
