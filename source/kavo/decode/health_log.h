#pragma once
// The SMART / health log (02h) and the device self-test log (06h) as plain
// typed structures, decoded once from the bytes the drive returned. The info
// document's records, the self-test command's status entries, the metrics
// and the grades all read these, and render their values through the
// functions below, so a value looks the same everywhere.
#include <array>
#include <cstdint>
#include <string>

#include "base/number.h"
#include "base/wide_integer.h"
#include "decode/parameters.h"

namespace kavo {

struct SmartHealth {
    uint8_t criticalWarning = 0;
    uint16_t compositeKelvin = 0;
    uint8_t availableSpare = 0;         // percent
    uint8_t availableSpareThreshold = 0;
    uint8_t percentageUsed = 0;
    uint8_t enduranceGroupWarning = 0;  // endurance group critical warning summary
    uint128 dataUnitsRead = 0, dataUnitsWritten = 0;  // thousands of 512-byte units
    uint128 hostReadCommands = 0, hostWriteCommands = 0;
    uint128 controllerBusyMinutes = 0, powerCycles = 0, powerOnHours = 0, unsafeShutdowns = 0;
    uint128 mediaErrors = 0, errorLogEntries = 0;
    uint32_t warningTemperatureMinutes = 0, criticalTemperatureMinutes = 0;
    std::array<uint16_t, 8> sensorKelvin{};  // 0: the sensor is not reported
    std::array<uint32_t, 2> thermalTransitions{}, thermalSeconds{};
};

// The structure of a 512-byte log page.
SmartHealth ParseSmartHealth(const uint8_t* page);

// A data unit is 512,000 bytes.
constexpr uint64_t kDataUnitBytes = 512000;

// Renderings of its values with their numbers: "35 C" (celsius, may be
// negative), "1,234.567 GB" (the bytes, exact), "5 %".
Rendered CelsiusOfKelvin(uint64_t kelvin);
Rendered DataUnitsAsGigabytes(uint128 units);
Rendered PercentText(uint64_t percent);
// "1,234 Min" and the like: grouped digits, a blank and the unit text.
Rendered GroupedWithUnit(uint128 value, const char* unit);
// Plain or grouped digits alone, with their number.
Rendered PlainNumber(uint128 value);
Rendered GroupedNumber(uint128 value);
// "0x" and `digits` upper-case hexadecimal digits, with the number.
Rendered HexNumber(uint64_t value, int digits);

// One result of the device self-test log.
struct SelfTestResult {
    uint8_t status = 0x0F;  // bits 3:0 result, 7:4 the test's code; result Fh: unused entry
    uint8_t segment = 0;
    uint8_t valid = 0;      // bit 0 NSID, 1 LBA, 2 status code type, 3 status code
    uint64_t powerOnHours = 0;
    uint32_t nsid = 0;
    uint64_t failingLba = 0;
    uint8_t statusCodeType = 0, statusCode = 0;

    unsigned result() const { return status & 0x0F; }
    unsigned testCode() const { return status >> 4; }
    bool used() const { return result() != 0x0F; }
};

struct SelfTestLog {
    uint8_t operation = 0;   // test in progress: 0 none, 1 short, 2 extended
    uint8_t completion = 0;  // percent
    std::array<SelfTestResult, 20> results{};  // newest first
};

// The structure of a 564-byte log page.
SelfTestLog ParseSelfTestLog(const uint8_t* page);
// "Passed", "Aborted", "Failed" or "Reserved" for a result code.
const char* SelfTestResultText(unsigned result);
// "Short Test", "Extended Test", "Vendor Specific" or "Reserved".
const char* SelfTestTypeText(unsigned testCode);

}  // namespace kavo
