#pragma once
// The host around the drive, and the host's NVMe drives.
#include <string>
#include <vector>

#include <json/value.h>

namespace kavo {

// Fills info["_metadata"]["system"] (names, power source, power settings),
// info["_metadata"]["date"] and, with extended data, the host inventory.
// Returns the number of host queries that failed.
int GetSystemInfo(Json::Value& info, const std::string& drive, bool extended);

}  // namespace kavo

// Physical drive numbers of the host's NVMe drives, in the order the system
// reports them; raises KavoError when they cannot be listed.
std::vector<std::string> GetNvmeDriveList();

