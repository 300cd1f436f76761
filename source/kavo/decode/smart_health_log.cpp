// SMART / Health Information log page.
#include "decode/decode_table.h"
#include "decode/decoders.h"
#include "base/kavo_text.h"
#include "decode/parameters.h"

namespace kavo {
namespace {

using decode::Le;
using decode::YesNo;

uint128 Counter(const uint8_t* page, size_t offset) { return U128FromHalves(Le(page, 512, offset, 8), Le(page, 512, offset + 8, 8)); }

// Data units are thousands of 512-byte units and a gigabyte is 10^9 bytes, so
// a unit is 64/125 of a thousandth of a gigabyte. Rounded to the nearest
// thousandth in integers, exact for every 128-bit counter (125 is odd: no
// value lies half-way), split so that nothing overflows.
std::string Gigabytes(uint128 units) {
    const uint128 thousandths = units / 125 * 64 + (units % 125 * 64 + 62) / 125;
    return GroupedThousandths(thousandths) + " GB";
}

}  // namespace

std::string KelvinToCelsiusText(uint64_t kelvin) { return decode::KelvinText(kelvin); }

std::string DataUnitsToGigabytes(const uint8_t* counter16) {
    return Gigabytes(U128FromHalves(Le(counter16, 16, 0, 8), Le(counter16, 16, 8, 8)));
}

int DecodeSmartHealthLog(Json::Value& info, const uint8_t* page, size_t size, const uint8_t* identify) {
    if (size < 512) return 0;
    Json::Value& parameters = info["nvme"]["parameters"];
    uint32_t highest = DocumentHighestVersion(info);
    uint32_t ver = static_cast<uint32_t>(Le(identify, 4096, 80, 4));
    uint8_t warning = page[0];
    char hex[16];
    std::snprintf(hex, sizeof hex, "Yes (0x%02X)", warning);
    AddParameter(parameters, "Critical Warnings", warning == 0 ? "No" : hex);
    AddParameter(parameters, "Available Space Below Threshold", YesNo(warning & 0x01));
    AddParameter(parameters, "Temperature Over/Under Threshold", YesNo(warning & 0x02));
    AddParameter(parameters, "Reliability Degraded", YesNo(warning & 0x04));
    AddParameter(parameters, "Media in Read Only", YesNo(warning & 0x08));
    AddParameter(parameters, "Volatile Backup Failed", YesNo(warning & 0x10));
    if (VersionGate14(ver, highest, (warning & 0x20) != 0))
        AddParameter(parameters, "Persistent Memory Unreliable", YesNo(warning & 0x20));

    AddParameter(parameters, "Composite Temperature", KelvinToCelsiusText(Le(page, size, 1, 2)));
    AddParameter(parameters, "Available Spare", std::to_string(page[3]) + " %");
    AddParameter(parameters, "Available Spare Threshold", std::to_string(page[4]) + " %");
    AddParameter(parameters, "Percentage Used", std::to_string(page[5]) + " %");

    uint8_t group = page[6];
    if (VersionGate14(ver, highest, group != 0)) {
        std::snprintf(hex, sizeof hex, "Yes (0x%X)", group & 0xF);
        AddParameter(parameters, "EG Critical Warnings", group == 0 ? "No" : hex);
        AddParameter(parameters, "EG Available Space Below Threshold", YesNo(group & 0x01));
        AddParameter(parameters, "EG Reliability Degraded", YesNo(group & 0x04));
        AddParameter(parameters, "EG in Read Only", YesNo(group & 0x08));
    }

    AddParameter(parameters, "Data Units Read", GroupedDecimal128(Counter(page, 32)));
    AddParameter(parameters, "Data Read", Gigabytes(Counter(page, 32)));
    AddParameter(parameters, "Data Units Written", GroupedDecimal128(Counter(page, 48)));
    AddParameter(parameters, "Data Written", Gigabytes(Counter(page, 48)));
    AddParameter(parameters, "Host Read Commands", GroupedDecimal128(Counter(page, 64)));
    AddParameter(parameters, "Host Write Commands", GroupedDecimal128(Counter(page, 80)));
    AddParameter(parameters, "Controller Busy Time", GroupedDecimal128(Counter(page, 96)) + " Min");
    AddParameter(parameters, "Power Cycles", GroupedDecimal128(Counter(page, 112)));
    AddParameter(parameters, "Power On Hours", GroupedDecimal128(Counter(page, 128)));
    AddParameter(parameters, "Unsafe Shutdowns", GroupedDecimal128(Counter(page, 144)));
    AddParameter(parameters, "Media and Data Integrity Errors", GroupedDecimal128(Counter(page, 160)));
    AddParameter(parameters, "Number of Error Information Log Entries", GroupedDecimal128(Counter(page, 176)));
    AddParameter(parameters, "Warning Composite Temperature Time", GroupedDecimal64(Le(page, size, 192, 4)) + " Min");
    AddParameter(parameters, "Critical Composite Temperature Time", GroupedDecimal64(Le(page, size, 196, 4)) + " Min");

    for (unsigned n = 1; n <= 8; ++n) {
        uint64_t kelvin = Le(page, size, 200 + 2 * (n - 1), 2);
        if (kelvin != 0) AddParameter(parameters, "Temperature Sensor " + std::to_string(n), KelvinToCelsiusText(kelvin));
    }

    if (Le(identify, 4096, 322, 2) & 1) {
        // Host controlled thermal management is a 1.3 feature, whatever VER says.
        if (highest < kVersion13) highest = kVersion13;
        AddParameter(parameters, "Thermal Management Temperature 1 Count", GroupedDecimal64(Le(page, size, 216, 4)));
        AddParameter(parameters, "Thermal Management Temperature 2 Count", GroupedDecimal64(Le(page, size, 220, 4)));
        AddParameter(parameters, "Thermal Management Temperature 1 Time", GroupedDecimal64(Le(page, size, 224, 4)) + " Sec");
        AddParameter(parameters, "Thermal Management Temperature 2 Time", GroupedDecimal64(Le(page, size, 228, 4)) + " Sec");
    }
    SetDocumentHighestVersion(info, highest);
    return 0;
}

}  // namespace kavo
