#include "base/wide_integer.h"

#include <fmt/format.h>

#include "base/kavo_text.h"

namespace kavo {

std::string DecimalText(uint128 value) { return fmt::format("{}", value); }

bool operator<(const WideSigned& left, const WideSigned& right) {
    const bool leftZero = left.magnitude == 0, rightZero = right.magnitude == 0;
    const bool leftNegative = left.negative && !leftZero, rightNegative = right.negative && !rightZero;
    if (leftNegative != rightNegative) return leftNegative;
    return leftNegative ? left.magnitude > right.magnitude : left.magnitude < right.magnitude;
}

std::optional<WideSigned> Difference(const WideSigned& left, const WideSigned& right) {
    // left - right = left + (-right): equal signs add magnitudes, different
    // signs subtract the smaller from the larger.
    const bool rightNegated = !right.negative;
    if (left.negative == rightNegated) {
        uint128 sum = left.magnitude + right.magnitude;
        if (sum < left.magnitude) return std::nullopt;
        return WideSigned{left.negative && sum != 0, sum};
    }
    if (left.magnitude >= right.magnitude) {
        uint128 rest = left.magnitude - right.magnitude;
        return WideSigned{left.negative && rest != 0, rest};
    }
    return WideSigned{rightNegated, right.magnitude - left.magnitude};
}

bool ParseWideInteger(std::string_view text, WideSigned& value) {
    WideSigned parsed;
    if (!text.empty() && text[0] == '-') {
        parsed.negative = true;
        text.remove_prefix(1);
    }
    unsigned base = 10;
    if (text.size() >= 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
        base = 16;
        text.remove_prefix(2);
    } else if (!text.empty() && text[0] == '0') {
        base = 8;
    }
    for (char c : text) {
        int value = 0;
        if (!HexDigitValue(c, value)) return false;
        const unsigned digit = static_cast<unsigned>(value);
        if (digit >= base || parsed.magnitude > (kUint128Max - digit) / base) return false;
        parsed.magnitude = parsed.magnitude * base + digit;
    }
    value = parsed;
    return true;
}

}  // namespace kavo
