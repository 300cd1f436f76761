// Requests answered without a run: the program's version and the list of
// NVMe drives. Neither starts the trace log nor writes a file.
#include <algorithm>
#include <array>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <vector>

#include <fmt/format.h>

#include "base/kavo_errors.h"
#include "base/kavo_log.h"
#include "base/kavo_text.h"
#include "base/json_writer.h"
#include "decode/decoders.h"
#include "drive_selection.h"
#include "host/system_info.h"
#include "quellix.h"
#include "report.h"
#include "run_journal.h"
#include "run_lock.h"
#include "transport/nvme_admin_command.h"
#include "transport/simulated_drive.h"

#ifndef QUELLIX_BUILD_DATE
#define QUELLIX_BUILD_DATE "unknown"
#endif
#ifndef QUELLIX_COMMIT
#define QUELLIX_COMMIT "unknown"
#endif

namespace {

// Options whose next argument is their value, so that a value is never
// taken for a request ("-d --list" names a directory).
bool TakesValue(const std::string& option) {
    static const char* const kOptions[] = {"--dir", "-d", "--nvme", "-n", "--samples", "-s", "--interval", "-i",
                                           "--compare", "-c", "--rules", "-r", "--recover", "--metrics", "--report",
                                           "--jobs"};
    return std::find(std::begin(kOptions), std::end(kOptions), option) != std::end(kOptions);
}

std::string Field(const std::string& text) { return text.empty() ? "-" : text; }

std::string CapacityText(uint64_t bytes) {
    if (bytes == 0) return "-";
    return kavo::FixedText(static_cast<double>(bytes) / 1e9, 2) + " GB";
}

// The simulated drive described like a host's controller, from its own
// Identify data.
kavo::NvmeControllerSummary SimulatedSummary(const std::string& drive) {
    kavo::NvmeHandle handle = kavo::GetNvmeId(drive, false);
    std::array<uint8_t, 4096> identify{};
    if (kavo::IdentifyController(*handle, identify.data(), nullptr) != 0)
        throw kavo::KavoError("Identify Controller of " + drive + " failed");
    kavo::NvmeControllerSummary summary;
    summary.number = drive;
    summary.path = drive;
    summary.serial = kavo::DriveField(identify.data() + 4, 20);
    summary.model = kavo::DriveField(identify.data() + 24, 40);
    summary.firmware = kavo::DriveField(identify.data() + 64, 8);
    uint32_t nn = static_cast<uint32_t>(identify[516] | identify[517] << 8 | identify[518] << 16 |
                                        static_cast<uint32_t>(identify[519]) << 24);
    std::vector<uint32_t> active;
    if (kavo::ReadActiveNamespaceList(*handle, nn, active, nullptr) != 0) return summary;
    std::array<uint8_t, 4096> ns{};
    for (uint32_t nsid : active) {
        if (kavo::ReadIdentifyNamespace(*handle, nsid, ns.data(), nullptr) != 0) continue;
        kavo::NamespaceSummary size = kavo::SummarizeNamespace(nsid, ns.data());
        if (size.blockSizeShift < 64) summary.capacityBytes += size.sizeInBlocks << size.blockSizeShift;
    }
    return summary;
}

std::string Row(const std::string& number, const std::string& path, const std::string& model, const std::string& serial,
                const std::string& firmware, const std::string& capacity, const std::string& pciAddress) {
    return kavo::Trim(fmt::format("{:<7} {:<14} {:<40} {:<20} {:<8} {:>12}  {}", number, path, model, serial, firmware,
                                  capacity, pciAddress));
}

// A text the drive or the system reports, as the terminal may show it: a
// drive's ESC, CR or LF would act on the terminal or split the line.
std::string Shown(const std::string& text) { return Field(kavo::EscapedText(text, true)); }

}  // namespace

std::string DriveListLine(const kavo::NvmeControllerSummary& c) {
    return Row(Shown(c.number), Shown(c.path), Shown(c.model), Shown(c.serial), Shown(c.firmware),
               CapacityText(c.capacityBytes), Shown(c.pciAddress));
}

void PrintVersion() {
    std::printf("%s %s\nbuild date: %s\ncommit: %s\n", kProgramName, kProgramVersion, QUELLIX_BUILD_DATE, QUELLIX_COMMIT);
}

