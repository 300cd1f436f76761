#pragma once
// Which drives a run reads: the values of -n (--nvme) turned into drives of
// the host or simulated drives. One value names one drive ("0", "nvme0",
// "/dev/nvme0", "nvme0n1", "serial:S", "sim", "sim:FILE", "*" for the
// first) or every drive ("all"); values are separated by commas, and a
// repeated -n adds to the list.
#include <functional>
#include <string>
#include <vector>

#include "host/system_info.h"

struct SelectedDrive {
    std::string drive;   // as the drive's own run takes it: "0", "sim", "sim:a.json"
    std::string path;    // the "nvme path": "/dev/nvme0", "sim:a.json"
    std::string name;    // the controller's name: "nvme0", "PHYSICALDRIVE0", "sim", "sim-a"
    std::string serial;  // "" when the host does not tell it
};

struct DriveSelection {
    std::vector<SelectedDrive> drives;
    // "all" or more than one value: every drive is read by a run of its
    // own in a folder of its own, even when the list holds one drive.
    bool fleet = false;
};

// What the selection asks of the host; the real host by default, a fake
// one in tests.
struct HostDrives {
    // Drive numbers; raises KavoError when the system cannot list them.
    std::function<std::vector<std::string>()> numbers;
    // The controllers with their serial numbers, for "serial:" and names.
    std::function<std::vector<kavo::NvmeControllerSummary>()> controllers;
    // The controller number of a namespace name (see kavo::ControllerOfNamespace).
    std::function<std::string(const std::string&, bool&)> controllerOfNamespace;
    // The serial number of a drive the controller list does not tell
    // (Identify Controller of the drive, or of the simulated drive's description).
    std::function<std::string(const std::string& drive)> serialOf;
};
HostDrives RealHostDrives();

// The drives the -n values name, in the order named, each once. Raises
// DriveNotFound (19) naming every value that names no drive of the host,
// UsageError (16) for a value that is no drive name at all, and KavoError
// (17) when "*" or "all" is asked for and the host cannot list its drives.
DriveSelection SelectDrives(const std::vector<std::string>& values, const HostDrives& host = RealHostDrives());

// Fills in the serial numbers of the selected drives: from the host's
// controller list, else from the drive itself (Identify Controller; for a
// simulated drive, its description). "" for a drive that does not answer.
void LearnSerials(DriveSelection& selection, const HostDrives& host = RealHostDrives());

// The folder name of a fleet member: controller name and serial number,
// with characters that no file name should hold replaced ("nvme0-S4EWNX0R").
std::string DriveFolderName(const SelectedDrive& drive);
