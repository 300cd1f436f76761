// Windows host information: WMI through COM, the configuration manager's
// device tree, the active power scheme, computer and user names, and the
// NVMe drive list.
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
#include <cfgmgr32.h>
#include <powrprof.h>
#include <wbemidl.h>
#include <oleauto.h>
#include <initguid.h>
#include <devpkey.h>
#include <pciprop.h>

#include <algorithm>
#include <cctype>
#include <map>
#include <string>
#include <vector>

#include "host/device_tree.h"
#include "base/kavo_errors.h"
#include "base/kavo_json.h"
#include "base/kavo_log.h"
#include "base/kavo_text.h"
#include "host/kavo_windows.h"
#include "decode/parameters.h"
#include "host/system_info.h"

namespace kavo {
namespace {

using windows_host::PropertyValue;

std::string Narrow(const wchar_t* text, int length = -1) {
    if (text == nullptr) return "";
    int size = WideCharToMultiByte(CP_ACP, 0, text, length, nullptr, 0, nullptr, nullptr);
    if (size <= 0) return "";
    std::string result(static_cast<size_t>(size), '\0');
    WideCharToMultiByte(CP_ACP, 0, text, length, result.data(), size, nullptr, nullptr);
    if (length < 0 && !result.empty() && result.back() == '\0') result.pop_back();
    return result;
}

std::wstring Wide(const std::string& text) {
    int size = MultiByteToWideChar(CP_ACP, 0, text.c_str(), -1, nullptr, 0);
    std::wstring result(static_cast<size_t>(std::max(size, 1)), L'\0');
    MultiByteToWideChar(CP_ACP, 0, text.c_str(), -1, result.data(), size);
    result.resize(wcslen(result.c_str()));
    return result;
}

std::string Hex(long code) {
    char text[16];
    std::snprintf(text, sizeof text, "%lX", static_cast<unsigned long>(code));
    return text;
}

PropertyValue ReadVariant(const VARIANT& v, CIMTYPE type) {
    PropertyValue value;
    using K = PropertyValue::Kind;
    value.cimUInt64 = type == CIM_UINT64;
    switch (V_VT(&v)) {
        case VT_EMPTY:
        case VT_NULL: value.kind = K::Empty; break;
        case VT_I2: value.kind = K::Int16, value.integer = V_I2(&v); break;
        case VT_I4: value.kind = K::Int32, value.integer = V_I4(&v); break;
        case VT_INT: value.kind = K::Int32, value.integer = V_INT(&v); break;
        case VT_BSTR: value.kind = K::String, value.text = Narrow(V_BSTR(&v), static_cast<int>(SysStringLen(V_BSTR(&v)))); break;
        case VT_BOOL: value.kind = K::Bool, value.boolean = V_BOOL(&v) != VARIANT_FALSE; break;
        case VT_UI1: value.kind = K::UInt8, value.integer = V_UI1(&v); break;
        case VT_UI2: value.kind = K::UInt16, value.integer = V_UI2(&v); break;
        case VT_UI4: value.kind = K::UInt32, value.unsignedInteger = V_UI4(&v); break;
        case VT_ARRAY | VT_I4:
        case VT_ARRAY | VT_BSTR: {
            bool strings = V_VT(&v) == (VT_ARRAY | VT_BSTR);
            value.kind = strings ? K::StringArray : K::Int32Array;
            SAFEARRAY* array = V_ARRAY(&v);
            LONG low = 0, high = -1;
            if (array != nullptr && SafeArrayGetDim(array) == 1) {
                SafeArrayGetLBound(array, 1, &low);
                SafeArrayGetUBound(array, 1, &high);
            }
            for (LONG i = low; i <= high; ++i) {
                if (strings) {
                    BSTR item = nullptr;
                    if (SUCCEEDED(SafeArrayGetElement(array, &i, &item))) {
                        value.items.push_back(Narrow(item, static_cast<int>(SysStringLen(item))));
                        SysFreeString(item);
                    }
                } else {
                    LONG item = 0;
                    if (SUCCEEDED(SafeArrayGetElement(array, &i, &item))) value.items.push_back(std::to_string(item));
                }
            }
            break;
        }
        default: value.kind = K::Other;
    }
    return value;
}

}  // namespace

bool InitializeCom() {
    int64_t start = MonotonicNanoseconds();
    HRESULT result = CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    if (FAILED(result))
        throw KavoError("Failed to initialize COM library.  CoInitializeEx(0, COINIT_MULTITHREADED) returned " + Hex(result));
    result = CoInitializeSecurity(nullptr, -1, nullptr, nullptr, RPC_C_AUTHN_LEVEL_DEFAULT, RPC_C_IMP_LEVEL_IMPERSONATE,
                                  nullptr, EOAC_NONE, nullptr);
    if (FAILED(result) && result != RPC_E_TOO_LATE) {
        CoUninitialize();
        throw KavoError("Failed to initialize COM security. CoInitializeSecurity(...) returned " + Hex(result));
    }
    KLOG(Debug) << "COM initialized in " << ElapsedText(start, 3);
    return true;
}

bool WmiIsRunning() {
    SC_HANDLE manager = OpenSCManagerA(nullptr, nullptr, GENERIC_READ);
    if (manager == nullptr) {
        KLOG(Verbose) << "Could not get handle to SC manager, WMI is not running";
        return false;
    }
    SC_HANDLE service = OpenServiceA(manager, "winmgmt", SERVICE_QUERY_STATUS);
    if (service == nullptr) {
        KLOG(Verbose) << "Could not get handle to WMI winmgmt service, WMI is not running";
        CloseServiceHandle(manager);
        return false;
    }
    SERVICE_STATUS status{};
    bool queried = QueryServiceStatus(service, &status) != 0;
    CloseServiceHandle(service);
    CloseServiceHandle(manager);
    if (!queried) {
        KLOG(Verbose) << "Could not query WMI winmgmt service, WMI is not running";
        return false;
    }
    if (status.dwCurrentState == SERVICE_STOPPED || status.dwCurrentState == SERVICE_STOP_PENDING) {
        KLOG(Verbose) << "WMI service is stopped or pending stop.  WMI is not running";
        return false;
    }
    KLOG(Verbose) << "WMI is running";
    return true;
}

int StartWmiQueries(const Json::Value& queries, std::vector<IEnumWbemClassObject*>& enumerators) {
    KLOG(Verbose) << "Starting WMI queries...";
    int64_t start = MonotonicNanoseconds();
    IWbemLocator* locator = nullptr;
    HRESULT result = CoCreateInstance(CLSID_WbemLocator, nullptr, CLSCTX_INPROC_SERVER, IID_IWbemLocator,
                                      reinterpret_cast<void**>(&locator));
    if (FAILED(result))
        throw KavoError("Failed to create IWbemLocator object for WMI. CoCreateInstance(...) returned " + Hex(result));
    int failures = 0;
    std::map<std::string, IWbemServices*> services;
    enumerators.assign(queries.size(), nullptr);
    for (Json::ArrayIndex i = 0; i < queries.size(); ++i) {
        std::string space = queries[i]["Namespace"].asString(), query = queries[i]["Query"].asString();
        IWbemServices*& service = services[space];
        if (service == nullptr) {
            BSTR path = SysAllocString(Wide(space).c_str());
            result = locator->ConnectServer(path, nullptr, nullptr, nullptr, 0, nullptr, nullptr, &service);
            SysFreeString(path);
            if (FAILED(result)) {
                KLOG(Error) << "Failed to connect to WMI server at namespace " << space
                            << ", pLoc->ConnectServer(...) returned 0x" << Hex(result);
                ++failures;
                service = nullptr;
                continue;
            }
            result = CoSetProxyBlanket(service, RPC_C_AUTHN_WINNT, RPC_C_AUTHZ_NONE, nullptr, RPC_C_AUTHN_LEVEL_CALL,
                                       RPC_C_IMP_LEVEL_IMPERSONATE, nullptr, EOAC_NONE);
            if (FAILED(result)) {
                KLOG(Error) << "Failed to create proxy blanket for WMI. CoSetProxyBlanket(..) returned 0x" << Hex(result);
                ++failures;
            }
        }
        BSTR language = SysAllocString(L"WQL");
        BSTR text = SysAllocString(Wide(query).c_str());
        result = service->ExecQuery(language, text, WBEM_FLAG_FORWARD_ONLY | WBEM_FLAG_RETURN_IMMEDIATELY, nullptr,
                                    &enumerators[i]);
        SysFreeString(language);
        SysFreeString(text);
        if (FAILED(result)) {
            KLOG(Error) << "Failed to execute wmi query '" << query << "' pSvc->ExecQuery(...) returned 0x" << Hex(result);
            ++failures;
            enumerators[i] = nullptr;
        } else {
            KLOG(Verbose) << "Started WMI query '" << query << "' using namespace '" << space << "'";
        }
    }
    for (auto& entry : services)
        if (entry.second != nullptr) entry.second->Release();
    locator->Release();
    KLOG(Debug) << "Started " << queries.size() << " WMI queries in " << ElapsedText(start, 3);
    return failures;
}

int ReadWmiInfo(const Json::Value& queries, std::vector<IEnumWbemClassObject*>& enumerators, Json::Value& results) {
    KLOG(Verbose) << "Reading device list from WMI queries...";
    int64_t start = MonotonicNanoseconds();
    for (size_t i = 0; i < enumerators.size(); ++i) {
        IEnumWbemClassObject* enumerator = enumerators[i];
        if (enumerator == nullptr) continue;
        std::string name = queries[static_cast<Json::ArrayIndex>(i)]["Name"].asString();
        KLOG(Verbose) << "Reading query: " << name;
        for (Json::ArrayIndex row = 0;; ++row) {
            IWbemClassObject* object = nullptr;
            ULONG returned = 0;
            enumerator->Next(WBEM_INFINITE, 1, &object, &returned);
            if (returned == 0 || object == nullptr) break;
            HRESULT result = object->BeginEnumeration(0);
            if (FAILED(result)) {
                object->Release();
                throw KavoError("WMI query enumeration failed. class_object->BeginEnumeration(NULL) returned " + Hex(result));
            }
            BSTR property = nullptr;
            VARIANT value;
            CIMTYPE type = 0;
            while (object->Next(0, &property, &value, &type, nullptr) == WBEM_S_NO_ERROR) {
                std::string key = Narrow(property);
                Json::Value converted = windows_host::PropertyToJson(ReadVariant(value, type));
                KLOG(Verbose) << key << " = " << Trim(converted.toStyledString()) << " (CIM type " << type << ")";
                results["Wmi Queries"][name][row][key] = converted;
                SysFreeString(property);
                VariantClear(&value);
            }
            object->Release();
        }
        enumerator->Release();
        enumerators[i] = nullptr;
    }
    KLOG(Debug) << "Read WMI queries for device list in " << ElapsedText(start, 3);
    return 0;
}

namespace {

std::string DeviceProperty(DEVINST node, const DEVPROPKEY& key, size_t bytes = 2048) {
    std::vector<BYTE> buffer(bytes, 0);
    DEVPROPTYPE type = 0;
    ULONG size = static_cast<ULONG>(buffer.size());
    if (CM_Get_DevNode_PropertyW(node, &key, &type, buffer.data(), &size, 0) != CR_SUCCESS) return "";
    if (type == DEVPROP_TYPE_STRING) return Narrow(reinterpret_cast<const wchar_t*>(buffer.data()));
    if (type == DEVPROP_TYPE_UINT32) return std::to_string(*reinterpret_cast<const UINT32*>(buffer.data()));
    if (type == DEVPROP_TYPE_FILETIME) {
        FILETIME utc = *reinterpret_cast<const FILETIME*>(buffer.data()), local{};
        SYSTEMTIME time{};
        char text[64] = {};
        if (FileTimeToLocalFileTime(&utc, &local) && FileTimeToSystemTime(&local, &time) &&
            GetDateFormatA(LOCALE_USER_DEFAULT, DATE_SHORTDATE, &time, nullptr, text, sizeof text) > 0)
            return text;
    }
    return "";
}

bool PropertyReadable(DEVINST node, const DEVPROPKEY& key) {
    BYTE buffer[2048];
    DEVPROPTYPE type = 0;
    ULONG size = sizeof buffer;
    return CM_Get_DevNode_PropertyW(node, &key, &type, buffer, &size, 0) == CR_SUCCESS;
}

void ReadDeviceNode(DEVINST node, Json::Value& object) {
    char id[2048] = {};
    CONFIGRET code = CM_Get_Device_IDA(node, id, sizeof id, 0);
    if (code != CR_SUCCESS) throw KavoError("Failed to read device ID from config manager.  Code: " + std::to_string(code));
    std::string instance = id;
    object["ID"] = instance;
    std::string description = DeviceProperty(node, DEVPKEY_Device_DeviceDesc);
    object["Description"] = description.empty() ? "null" : description;
    if (instance.compare(0, 8, "PCI\\VEN_") != 0) return;
    object["PCI Device ID"] = "0x" + instance.substr(17, 4);
    object["PCI Vendor ID"] = "0x" + instance.substr(8, 4);
    std::string location = DeviceProperty(node, DEVPKEY_Device_LocationInfo);
    object["Location"] = location.empty() ? "N/A" : (location.size() >= 5 ? "B" + location.substr(5) : "B");
    std::string provider = DeviceProperty(node, DEVPKEY_Device_DriverProvider);
    std::string version = DeviceProperty(node, DEVPKEY_Device_DriverVersion);
    std::string date = DeviceProperty(node, DEVPKEY_Device_DriverDate);
    std::string inf = DeviceProperty(node, DEVPKEY_Device_DriverInfPath);
    object["Driver"] = (provider.empty() ? "NA,  " : provider + ",  ") + (version.empty() ? "NA,  " : version + ",  ") +
                       (date.empty() ? "NA, " : date + ",  ") + (inf.empty() ? "NA, " : inf);
    auto speed = [&](const DEVPROPKEY& key, const char* member) {
        if (!PropertyReadable(node, key)) return;
        std::string text = PciSpeedText(std::atoi(DeviceProperty(node, key).c_str()));
        if (!text.empty()) object[member] = text;
    };
    speed(DEVPKEY_PciDevice_CurrentLinkSpeed, "PCI Speed");
    speed(DEVPKEY_PciDevice_MaxLinkSpeed, "PCI Rated Speed");
    auto width = [&](const DEVPROPKEY& key, const char* member) {
        if (PropertyReadable(node, key)) object[member] = "x" + DeviceProperty(node, key);
    };
    width(DEVPKEY_PciDevice_CurrentLinkWidth, "PCI Width");
    width(DEVPKEY_PciDevice_MaxLinkWidth, "PCI Rated Width");
}

void ReadDeviceChildren(DEVINST first, Json::Value& array) {
    for (DEVINST node = first;;) {
        Json::Value& object = array.append(Json::Value(Json::objectValue));
        ReadDeviceNode(node, object);
        DEVINST child = 0;
        if (CM_Get_Child(&child, node, 0) == CR_SUCCESS) {
            object["[Children]"] = Json::Value(Json::arrayValue);
            ReadDeviceChildren(child, object["[Children]"]);
        }
        DEVINST sibling = 0;
        if (CM_Get_Sibling(&sibling, node, 0) != CR_SUCCESS) break;
        node = sibling;
    }
}

}  // namespace

int ReadDeviceTree(Json::Value& system) {
    KLOG(Verbose) << "Reading device tree...";
    int64_t start = MonotonicNanoseconds();
    HMACHINE machine = nullptr;
    CONFIGRET code = CM_Connect_MachineA(nullptr, &machine);
    if (code != CR_SUCCESS)
        throw KavoError("Failed to connect to machine to get device tree. CM_Connect_Machine. Returned " + std::to_string(code));
    DEVINST root = 0, first = 0;
    code = CM_Locate_DevNodeA(&root, nullptr, CM_LOCATE_DEVNODE_NORMAL);
    if (code != CR_SUCCESS) {
        CM_Disconnect_Machine(machine);
        throw KavoError("Failed to get root of device tree. CM_Locate_DevNodeA(..).  Returned " + std::to_string(code));
    }
    code = CM_Get_Child(&first, root, 0);
    if (code != CR_SUCCESS) {
        CM_Disconnect_Machine(machine);
        throw KavoError("Failed to get first child device of tree.  Returned " + std::to_string(code));
    }
    bool found = false;
    for (DEVINST node = first;;) {
        std::vector<BYTE> buffer(4096, 0);
        DEVPROPTYPE type = 0;
        ULONG size = static_cast<ULONG>(buffer.size());
        if (CM_Get_DevNode_PropertyW(node, &DEVPKEY_Device_DeviceDesc, &type, buffer.data(), &size, 0) == CR_SUCCESS &&
            std::memcmp(buffer.data(), L"ACPI x64-based PC", 18 * sizeof(wchar_t)) == 0) {
            DEVINST child = 0;
            code = CM_Get_Child(&child, node, 0);
            if (code != CR_SUCCESS) {
                CM_Disconnect_Machine(machine);
                throw KavoError("Failed to find first child of 'ACPI x64-based PC' in the device of tree. CM_Get_Child returned " +
                                std::to_string(code));
            }
            system["Device Tree"] = Json::Value(Json::arrayValue);
            ReadDeviceChildren(child, system["Device Tree"]);
            found = true;
            break;
        }
        DEVINST sibling = 0;
        if (CM_Get_Sibling(&sibling, node, 0) != CR_SUCCESS) break;
        node = sibling;
    }
    CM_Disconnect_Machine(machine);
    if (!found) throw KavoError("Failed to find 'ACPI x64-based PC' in the device of tree");
    KLOG(Debug) << "Read device tree in " << ElapsedText(start, 3);
    return 0;
}

namespace {

// {0012ee47-9041-4b5d-9b77-535fba8b1442}: the disk subgroup, and the NVMe
// settings in it; {501a4d13-...}: PCI Express, and link state power management.
const GUID kDiskSubgroup = {0x0012ee47, 0x9041, 0x4b5d, {0x9b, 0x77, 0x53, 0x5f, 0xba, 0x8b, 0x14, 0x42}};
const GUID kPciExpressSubgroup = {0x501a4d13, 0x42af, 0x4429, {0x9f, 0xd1, 0xa8, 0x21, 0x8c, 0x26, 0x8e, 0x20}};
struct PowerSetting {
    const char* dc;
    const char* ac;
    const GUID* subgroup;
    GUID setting;
};
const PowerSetting kPowerSettings[] = {
    {"dc primary timeout", "ac primary timeout", &kDiskSubgroup,
     {0xd639518a, 0xe56d, 0x4345, {0x8a, 0xf2, 0xb9, 0xf3, 0x2f, 0xb2, 0x61, 0x09}}},
    {"dc secondary timeout", "ac secondary timeout", &kDiskSubgroup,
     {0xd3d55efd, 0xc1ff, 0x424e, {0x9d, 0xc3, 0x44, 0x1b, 0xe7, 0x83, 0x30, 0x10}}},
    {"dc primary latency", "ac primary latency", &kDiskSubgroup,
     {0xfc95af4d, 0x40e7, 0x4b6d, {0x83, 0x5a, 0x56, 0xd1, 0x31, 0xdb, 0xc8, 0x0e}}},
    {"dc secondary latency", "ac secondary latency", &kDiskSubgroup,
     {0xdbc9e238, 0x6de9, 0x49e3, {0x92, 0xcd, 0x8c, 0x2b, 0x49, 0x46, 0xb4, 0x72}}},
    {"dc noppme", "ac noppme", &kDiskSubgroup,
     {0xfc7372b6, 0xab2d, 0x43ee, {0x87, 0x97, 0x15, 0xe9, 0x84, 0x1f, 0x2c, 0xca}}},
    {"dc aspm", "ac aspm", &kPciExpressSubgroup,
     {0xee12f906, 0xd277, 0x404b, {0xb6, 0xda, 0xe5, 0xfa, 0x1a, 0x57, 0x6d, 0xf5}}},
};

void ReadPowerPlan(Json::Value& system) {
    GUID* scheme = nullptr;
    if (PowerGetActiveScheme(nullptr, &scheme) != ERROR_SUCCESS || scheme == nullptr) return;
    Json::Value& plan = system["powerplan"];
    DWORD size = 0;
    std::string name = "N/A";
    if (PowerReadFriendlyName(nullptr, scheme, nullptr, nullptr, nullptr, &size) == ERROR_SUCCESS && size > 0) {
        std::vector<UCHAR> buffer(size, 0);
        if (PowerReadFriendlyName(nullptr, scheme, nullptr, nullptr, buffer.data(), &size) == ERROR_SUCCESS)
            name = Narrow(reinterpret_cast<const wchar_t*>(buffer.data()));
    }
    plan["name"] = name;
    for (const PowerSetting& setting : kPowerSettings) {
        DWORD value = 0;
        plan[setting.dc] = PowerReadDCValueIndex(nullptr, scheme, setting.subgroup, &setting.setting, &value) == ERROR_SUCCESS
                               ? std::to_string(static_cast<int32_t>(value)) : "N/A";
        plan[setting.ac] = PowerReadACValueIndex(nullptr, scheme, setting.subgroup, &setting.setting, &value) == ERROR_SUCCESS
                               ? std::to_string(static_cast<int32_t>(value)) : "N/A";
    }
    LocalFree(scheme);
}

std::string Text(const Json::Value& row, const char* key) {
    const Json::Value& value = row[key];
    if (value.isString()) return value.asString();
    if (value.isNull()) return "";
    return Trim(value.toStyledString());
}

std::string DiskVendor(const Json::Value& scsiRows, const std::string& pnp) {
    for (const Json::Value& row : scsiRows) {
        std::string dependent = Text(row, "Dependent");
        size_t equals = dependent.find('=');
        if (equals == std::string::npos) continue;
        std::string id = dependent.substr(std::min(dependent.size(), equals + 2));
        size_t quote = id.find('"');
        if (quote != std::string::npos) id.erase(quote, 1);
        for (size_t at = id.find("\\\\"); at != std::string::npos; at = id.find("\\\\", at + 1)) id.erase(at, 1);
        if (id != pnp) continue;
        std::string antecedent = Text(row, "Antecedent");
        size_t ven = antecedent.find("VEN_");
        if (ven == std::string::npos) continue;
        std::string digits = antecedent.substr(ven + 4, 4);
        std::transform(digits.begin(), digits.end(), digits.begin(), [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
        return LookupVendorName("0x" + digits);
    }
    return "Unknown";
}

}  // namespace

int GetSystemInfo(InfoDocument& sample, const std::string& drive, bool extended) {
    Json::Value& info = sample.document;
    KLOG(Verbose) << "Getting system info";
    int64_t start = MonotonicNanoseconds();
    int result = 0;
    Json::Value queries;
    std::vector<IEnumWbemClassObject*> enumerators;
    bool wmi = false;
    if (extended && WmiIsRunning()) {
        ParseJsonText(windows_host::DefaultQueryList(), queries);
        InitializeCom();
        result = StartWmiQueries(queries["Wmi Queries"], enumerators);
        wmi = true;
    }
    Json::Value& system = info["_metadata"]["system"];
    char name[1024] = {};
    DWORD size = sizeof name;
    system["hostname"] = GetComputerNameA(name, &size) ? name : "";
    size = sizeof name;
    system["username"] = GetUserNameA(name, &size) ? name : "";
    info["_metadata"]["date"] = CurrentTimeText();
    KLOG(Debug) << "Date:              " << info["_metadata"]["date"].asString();
    KLOG(Debug) << "Hostname:          " << system["hostname"].asString();
    KLOG(Debug) << "User:              " << system["username"].asString();
    SYSTEM_POWER_STATUS power{};
    system["power source"] = !GetSystemPowerStatus(&power) ? "Unknown"
                             : power.ACLineStatus == 0    ? "Battery"
                             : power.ACLineStatus == 1    ? "AC"
                                                          : "Unknown";
    ReadPowerPlan(system);
    if (extended) {
        result += ReadDeviceTree(system);
        std::string drivePnp;
        if (wmi) {
            Json::Value results;
            result += ReadWmiInfo(queries["Wmi Queries"], enumerators, results);
            const Json::Value& rows = results["Wmi Queries"];
            system["nvme"] = Json::Value(Json::arrayValue);
            system["nvme list"] = Json::Value(Json::arrayValue);
            system["drive"] = Json::Value(Json::arrayValue);
            for (const Json::Value& row : rows["Win32_DiskDrive"]) {
                Json::Value disk(Json::objectValue);
                disk["path"] = Text(row, "DeviceID");
                disk["serial"] = Text(row, "SerialNumber");
                disk["model"] = Text(row, "Model");
                disk["size"] = Text(row, "Size");
                disk["index"] = Text(row, "Index");
                disk["pnp"] = Text(row, "PNPDeviceID");
                if (disk["index"].asString() == drive) drivePnp = disk["pnp"].asString();
                if (disk["pnp"].asString().find("DISK&VEN_NVME") == std::string::npos) {
                    system["drive"].append(disk);
                    continue;
                }
                system["nvme"].append(disk);
                std::string vendor = DiskVendor(rows["Win32_ScsiControllerDevice"], disk["pnp"].asString());
                double bytes = 0;
                TryParseDouble(disk["size"].asString(), bytes);
                system["nvme list"].append(DriveDescription(disk["index"].asString(), vendor, disk["model"].asString(),
                                                            FixedText(bytes / 1000 / 1000 / 1000, 0) + "GB"));
            }
            system["dimm"] = Json::Value(Json::arrayValue);
            for (const Json::Value& row : rows["Win32_PhysicalMemory"]) {
                Json::Value dimm(Json::objectValue);
                dimm["bank"] = Text(row, "BankLabel"), dimm["location"] = Text(row, "DeviceLocator");
                dimm["size"] = Text(row, "Capacity"), dimm["speed"] = Text(row, "ConfiguredClockSpeed");
                dimm["voltage"] = Text(row, "ConfiguredVoltage"), dimm["manufacturer"] = Text(row, "Manufacturer");
                dimm["model"] = Text(row, "PartNumber"), dimm["serial"] = Text(row, "SerialNumber");
                dimm["type"] = Text(row, "SMBIOSMemoryType");
                system["dimm"].append(dimm);
            }
            system["processor"] = Json::Value(Json::arrayValue);
            for (const Json::Value& row : rows["Win32_Processor"]) {
                Json::Value cpu(Json::objectValue);
                cpu["name"] = Text(row, "Name"), cpu["description"] = Text(row, "Description");
                cpu["id"] = Text(row, "DeviceID"), cpu["cores"] = Text(row, "NumberOfCores");
                cpu["logical cores"] = Text(row, "NumberOfLogicalProcessors"), cpu["l3 size"] = Text(row, "L3CacheSize");
                cpu["l2 size"] = Text(row, "L2CacheSize"), cpu["max speed"] = Text(row, "MaxClockSpeed");
                cpu["speed"] = Text(row, "CurrentClockSpeed");
                system["processor"].append(cpu);
            }
            system["os"] = Text(rows["Win32_OperatingSystem"][0], "Caption");
            system["os version"] = Text(rows["Win32_OperatingSystem"][0], "Version");
            system["bios version"] = Text(rows["Win32_BIOS"][0], "SMBIOSBIOSVersion");
            system["bios serial number"] = Text(rows["Win32_BIOS"][0], "SerialNumber");
            system["manufacturer"] = Text(rows["Win32_ComputerSystem"][0], "Manufacturer");
            system["model"] = Text(rows["Win32_ComputerSystem"][0], "Model");
            system["uuid"] = Text(rows["Win32_ComputerSystemProduct"][0], "UUID");
            CoUninitialize();
        }
        if (!drivePnp.empty()) {
            Json::Value path(Json::arrayValue);
            FindDriveInDeviceTree(system["Device Tree"], drivePnp, Json::Value(Json::objectValue), sample.parameters, path);
        }
    }
    KLOG(Debug) << "System info read in " << ElapsedText(start, 3);
    return result;
}

}  // namespace kavo

namespace kavo::windows_host {
namespace {

Json::Value WmiRows(const Json::Value& queries) {
    if (!WmiIsRunning()) throw KavoError("WMI is not running");
    std::vector<IEnumWbemClassObject*> enumerators;
    Json::Value results;
    try {
        InitializeCom();
        StartWmiQueries(queries["Wmi Queries"], enumerators);
        ReadWmiInfo(queries["Wmi Queries"], enumerators, results);
        CoUninitialize();
    } catch (const std::exception& e) {
        throw KavoError(e.what());
    }
    return results;
}

}  // namespace

WmiRowSource& DriveListRows() {
    static WmiRowSource source = WmiRows;
    return source;
}

}  // namespace kavo::windows_host

std::vector<std::string> GetNvmeDriveList() {
    Json::Value queries;
    kavo::ParseJsonText(kavo::windows_host::DriveQueryList(), queries);
    const Json::Value results = kavo::windows_host::DriveListRows()(queries);
    std::vector<std::string> drives;
    for (const Json::Value& row : results["Wmi Queries"]["Win32_DiskDrive"]) {
        const Json::Value& pnp = row["PNPDeviceID"];
        if (pnp.isString() && pnp.asString().find("DISK&VEN_NVME") != std::string::npos)
            drives.push_back(row["Index"].isString() ? row["Index"].asString() : std::to_string(row["Index"].asInt64()));
    }
    return drives;
}

namespace kavo {

// Windows names physical drives, not namespaces.
std::string ControllerOfNamespace(const std::string& /*name*/, bool& isNamespace) {
    isNamespace = false;
    return "";
}

std::vector<NvmeControllerSummary> ListNvmeControllers() {
    // The drive list names the NVMe disks; model, serial and the rest stay
    // empty here.
    std::vector<NvmeControllerSummary> list;
    try {
        for (const std::string& number : GetNvmeDriveList()) {
            NvmeControllerSummary summary;
            summary.number = number;
            summary.path = "\\\\.\\PHYSICALDRIVE" + number;
            list.push_back(summary);
        }
    } catch (const KavoError&) {
    }
    return list;
}

}  // namespace kavo
