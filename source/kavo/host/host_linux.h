#pragma once
// Host information read from sysfs, procfs, os-release and DMI below a root
// directory ("/" on a live system; a fake tree in tests).
#include <string>
#include <vector>

#include <json/value.h>

#include "host/system_info.h"

namespace kavo::linux_host {

// The first line of a sysfs or procfs file, trimmed; "" when unreadable.
std::string ReadFirstLine(const std::string& path);

// NVMe controller numbers under sys/class/nvme, ascending ("0", "1", "10").
std::vector<std::string> NvmeControllers(const std::string& root);
// Whether a sysfs name is that of an NVMe controller ("nvme" and a number).
bool IsNvmeController(const std::string& name);
// Whether a text names an NVMe namespace block device ("nvme0n1"); sets the
// bare name (without "/dev/").
bool IsNamespaceName(const std::string& text, std::string& name);
// The controller number whose namespace `name` ("nvme0n1") is: the
// controller folder that holds it, or with native multipath the controller
// of one of its paths ("nvme0c1n1" is a path of nvme0n1 through nvme1);
// "" when none.
std::string NamespaceController(const std::string& root, const std::string& name);
// Those controllers with what sysfs tells of them (readable without root).
std::vector<NvmeControllerSummary> NvmeControllerSummaries(const std::string& root);
// The name of the account with this user ID: etc/passwd first, then the
// system's user database (network accounts) where the program can reach it;
// "" when neither knows the ID.
std::string UserName(const std::string& root, unsigned uid);
// "AC", "Battery" or "Unknown" from sys/class/power_supply.
std::string PowerSource(const std::string& root);
// The NVMe driver's APST latency limit and the PCIe ASPM policy.
void LinuxPower(const std::string& root, Json::Value& system);
// The PCI hierarchy under sys/devices as device tree nodes; each NVMe
// controller appears as a child "nvmeN" of its PCI function.
Json::Value DeviceTree(const std::string& root);
// "Gen3 8.0GT/s" from a sysfs link speed text ("8.0 GT/s PCIe"); "" otherwise.
std::string LinkSpeedText(const std::string& sysfsSpeed);
// "nvme", "drive", "nvme list", "processor", "dimm", "os", "os version",
// "bios version", "bios serial number", "manufacturer", "model", "uuid";
// values that cannot be read are left out.
void HostInventory(const std::string& root, Json::Value& system);

}  // namespace kavo::linux_host
