#pragma once
// 128-bit integers: the drive's 16-byte counters, and compare deltas that
// span them. The compiler's own 128-bit types do the arithmetic; this file
// adds their text forms.
#include <optional>
#include <string>
#include <string_view>

namespace kavo {

__extension__ typedef unsigned __int128 uint128;
inline constexpr uint128 kUint128Max = ~uint128(0);

// Decimal digits, no grouping: "340282366920938463463374607431768211455".
std::string DecimalText(uint128 value);

// A sign and a 128-bit magnitude. Counters use all 128 bits, so a value and
// the difference of two values need the full magnitude of either sign.
struct WideSigned {
    bool negative = false;
    uint128 magnitude = 0;
};
bool operator<(const WideSigned& left, const WideSigned& right);
inline bool operator>=(const WideSigned& left, const WideSigned& right) { return !(left < right); }
// left - right; empty when the difference does not fit 128 bits.
std::optional<WideSigned> Difference(const WideSigned& left, const WideSigned& right);

// An integer text: an optional "-", then "0x"/"0X" and hexadecimal digits,
// a leading "0" and octal digits, or decimal digits. A lone sign or prefix
// reads as 0. False for any other character, and for a magnitude beyond
// 128 bits.
bool ParseWideInteger(std::string_view text, WideSigned& value);

}  // namespace kavo
