// The log folder's lock.
#include "run_lock.h"

#include <filesystem>
#include <set>

#include "base/kavo_errors.h"
#include "base/platform.h"

namespace fs = std::filesystem;

void LockLogFolder(const std::string& directory) {
    static std::set<std::string> held;
    std::error_code error;
    fs::path folder = fs::weakly_canonical(fs::absolute(directory), error);
    if (error) folder = fs::absolute(directory);
    const std::string key = folder.string();
    if (held.count(key) != 0) return;
    const kavo::platform::FileLock lock = kavo::platform::LockForProcess((folder / kLockFileName).string());
    using Outcome = kavo::platform::FileLock::Outcome;
    if (lock.outcome == Outcome::HeldElsewhere)
        throw kavo::KavoError("Log directory '" + key + "' is in use by another quellix run (process " +
                              (lock.holder > 0 ? std::to_string(lock.holder) : std::string("id unknown")) +
                              "): one run per folder; use another folder (-d) or wait for that run to end");
    if (lock.outcome == Outcome::Failed)
        throw kavo::KavoError("Could not lock the log directory '" + key + "' (" + kLockFileName + "): " + lock.reason);
    held.insert(key);
}
