// The SMART / health and device self-test log pages as typed structures,
// and the renderings of their values.
#include "decode/health_log.h"

#include "base/kavo_text.h"
#include "decode/decode_table.h"

namespace kavo {
namespace {

using decode::Le;

uint128 Counter(const uint8_t* page, size_t offset) {
    return U128FromHalves(Le(page, 512, offset, 8), Le(page, 512, offset + 8, 8));
}

}  // namespace

SmartHealth ParseSmartHealth(const uint8_t* page) {
    SmartHealth s;
    s.criticalWarning = page[0];
    s.compositeKelvin = static_cast<uint16_t>(Le(page, 512, 1, 2));
    s.availableSpare = page[3];
    s.availableSpareThreshold = page[4];
    s.percentageUsed = page[5];
    s.enduranceGroupWarning = page[6];
    s.dataUnitsRead = Counter(page, 32);
    s.dataUnitsWritten = Counter(page, 48);
    s.hostReadCommands = Counter(page, 64);
    s.hostWriteCommands = Counter(page, 80);
    s.controllerBusyMinutes = Counter(page, 96);
    s.powerCycles = Counter(page, 112);
    s.powerOnHours = Counter(page, 128);
    s.unsafeShutdowns = Counter(page, 144);
    s.mediaErrors = Counter(page, 160);
    s.errorLogEntries = Counter(page, 176);
    s.warningTemperatureMinutes = static_cast<uint32_t>(Le(page, 512, 192, 4));
    s.criticalTemperatureMinutes = static_cast<uint32_t>(Le(page, 512, 196, 4));
    for (size_t n = 0; n < s.sensorKelvin.size(); ++n) s.sensorKelvin[n] = static_cast<uint16_t>(Le(page, 512, 200 + 2 * n, 2));
    for (size_t n = 0; n < 2; ++n) {
        s.thermalTransitions[n] = static_cast<uint32_t>(Le(page, 512, 216 + 4 * n, 4));
        s.thermalSeconds[n] = static_cast<uint32_t>(Le(page, 512, 224 + 4 * n, 4));
    }
    return s;
}

Rendered CelsiusOfKelvin(uint64_t kelvin) {
    const int64_t celsius = static_cast<int64_t>(kelvin) - 273;
    return {GroupedSigned64(celsius) + " C", Number::Signed(celsius)};
}

Rendered DataUnitsAsGigabytes(uint128 units) {
    // A data unit is 64/125 of a thousandth of a gigabyte (10^9 bytes).
    // Rounded to the nearest thousandth in integers, exact for every 128-bit
    // counter (125 is odd: no value lies half-way), split so that nothing
    // overflows.
    const uint128 thousandths = units / 125 * 64 + (units % 125 * 64 + 62) / 125;
    return {GroupedThousandths(thousandths) + " GB", Number::Product(units, kDataUnitBytes)};
}

Rendered PercentText(uint64_t percent) { return {std::to_string(percent) + " %", Number::Unsigned(percent)}; }

Rendered GroupedWithUnit(uint128 value, const char* unit) {
    return {GroupedDecimal128(value) + " " + unit, Number::Unsigned(value)};
}

Rendered PlainNumber(uint128 value) { return {DecimalText(value), Number::Unsigned(value)}; }
Rendered GroupedNumber(uint128 value) { return {GroupedDecimal128(value), Number::Unsigned(value)}; }
Rendered HexNumber(uint64_t value, int digits) { return {HexDigits(value, digits), Number::Unsigned(value)}; }

SelfTestLog ParseSelfTestLog(const uint8_t* page) {
    SelfTestLog log;
    log.operation = page[0];
    log.completion = page[1];
    for (size_t j = 0; j < log.results.size(); ++j) {
        const uint8_t* e = page + 4 + 28 * j;
        SelfTestResult& r = log.results[j];
        r.status = e[0];
        r.segment = e[1];
        r.valid = e[2];
        r.powerOnHours = Le(e, 28, 4, 8);
        r.nsid = static_cast<uint32_t>(Le(e, 28, 12, 4));
        r.failingLba = Le(e, 28, 16, 8);
        r.statusCodeType = e[24];
        r.statusCode = e[25];
    }
    return log;
}

const char* SelfTestResultText(unsigned result) {
    if (result == 0) return "Passed";
    if (result <= 4 || result == 8) return "Aborted";
    return result <= 7 ? "Failed" : "Reserved";
}

const char* SelfTestTypeText(unsigned testCode) {
    return testCode == 1 ? "Short Test" : testCode == 2 ? "Extended Test" : testCode == 0xE ? "Vendor Specific" : "Reserved";
}

}  // namespace kavo