namespace {

// The list as a JSON array, for scripts.
void PrintJsonList(const std::vector<kavo::NvmeControllerSummary>& list) {
    Json::Value drives(Json::arrayValue);
    for (const kavo::NvmeControllerSummary& c : list) {
        Json::Value drive(Json::objectValue);
        drive["number"] = c.number;
        drive["path"] = c.path;
        drive["model"] = c.model;
        drive["serial"] = c.serial;
        drive["firmware"] = c.firmware;
        drive["capacity"] = c.capacityBytes == 0 ? "" : CapacityText(c.capacityBytes);
        drive["capacity bytes"] = Json::Value::UInt64(c.capacityBytes);
        drive["pci address"] = c.pciAddress;
        drives.append(drive);
    }
    std::printf("%s\n", kavo::StyledJson(drives).c_str());
}

}  // namespace

int ListDrives(const std::vector<std::string>& driveValues, bool json) {
    // Drive commands may log failures; they reach the console only.
    kavo::StartConsoleLogging(kavo::Severity::Error);
    std::vector<kavo::NvmeControllerSummary> list;
    try {
        // Without -n the list shows every drive of the host.
        DriveSelection selection;
        if (driveValues.empty()) list = kavo::ListNvmeControllers();
        else selection = SelectDrives(driveValues);
        std::vector<kavo::NvmeControllerSummary> controllers;
        bool listed = false;
        for (const SelectedDrive& drive : selection.drives) {
            if (kavo::IsSimulatedDrive(drive.drive)) {
                list.push_back(SimulatedSummary(drive.drive));
                continue;
            }
            if (!listed) controllers = kavo::ListNvmeControllers();
            listed = true;
            auto found = std::find_if(controllers.begin(), controllers.end(),
                                      [&](const kavo::NvmeControllerSummary& c) { return c.number == drive.drive; });
            if (found != controllers.end()) list.push_back(*found);
        }
    } catch (const kavo::Error& e) {
        std::fprintf(stderr, "%s\n", e.what());
        return e.exitCode();
    } catch (const std::exception& e) {
        std::fprintf(stderr, "%s\n", e.what());
        return kavo::kExitFailure;
    }
    if (list.empty()) {
        std::fprintf(stderr, "No NVMe drives found\n");
        return kavo::kExitDriveNotFound;
    }
    if (json) {
        PrintJsonList(list);
        return 0;
    }
    std::printf("%s\n", Row("Number", "Path", "Model", "Serial", "Firmware", "Capacity", "PCI address").c_str());
    for (const kavo::NvmeControllerSummary& controller : list) std::printf("%s\n", DriveListLine(controller).c_str());
    return 0;
}

namespace {

// Runs a command on a log folder while holding the folder's lock: a folder
// that another run uses is left alone (17).
int InLockedFolder(const std::string& directory, const std::function<int()>& command) {
    std::error_code error;
    if (std::filesystem::is_directory(directory, error)) {
        try {
            LockLogFolder(directory);
        } catch (const kavo::Error& e) {
            std::fprintf(stderr, "%s\n", e.what());
            return e.exitCode();
        }
    }
    return command();
}

}  // namespace

bool AnswerInformationRequest(int argc, char** argv, int& exitStatus) {
    bool version = false, list = false, recover = false, report = false, json = false;
    std::vector<std::string> drives;
    std::string recoverDirectory, reportDirectory;
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        if (i == 1 && (arg.empty() || arg[0] != '-')) continue;  // the command file
        if (TakesValue(arg)) {
            if (i + 1 < argc && (arg == "--nvme" || arg == "-n")) drives.push_back(argv[i + 1]);
            if (arg == "--recover") {
                recover = true;
                if (i + 1 < argc) recoverDirectory = argv[i + 1];
            }
            if (arg == "--report") {
                report = true;
                if (i + 1 < argc) reportDirectory = argv[i + 1];
            }
            ++i;
        } else if (arg == "--version") {
            version = true;
        } else if (arg == "--list") {
            list = true;
        } else if (arg == "--json") {
            json = true;
        }
    }
    if (version) {
        PrintVersion();
        exitStatus = 0;
        return true;
    }
    if (list) {
        exitStatus = ListDrives(drives, json);
        return true;
    }
    if (report && !recover) {
        if (reportDirectory.empty()) {
            std::fprintf(stderr, "--report is missing a value\n");
            exitStatus = 16;
        } else {
            exitStatus = InLockedFolder(reportDirectory, [&] { return ReportCommand(reportDirectory); });
        }
        return true;
    }
    if (recover) {
        if (recoverDirectory.empty()) {
            std::fprintf(stderr, "--recover is missing a value\n");
            exitStatus = 16;
        } else {
            exitStatus = InLockedFolder(recoverDirectory, [&] {
                kavo::StartConsoleLogging(kavo::Severity::Info);
                const int recovered = RecoverCommand(recoverDirectory);
                // A recovered run is drawn too, when asked for.
                return recovered == 0 && report ? ReportCommand(recoverDirectory) : recovered;
            });
        }
        return true;
    }
    return false;
}
