// WMI property values as JSON, and the query lists. Platform-free so that
// the conversion rules are tested on every platform.
#include "host/kavo_windows.h"

#include <cerrno>
#include <cstdlib>

namespace kavo::windows_host {
namespace {

std::string Joined(const std::vector<std::string>& items) {
    std::string text = "{";
    for (size_t i = 0; i < items.size(); ++i) text += (i ? ",  " : "") + items[i];
    return text + "}";
}

// Only a complete decimal number in range becomes a number: "12ab" or "-1"
// stay text instead of turning into 12 or 2^64 - 1.
bool WholeUnsigned(const std::string& text, unsigned long long& value) {
    if (text.empty() || text.size() > 20) return false;
    for (char c : text)
        if (c < '0' || c > '9') return false;
    errno = 0;
    char* end = nullptr;
    value = std::strtoull(text.c_str(), &end, 10);
    return errno == 0 && end == text.c_str() + text.size();
}

}  // namespace

Json::Value PropertyToJson(const PropertyValue& value) {
    using K = PropertyValue::Kind;
    switch (value.kind) {
        case K::Int16:
        case K::Int32:
        case K::UInt8:
        case K::UInt16: return Json::Value(static_cast<Json::Int64>(value.integer));
        case K::UInt32: return Json::Value(static_cast<Json::UInt64>(value.unsignedInteger));
        case K::Bool: return Json::Value(value.boolean);
        case K::String: {
            unsigned long long number = 0;
            if (value.cimUInt64 && WholeUnsigned(value.text, number)) return Json::Value(static_cast<Json::UInt64>(number));
            return Json::Value(value.text);
        }
        case K::Int32Array:
        case K::StringArray: return Json::Value(Joined(value.items));
        default: return Json::Value("");
    }
}

const char* DefaultQueryList() {
    return R"({"Wmi Queries": [
  {"Name": "Win32_OperatingSystem", "Namespace": "root\\cimv2", "Query": "Select * From Win32_OperatingSystem"},
  {"Name": "Win32_PhysicalMemory", "Namespace": "root\\cimv2", "Query": "Select * From Win32_PhysicalMemory"},
  {"Name": "Win32_DiskDrive", "Namespace": "root\\cimv2", "Query": "Select * From Win32_DiskDrive"},
  {"Name": "Win32_BIOS", "Namespace": "root\\cimv2", "Query": "Select * From Win32_BIOS"},
  {"Name": "Win32_ComputerSystem", "Namespace": "Root\\cimv2", "Query": "Select * From Win32_ComputerSystem"},
  {"Name": "Win32_ComputerSystemProduct", "Namespace": "Root\\cimv2", "Query": "Select * From Win32_ComputerSystemProduct"},
  {"Name": "Win32_ScsiControllerDevice", "Namespace": "Root\\cimv2", "Query": "Select * From Win32_ScsiControllerDevice"},
  {"Name": "Win32_Volume", "Namespace": "Root\\cimv2", "Query": "Select * From Win32_Volume"},
  {"Name": "Win32_DiskPartition", "Namespace": "Root\\cimv2", "Query": "Select * From Win32_DiskPartition"},
  {"Name": "Win32_Processor", "Namespace": "root\\cimv2", "Query": "Select Caption,CurrentClockSpeed,CurrentVoltage,Description,DeviceID,Family,L2CacheSize,L3CacheSize,Manufacturer,MaxClockSpeed,Name,NumberOfCores,NumberOfEnabledCore,NumberOfLogicalProcessors,ProcessorId,ProcessorType,SocketDesignation From Win32_Processor"}
]})";
}

const char* DriveQueryList() {
    return R"({"Wmi Queries": [
  {"Name": "Win32_DiskDrive", "Namespace": "root\\cimv2", "Query": "Select Index,PNPDeviceId From Win32_DiskDrive"}
]})";
}

}  // namespace kavo::windows_host
