// The PCI device tree from sysfs.
#include <algorithm>
#include <filesystem>
#include <fstream>

#include "host/device_tree.h"
#include "host/host_linux.h"
#include "base/kavo_text.h"

namespace kavo::linux_host {
namespace {

namespace fs = std::filesystem;

std::string ReadLine(const fs::path& path) { return ReadFirstLine(path.string()); }

// "0000:3b:00.0": domain, bus, device and function, lower-case hex.
bool IsPciAddress(const std::string& name) {
    static const char kPattern[] = "hhhh:hh:hh.f";
    if (name.size() != sizeof kPattern - 1) return false;
    for (size_t i = 0; i < name.size(); ++i) {
        const char c = name[i];
        const bool hex = (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f');
        const bool fits = kPattern[i] == 'h' ? hex : kPattern[i] == 'f' ? c >= '0' && c <= '7' : c == kPattern[i];
        if (!fits) return false;
    }
    return true;
}

std::string ClassDescription(const std::string& classCode) {
    static const std::pair<const char*, const char*> kClasses[] = {
        {"0x010802", "Non-Volatile memory controller (NVM Express)"}, {"0x0108", "Non-Volatile memory controller"},
        {"0x0106", "SATA controller"}, {"0x0100", "SCSI storage controller"}, {"0x0104", "RAID bus controller"},
        {"0x0604", "PCI bridge"}, {"0x0600", "Host bridge"}, {"0x0601", "ISA bridge"}, {"0x0200", "Ethernet controller"},
        {"0x0300", "VGA compatible controller"}, {"0x0c03", "USB controller"}, {"0x0403", "Audio device"},
        {"0x0c05", "SMBus"}, {"0x0880", "System peripheral"}, {"0x0101", "IDE interface"}};
    for (const auto& [prefix, text] : kClasses)
        if (classCode.compare(0, std::string(prefix).size(), prefix) == 0) return text;
    return classCode.empty() ? "null" : "PCI device class " + classCode;
}

std::string Upper4(const std::string& hexText) {
    std::string digits = hexText.size() > 2 ? hexText.substr(2) : hexText;
    std::transform(digits.begin(), digits.end(), digits.begin(), [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
    return "0x" + digits;
}

// "0000:02:00.0" as "Bus 2, device 0, function 0".
std::string Location(const std::string& address) {
    unsigned bus = std::stoul(address.substr(5, 2), nullptr, 16);
    unsigned device = std::stoul(address.substr(8, 2), nullptr, 16);
    unsigned function = std::stoul(address.substr(11, 1), nullptr, 16);
    return "Bus " + std::to_string(bus) + ", device " + std::to_string(device) + ", function " + std::to_string(function);
}

std::string Driver(const fs::path& device, const std::string& root) {
    std::error_code error;
    fs::path link = fs::read_symlink(device / "driver", error);
    if (error) return "";
    std::string name = link.filename().string();
    std::string version = ReadLine(fs::path(root) / "sys/module" / name / "version");
    return version.empty() ? name : name + ",  " + version;
}

Json::Value PciNode(const fs::path& device, const std::string& root) {
    std::string address = device.filename().string();
    Json::Value node(Json::objectValue);
    node["ID"] = address;
    node["Description"] = ClassDescription(ReadLine(device / "class"));
    node["PCI Device ID"] = Upper4(ReadLine(device / "device"));
    node["PCI Vendor ID"] = Upper4(ReadLine(device / "vendor"));
    node["Location"] = Location(address);
    std::string driver = Driver(device, root);
    if (!driver.empty()) node["Driver"] = driver;
    std::string speed = LinkSpeedText(ReadLine(device / "current_link_speed"));
    if (!speed.empty()) node["PCI Speed"] = speed;
    std::string rated = LinkSpeedText(ReadLine(device / "max_link_speed"));
    if (!rated.empty()) node["PCI Rated Speed"] = rated;
    std::string width = ReadLine(device / "current_link_width");
    if (!width.empty() && width != "0") node["PCI Width"] = "x" + width;
    std::string ratedWidth = ReadLine(device / "max_link_width");
    if (!ratedWidth.empty() && ratedWidth != "0") node["PCI Rated Width"] = "x" + ratedWidth;
    return node;
}

std::vector<fs::path> SortedChildren(const fs::path& directory, bool (*accept)(const std::string&)) {
    std::vector<fs::path> children;
    std::error_code error;
    for (fs::directory_iterator it(directory, error), end; !error && it != end; it.increment(error))
        if (accept(it->path().filename().string()) && it->is_directory(error)) children.push_back(it->path());
    std::sort(children.begin(), children.end());
    return children;
}

void AddChildren(const fs::path& directory, const std::string& root, Json::Value& node) {
    Json::Value children(Json::arrayValue);
    for (const fs::path& device : SortedChildren(directory, IsPciAddress)) {
        Json::Value child = PciNode(device, root);
        AddChildren(device, root, child);
        children.append(child);
    }
    for (const fs::path& controller : SortedChildren(directory / "nvme", IsNvmeController)) {
        Json::Value child(Json::objectValue);
        child["ID"] = controller.filename().string();
        std::string model = ReadLine(controller / "model");
        child["Description"] = model.empty() ? "NVMe controller" : "NVMe controller " + model;
        children.append(child);
    }
    if (!children.empty()) node["[Children]"] = children;
}

bool IsPciRoot(const std::string& name) { return name.compare(0, 3, "pci") == 0; }

}  // namespace

std::string LinkSpeedText(const std::string& sysfsSpeed) {
    static const std::pair<const char*, int> kSpeeds[] = {{"2.5 GT/s", 1}, {"5.0 GT/s", 2}, {"5 GT/s", 2},
                                                          {"8.0 GT/s", 3}, {"8 GT/s", 3}, {"16.0 GT/s", 4},
                                                          {"32.0 GT/s", 5}};
    for (const auto& [text, generation] : kSpeeds)
        if (sysfsSpeed.compare(0, std::string(text).size(), text) == 0) return PciSpeedText(generation);
    return "";
}

Json::Value DeviceTree(const std::string& root) {
    Json::Value tree(Json::arrayValue);
    for (const fs::path& bus : SortedChildren(fs::path(root) / "sys/devices", IsPciRoot)) {
        Json::Value node(Json::objectValue);
        node["ID"] = bus.filename().string();
        node["Description"] = "PCI root bus " + bus.filename().string().substr(3);
        AddChildren(bus, root, node);
        tree.append(node);
    }
    return tree;
}

bool IsNvmeController(const std::string& name) {
    return name.compare(0, 4, "nvme") == 0 && IsDecimalDigits(std::string_view(name).substr(4));
}

}  // namespace kavo::linux_host
