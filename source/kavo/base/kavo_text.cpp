// Clocks, time texts, number renderings and parsing.
#include "base/kavo_text.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <sstream>
#include <thread>

#include "base/platform.h"

namespace kavo {

int64_t MonotonicNanoseconds() {
    using namespace std::chrono;
    return duration_cast<nanoseconds>(steady_clock::now().time_since_epoch()).count();
}

double ElapsedMilliseconds(int64_t startNanoseconds) {
    return static_cast<double>(MonotonicNanoseconds() - startNanoseconds) / 1000000.0;
}

void SleepUntilMonotonic(int64_t monotonicNanoseconds) {
    int64_t now = MonotonicNanoseconds();
    if (monotonicNanoseconds > now) std::this_thread::sleep_for(std::chrono::nanoseconds(monotonicNanoseconds - now));
}

std::string FixedText(double value, int decimals) {
    char buffer[512];
    std::snprintf(buffer, sizeof buffer, "%.*f", decimals, value);
    return buffer;
}

std::string DurationText(double ms, int decimals) {
    // The integer parts in parentheses come from the truncated value; a
    // negative duration (a clock step) shows as zero there.
    uint64_t t = ms > 0 && ms < 1.8e19 ? static_cast<uint64_t>(ms) : 0;
    char tail[96];
    if (ms < 1000.0) return FixedText(ms, decimals) + " Milliseconds";
    if (ms < 60000.0) {
        std::snprintf(tail, sizeof tail, " (%" PRIu64 ".%03" PRIu64 ")", (t % 60000) / 1000, t % 1000);
        return FixedText(ms / 1000.0, decimals) + " Seconds" + tail;
    }
    if (ms < 3600000.0) {
        std::snprintf(tail, sizeof tail, " (%" PRIu64 ":%02" PRIu64 ".%03" PRIu64 ")", (t % 3600000) / 60000,
                      (t % 60000) / 1000, t % 1000);
        return FixedText(ms / 60000.0, decimals) + " Minutes" + tail;
    }
    std::snprintf(tail, sizeof tail, " (%" PRIu64 ":%02" PRIu64 ":%02" PRIu64 ".%03" PRIu64 ")", t / 3600000,
                  (t % 3600000) / 60000, (t % 60000) / 1000, t % 1000);
    return FixedText(ms / 3600000.0, decimals) + " Hours" + tail;
}

std::string ElapsedText(int64_t startNanoseconds, int decimals) {
    return DurationText(ElapsedMilliseconds(startNanoseconds), decimals);
}

const LocalDateTime& LocalDateTimeOf(std::time_t seconds) {
    // Records of one second share its date and time: the local time is
    // worked out once a second, not once a record.
    thread_local LocalDateTime cached;
    thread_local std::time_t cachedSecond = 0;
    thread_local bool filled = false;
    if (filled && seconds == cachedSecond) return cached;
    std::tm local{};
    cached.converted = platform::LocalTime(seconds, local);
    char buffer[80];
    std::snprintf(buffer, sizeof buffer, "%04d-%02d-%02d %02d:%02d:%02d", local.tm_year + 1900, local.tm_mon + 1,
                  local.tm_mday, local.tm_hour, local.tm_min, local.tm_sec);
    cached.text = buffer;
    cached.daylight = local.tm_isdst > 0;
    cachedSecond = seconds;
    filled = true;
    return cached;
}

void AppendTimestampText(std::string& out, uint64_t ms) {
    const uint64_t second = ms / 1000;
    const LocalDateTime* local =
        second > static_cast<uint64_t>(INT64_MAX) ? nullptr : &LocalDateTimeOf(static_cast<std::time_t>(second));
    if (local == nullptr || !local->converted) {
        out += "Invalid time";
        return;
    }
    const unsigned millis = static_cast<unsigned>(ms % 1000);
    const char fraction[] = {'.', static_cast<char>('0' + millis / 100), static_cast<char>('0' + millis / 10 % 10),
                             static_cast<char>('0' + millis % 10)};
    out += local->text;
    out.append(fraction, sizeof fraction);
    if (local->daylight) out += " DST";
}

std::string TimestampText(uint64_t ms) {
    std::string text;
    AppendTimestampText(text, ms);
    return text;
}

uint64_t WallClockMilliseconds() {
    using namespace std::chrono;
    auto ms = duration_cast<milliseconds>(system_clock::now().time_since_epoch()).count();
    return ms > 0 ? static_cast<uint64_t>(ms) : 0;
}

std::string CurrentTimeText() { return TimestampText(WallClockMilliseconds()); }

namespace {
const char kUpperHex[] = "0123456789ABCDEF";
}  // namespace

void HexDump(const uint8_t* bytes, size_t count, Json::Value& target) {
    static const char* const kTemplate =
        "  |  .. .. .. .. .. .. .. ..  |  .. .. .. .. .. .. .. ..        . . . . . . . .  |  . . . . . . . .";
    static const size_t kLength = 6 + std::strlen(kTemplate);
    target = Json::Value(Json::arrayValue);
    char line[128];
    for (size_t offset = 0; offset < count; offset += 16) {
        // "0x" and four hex digits of the offset, then the template filled in.
        line[0] = '0';
        line[1] = 'x';
        for (int digit = 0; digit < 4; ++digit) line[2 + digit] = kUpperHex[(offset >> (12 - 4 * digit)) & 0xF];
        std::memcpy(line + 6, kTemplate, kLength - 6);
        for (size_t k = 0; k < 16 && offset + k < count; ++k) {
            uint8_t byte = bytes[offset + k];
            size_t hexAt = k < 8 ? 11 + 3 * k : 39 + 3 * (k - 8);
            line[hexAt] = kUpperHex[byte >> 4];
            line[hexAt + 1] = kUpperHex[byte & 0xF];
            if (byte >= 0x20 && byte < 0x7F) line[k < 8 ? 70 + 2 * k : 90 + 2 * (k - 8)] = static_cast<char>(byte);
        }
        target.append(Json::Value(line, line + kLength));
    }
}

std::string GroupDigits(const std::string& text) {
    size_t point = text.find('.');
    size_t end = point == std::string::npos ? text.size() : point;
    size_t minimum = !text.empty() && text[0] == '-' ? 1 : 0;
    std::string result = text;
    for (size_t at = end; at > minimum + 3; at -= 3) result.insert(at - 3, ",");
    return result;
}

std::string GroupedDecimal64(uint64_t value) { return GroupDigits(std::to_string(value)); }
std::string GroupedDecimal128(uint128 value) { return GroupDigits(DecimalText(value)); }
std::string GroupedSigned64(int64_t value) { return GroupDigits(std::to_string(value)); }

std::string GroupedThousandths(uint128 thousandths) {
    std::string fraction = std::to_string(static_cast<unsigned>(thousandths % 1000));
    return GroupedDecimal128(thousandths / 1000) + "." + std::string(3 - fraction.size(), '0') + fraction;
}

std::string GroupedDouble3(double value) {
    char buffer[512];
    std::snprintf(buffer, sizeof buffer, "%f", value);
    std::string text = buffer;
    size_t point = text.find('.');
    if (point == std::string::npos) return text;
    if (text.size() > point + 4) text.erase(point + 4);
    return GroupDigits(text);
}

std::string HexDigits(uint64_t value, int digits) {
    // At least `digits` digits, more when the value needs them (as "%0*X").
    int needed = 1;
    while (needed < 16 && (value >> (4 * needed)) != 0) ++needed;
    std::string text(2 + static_cast<size_t>(std::max(needed, digits)), '0');
    text[1] = 'x';
    for (size_t at = text.size(); value != 0; value >>= 4) text[--at] = kUpperHex[value & 0xF];
    return text;
}

std::string HexByte(uint8_t value) { return {kUpperHex[value >> 4], kUpperHex[value & 0xF]}; }

std::string Hex16(uint16_t value) { return HexDigits(value, 4); }

std::string VersionText(uint32_t version) {
    return std::to_string(version >> 16) + "." + std::to_string((version >> 8) & 0xFF) + "." +
           std::to_string(version & 0xFF);
}

namespace {
std::string LowerHex(const uint8_t* bytes, size_t count) {
    static const char kLowerHex[] = "0123456789abcdef";
    std::string text(2 * count, '0');
    for (size_t i = 0; i < count; ++i) {
        text[2 * i] = kLowerHex[bytes[i] >> 4];
        text[2 * i + 1] = kLowerHex[bytes[i] & 0xF];
    }
    return text;
}
}  // namespace

std::string DashedHex3Reversed(const uint8_t* b) {
    return LowerHex(b + 2, 1) + "-" + LowerHex(b + 1, 1) + "-" + LowerHex(b, 1);
}
std::string DashedHex8(const uint8_t* b) { return LowerHex(b, 3) + "-" + LowerHex(b + 3, 5); }
std::string DashedHex16(const uint8_t* b) { return LowerHex(b, 8) + "-" + LowerHex(b + 8, 3) + "-" + LowerHex(b + 11, 5); }
std::string DashedHex16After3(const uint8_t* b) { return LowerHex(b, 3) + "-" + LowerHex(b + 3, 13); }

uint128 U128FromHalves(uint64_t low, uint64_t high) { return (uint128(high) << 64) | uint128(low); }

std::string DriveText(const uint8_t* bytes, size_t width) {
    static const char kHex[] = "0123456789ABCDEF";
    std::string text;
    text.reserve(width);
    for (size_t i = 0; i < width; ++i) {
        uint8_t byte = bytes[i];
        if (byte < 0x80) {
            text += static_cast<char>(byte);
        } else {
            text += "\\x";
            text += kHex[byte >> 4];
            text += kHex[byte & 0xF];
        }
    }
    return text;
}

std::string DriveField(const uint8_t* bytes, size_t width) { return Trim(DriveText(bytes, width).c_str()); }

namespace {

// The length of the valid UTF-8 sequence at the start of `text`, 0 when the
// first byte starts none (overlong forms, surrogates and values beyond
// U+10FFFF are not valid).
size_t Utf8SequenceLength(std::string_view text) {
    const auto byte = [&](size_t i) { return i < text.size() ? static_cast<uint8_t>(text[i]) : 0; };
    const auto continuation = [&](size_t i, uint8_t low = 0x80, uint8_t high = 0xBF) {
        return i < text.size() && byte(i) >= low && byte(i) <= high;
    };
    const uint8_t first = byte(0);
    if (first < 0x80) return 1;
    if (first >= 0xC2 && first <= 0xDF) return continuation(1) ? 2 : 0;
    if (first >= 0xE0 && first <= 0xEF) {
        const uint8_t low = first == 0xE0 ? 0xA0 : 0x80, high = first == 0xED ? 0x9F : 0xBF;
        return continuation(1, low, high) && continuation(2) ? 3 : 0;
    }
    if (first >= 0xF0 && first <= 0xF4) {
        const uint8_t low = first == 0xF0 ? 0x90 : 0x80, high = first == 0xF4 ? 0x8F : 0xBF;
        return continuation(1, low, high) && continuation(2) && continuation(3) ? 4 : 0;
    }
    return 0;
}

void AppendEscapedByte(std::string& out, uint8_t byte) {
    static const char kHex[] = "0123456789ABCDEF";
    out += "\\x";
    out += kHex[byte >> 4];
    out += kHex[byte & 0xF];
}

}  // namespace

std::string EscapedText(std::string_view text, bool escapeControls) {
    std::string out;
    out.reserve(text.size());
    for (size_t at = 0; at < text.size();) {
        const size_t length = Utf8SequenceLength(text.substr(at));
        const uint8_t first = static_cast<uint8_t>(text[at]);
        // C0 controls and DEL are single bytes; the C1 controls U+0080 to
        // U+009F are C2 80 to C2 9F.
        const bool control = length == 1 ? first < 0x20 || first == 0x7F
                                         : length == 2 && first == 0xC2 && static_cast<uint8_t>(text[at + 1]) < 0xA0;
        if (length == 0 || (escapeControls && control)) {
            const size_t bytes = length == 0 ? 1 : length;
            for (size_t i = 0; i < bytes; ++i) AppendEscapedByte(out, static_cast<uint8_t>(text[at + i]));
            at += bytes;
        } else {
            out.append(text, at, length);
            at += length;
        }
    }
    return out;
}

bool IsDecimalDigits(std::string_view text) {
    return !text.empty() && std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
}

std::string Trim(const std::string& text) {
    static const char* const kSpace = " \t\r\n\f\v";
    size_t first = text.find_first_not_of(kSpace);
    if (first == std::string::npos) return "";
    size_t last = text.find_last_not_of(kSpace);
    return text.substr(first, last - first + 1);
}

namespace {
std::string WithoutCommas(const std::string& text) {
    std::string result;
    for (char c : Trim(text))
        if (c != ',') result += c;
    return result;
}
}  // namespace

bool TryParseDouble(const std::string& text, double& value) {
    std::string clean = WithoutCommas(text);
    if (clean.empty()) return false;
    errno = 0;
    char* end = nullptr;
    double parsed = std::strtod(clean.c_str(), &end);
    if (end == clean.c_str() || errno == ERANGE) return false;
    value = parsed;
    return true;
}

bool HexDigitValue(char c, int& value) {
    if (c >= '0' && c <= '9') value = c - '0';
    else if (c >= 'a' && c <= 'f') value = c - 'a' + 10;
    else if (c >= 'A' && c <= 'F') value = c - 'A' + 10;
    else return false;
    return true;
}

bool TryParseInt64(const std::string& text, int64_t& value) {
    std::string clean = WithoutCommas(text);
    if (clean.empty()) return false;
    errno = 0;
    char* end = nullptr;
    long long parsed = std::strtoll(clean.c_str(), &end, 10);
    if (end == clean.c_str() || errno == ERANGE) return false;
    value = parsed;
    return true;
}

}  // namespace kavo
