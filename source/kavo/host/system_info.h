#pragma once
// The host around the drive, and the host's NVMe drives.
#include <cstdint>
#include <string>
#include <vector>

#include <json/value.h>

#include "decode/info_document.h"

namespace kavo {

// Fills "_metadata" / "system" (names, power source, power settings) and
// "_metadata" / "date" of the sample and, with extended data, the host
// inventory and the drive's PCI parameters. Returns the number of host
// queries that failed.
int GetSystemInfo(InfoDocument& info, const std::string& drive, bool extended);

// One NVMe controller of the host as the drive list shows it. Fields the
// system does not tell are empty (capacity 0).
struct NvmeControllerSummary {
    std::string number;      // the drive number -n takes
    std::string path;        // "/dev/nvme0", "\\.\PHYSICALDRIVE0"
    std::string model, serial, firmware;
    std::string pciAddress;  // "0000:01:00.0"
    uint64_t capacityBytes = 0;  // all namespaces together
};
// The host's NVMe controllers, in drive number order; empty when there are
// none or the system cannot list them.
std::vector<NvmeControllerSummary> ListNvmeControllers();
// The controller number of a namespace's block device ("nvme0n1" or
// "/dev/nvme0n1" on Linux). `isNamespace` says whether the text is such a
// name on this platform at all; the number is "" when no controller of the
// host has that namespace.
std::string ControllerOfNamespace(const std::string& name, bool& isNamespace);

}  // namespace kavo

// Physical drive numbers of the host's NVMe drives, in the order the system
// reports them; raises KavoError when they cannot be listed.
std::vector<std::string> GetNvmeDriveList();

