// Log pages: reading, the error information, firmware slot and device
// self-test decoders, and the highest version kept in the document.
#include <cstring>
#include <vector>

#include "decode/decode_table.h"
#include "decode/health_log.h"
#include "base/kavo_log.h"
#include "decode/decoders.h"
#include "base/kavo_text.h"
#include "decode/parameters.h"

namespace kavo {
namespace {

using decode::Le;

std::string Hex2(uint64_t value) { return HexDigits(value & 0xFF, 2); }

Rendered NotSpecificOr(uint64_t value) { return value == 0xFFFF ? Rendered("Not Specific") : GroupedNumber(value); }

Rendered VendorSpecificInfo(uint64_t value) {
    if (value == 0) return "Not Applicable";
    return value >= 0x80 ? HexNumber(value & 0xFF, 2) : Rendered("Invalid Value");
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
Rendered TransportTypeInfo(uint64_t transportType, const uint8_t* entry) {
    return transportType == 3 ? PlainNumber(entry[40]) : Rendered("Reserved");
}

}  // namespace

int ReadLogPage(uint8_t logId, uint32_t length, DriveHandle& handle, uint8_t* buffer, CommandLog* commands) {
    return NvmeQueryPropertyCommand(handle, "Get Log Page " + Hex2(logId), kDataTypeLogPage, logId, 0, length, buffer,
                                    nullptr, commands);
}

std::string LogPageSetting(uint8_t logId) { return "read log page " + HexByte(logId) + "h"; }

int GetLogPage(uint8_t logId, uint32_t length, DriveHandle& handle, InfoDocument& info, CommandLog& commands,
               const SampleSettings& settings, const uint8_t* identify) {
    if (!settings.LogPage(logId)) return 0;
    try {
        std::vector<uint8_t> page(length, 0);
        if (ReadLogPage(logId, length, handle, page.data(), &commands) != 0) return 1;
        if (settings.logHexData) HexDump(page.data(), page.size(), info.document["raw hex data"]["log page " + Hex2(logId)]);
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

int DecodeErrorInformationLog(InfoDocument& info, const uint8_t* page, size_t size, const uint8_t* identify) {
    uint32_t& highest = info.highestVersion;
    uint32_t ver = static_cast<uint32_t>(Le(identify, 4096, 80, 4));
    size_t entries = static_cast<size_t>(identify[262]) + 1;
    Parameters& parameters = info.parameters;
    uint64_t count = 0;
    for (size_t i = 0; i < entries && 64 * (i + 1) <= size; ++i) {
        const uint8_t* e = page + 64 * i;
        uint64_t errorCount = Le(e, 64, 0, 8);
        if (errorCount == 0) continue;
        ++count;
        std::string prefix = "Error " + std::to_string(i);
        uint64_t location = Le(e, 64, 14, 2), lba = Le(e, 64, 16, 8), nsid = Le(e, 64, 24, 4);
        uint64_t transport = e[29], transportInfo = Le(e, 64, 40, 2);
        AddParameter(parameters, prefix + " Error Count", GroupedNumber(errorCount));
        AddParameter(parameters, prefix + " Submission Queue ID", NotSpecificOr(Le(e, 64, 8, 2)));
        AddParameter(parameters, prefix + " Command ID", NotSpecificOr(Le(e, 64, 10, 2)));
        AddParameter(parameters, prefix + " Status Field", HexNumber(Le(e, 64, 12, 2), 4));
        AddParameter(parameters, prefix + " Bit Location",
                     location == 0xFFFF ? Rendered("Not Specific") : GroupedNumber(decode::Bits(location, 10, 8)));
        AddParameter(parameters, prefix + " Byte Location",
                     location == 0xFFFF ? Rendered("Not Specific") : GroupedNumber(decode::Bits(location, 7, 0)));
        AddParameter(parameters, prefix + " LBA", lba == UINT64_MAX ? Rendered("Not Applicable") : GroupedNumber(lba));
        AddParameter(parameters, prefix + " Namespace",
                     nsid == 0xFFFFFFFF ? Rendered("Not Applicable") : GroupedNumber(nsid));
        AddParameter(parameters, prefix + " Vendor Specific Info", VendorSpecificInfo(e[28]));
        if (VersionGate14(ver, highest, transport != 0)) AddParameter(parameters, prefix + " Transport Type", TransportType(transport));
        AddParameter(parameters, prefix + " Command Specific Info", HexNumber(Le(e, 64, 32, 8), 16));
        if (VersionGate14(ver, highest, transportInfo != 0))
            AddParameter(parameters, prefix + " Transport Type Info", TransportTypeInfo(transport, e));
    }
    AddParameter(parameters, "Current Number Of Errors", GroupedNumber(count));
    return 0;
}

int DecodeFirmwareSlotLog(InfoDocument& info, const uint8_t* page, size_t size, const uint8_t* identify) {
    Parameters& parameters = info.parameters;
    uint8_t afi = size > 0 ? page[0] : 0;
    uint8_t pending = (afi >> 4) & 7;
    AddParameter(parameters, "Firmware Active Slot", PlainNumber(afi & 7));
    AddParameter(parameters, "Firmware Pending Slot", pending == 0 ? Rendered("Not Reported") : PlainNumber(pending));
    unsigned slots = (identify[260] >> 1) & 7;
    for (unsigned n = 1; n <= slots; ++n) {
        size_t at = 8 + 8 * (n - 1);
        if (at + 8 > size) break;
        const char* text = reinterpret_cast<const char*>(page + at);
        AddParameter(parameters, "Firmware Slot " + std::to_string(n) + " Revision", DriveText(page + at, strnlen(text, 8)));
    }
    return 0;
}

int DecodeSelfTestLog(InfoDocument& info, const uint8_t* page, size_t size) {
    if (size < 564) return 0;
    const SelfTestLog log = ParseSelfTestLog(page);
    info.selfTestLog = log;
    Parameters& parameters = info.parameters;
    static const char* const kOperations[] = {"No Test In Progress", "Short Test In Progress", "Extended Test In Progress"};
    const uint8_t operation = log.operation;
    AddParameter(parameters, "Current Self-Test Operation",
                 operation < 3 ? kOperations[operation] : operation == 0x0E ? "Vendor Specific" : "Reserved");
    AddParameter(parameters, "Current Self-Test Completion", PlainNumber(log.completion));
    unsigned used = 0, failed = 0;
    for (unsigned j = 0; j < log.results.size(); ++j) {
        const SelfTestResult& r = log.results[j];
        if (!r.used()) continue;
        ++used;
        if (r.result() >= 5 && r.result() <= 7) ++failed;
        std::string prefix = "Self-Test " + std::to_string(j + 1);
        AddParameter(parameters, prefix + " Result", SelfTestResultText(r.result()));
        AddParameter(parameters, prefix + " Result Code", PlainNumber(r.result()));
        AddParameter(parameters, prefix + " Type", SelfTestTypeText(r.testCode()));
        if (r.result() == 7) AddParameter(parameters, prefix + " Segment Number", PlainNumber(r.segment));
        if (r.valid & 1) AddParameter(parameters, prefix + " Namespace ID", PlainNumber(r.nsid));
        if (r.valid & 2) AddParameter(parameters, prefix + " Failing LBA", GroupedNumber(r.failingLba));
        if (r.valid & 4) AddParameter(parameters, prefix + " Status Code Type", PlainNumber(r.statusCodeType));
        if (r.valid & 8) AddParameter(parameters, prefix + " Status Code", PlainNumber(r.statusCode));
        AddParameter(parameters, prefix + " Power On Hours", GroupedNumber(r.powerOnHours));
    }
    AddParameter(parameters, "Current Number Of Self-Tests", PlainNumber(used));
    AddParameter(parameters, "Number Of Failed Self-Tests", PlainNumber(failed));
    return 0;
}

}  // namespace kavo
