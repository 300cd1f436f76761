// Identify Namespace: namespace fields, LBA formats and size.
#include <array>
#include <cmath>
#include <vector>

#include "decode/decode_table.h"
#include "decode/health_log.h"
#include "base/kavo_log.h"
#include "decode/decoders.h"
#include "base/kavo_text.h"
#include "decode/parameters.h"

namespace kavo {
namespace {

using namespace decode;
using G = Gate;
constexpr uint8_t W = kWhole;

constexpr char kNotReported[] = "Not Reported";
constexpr char kNotSupported[] = "Not Supported";
constexpr char kSameAsAwun[] = "Same as AWUN";
constexpr char kSameAsAwupf[] = "Same as AWUPF";
constexpr char kSameAsAcwu[] = "Same as ACWU";
constexpr char kNoBoundaries[] = "No boundaries";

Rendered ProtectionType(const FieldView& f) {
    static const char* const kTypes[] = {"Disabled", "Type 1", "Type 2", "Type 3"};
    return f.value < 4 ? kTypes[f.value] : "Reserved";
}
Rendered ProtectionPosition(const FieldView& f) { return f.value ? "First 8 Bytes" : "Last 8 Bytes"; }
Rendered KeyRevision(const FieldView& f) { return f.value ? "1.3 or later" : "1.2.1 or earlier"; }
Rendered DeallocatedValue(const FieldView& f) {
    static const char* const kValues[] = {"Not Reported", "All 00h", "All FFh"};
    return f.value < 3 ? kValues[f.value] : "Reserved";
}
Rendered YesNoBit(const FieldView& f) { return YesNo(f.value != 0); }
Rendered Nguid(const FieldView& f) { return DashedHex16(f.bytes); }
Rendered Eui64(const FieldView& f) { return DashedHex8(f.bytes); }
bool FormatInProgress(const uint8_t* d, size_t s) { return Bit(Le(d, s, 32, 1), 7); }

// Identify Namespace field table (names follow "Namespace 1").
const Row kNamespaceRows[] = {
    {" Size in LBA (NSZE)", 0, 8, W, 0, G::Always, Grouped},
    {" Capacity (NCAP)", 8, 8, W, 0, G::Always, Grouped},
    {" Utilization (NUSE)", 16, 8, W, 0, G::Always, Grouped},
    {" Thin Provisioning", 24, 1, 0, 0, G::Always, Supported},
    {" Atomic Writes", 24, 1, 1, 1, G::Always, Supported},
    {" Logical Block Error", 24, 1, 2, 2, G::Always, Supported},
    {" NGUID/EUID Not Reused", 24, 1, 3, 3, G::V13, Supported},
    {" IO Optimize Fields", 24, 1, 4, 4, G::V14, Supported},
    {" Number of LBA Formats (NLBAF)", 25, 1, W, 0, G::Always, PlainPlus1},
    {" Extended Data LBA", 26, 1, 4, 4, G::Always, Supported},
    {" Active LBA Format", 26, 1, 3, 0, G::Always, Plain},
    {" Metadata Transfer Buffer", 27, 1, 1, 1, G::Always, Supported},
    {" Metadata Transfer Extended LBA", 27, 1, 0, 0, G::Always, Supported},
    {" Protection Type 1", 28, 1, 0, 0, G::Always, Supported},
    {" Protection Type 2", 28, 1, 1, 1, G::Always, Supported},
    {" Protection Type 3", 28, 1, 2, 2, G::Always, Supported},
    {" Protection First", 28, 1, 3, 3, G::Always, Supported},
    {" Protection Last", 28, 1, 4, 4, G::Always, Supported},
    {" Protection Information Enabled", 29, 1, 2, 0, G::Always, ProtectionType},
    {" Protection Information First", 29, 1, 3, 3, G::Always, ProtectionPosition},
    {" Shared", 30, 1, 0, 0, G::Always, Supported},
    {" Persist Through Power Loss", 31, 1, 0, 0, G::Always, Supported},
    {" Write Exclusive Reservation", 31, 1, 1, 1, G::Always, Supported},
    {" Exclusive Access Reservation", 31, 1, 2, 2, G::Always, Supported},
    {" Write Exclusive Registrants Only Reservation", 31, 1, 3, 3, G::Always, Supported},
    {" Exclusive Access Registrants Only Reservation", 31, 1, 4, 4, G::Always, Supported},
    {" Write Exclusive All Registrants Reservation", 31, 1, 5, 5, G::Always, Supported},
    {" Exclusive Access All Registrants Reservation", 31, 1, 6, 6, G::Always, Supported},
    {" Ignore Existing Key Specification", 31, 1, 7, 7, G::V13, KeyRevision},
    {" Format Progress Indicator", 32, 1, 7, 7, G::Always, Supported},
    {" Format Percent Complete", 32, 1, 6, 0, G::Always, Grouped, FormatInProgress},
    {" Deallocate Guard Field", 33, 1, 4, 4, G::V13Whole, Supported},
    {" Deallocate Bit in Write Zeros", 33, 1, 3, 3, G::Previous, Supported},
    {" Deallocate Logical Block Value", 33, 1, 2, 0, G::Previous, DeallocatedValue},
    {" Atomic Write Unit Normal (NAWUN)", 34, 2, W, 0, G::Always, ZeroOr<kSameAsAwun, Grouped>},
    {" Atomic Write Unit Power Fail (NAWUPF)", 36, 2, W, 0, G::Always, ZeroOr<kSameAsAwupf, Grouped>},
    {" Atomic Compare & Write Unit (NACWU)", 38, 2, W, 0, G::Always, ZeroOr<kSameAsAcwu, Grouped>},
    {" Atomic Boundary Size Normal (NABSN)", 40, 2, W, 0, G::Always, ZeroOr<kNoBoundaries, Grouped>},
    {" Atomic Boundary Offset (NABO)", 42, 2, W, 0, G::Always, Grouped},
    {" Atomic Boundary Size Power Fail (NABSPF)", 44, 2, W, 0, G::Always, ZeroOr<kNoBoundaries, Grouped>},
    {" Optimal IO Boundary (NOIOB)", 46, 2, W, 0, G::V13, ZeroOr<kNotReported, Grouped>},
    {" NVM Capacity (NVMCAP)", 48, 16, W, 0, G::Always, Grouped128},
    {" Preferred Write Granularity (NPWG)", 64, 2, W, 0, G::V14, GroupedPlus1},
    {" Preferred Write Alignment (NPWA)", 66, 2, W, 0, G::V14, GroupedPlus1},
    {" Preferred Deallocate Granularity (NPDG)", 68, 2, W, 0, G::V14, GroupedPlus1},
    {" Preferred Deallocate Alignment (NPDA)", 70, 2, W, 0, G::V14, GroupedPlus1},
    {" Optimal Write Size (NOWS)", 72, 2, W, 0, G::V14, GroupedPlus1},
    {" ANA Group Identifier (ANAGRPID)", 92, 4, W, 0, G::V14, ZeroOr<kNotReported, Grouped>},
    {" Write Protected", 99, 1, 0, 0, G::V14, YesNoBit},
    {" NVM Set Identifier (NVMSETID)", 100, 2, W, 0, G::V14, ZeroOr<kNotSupported, Grouped>},
    {" Endurance Group Identifier (ENDGID)", 102, 2, W, 0, G::V14, ZeroOr<kNotSupported, Grouped>},
    {" Globally Unique Identifier (NGUID)", 104, 16, W, 0, G::Always, Nguid},
    {" IEEE Extended Unique Identifier (EUI64)", 120, 8, W, 0, G::Always, Eui64},
};

const char* const kRelativePerformance[] = {"Best Performance", "Better Performance", "Good Performance",
                                            "Degraded Performance"};

// LBA formats 0 to NLBAF; returns the active format's block size, or 0 when
// the active format is not among them.
uint64_t DecodeLbaFormats(const uint8_t* d, size_t size, Parameters& parameters) {
    uint64_t nlbaf = Le(d, size, 25, 1);
    uint64_t active = Le(d, size, 26, 1) & 0xF;
    uint64_t blockSize = 0;
    for (uint64_t i = 0; i <= nlbaf; ++i) {
        size_t at = 128 + 4 * i;
        if (at + 4 > size) break;
        std::string prefix = "Namespace 1 LBA " + std::to_string(i);
        std::string marker = i == active ? " *" : "";
        uint64_t ms = Le(d, size, at, 2), lbads = d[at + 2], rp = d[at + 3] & 3;
        if (ms != 0) AddParameter(parameters, prefix + " Metadata Size (MS)", PlainNumber(ms));
        if (lbads != 0) {
            Rendered size = PowerOfTwoText(lbads);
            AddParameter(parameters, prefix + " Data Size (LBADS)", Rendered(size.text + marker, size.number));
        }
        AddParameter(parameters, prefix + " Relative Performance (RP)", kRelativePerformance[rp] + marker);
        if (i == active) blockSize = lbads < 64 ? uint64_t(1) << lbads : 0;
    }
    return blockSize;
}

}  // namespace

int ReadIdentifyNamespace(DriveHandle& handle, uint32_t nsid, uint8_t* buffer, CommandLog* commands) {
    return NvmeQueryPropertyCommand(handle, "Identify Namespace 1", kDataTypeIdentify, 0, nsid, 4096, buffer, nullptr,
                                    commands) == 0
               ? 0
               : 1;
}

int ReadActiveNamespaceList(DriveHandle& handle, uint32_t numberOfNamespaces, std::vector<uint32_t>& nsids,
                            CommandLog* commands, uint32_t maxNamespaces, bool* complete) {
    nsids.clear();
    if (complete != nullptr) *complete = true;
    std::array<uint8_t, 4 * kNamespaceListEntries> list{};
    // Each list names the active identifiers above the one asked with; only
    // ascending identifiers up to NN are taken. A controller that fills its
    // lists with identifiers it gets wrong is asked no more often than full
    // lists of `maxNamespaces` would take.
    const uint32_t maxLists = maxNamespaces / kNamespaceListEntries + 1;
    uint32_t from = 0;
    for (uint32_t lists = 0;; ++lists) {
        if (lists == maxLists) {
            if (complete != nullptr) *complete = false;
            return 0;
        }
        list.fill(0);
        if (NvmeQueryPropertyCommand(handle, "Identify Active Namespace List", kDataTypeIdentify,
                                     kCnsActiveNamespaceList, from, static_cast<uint32_t>(list.size()), list.data(),
                                     nullptr, commands) != 0)
            return 1;
        // Ascending identifiers ended by 0. Anything a controller gets wrong
        // (out of order, repeated, beyond NN) is left out rather than trusted.
        const uint32_t asked = from;
        size_t entries = 0;
        for (size_t at = 0; at < list.size(); at += 4, ++entries) {
            uint32_t nsid = static_cast<uint32_t>(Le(list.data(), list.size(), at, 4));
            if (nsid == 0) break;
            if (nsid <= from || nsid > numberOfNamespaces) continue;
            if (nsids.size() == maxNamespaces) {
                if (complete != nullptr) *complete = false;
                return 0;
            }
            nsids.push_back(nsid);
            from = nsid;
        }
        // A list that is not full is the last; so is one that brought
        // nothing new, or reached NN.
        if (entries < kNamespaceListEntries || from == asked || from >= numberOfNamespaces) return 0;
    }
}

NamespaceSummary SummarizeNamespace(uint32_t nsid, const uint8_t* buffer) {
    const size_t size = 4096;
    NamespaceSummary summary;
    summary.nsid = nsid;
    summary.sizeInBlocks = Le(buffer, size, 0, 8);
    summary.capacityInBlocks = Le(buffer, size, 8, 8);
    summary.utilizationInBlocks = Le(buffer, size, 16, 8);
    size_t format = 128 + 4 * (buffer[26] & 0xF);
    summary.metadataSize = static_cast<uint32_t>(Le(buffer, size, format, 2));
    summary.blockSizeShift = buffer[format + 2];
    return summary;
}

int DecodeIdentifyNamespace(const uint8_t* buffer, uint32_t nsid, InfoDocument& info, bool logHexData, uint32_t ver) {
    try {
        const size_t size = 4096;
        int64_t start = MonotonicNanoseconds();
        if (logHexData) HexDump(buffer, size, info.document["raw hex data"]["Identify Namespace 1"]);
        Parameters& parameters = info.parameters;
        Context context{buffer, size, ver, info.highestVersion, parameters, "Namespace 1"};
        DecodeRows(context, kNamespaceRows);
        uint64_t blockSize = DecodeLbaFormats(buffer, size, parameters);
        if (blockSize != 0) {
            // The text has always been of the 64-bit product; the number is exact.
            const uint64_t sizeInBlocks = Le(buffer, size, 0, 8);
            const double value = static_cast<double>(blockSize * sizeInBlocks);
            const Number bytes = Number::Product(sizeInBlocks, blockSize);
            AddParameter(parameters, "Namespace 1 Size", Rendered(FixedText(value / 1000 / 1000 / 1000, 0) + " GB", bytes));
            AddParameter(parameters, "Namespace 1 Size in GiB",
                         Rendered(FixedText(value / 1024 / 1024 / 1024, 1) + " GiB", bytes));
        }
        KLOG_AS(Verbose, "kavo::GetIdentifyNamespace") << "Identify namespace " << nsid
                                                       << " binary data converted to JSON in " << ElapsedText(start, 3);
        return 0;
    } catch (const std::exception& e) {
        KLOG_AS(Error, "kavo::GetIdentifyNamespace") << "Failed identify namespace: " << e.what();
    } catch (...) {
        KLOG_AS(Error, "kavo::GetIdentifyNamespace") << "Failed identify namespace: Unknown exception";
    }
    return 1;
}

int GetIdentifyNamespace(DriveHandle& handle, uint8_t* buffer, uint32_t nsid, InfoDocument& info, bool logHexData,
                         uint32_t ver, CommandLog& commands) {
    if (ReadIdentifyNamespace(handle, nsid, buffer, &commands) != 0) return 1;
    // An inactive namespace identifier returns zeros; it must not hide the
    // active namespace already recorded.
    if (Le(buffer, 4096, 0, 8) == 0 && Le(buffer, 4096, 8, 8) == 0 &&
        HasParameter(info.parameters, "Namespace 1 Size in LBA (NSZE)")) {
        KLOG(Verbose) << "Identify namespace " << nsid << " is inactive";
        return 0;
    }
    return DecodeIdentifyNamespace(buffer, nsid, info, logHexData, ver);
}

}  // namespace kavo
