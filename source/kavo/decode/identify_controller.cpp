// Identify Controller: every field of the structure as a parameter record.
#include <algorithm>
#include <cstring>
#include <sstream>

#include "decode/decode_table.h"
#include "decode/health_log.h"
#include "base/kavo_errors.h"
#include "base/kavo_log.h"
#include "decode/decoders.h"
#include "base/kavo_text.h"
#include "decode/parameters.h"

namespace kavo {
namespace {

using namespace decode;

uint64_t Field(const uint8_t* d, size_t size, size_t offset, size_t width) { return Le(d, size, offset, width); }

constexpr char kNotReported[] = "Not Reported";
constexpr char kNotSupported[] = "Not Supported";

Rendered Vendor(const FieldView& f) { return LookupVendorName(Hex16(static_cast<uint16_t>(f.value))); }
Rendered HexWord(const FieldView& f) { return {Hex16(static_cast<uint16_t>(f.value)), Number::Unsigned(f.value)}; }
Rendered MultipleSingle(const FieldView& f) { return f.value ? "Multiple" : "Single"; }
Rendered FunctionType(const FieldView& f) { return f.value ? "SR-IOV Virtual" : "PCI"; }
Rendered Oui(const FieldView& f) { return DashedHex3Reversed(f.bytes); }
Rendered Mdts(const FieldView& f) { return f.value == 0 ? "Unrestricted" : PowerOfTwoText(f.value); }
Rendered Version(const FieldView& f) { return VersionText(static_cast<uint32_t>(f.value)); }
Rendered Microseconds(const FieldView& f) { return MicrosecondsText(f.value); }
Rendered Kelvin(const FieldView& f) { return KelvinText(f.value); }
Rendered FourKiB(const FieldView& f) { return FourKiBUnits(f.value); }
Rendered Fguid(const FieldView& f) { return DashedHex16After3(f.bytes); }
Rendered RetryDelay(const FieldView& f) {
    return {GroupedDecimal64(f.value) + " (" + GroupedDecimal64(100 * f.value) + " mS)", Number::Unsigned(100 * f.value)};
}
Rendered ControllerType(const FieldView& f) {
    static const char* const kTypes[] = {"Not Reported", "I/O Controller", "Discovery Controller", "Admin Controller"};
    return f.value < 4 ? kTypes[f.value] : "Reserved";
}
Rendered SlotReadStatus(const FieldView& f) { return f.value ? "Read only" : "Read/Write"; }
Rendered VendorSpecificFormat(const FieldView& f) { return f.value ? "Not Vendor Specific" : "Vendor Specific"; }
Rendered Mtfa(const FieldView& f) { return f.value == 0 ? Rendered("Undefined") : GroupedWithUnit(100 * f.value, "mS"); }
Rendered Hmmin(const FieldView& f) {
    if (Field(f.data, f.size, 272, 4) == 0) return kNotSupported;
    return f.value == 0 ? Rendered("Any Amount") : FourKiBUnits(f.value);
}
Rendered Rpmbs(const FieldView& f) { return f.value != 0 ? "Supported" : kNotSupported; }
Rendered RpmbAuthentication(const FieldView& f) { return f.value == 0 ? "HMAC SHA - 256" : "Reserved"; }
Rendered RpmbTotal(const FieldView& f) {
    return {GroupedDecimal64(f.value + 1) + " (128KiB units)", Number::Product(f.value + 1, 128 * 1024)};
}
Rendered RpmbAccess(const FieldView& f) {
    return {GroupedDecimal64(f.value + 1) + " (512B units)", Number::Product(f.value + 1, 512)};
}
Rendered Minutes(const FieldView& f) { return GroupedWithUnit(f.value, "Min"); }
Rendered SelfTestScope(const FieldView& f) { return f.value ? "Per System" : "Per Controller"; }
Rendered Fwug(const FieldView& f) {
    if (f.value == 255) return "Unrestricted";
    if (f.value == 0) return kNotReported;
    return {GroupedDecimal64(4 * f.value) + " KiB", Number::Product(f.value, 4096)};
}
Rendered Kas(const FieldView& f) { return f.value == 0 ? Rendered(kNotSupported) : GroupedWithUnit(100 * f.value, "mS"); }
Rendered Nodmmas(const FieldView& f) {
    static const char* const kTexts[] = {"Media modification undefined", "Media not modified", "Media modified", "Reserved"};
    return kTexts[f.value & 3];
}
Rendered Hmminds(const FieldView& f) { return f.value == 0 ? Rendered("No limitations") : FourKiBUnits(f.value); }
Rendered Anatt(const FieldView& f) { return f.value == 0 ? Rendered(kNotSupported) : GroupedWithUnit(f.value, "sec"); }
Rendered Pels(const FieldView& f) { return {GroupedDecimal64(64 * f.value) + " KiB", Number::Product(f.value, 64 * 1024)}; }
Rendered Maxcmd(const FieldView& f) { return f.value == 0 ? Rendered(kNotSupported) : PlainNumber(f.value); }
Rendered FlushAll(const FieldView& f) {
    static const char* const kTexts[] = {"Not Reported", "Reserved", "Not Supported", "Supported"};
    return kTexts[f.value & 3];
}
Rendered Awun(const FieldView& f) { return f.value == 0xFFFF ? Rendered("All Commands") : PlainNumber(f.value + 1); }
Rendered SglSupport(const FieldView& f) {
    if (f.ver < kVersion13) return (f.value & 1) ? "Supported" : kNotSupported;
    static const char* const kTexts[] = {"Not Supported", "Supported", "Supported With Requirement", "Reserved"};
    return kTexts[f.value & 3];
}
Rendered Subnqn(const FieldView& f) {
    const char* text = reinterpret_cast<const char*>(f.bytes);
    return DriveText(f.bytes, strnlen(text, f.width));
}

bool OacsBit3(const uint8_t* d, size_t s) { return Bit(Field(d, s, 256, 2), 3); }
bool OacsBit4(const uint8_t* d, size_t s) { return Bit(Field(d, s, 256, 2), 4); }
bool LpaBit4(const uint8_t* d, size_t s) { return Bit(Field(d, s, 261, 1), 4); }
bool NvmsrAny(const uint8_t* d, size_t s) { return (Field(d, s, 253, 1) & 3) != 0; }
bool VwciValid(const uint8_t* d, size_t s) { return Bit(Field(d, s, 254, 1), 7); }
bool RpmbUnits(const uint8_t* d, size_t s) { return (Field(d, s, 312, 4) & 7) != 0; }
bool FusesBit0(const uint8_t* d, size_t s) { return Bit(Field(d, s, 522, 2), 0); }
bool SglsSupported(const uint8_t* d, size_t s) { return (Field(d, s, 536, 4) & 3) != 0; }

using G = Gate;
constexpr uint8_t W = kWhole;

// Identify Controller field table: parameter, offset, width in bytes, bits,
// version gate, rendering, second condition.
const Row kControllerRows[] = {
    {"Controller Vendor", 0, 2, W, 0, G::Always, Vendor},
    {"Subsystem Vendor", 2, 2, W, 0, G::Always, Vendor},
    {"PCI Vendor ID (VID)", 0, 2, W, 0, G::Always, HexWord},
    {"PCI Subsystem Vendor ID (SSVID)", 2, 2, W, 0, G::Always, HexWord},
    {"Serial Number (SN)", 4, 20, W, 0, G::Always, AsciiText},
    {"Model Number (MN)", 24, 40, W, 0, G::Always, AsciiText},
    {"Firmware Revision (FR)", 64, 8, W, 0, G::Always, AsciiText},
    {"Recommended Arbitration Burst (RAB)", 72, 1, W, 0, G::Always, PowerOfTwo},
    {"IEEE OUI Identifier (IEEE)", 73, 3, W, 0, G::Always, Oui},
    {"NVM Subsystem PCIe Ports", 76, 1, 0, 0, G::Always, MultipleSingle},
    {"NVM Subsystem Controllers", 76, 1, 1, 1, G::Always, MultipleSingle},
    {"Associated Function Type", 76, 1, 2, 2, G::Always, FunctionType},
    {"Asymmetric Namespace Access Reporting", 76, 1, 3, 3, G::V14, Supported},
    {"Maximum Data Transfer Size (MDTS)", 77, 1, W, 0, G::Always, Mdts},
    {"Controller ID (CNTLID)", 78, 2, W, 0, G::Always, Plain},
    {"Version (VER)", 80, 4, W, 0, G::Always, Version},
    {"RTD3 Resume Latency (RTD3R)", 84, 4, W, 0, G::Always, ZeroOr<kNotReported, Microseconds>},
    {"RTD3 Entry Latency (RTD3E)", 88, 4, W, 0, G::Always, ZeroOr<kNotReported, Microseconds>},
    {"Firmware Activation Notices", 92, 4, 9, 9, G::Always, Supported},
    {"Namespace Attribute Notices", 92, 4, 8, 8, G::Always, Supported},
    {"Asymmetric Namespace Access Change Notices", 92, 4, 11, 11, G::V14, Supported},
    {"Predictable Latency Event Log Change Notices", 92, 4, 12, 12, G::V14, Supported},
    {"LBA Status Information Notices", 92, 4, 13, 13, G::V14, Supported},
    {"Endurance Group Event Log Page Change Notices", 92, 4, 14, 14, G::V14, Supported},
    {"128-bit Host Identifier", 96, 4, 0, 0, G::Always, Supported},
    {"Non-Operational Power State Permissive Mode", 96, 4, 1, 1, G::V13, Supported},
    {"NVM Sets", 96, 4, 2, 2, G::V14, Supported},
    {"Read Recovery Levels", 96, 4, 3, 3, G::V14, Supported},
    {"Endurance Groups", 96, 4, 4, 4, G::V14, Supported},
    {"Predictable Latency Mode", 96, 4, 5, 5, G::V14, Supported},
    {"Traffic Based Keep Alive Support", 96, 4, 6, 6, G::V14, Supported},
    {"Namespace Granularity", 96, 4, 7, 7, G::V14, Supported},
    {"SQ Associations", 96, 4, 8, 8, G::V14, Supported},
    {"UUID List", 96, 4, 9, 9, G::V14, Supported},
    {"Read Recovery Levels Supported (RRLS)", 100, 2, W, 0, G::V14, HexWord},
    {"Controller Type (CNTRLTYPE)", 111, 1, W, 0, G::V14, ControllerType},
    {"FRU Globally Unique Identifier (FGUID)", 112, 16, W, 0, G::V13, Fguid},
    {"Command Retry Delay Time 1 (CRDT1)", 128, 2, W, 0, G::V14, RetryDelay},
    {"Command Retry Delay Time 2 (CRDT2)", 130, 2, W, 0, G::V14, RetryDelay},
    {"Command Retry Delay Time 3 (CRDT3)", 132, 2, W, 0, G::V14, RetryDelay},
    {"NVMe Storage Device (NVMESD)", 253, 1, 0, 0, G::Always, Supported, NvmsrAny},
    {"NVMe Enclosure (NVMEE)", 253, 1, 1, 1, G::Always, Supported, NvmsrAny},
    {"VPD Write Cycles Remaining (VWCR)", 254, 1, 6, 0, G::Always, Grouped, VwciValid},
    {"PCIe Management Endpoint (PCIEME)", 255, 1, 1, 1, G::Always, Supported},
    {"SMBus Management Endpoint (SMBUSME)", 255, 1, 0, 0, G::Always, Supported},
    {"Namespace Management and Attachment Commands", 256, 2, 3, 3, G::Always, Supported},
    {"Firmware Commit and Image Download Commands", 256, 2, 2, 2, G::Always, Supported},
    {"Format NVM Command", 256, 2, 1, 1, G::Always, Supported},
    {"Security Send and Security Receive Command", 256, 2, 0, 0, G::Always, Supported},
    {"Device Self-test Command", 256, 2, 4, 4, G::V13, Supported},
    {"Directive Send and Directive Receive Commands", 256, 2, 5, 5, G::V13, Supported},
    {"NVME MI Send/Receive Commands", 256, 2, 6, 6, G::V13, Supported},
    {"Virtualization Mgt Command", 256, 2, 7, 7, G::V13, Supported},
    {"Doorbell Buffer Config Command", 256, 2, 8, 8, G::V13, Supported},
    {"Get LBA Status capability", 256, 2, 9, 9, G::V14, Supported},
    {"Abort Command Limit (ACL)", 258, 1, W, 0, G::Always, GroupedPlus1},
    {"Asynchronous Event Request Limit (AERL)", 259, 1, W, 0, G::Always, GroupedPlus1},
    {"Firmware Activation Without Reset", 260, 1, 4, 4, G::Always, Supported},
    {"Firmware Slots", 260, 1, 3, 1, G::Always, Plain},
    {"Firmware Slot 1 Read Status", 260, 1, 0, 0, G::Always, SlotReadStatus},
    {"SMART/Health Log Page per Namespace", 261, 1, 0, 0, G::Always, Supported},
    {"Commands Supported and Effects Log Page", 261, 1, 1, 1, G::Always, Supported},
    {"Extended Data for Get Log Page", 261, 1, 2, 2, G::Always, Supported},
    {"Telemetry Log Notices", 261, 1, 3, 3, G::V13, Supported},
    {"Persistent Event Log", 261, 1, 4, 4, G::V14, Supported},
    {"Error Log Page Entries (ELPE)", 262, 1, W, 0, G::Always, PlainPlus1},
    {"Number of Power States Support (NPSS)", 263, 1, W, 0, G::Always, PlainPlus1},
    {"Admin Vendor Specific command handling", 264, 1, 0, 0, G::Always, VendorSpecificFormat},
    {"Autonomous Power State Transition", 265, 1, 0, 0, G::Always, Supported},
    {"Warning Composite Temperature Threshold (WCTEMP)", 266, 2, W, 0, G::Always, ZeroOr<kNotReported, Kelvin>},
    {"Critical Composite Temperature Threshold (CCTEMP)", 268, 2, W, 0, G::Always, ZeroOr<kNotReported, Kelvin>},
    {"Maximum Time for Firmware Activation (MTFA)", 270, 2, W, 0, G::Always, Mtfa},
    {"Host Memory Buffer Preferred Size (HMPRE)", 272, 4, W, 0, G::Always, ZeroOr<kNotSupported, FourKiB>},
    {"Host Memory Buffer Minimum Size (HMMIN)", 276, 4, W, 0, G::Always, Hmmin},
    {"Total NVM Capacity (TNVMCAP)", 280, 16, W, 0, G::Always, Grouped128, OacsBit3},
    {"Unallocated NVM Capacity (UNVMCAP)", 296, 16, W, 0, G::Always, Grouped128, OacsBit3},
    {"Replay Protected Memory Blocks (RPMBS)", 312, 4, 2, 0, G::Always, Rpmbs},
    {"Number of RPMB Units", 312, 4, 2, 0, G::Always, Plain, RpmbUnits},
    {"RPMB Authentication Method", 312, 4, 5, 3, G::Always, RpmbAuthentication, RpmbUnits},
    {"RPMB Total Size", 314, 1, W, 0, G::Always, RpmbTotal, RpmbUnits},
    {"RPMB Access Size", 315, 1, W, 0, G::Always, RpmbAccess, RpmbUnits},
    {"Extended Device Self-test Time (EDSTT)", 316, 2, W, 0, G::V13, Minutes, OacsBit4},
    {"One Self-Test", 318, 1, W, 0, G::V13, SelfTestScope},
    {"Firmware Update Granularity (FWUG)", 319, 1, W, 0, G::V13, Fwug},
    {"Keep Alive Support (KAS)", 320, 2, W, 0, G::Always, Kas},
    {"Host Controlled Thermal Management (HCTMA)", 322, 2, 0, 0, G::V13, Supported},
    {"Minimum Thermal Management Temperature (MNTMT)", 324, 2, W, 0, G::Previous, ZeroOr<kNotReported, Kelvin>},
    {"Maximum Thermal Management Temperature (MXTMT)", 326, 2, W, 0, G::Previous, ZeroOr<kNotReported, Kelvin>},
    {"Overwrite Sanitize", 328, 4, 2, 2, G::Always, Supported},
    {"Block Erase Sanitize", 328, 4, 1, 1, G::Always, Supported},
    {"Crypto Erase Sanitize", 328, 4, 0, 0, G::Always, Supported},
    {"No-Deallocate Inhibited (NDI)", 328, 4, 29, 29, G::V14, Supported},
    {"No-Deallocate Modifies Media After Sanitize (NODMMAS)", 328, 4, 31, 30, G::V14, Nodmmas},
    {"Host Memory Buffer Minimum Descriptor Entry Size (HMMINDS)", 332, 4, W, 0, G::V14, Hmminds},
    {"Host Memory Maximum Descriptors Entries (HMMAXD)", 336, 2, W, 0, G::V14, ZeroOr<kNotReported, Grouped>},
    {"NVM Set Identifier Maximum (NSETIDMAX)", 338, 2, W, 0, G::V14, Grouped},
    {"Endurance Group Identifier Maximum (ENDGIDMAX)", 340, 2, W, 0, G::V14, Grouped},
    {"ANA Transition Time (ANATT)", 342, 1, W, 0, G::V14, Anatt},
    {"Report ANA Optimized state", 343, 1, 0, 0, G::V14, Supported},
    {"Report ANA Non-Optimized state", 343, 1, 1, 1, G::V14, Supported},
    {"Report ANA Inaccessible state", 343, 1, 2, 2, G::V14, Supported},
    {"Report ANA Persistent Loss state", 343, 1, 3, 3, G::V14, Supported},
    {"Report ANA Change state", 343, 1, 4, 4, G::V14, Supported},
    {"Unchanged ANAGRPID", 343, 1, 6, 6, G::V14, Supported},
    {"Non-zero ANAGRPID", 343, 1, 7, 7, G::V14, Supported},
    {"ANA Group Identifier Maximum (ANAGRPMAX)", 344, 4, W, 0, G::V14, ZeroOr<kNotSupported, Grouped>},
    {"Number of ANA Group Identifiers (NANAGRPID)", 348, 4, W, 0, G::V14, ZeroOr<kNotSupported, Grouped>},
    {"Persistent Event Log Size (PELS)", 352, 4, W, 0, G::V14, Pels, LpaBit4},
    {"Maximum Submission Queue Entry Size", 512, 1, 7, 4, G::Always, PowerOfTwo},
    {"Required Submission Queue Entry Size", 512, 1, 3, 0, G::Always, PowerOfTwo},
    {"Maximum Completion Queue Entry Size", 513, 1, 7, 4, G::Always, PowerOfTwo},
    {"Required Completion Queue Entry Size", 513, 1, 3, 0, G::Always, PowerOfTwo},
    {"Maximum Outstanding Commands (MAXCMD)", 514, 2, W, 0, G::Always, Maxcmd},
    {"Number of Namespaces (NN)", 516, 4, W, 0, G::Always, Plain},
    {"Compare NVM Command", 520, 2, 0, 0, G::Always, Supported},
    {"Write Uncorrectable NVM Command", 520, 2, 1, 1, G::Always, Supported},
    {"Dataset Management NVM Command", 520, 2, 2, 2, G::Always, Supported},
    {"Write Zeroes NVM Command", 520, 2, 3, 3, G::Always, Supported},
    {"Save/Select Fields in Features Command", 520, 2, 4, 4, G::Always, Supported},
    {"Reservations", 520, 2, 5, 5, G::Always, Supported},
    {"Timestamp Feature", 520, 2, 6, 6, G::V13, Supported},
    {"Verify NVM Command", 520, 2, 7, 7, G::V14, Supported},
    {"Compare and Write Fused Operation", 522, 2, 0, 0, G::Always, Supported},
    {"Format All Namespaces", 524, 1, 0, 0, G::Always, Supported},
    {"Secure Erase All Namespaces", 524, 1, 1, 1, G::Always, Supported},
    {"Crypto Erase", 524, 1, 2, 2, G::Always, Supported},
    {"Volatile Write Cache (VWC)", 525, 1, 0, 0, G::Always, Supported},
    {"Volatile Write Cache Flush All NSID", 525, 1, 2, 1, G::V14, FlushAll},
    {"Atomic Write Unit Normal (AWUN)", 526, 2, W, 0, G::Always, Awun},
    {"Atomic Write Unit Power Fail (AWUPF)", 528, 2, W, 0, G::Always, PlainPlus1},
    {"Vendor Specific Command Configuration", 530, 1, 0, 0, G::Always, VendorSpecificFormat},
    {"Write Protect Namespace States", 531, 1, 0, 0, G::V14, Supported},
    {"Write Protect Until Power Cycle", 531, 1, 1, 1, G::V14, Supported},
    {"Permanent Write Protect", 531, 1, 2, 2, G::V14, Supported},
    {"Atomic Compare & Write Unit (ACWU)", 532, 2, W, 0, G::Always, GroupedPlus1, FusesBit0},
    {"SGL support in NVM command", 536, 4, W, 0, G::Always, SglSupport},
    {"Keyed SGL Data Block descriptor", 536, 4, 2, 2, G::Always, Supported, SglsSupported},
    {"SGL Bit Bucket descriptor", 536, 4, 16, 16, G::Always, Supported, SglsSupported},
    {"SGL byte aligned buffer of metadata", 536, 4, 17, 17, G::Always, Supported, SglsSupported},
    {"SGL command longer than the amount of data", 536, 4, 18, 18, G::Always, Supported, SglsSupported},
    {"SGL - MPTR containing an SGL Descriptor", 536, 4, 19, 19, G::Always, Supported, SglsSupported},
    {"SGL - Address field specifies offset", 536, 4, 20, 20, G::Always, Supported, SglsSupported},
    {"SGL - Transport SGL Data Block Descriptor", 536, 4, 21, 21, G::V14, Supported, SglsSupported, true},
    {"Maximum Number Allowed Namespaces (MNAN)", 540, 4, W, 0, G::V14, Grouped},
    {"NVM Subsystem NVMe Qualified Name (SUBNQN)", 768, 256, W, 0, G::Always, Subnqn},
};

// Power state descriptor watt values: default stream form, six significant
// digits; the number is the power divided by the scale's power of ten.
Rendered Watts(uint64_t power, bool tenThousandths) {
    std::ostringstream text;
    text << power * (tenThousandths ? 0.0001 : 0.01) << " Watts";
    return {text.str(), Number::Real(static_cast<double>(power) / (tenThousandths ? 10000.0 : 100.0))};
}

Rendered ScaledPower(uint64_t power, uint64_t scale) {
    if (power == 0) return kNotReported;
    if (scale == 1 || scale == 2) return Watts(power, scale == 1);
    return "Invalid Power Scale";
}

}  // namespace

void DecodePowerStates(const uint8_t* identify, size_t size, Parameters& parameters) {
    uint64_t npss = Field(identify, size, 263, 1);
    for (uint64_t j = 0; j <= npss; ++j) {
        size_t at = 2048 + 32 * j;
        if (at + 32 > size) break;
        const uint8_t* d = identify + at;
        std::string prefix = "Power State " + std::to_string(j);
        uint64_t mp = Le(d, 32, 0, 2), flags = d[3];
        static const char* const kWorkloads[] = {"No workload", "Workload #1", "Workload #2"};
        uint64_t apw = d[22] & 7;
        uint64_t enlat = Le(d, 32, 4, 4), exlat = Le(d, 32, 8, 4);
        AddParameter(parameters, prefix + " Maximum Power (MP)",
                     mp == 0 ? Rendered(kNotReported) : Watts(mp, (flags & 1) != 0));
        AddParameter(parameters, prefix + " Active Power (ACTP)", ScaledPower(Le(d, 32, 20, 2), d[22] >> 6));
        AddParameter(parameters, prefix + " Active Power Workload (APW)", apw < 3 ? kWorkloads[apw] : "Reserved");
        AddParameter(parameters, prefix + " Idle Power (IDLP)", ScaledPower(Le(d, 32, 16, 2), d[18] >> 6));
        AddParameter(parameters, prefix + " Non-Operational State (NOPS)", (flags & 2) ? "True" : "False");
        AddParameter(parameters, prefix + " Entry Latency (ENLAT)", enlat == 0 ? Rendered(kNotReported) : MicrosecondsText(enlat));
        AddParameter(parameters, prefix + " Exit Latency (EXLAT)", exlat == 0 ? Rendered(kNotReported) : MicrosecondsText(exlat));
        AddParameter(parameters, prefix + " Relative Read Throughput (RRT)", PlainNumber(d[12] & 0x1F));
        AddParameter(parameters, prefix + " Relative Read Latency (RRL)", PlainNumber(d[13] & 0x1F));
        AddParameter(parameters, prefix + " Relative Write Throughput (RWT)", PlainNumber(d[14] & 0x1F));
        AddParameter(parameters, prefix + " Relative Write Latency (RWL)", PlainNumber(d[15] & 0x1F));
    }
}

int GetIdentifyController(DriveHandle& handle, uint8_t* buffer, InfoDocument& info, bool logHexData,
                          CommandLog& commands, DecodedIdentify* kept) {
    if (IdentifyController(handle, buffer, &commands) != 0) return 1;
    DecodedIdentify local;
    DecodedIdentify& decoded = kept != nullptr ? *kept : local;
    const size_t size = 4096;
    const uint32_t ver = static_cast<uint32_t>(Field(buffer, size, 80, 4));
    if (info.highestVersion < ver) info.highestVersion = ver;
    if (ver < kVersion121) {
        KLOG(Error) << "Failed identify controller: Only NVMe drives with NVMe version 1.2.1 and above supported";
        decoded = DecodedIdentify();
        return 1;
    }
    int result = 1;
    try {
        int64_t start = MonotonicNanoseconds();
        if (logHexData) HexDump(buffer, size, info.document["raw hex data"]["Identify Controller"]);
        if (!std::equal(buffer, buffer + size, decoded.bytes.begin(), decoded.bytes.end())) {
            decoded = DecodedIdentify();
            decoded.highestVersion = info.highestVersion;
            Context context{buffer, size, ver, decoded.highestVersion, decoded.records, ""};
            DecodeRows(context, kControllerRows);
            DecodePowerStates(buffer, size, decoded.records);
            decoded.bytes.assign(buffer, buffer + size);
        }
        KLOG(Verbose) << "Identify controller binary data converted to JSON in " << ElapsedText(start, 3);
        result = 0;
    } catch (const std::exception& e) {
        KLOG(Error) << "Failed identify controller: " << e.what();
    } catch (...) {
        KLOG(Error) << "Failed identify controller: Unknown exception";
    }
    // What was decoded goes into the sample, also when the decoding was cut
    // short; such a decoding is not kept.
    for (const Parameter& record : decoded.records.Records()) info.parameters.Add(record);
    info.highestVersion = std::max(info.highestVersion, decoded.highestVersion);
    if (result != 0) decoded = DecodedIdentify();
    return result;
}

}  // namespace kavo
