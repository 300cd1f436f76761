// Log pages: reading, the error information, firmware slot and device
// self-test decoders, and the highest version kept in the document.
#include <cstring>
#include <vector>

#include "decode/decode_table.h"
#include "base/kavo_json.h"
#include "base/kavo_log.h"
#include "decode/decoders.h"
#include "base/kavo_text.h"
#include "decode/parameters.h"

namespace kavo {
namespace {

using decode::Le;

std::string Hex2(uint64_t value) { return HexDigits(value & 0xFF, 2); }

std::string NotSpecificOr(uint64_t value) { return value == 0xFFFF ? "Not Specific" : GroupedDecimal64(value); }

std::string VendorSpecificInfo(uint64_t value) {
    if (value == 0) return "Not Applicable";
    return value >= 0x80 ? Hex2(value) : "Invalid Value";
}

std::string TransportType(uint64_t value) {
    switch (value) {
        case 0: return "Not Applicable";
        case 1: return "RDMA";
        case 2: return "Fibre Channel";
        case 3: return "TCP";
        case 0xFE: return "Intra-host";
        default: return "Reserved";
    }
}

// Transport Type Specific Information of an error entry. NVMe 1.4 defines it
// only for TCP, where byte 40 is the Command Transport Specific Status (the
// status code the TCP transport reported) and byte 41 is reserved; that byte
// is shown in plain decimal. Other transports have no definition.
std::string TransportTypeInfo(uint64_t transportType, const uint8_t* entry) {
    return transportType == 3 ? std::to_string(entry[40]) : "Reserved";
}

}  // namespace

uint32_t DocumentHighestVersion(const Json::Value& info) {
    const Json::Value& value = info["nvme"]["parameters"]["Highest Version Detected"]["value"];
    return value.isUInt() ? value.asUInt() : 0;
}

void SetDocumentHighestVersion(Json::Value& info, uint32_t version) {
    info["nvme"]["parameters"]["Highest Version Detected"]["value"] = Json::UInt(version);
}

int ReadLogPage(uint8_t logId, uint32_t length, DriveHandle& handle, uint8_t* buffer, CommandLog* commands) {
    return NvmeQueryPropertyCommand(handle, "Get Log Page " + Hex2(logId), kDataTypeLogPage, logId, 0, length, buffer,
                                    nullptr, commands);
}

std::string LogPageSetting(uint8_t logId) { return "read log page " + HexByte(logId) + "h"; }

int GetLogPage(uint8_t logId, uint32_t length, DriveHandle& handle, Json::Value& info, CommandLog& commands,
               const Json::Value& settings, const uint8_t* identify, std::vector<uint8_t>* raw) {
    if (!JsonBool(settings, LogPageSetting(logId).c_str())) return 0;
    try {
        std::vector<uint8_t> page(length, 0);
        if (ReadLogPage(logId, length, handle, page.data(), &commands) != 0) return 1;
        if (JsonBool(settings, "log hex data")) HexDump(page.data(), page.size(), info["raw hex data"]["log page " + Hex2(logId)]);
        if (raw != nullptr) *raw = page;
        switch (logId) {
            case 0x01: return DecodeErrorInformationLog(info, page.data(), page.size(), identify);
            case 0x02: return DecodeSmartHealthLog(info, page.data(), page.size(), identify);
            case 0x03: return DecodeFirmwareSlotLog(info, page.data(), page.size(), identify);
            case 0x06: return DecodeSelfTestLog(info, page.data(), page.size());
            default: return 0;
        }
    } catch (const std::exception& e) {
        KLOG(Error) << "Failed to read log page " << Hex2(logId) << " : " << e.what();
    } catch (...) {
        KLOG(Error) << "Failed to read log page " << Hex2(logId) << " : Unknown exception";
    }
    return 1;
}

int DecodeErrorInformationLog(Json::Value& info, const uint8_t* page, size_t size, const uint8_t* identify) {
    uint32_t highest = DocumentHighestVersion(info);
    uint32_t ver = static_cast<uint32_t>(Le(identify, 4096, 80, 4));
    size_t entries = static_cast<size_t>(identify[262]) + 1;
    Json::Value& parameters = info["nvme"]["parameters"];
    uint64_t count = 0;
    for (size_t i = 0; i < entries && 64 * (i + 1) <= size; ++i) {
        const uint8_t* e = page + 64 * i;
        uint64_t errorCount = Le(e, 64, 0, 8);
        if (errorCount == 0) continue;
        ++count;
        std::string prefix = "Error " + std::to_string(i);
        uint64_t location = Le(e, 64, 14, 2), lba = Le(e, 64, 16, 8), nsid = Le(e, 64, 24, 4);
        uint64_t transport = e[29], transportInfo = Le(e, 64, 40, 2);
        AddParameter(parameters, prefix + " Error Count", GroupedDecimal64(errorCount));
        AddParameter(parameters, prefix + " Submission Queue ID", NotSpecificOr(Le(e, 64, 8, 2)));
        AddParameter(parameters, prefix + " Command ID", NotSpecificOr(Le(e, 64, 10, 2)));
        AddParameter(parameters, prefix + " Status Field", HexDigits(Le(e, 64, 12, 2), 4));
        AddParameter(parameters, prefix + " Bit Location",
                     location == 0xFFFF ? "Not Specific" : GroupedDecimal64(decode::Bits(location, 10, 8)));
        AddParameter(parameters, prefix + " Byte Location",
                     location == 0xFFFF ? "Not Specific" : GroupedDecimal64(decode::Bits(location, 7, 0)));
        AddParameter(parameters, prefix + " LBA", lba == UINT64_MAX ? "Not Applicable" : GroupedDecimal64(lba));
        AddParameter(parameters, prefix + " Namespace", nsid == 0xFFFFFFFF ? "Not Applicable" : GroupedDecimal64(nsid));
        AddParameter(parameters, prefix + " Vendor Specific Info", VendorSpecificInfo(e[28]));
        if (VersionGate14(ver, highest, transport != 0)) AddParameter(parameters, prefix + " Transport Type", TransportType(transport));
        AddParameter(parameters, prefix + " Command Specific Info", HexDigits(Le(e, 64, 32, 8), 16));
        if (VersionGate14(ver, highest, transportInfo != 0))
            AddParameter(parameters, prefix + " Transport Type Info", TransportTypeInfo(transport, e));
    }
    AddParameter(parameters, "Current Number Of Errors", GroupedDecimal64(count));
    SetDocumentHighestVersion(info, highest);
    return 0;
}

int DecodeFirmwareSlotLog(Json::Value& info, const uint8_t* page, size_t size, const uint8_t* identify) {
    Json::Value& parameters = info["nvme"]["parameters"];
    uint8_t afi = size > 0 ? page[0] : 0;
    uint8_t pending = (afi >> 4) & 7;
    AddParameter(parameters, "Firmware Active Slot", std::to_string(afi & 7));
    AddParameter(parameters, "Firmware Pending Slot", pending == 0 ? "Not Reported" : std::to_string(pending));
    unsigned slots = (identify[260] >> 1) & 7;
    for (unsigned n = 1; n <= slots; ++n) {
        size_t at = 8 + 8 * (n - 1);
        if (at + 8 > size) break;
        const char* text = reinterpret_cast<const char*>(page + at);
        AddParameter(parameters, "Firmware Slot " + std::to_string(n) + " Revision", DriveText(page + at, strnlen(text, 8)));
    }
    return 0;
}

int DecodeSelfTestLog(Json::Value& info, const uint8_t* page, size_t size) {
    if (size < 564) return 0;
    Json::Value& parameters = info["nvme"]["parameters"];
    static const char* const kOperations[] = {"No Test In Progress", "Short Test In Progress", "Extended Test In Progress"};
    uint8_t operation = page[0];
    AddParameter(parameters, "Current Self-Test Operation",
                 operation < 3 ? kOperations[operation] : operation == 0x0E ? "Vendor Specific" : "Reserved");
    AddParameter(parameters, "Current Self-Test Completion", std::to_string(page[1]));
    unsigned used = 0, failed = 0;
    for (unsigned j = 0; j < 20; ++j) {
        const uint8_t* e = page + 4 + 28 * j;
        unsigned result = e[0] & 0xF, code = e[0] >> 4;
        if (result == 0xF) continue;
        ++used;
        if (result >= 5 && result <= 7) ++failed;
        std::string prefix = "Self-Test " + std::to_string(j + 1);
        const char* resultText = result == 0 ? "Passed" : result <= 4 || result == 8 ? "Aborted" : result <= 7 ? "Failed" : "Reserved";
        const char* typeText = code == 1 ? "Short Test" : code == 2 ? "Extended Test" : code == 0xE ? "Vendor Specific" : "Reserved";
        uint8_t valid = e[2];
        AddParameter(parameters, prefix + " Result", resultText);
        AddParameter(parameters, prefix + " Result Code", std::to_string(result));
        AddParameter(parameters, prefix + " Type", typeText);
        if (result == 7) AddParameter(parameters, prefix + " Segment Number", std::to_string(e[1]));
        if (valid & 1) AddParameter(parameters, prefix + " Namespace ID", std::to_string(Le(e, 28, 12, 4)));
        if (valid & 2) AddParameter(parameters, prefix + " Failing LBA", GroupedDecimal64(Le(e, 28, 16, 8)));
        if (valid & 4) AddParameter(parameters, prefix + " Status Code Type", std::to_string(e[24]));
        if (valid & 8) AddParameter(parameters, prefix + " Status Code", std::to_string(e[25]));
        AddParameter(parameters, prefix + " Power On Hours", GroupedDecimal64(Le(e, 28, 4, 8)));
    }
    AddParameter(parameters, "Current Number Of Self-Tests", std::to_string(used));
    AddParameter(parameters, "Number Of Failed Self-Tests", std::to_string(failed));
    return 0;
}

}  // namespace kavo
