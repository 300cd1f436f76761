// The host inventory: NVMe and other drives, processors, memory modules,
// operating system, BIOS and system identity.
#include <algorithm>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>

#include "host/host_linux.h"
#include "base/kavo_text.h"
#include "decode/parameters.h"

namespace kavo::linux_host {
namespace {

namespace fs = std::filesystem;

std::string ReadLine(const fs::path& path) { return ReadFirstLine(path.string()); }

void SetIfKnown(Json::Value& object, const char* key, const std::string& value) {
    if (!value.empty()) object[key] = value;
}

std::string SizeText(uint64_t bytes) { return FixedText(static_cast<double>(bytes) / 1000 / 1000 / 1000, 0) + "GB"; }

// Block devices: a 512-byte sector count in "size".
uint64_t BlockBytes(const fs::path& block) {
    std::string sectors = ReadLine(block / "size");
    int64_t count = 0;
    return TryParseInt64(sectors, count) && count > 0 ? static_cast<uint64_t>(count) * 512 : 0;
}

void AddNvmeDrives(const std::string& root, Json::Value& system) {
    for (const NvmeControllerSummary& summary : NvmeControllerSummaries(root)) {
        fs::path controller = fs::path(root) / "sys/class/nvme" / ("nvme" + summary.number);
        std::error_code error;
        Json::Value drive(Json::objectValue);
        drive["path"] = summary.path;
        drive["serial"] = summary.serial;
        drive["model"] = summary.model;
        drive["size"] = std::to_string(summary.capacityBytes);
        drive["index"] = summary.number;
        drive["pnp"] = fs::canonical(controller, error).string();
        system["nvme"].append(drive);
        std::string vendor = LookupVendorName(ReadLine(controller / "device/vendor"));
        system["nvme list"].append(DriveDescription(summary.number, vendor, summary.model, SizeText(summary.capacityBytes)));
    }
}

void AddOtherDrives(const std::string& root, Json::Value& system) {
    std::error_code error;
    std::vector<fs::path> blocks;
    for (fs::directory_iterator it(fs::path(root) / "sys/block", error), end; !error && it != end; it.increment(error)) {
        std::string name = it->path().filename().string();
        bool skip = name.compare(0, 4, "nvme") == 0 || name.compare(0, 4, "loop") == 0 ||
                    name.compare(0, 3, "ram") == 0 || name.compare(0, 4, "zram") == 0 || name.compare(0, 2, "dm") == 0 ||
                    name.compare(0, 2, "md") == 0 || name.compare(0, 2, "sr") == 0;
        if (!skip) blocks.push_back(it->path());
    }
    std::sort(blocks.begin(), blocks.end());
    for (size_t i = 0; i < blocks.size(); ++i) {
        Json::Value drive(Json::objectValue);
        drive["path"] = "/dev/" + blocks[i].filename().string();
        drive["serial"] = ReadLine(blocks[i] / "device/serial");
        drive["model"] = ReadLine(blocks[i] / "device/model");
        drive["size"] = std::to_string(BlockBytes(blocks[i]));
        drive["index"] = std::to_string(i);
        drive["pnp"] = fs::canonical(blocks[i], error).string();
        system["drive"].append(drive);
    }
}

// One processor object per physical package, from /proc/cpuinfo.
void AddProcessors(const std::string& root, Json::Value& system) {
    std::ifstream cpuinfo(fs::path(root) / "proc/cpuinfo");
    std::map<std::string, Json::Value> packages;
    std::map<std::string, std::string> fields;
    auto flush = [&] {
        if (fields.empty()) return;
        std::string id = fields.count("physical id") ? fields["physical id"] : "0";
        Json::Value& cpu = packages[id];
        if (cpu.isNull()) {
            cpu = Json::Value(Json::objectValue);
            SetIfKnown(cpu, "name", fields["model name"]);
            SetIfKnown(cpu, "description", fields["vendor_id"]);
            cpu["id"] = "CPU" + id;
            SetIfKnown(cpu, "cores", fields["cpu cores"]);
            SetIfKnown(cpu, "logical cores", fields["siblings"]);
            SetIfKnown(cpu, "l3 size", fields["cache size"]);
            SetIfKnown(cpu, "speed", fields["cpu MHz"]);
            std::string maxKhz = ReadLine(fs::path(root) / "sys/devices/system/cpu/cpu0/cpufreq/cpuinfo_max_freq");
            int64_t khz = 0;
            if (TryParseInt64(maxKhz, khz)) cpu["max speed"] = std::to_string(khz / 1000);
        }
        fields.clear();
    };
    for (std::string line; std::getline(cpuinfo, line);) {
        size_t colon = line.find(':');
        if (Trim(line).empty()) flush();
        else if (colon != std::string::npos) fields[Trim(line.substr(0, colon))] = Trim(line.substr(colon + 1));
    }
    flush();
    for (auto& [id, cpu] : packages) system["processor"].append(cpu);
}

// SMBIOS type 17 (memory device) entries, readable by root only.
void AddMemoryModules(const std::string& root, Json::Value& system) {
    std::error_code error;
    std::vector<fs::path> entries;
    for (fs::directory_iterator it(fs::path(root) / "sys/firmware/dmi/entries", error), end; !error && it != end;
         it.increment(error))
        if (it->path().filename().string().compare(0, 3, "17-") == 0) entries.push_back(it->path());
    std::sort(entries.begin(), entries.end());
    for (const fs::path& entry : entries) {
        std::ifstream file(entry / "raw", std::ios::binary);
        std::string raw((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
        if (raw.size() < 0x1C || static_cast<uint8_t>(raw[0]) != 17) continue;
        size_t length = static_cast<uint8_t>(raw[1]);
        if (length > raw.size()) continue;
        std::vector<std::string> strings;
        std::istringstream tail(raw.substr(length));
        for (std::string text; std::getline(tail, text, '\0') && !text.empty();) strings.push_back(text);
        auto text = [&](size_t offset) {
            size_t index = offset < length ? static_cast<uint8_t>(raw[offset]) : 0;
            return index >= 1 && index <= strings.size() ? strings[index - 1] : std::string();
        };
        auto word = [&](size_t offset) {
            return offset + 1 < length ? static_cast<unsigned>(static_cast<uint8_t>(raw[offset]) | static_cast<uint8_t>(raw[offset + 1]) << 8) : 0u;
        };
        unsigned size = word(0x0C);
        if (size == 0 || size == 0xFFFF) continue;  // empty slot or unknown size
        uint64_t megabytes = (size & 0x8000) ? (size & 0x7FFF) / 1024 : size;
        if (size == 0x7FFF && length > 0x1F) megabytes = word(0x1C) | (uint64_t(word(0x1E)) << 16);
        Json::Value dimm(Json::objectValue);
        SetIfKnown(dimm, "bank", text(0x11));
        SetIfKnown(dimm, "location", text(0x10));
        dimm["size"] = std::to_string(megabytes * 1024 * 1024);
        if (word(0x20)) dimm["speed"] = std::to_string(word(0x20));
        if (length > 0x23 && word(0x22)) dimm["voltage"] = std::to_string(word(0x22));
        SetIfKnown(dimm, "manufacturer", text(0x17));
        SetIfKnown(dimm, "model", Trim(text(0x1A)));
        SetIfKnown(dimm, "serial", text(0x18));
        dimm["type"] = std::to_string(static_cast<uint8_t>(raw[0x12]));
        system["dimm"].append(dimm);
    }
}

std::string OsRelease(const std::string& root) {
    std::ifstream file(fs::path(root) / "etc/os-release");
    for (std::string line; std::getline(file, line);) {
        if (line.compare(0, 12, "PRETTY_NAME=") != 0) continue;
        std::string value = line.substr(12);
        if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'')) value = value.substr(1, value.size() - 2);
        return value;
    }
    return "";
}

}  // namespace

std::vector<NvmeControllerSummary> NvmeControllerSummaries(const std::string& root) {
    std::vector<NvmeControllerSummary> list;
    for (const std::string& number : NvmeControllers(root)) {
        fs::path controller = fs::path(root) / "sys/class/nvme" / ("nvme" + number);
        NvmeControllerSummary summary;
        summary.number = number;
        summary.path = "/dev/nvme" + number;
        summary.model = ReadLine(controller / "model");
        summary.serial = ReadLine(controller / "serial");
        summary.firmware = ReadLine(controller / "firmware_rev");
        summary.pciAddress = ReadLine(controller / "address");
        // The namespaces' block devices sit below the controller.
        std::error_code error;
        for (fs::directory_iterator it(controller, error), end; !error && it != end; it.increment(error)) {
            std::string name = it->path().filename().string();
            if (name.compare(0, 4 + number.size() + 1, "nvme" + number + "n") == 0)
                summary.capacityBytes += BlockBytes(it->path());
        }
        list.push_back(summary);
    }
    return list;
}

void HostInventory(const std::string& root, Json::Value& system) {
    system["nvme"] = Json::Value(Json::arrayValue);
    system["nvme list"] = Json::Value(Json::arrayValue);
    system["drive"] = Json::Value(Json::arrayValue);
    system["dimm"] = Json::Value(Json::arrayValue);
    system["processor"] = Json::Value(Json::arrayValue);
    AddNvmeDrives(root, system);
    AddOtherDrives(root, system);
    AddProcessors(root, system);
    AddMemoryModules(root, system);
    fs::path dmi = fs::path(root) / "sys/class/dmi/id";
    SetIfKnown(system, "os", OsRelease(root));
    SetIfKnown(system, "os version", ReadLine(fs::path(root) / "proc/sys/kernel/osrelease"));
    SetIfKnown(system, "bios version", ReadLine(dmi / "bios_version"));
    SetIfKnown(system, "bios serial number", ReadLine(dmi / "product_serial"));
    SetIfKnown(system, "manufacturer", ReadLine(dmi / "sys_vendor"));
    SetIfKnown(system, "model", ReadLine(dmi / "product_name"));
    SetIfKnown(system, "uuid", ReadLine(dmi / "product_uuid"));
}

}  // namespace kavo::linux_host
