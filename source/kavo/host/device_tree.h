#pragma once
// The host's device tree as JSON nodes ("ID", "Description", PCI members and
// "[Children]"), and the search for a drive in it.
#include <string>

#include <json/value.h>

#include "decode/parameters.h"

namespace kavo {

// Searches `nodes` depth first for the node whose "ID" is `target`. The
// parent (the drive's controller) gives the PCI parameters, the node above
// it the Root PCI parameters. `path` collects the nodes from the drive up.
bool FindDriveInDeviceTree(const Json::Value& nodes, const std::string& target, const Json::Value& parent,
                           Parameters& parameters, Json::Value& path);

// PCI link speed as the tree shows it: "Gen3 8.0GT/s"; "" when unknown.
std::string PciSpeedText(int generation);

}  // namespace kavo
