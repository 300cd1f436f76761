// The -n values turned into the drives of a run.
#include "drive_selection.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <filesystem>
#include <optional>

#include "base/kavo_errors.h"
#include "base/kavo_text.h"
#include "transport/nvme_admin_command.h"
#include "transport/simulated_drive.h"

namespace {

// The host's answers, each asked for once and only when a value needs it.
class HostView {
public:
    explicit HostView(const HostDrives& host) : host_(host) {}

    const std::vector<std::string>& Numbers() {
        if (!numbers_) numbers_ = host_.numbers();
        return *numbers_;
    }
    const std::vector<kavo::NvmeControllerSummary>& Controllers() {
        if (!controllers_) controllers_ = host_.controllers();
        return *controllers_;
    }
    std::string SerialOf(const std::string& drive) {
        for (const kavo::NvmeControllerSummary& controller : Controllers())
            if (controller.number == drive && !controller.serial.empty()) return controller.serial;
        return host_.serialOf ? host_.serialOf(drive) : "";
    }
    const HostDrives& host() const { return host_; }

private:
    const HostDrives& host_;
    std::optional<std::vector<std::string>> numbers_;
    std::optional<std::vector<kavo::NvmeControllerSummary>> controllers_;
};

std::vector<std::string> SplitAtCommas(const std::vector<std::string>& values) {
    std::vector<std::string> tokens;
    for (const std::string& value : values) {
        size_t start = 0;
        while (true) {
            size_t comma = value.find(',', start);
            tokens.push_back(value.substr(start, comma == std::string::npos ? std::string::npos : comma - start));
            if (comma == std::string::npos) break;
            start = comma + 1;
        }
    }
    return tokens;
}

std::string SimulatedName(const std::string& drive) {
    if (drive == "sim") return "sim";
    return "sim-" + std::filesystem::path(drive.substr(4)).stem().string();
}

SelectedDrive HostDrive(const std::string& number) {
    SelectedDrive drive;
    drive.drive = number;
    drive.path = kavo::PlatformDrivePath(number);
    size_t slash = drive.path.find_last_of("/\\");
    drive.name = slash == std::string::npos ? drive.path : drive.path.substr(slash + 1);
    return drive;
}

[[noreturn]] void NoDriveList(const kavo::KavoError& e) {
    throw kavo::KavoError(
        "Failed to get list of NVMe drives from OS and NVMe drive not specified (eg: --nvme 0)\n Error Message: " +
        std::string(e.what()));
}

std::vector<std::string> ListedNumbers(HostView& host) {
    try {
        const std::vector<std::string>& numbers = host.Numbers();
        if (numbers.empty()) throw kavo::KavoError("No NVMe drives found");
        return numbers;
    } catch (const kavo::KavoError& e) {
        NoDriveList(e);
    }
}

// A drive number checked against the host's list; the named drive is used
// unchecked when the host cannot list its drives or lists none. False when
// it is not there.
bool NumberListed(HostView& host, const std::string& number) {
    try {
        const std::vector<std::string>& numbers = host.Numbers();
        return numbers.empty() || std::find(numbers.begin(), numbers.end(), number) != numbers.end();
    } catch (const kavo::KavoError&) {
        return true;
    }
}

// The drive number a serial number belongs to; "" when no drive has it.
std::string NumberOfSerial(HostView& host, const std::string& serial) {
    std::vector<std::string> numbers;
    try {
        numbers = host.Numbers();
    } catch (const kavo::KavoError&) {
        for (const kavo::NvmeControllerSummary& controller : host.Controllers()) numbers.push_back(controller.number);
    }
    for (const std::string& number : numbers)
        if (host.SerialOf(number) == serial) return number;
    return "";
}

std::string InvalidDriveText(const std::string& named) {
    return "Invalid NVMe drive '" + named + "': use * for the first NVMe drive, a drive number such as 0 (or " +
           kavo::PlatformDriveNameForms() +
           "), sim for the built-in simulated drive or sim:FILE for a simulated drive description; "
           "all for every NVMe drive, serial:SERIAL for the drive with that serial number, commas between several";
}

}  // namespace

