// Host information on Linux: names, date, power source, the power settings
// that play the role of a power plan, and the NVMe controllers in sysfs.
#include <algorithm>
#include <filesystem>
#include <fstream>
#include <pwd.h>
#include <unistd.h>

#include "base/kavo_errors.h"
#include "base/kavo_log.h"
#include "base/kavo_text.h"
#include "host/device_tree.h"
#include "host/host_linux.h"
#include "host/system_info.h"

namespace kavo::linux_host {
namespace {

namespace fs = std::filesystem;

std::string ReadLine(const fs::path& path) { return ReadFirstLine(path.string()); }

}  // namespace

std::string ReadFirstLine(const std::string& path) {
    std::ifstream file(path);
    std::string line;
    if (file) std::getline(file, line);
    return Trim(line);
}

bool IsNamespaceName(const std::string& text, std::string& name) {
    name = text.compare(0, 5, "/dev/") == 0 ? text.substr(5) : text;
    if (name.compare(0, 4, "nvme") != 0) return false;
    const size_t n = name.find('n', 4);
    return n != std::string::npos && n > 4 && IsDecimalDigits(std::string_view(name).substr(4, n - 4)) &&
           n + 1 < name.size() && IsDecimalDigits(std::string_view(name).substr(n + 1));
}

std::string NamespaceController(const std::string& root, const std::string& name) {
    const std::string subsystem = name.substr(0, name.find('n', 4));  // "nvme0" of "nvme0n1"
    const std::string namespaceId = name.substr(subsystem.size());   // "n1"
    for (const std::string& number : NvmeControllers(root)) {
        const fs::path controller = fs::path(root) / "sys/class/nvme" / ("nvme" + number);
        std::error_code error;
        if (fs::exists(controller / name, error)) return number;
        // With native multipath the controller holds the path "nvme0c1n1".
        if (fs::exists(controller / (subsystem + "c" + number + namespaceId), error)) return number;
    }
    return "";
}

std::vector<std::string> NvmeControllers(const std::string& root) {
    std::vector<std::string> drives;
    std::error_code error;
    fs::directory_iterator it(fs::path(root) / "sys/class/nvme", error), end;
    if (error) return drives;
    for (; it != end; it.increment(error)) {
        std::string name = it->path().filename().string();
        if (IsNvmeController(name)) drives.push_back(name.substr(4));
    }
    std::sort(drives.begin(), drives.end(), [](const std::string& a, const std::string& b) {
        return a.size() != b.size() ? a.size() < b.size() : a < b;
    });
    return drives;
}

std::string PowerSource(const std::string& root) {
    std::error_code error;
    fs::directory_iterator it(fs::path(root) / "sys/class/power_supply", error), end;
    if (error) return "Unknown";
    bool mainsSeen = false, mainsOnline = false, batteryDischarging = false;
    for (; it != end; it.increment(error)) {
        std::string type = ReadLine(it->path() / "type");
        if (type == "Mains" || type == "USB") {
            mainsSeen = true;
            if (ReadLine(it->path() / "online") == "1") mainsOnline = true;
        } else if (type == "Battery" && ReadLine(it->path() / "status") == "Discharging") {
            batteryDischarging = true;
        }
    }
    if (mainsOnline) return "AC";
    if (batteryDischarging || mainsSeen) return "Battery";
    return "Unknown";
}

void LinuxPower(const std::string& root, Json::Value& system) {
    // What Linux offers in place of a power plan: the NVMe driver's
    // autonomous power state latency limit and the PCIe ASPM policy.
    std::string latency = ReadLine(fs::path(root) / "sys/module/nvme_core/parameters/default_ps_max_latency_us");
    std::string aspm = ReadLine(fs::path(root) / "sys/module/pcie_aspm/parameters/policy");
    Json::Value power(Json::objectValue);
    if (!latency.empty()) power["nvme default_ps_max_latency_us"] = latency;
    if (!aspm.empty()) power["pcie aspm policy"] = aspm;
    system["linux power"] = power;
}

std::string UserName(const std::string& root, unsigned uid) {
    // name:password:uid:...; read directly, because the self-contained build
    // links the C library statically and has no user database modules.
    std::ifstream passwd(fs::path(root) / "etc/passwd");
    std::string line;
    const std::string id = std::to_string(uid);
    while (std::getline(passwd, line)) {
        const size_t nameEnd = line.find(':');
        const size_t idStart = nameEnd == std::string::npos ? nameEnd : line.find(':', nameEnd + 1);
        if (idStart == std::string::npos) continue;
        const size_t idEnd = line.find(':', idStart + 1);
        if (line.compare(idStart + 1, idEnd == std::string::npos ? std::string::npos : idEnd - idStart - 1, id) == 0)
            return line.substr(0, nameEnd);
    }
#ifndef QUELLIX_STATIC
    if (root == "/") {
        struct passwd* user = getpwuid(uid);
        if (user != nullptr && user->pw_name != nullptr) return user->pw_name;
    }
#endif
    return "";
}

}  // namespace kavo::linux_host

namespace kavo {

int GetSystemInfo(InfoDocument& sample, const std::string& drive, bool extended) {
    Json::Value& info = sample.document;
    KLOG(Verbose) << "Getting system info";
    int64_t start = MonotonicNanoseconds();
    Json::Value& system = info["_metadata"]["system"];
    char host[1024] = {};
    system["hostname"] = gethostname(host, sizeof host - 1) == 0 ? host : "";
    system["username"] = linux_host::UserName("/", geteuid());
    info["_metadata"]["date"] = CurrentTimeText();
    KLOG(Debug) << "Date:              " << info["_metadata"]["date"].asString();
    KLOG(Debug) << "Hostname:          " << system["hostname"].asString();
    KLOG(Debug) << "User:              " << system["username"].asString();
    system["power source"] = linux_host::PowerSource("/");
    linux_host::LinuxPower("/", system);
    if (extended) {
        system["Device Tree"] = linux_host::DeviceTree("/");
        linux_host::HostInventory("/", system);
        // The drive's controller sits under its PCI function in the tree.
        Json::Value path(Json::arrayValue);
        FindDriveInDeviceTree(system["Device Tree"], "nvme" + drive, Json::Value(Json::objectValue),
                              sample.parameters, path);
    }
    KLOG(Debug) << "System info read in " << ElapsedText(start, 3);
    return 0;
}

}  // namespace kavo

std::vector<std::string> GetNvmeDriveList() { return kavo::linux_host::NvmeControllers("/"); }

std::vector<kavo::NvmeControllerSummary> kavo::ListNvmeControllers() { return linux_host::NvmeControllerSummaries("/"); }

std::string kavo::ControllerOfNamespace(const std::string& text, bool& isNamespace) {
    std::string name;
    isNamespace = linux_host::IsNamespaceName(text, name);
    return isNamespace ? linux_host::NamespaceController("/", name) : "";
}
