// SMART / Health Information log page into parameter records.
#include "base/kavo_text.h"
#include "decode/decode_table.h"
#include "decode/decoders.h"
#include "decode/parameters.h"

namespace kavo {
namespace {

using decode::Le;
using decode::YesNo;

// "No", or "Yes (0x04)" with the bits that are set.
Rendered WarningBits(uint8_t bits, uint8_t shown, const char* format) {
    if (bits == 0) return Rendered("No", Number::Unsigned(0));
    char hex[16];
    std::snprintf(hex, sizeof hex, format, shown);
    return Rendered(hex, Number::Unsigned(bits));
}

}  // namespace

int DecodeSmartHealthLog(InfoDocument& info, const uint8_t* page, size_t size, const uint8_t* identify) {
    if (size < 512) return 0;
    const SmartHealth s = ParseSmartHealth(page);
    info.smartHealth = s;
    Parameters& p = info.parameters;
    uint32_t& highest = info.highestVersion;
    const uint32_t ver = static_cast<uint32_t>(Le(identify, 4096, 80, 4));
    const uint8_t warning = s.criticalWarning;
    AddParameter(p, "Critical Warnings", WarningBits(warning, warning, "Yes (0x%02X)"));
    AddParameter(p, "Available Space Below Threshold", YesNo(warning & 0x01));
    AddParameter(p, "Temperature Over/Under Threshold", YesNo(warning & 0x02));
    AddParameter(p, "Reliability Degraded", YesNo(warning & 0x04));
    AddParameter(p, "Media in Read Only", YesNo(warning & 0x08));
    AddParameter(p, "Volatile Backup Failed", YesNo(warning & 0x10));
    if (VersionGate14(ver, highest, (warning & 0x20) != 0))
        AddParameter(p, "Persistent Memory Unreliable", YesNo(warning & 0x20));

    AddParameter(p, "Composite Temperature", CelsiusOfKelvin(s.compositeKelvin));
    AddParameter(p, "Available Spare", PercentText(s.availableSpare));
    AddParameter(p, "Available Spare Threshold", PercentText(s.availableSpareThreshold));
    AddParameter(p, "Percentage Used", PercentText(s.percentageUsed));

    const uint8_t group = s.enduranceGroupWarning;
    if (VersionGate14(ver, highest, group != 0)) {
        AddParameter(p, "EG Critical Warnings", WarningBits(group, group & 0xF, "Yes (0x%X)"));
        AddParameter(p, "EG Available Space Below Threshold", YesNo(group & 0x01));
        AddParameter(p, "EG Reliability Degraded", YesNo(group & 0x04));
        AddParameter(p, "EG in Read Only", YesNo(group & 0x08));
    }

    AddParameter(p, "Data Units Read", GroupedNumber(s.dataUnitsRead));
    AddParameter(p, "Data Read", DataUnitsAsGigabytes(s.dataUnitsRead));
    AddParameter(p, "Data Units Written", GroupedNumber(s.dataUnitsWritten));
    AddParameter(p, "Data Written", DataUnitsAsGigabytes(s.dataUnitsWritten));
    AddParameter(p, "Host Read Commands", GroupedNumber(s.hostReadCommands));
    AddParameter(p, "Host Write Commands", GroupedNumber(s.hostWriteCommands));
    AddParameter(p, "Controller Busy Time", GroupedWithUnit(s.controllerBusyMinutes, "Min"));
    AddParameter(p, "Power Cycles", GroupedNumber(s.powerCycles));
    AddParameter(p, "Power On Hours", GroupedNumber(s.powerOnHours));
    AddParameter(p, "Unsafe Shutdowns", GroupedNumber(s.unsafeShutdowns));
    AddParameter(p, "Media and Data Integrity Errors", GroupedNumber(s.mediaErrors));
    AddParameter(p, "Number of Error Information Log Entries", GroupedNumber(s.errorLogEntries));
    AddParameter(p, "Warning Composite Temperature Time", GroupedWithUnit(s.warningTemperatureMinutes, "Min"));
    AddParameter(p, "Critical Composite Temperature Time", GroupedWithUnit(s.criticalTemperatureMinutes, "Min"));

    for (unsigned n = 1; n <= 8; ++n) {
        const uint16_t kelvin = s.sensorKelvin[n - 1];
        if (kelvin != 0) AddParameter(p, "Temperature Sensor " + std::to_string(n), CelsiusOfKelvin(kelvin));
    }

    if (Le(identify, 4096, 322, 2) & 1) {
        // Host controlled thermal management is a 1.3 feature, whatever VER says.
        if (highest < kVersion13) highest = kVersion13;
        AddParameter(p, "Thermal Management Temperature 1 Count", GroupedNumber(s.thermalTransitions[0]));
        AddParameter(p, "Thermal Management Temperature 2 Count", GroupedNumber(s.thermalTransitions[1]));
        AddParameter(p, "Thermal Management Temperature 1 Time", GroupedWithUnit(s.thermalSeconds[0], "Sec"));
        AddParameter(p, "Thermal Management Temperature 2 Time", GroupedWithUnit(s.thermalSeconds[1], "Sec"));
    }
    return 0;
}

}  // namespace kavo