HostDrives RealHostDrives() {
    HostDrives host;
    host.numbers = GetNvmeDriveList;
    host.controllers = kavo::ListNvmeControllers;
    host.controllerOfNamespace = kavo::ControllerOfNamespace;
    host.serialOf = [](const std::string& drive) -> std::string {
        if (kavo::IsSimulatedDrive(drive)) return kavo::SimulatedSerial(drive);
        try {
            kavo::NvmeHandle handle = kavo::GetNvmeId(kavo::PlatformDrivePath(drive), false);
            std::array<uint8_t, 4096> identify{};
            if (kavo::IdentifyController(*handle, identify.data(), nullptr) != 0) return "";
            return kavo::DriveField(identify.data() + 4, 20);
        } catch (const std::exception&) {
            return "";
        }
    };
    return host;
}

DriveSelection SelectDrives(const std::vector<std::string>& values, const HostDrives& hostDrives) {
    HostView host(hostDrives);
    DriveSelection selection;
    const std::vector<std::string> tokens = SplitAtCommas(values);
    selection.fleet = tokens.size() > 1 || std::find(tokens.begin(), tokens.end(), "all") != tokens.end();
    std::string missing;
    auto add = [&](SelectedDrive drive) {
        for (const SelectedDrive& known : selection.drives)
            if (known.path == drive.path) return;
        selection.drives.push_back(std::move(drive));
    };
    for (const std::string& token : tokens) {
        if (kavo::IsSimulatedDrive(token)) {
            kavo::CheckSimulatedDrive(token);
            add(SelectedDrive{token, token, SimulatedName(token), ""});
        } else if (token == "*") {
            add(HostDrive(ListedNumbers(host).front()));
        } else if (token == "all") {
            std::vector<std::string> numbers;
            try {
                numbers = host.Numbers();
            } catch (const kavo::KavoError& e) {
                NoDriveList(e);
            }
            if (numbers.empty()) missing += "NVMe drives of -n all were not found: the host lists none\n";
            for (const std::string& number : numbers) add(HostDrive(number));
        } else if (token.compare(0, 7, "serial:") == 0 && token.size() > 7) {
            // Blanks around it are no part of it: sysfs pads serial numbers.
            std::string number = NumberOfSerial(host, kavo::Trim(token.substr(7)));
            if (number.empty()) missing += "NVMe drive " + token + " was not found\n";
            else add(HostDrive(number));
        } else {
            bool isNamespace = false;
            std::string number = hostDrives.controllerOfNamespace ? hostDrives.controllerOfNamespace(token, isNamespace) : "";
            if (!isNamespace) number = kavo::DriveNumberOfPlatformName(token);
            else if (number.empty()) {
                missing += "NVMe drive " + token + " was not found\n";
                continue;
            }
            if (!kavo::IsDecimalDigits(number)) throw kavo::UsageError(InvalidDriveText(token));
            if (!NumberListed(host, number)) missing += "NVMe drive " + number + " was not found\n";
            else add(HostDrive(number));
        }
    }
    if (!missing.empty()) {
        missing.pop_back();
        throw kavo::DriveNotFound(missing);
    }
    return selection;
}

void LearnSerials(DriveSelection& selection, const HostDrives& hostDrives) {
    HostView host(hostDrives);
    for (SelectedDrive& drive : selection.drives)
        if (drive.serial.empty()) drive.serial = kavo::Trim(host.SerialOf(drive.drive));
}

std::string DriveFolderName(const SelectedDrive& drive) {
    std::string serial = drive.serial.empty() ? "unknown" : drive.serial;
    for (char& c : serial)
        if (!(std::isalnum(static_cast<unsigned char>(c)) || c == '-' || c == '_' || c == '.')) c = '_';
    return drive.name + "-" + serial;
}
