// The drive search in a device tree, shared by every platform.
#include "host/device_tree.h"

#include "decode/parameters.h"

namespace kavo {
namespace {

std::string Member(const Json::Value& node, const char* key) {
    const Json::Value& value = node[key];
    return value.isString() ? value.asString() : "";
}

}  // namespace

std::string PciSpeedText(int generation) {
    switch (generation) {
        case 1: return "Gen1 2.5GT/s";
        case 2: return "Gen2 5.0GT/s";
        case 3: return "Gen3 8.0GT/s";
        case 4: return "Gen4 16.0GT/s";
        case 5: return "Gen5 32.0GT/s";
        default: return "";
    }
}

bool FindDriveInDeviceTree(const Json::Value& nodes, const std::string& target, const Json::Value& parent,
                           Parameters& parameters, Json::Value& path) {
    for (const Json::Value& node : nodes) {
        if (Member(node, "ID") == target) {
            AddParameter(parameters, "PCI Device ID", Member(parent, "PCI Device ID"));
            AddParameter(parameters, "PCI Rated Width", Member(parent, "PCI Rated Width"));
            AddParameter(parameters, "PCI Width", Member(parent, "PCI Width"));
            AddParameter(parameters, "PCI Rated Speed", Member(parent, "PCI Rated Speed"));
            AddParameter(parameters, "PCI Speed", Member(parent, "PCI Speed"));
            AddParameter(parameters, "PCI Location", Member(parent, "Location"));
            AddParameter(parameters, "Driver", Member(parent, "Driver"));
            path.append(node);
            return true;
        }
        if (!node.isMember("[Children]")) continue;
        if (FindDriveInDeviceTree(node["[Children]"], target, node, parameters, path)) {
            if (path.size() == 1) {
                AddParameter(parameters, "Root PCI Vendor ID", Member(parent, "PCI Vendor ID"));
                AddParameter(parameters, "Root PCI Device ID", Member(parent, "PCI Device ID"));
                AddParameter(parameters, "Root PCI Location", Member(parent, "Location"));
            }
            Json::Value step(Json::objectValue);
            step["Description"] = node["Description"];
            step["ID"] = node["ID"];
            path.append(step);
            return true;
        }
    }
    return false;
}

}  // namespace kavo
