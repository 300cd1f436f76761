#pragma once
// Clocks, time texts, number renderings and number parsing shared by every
// document and log line, so the same value always looks the same.
#include <cstdint>
#include <ctime>
#include <string>
#include <string_view>
#include <utility>

#include <json/value.h>

#include "base/wide_integer.h"

namespace kavo {

// Clock and time.
int64_t MonotonicNanoseconds();
std::string DurationText(double milliseconds, int decimals);
std::string ElapsedText(int64_t startNanoseconds, int decimals);
double ElapsedMilliseconds(int64_t startNanoseconds);
// Sleeps until the monotonic clock reaches the time; returns at once when it has passed.
void SleepUntilMonotonic(int64_t monotonicNanoseconds);
// A local time to the second: "2026-12-08 23:57:56", and whether daylight
// saving time is in force. `converted` is false when the system cannot
// convert the time; `text` then holds the fields of a zeroed time.
struct LocalDateTime {
    std::string text;
    bool daylight = false;
    bool converted = false;
};
// The local time of `seconds`; valid until the thread asks for another
// second (each thread keeps the last one it asked for).
const LocalDateTime& LocalDateTimeOf(std::time_t seconds);
std::string TimestampText(uint64_t millisecondsSinceEpoch);
// The same text appended to `out`.
void AppendTimestampText(std::string& out, uint64_t millisecondsSinceEpoch);
std::string CurrentTimeText();
uint64_t WallClockMilliseconds();

// Raw data as lines of 16 bytes: offset, hex columns and printable characters.
void HexDump(const uint8_t* bytes, size_t count, Json::Value& target);

// Number renderings.
std::string GroupDigits(const std::string& digits);
std::string GroupedDecimal64(uint64_t value);
std::string GroupedDecimal128(uint128 value);
std::string GroupedSigned64(int64_t value);
// A count of thousandths with three decimals: 1234567 -> "1,234.567".
std::string GroupedThousandths(uint128 thousandths);
std::string GroupedDouble3(double value);
std::string FixedText(double value, int decimals);
std::string Hex16(uint16_t value);
// "0x" followed by exactly `digits` upper-case hexadecimal digits.
std::string HexDigits(uint64_t value, int digits);
// Two upper-case hexadecimal digits without a prefix: "0A".
std::string HexByte(uint8_t value);
std::string VersionText(uint32_t version);
std::string DashedHex3Reversed(const uint8_t* bytes);
std::string DashedHex8(const uint8_t* bytes);
std::string DashedHex16(const uint8_t* bytes);
std::string DashedHex16After3(const uint8_t* bytes);
uint128 U128FromHalves(uint64_t low, uint64_t high);

// Text a drive reports in a fixed-width field (model number, serial number,
// firmware revisions, NQN): the bytes as they are, except that a byte of 80h
// and above, which is not ASCII, becomes "\xHH". The same bytes always give
// the same text, and the text survives writing and reading a document.
std::string DriveText(const uint8_t* bytes, size_t width);
// The same without the field's padding: up to the first NUL, blanks trimmed.
std::string DriveField(const uint8_t* bytes, size_t width);
// A text made safe to show or to hand on as UTF-8: every byte that is not
// part of valid UTF-8 becomes "\xHH"; with `escapeControls`, so do the
// bytes of control characters (C0, DEL, C1), which a terminal would act on
// (escape sequences, a line split by CR or LF).
std::string EscapedText(std::string_view text, bool escapeControls);

// Number parsing; never raise.
std::string Trim(const std::string& text);
// True for a non-empty text of the digits 0 to 9 only.
bool IsDecimalDigits(std::string_view text);
bool TryParseDouble(const std::string& text, double& value);
bool TryParseInt64(const std::string& text, int64_t& value);
// The value of one hexadecimal digit (either case); false for any other character.
bool HexDigitValue(char c, int& value);

}  // namespace kavo
