#include "base/number.h"

#include <cmath>
#include <cstdlib>

#include <fmt/format.h>

#include "base/kavo_text.h"

namespace kavo {
namespace {

constexpr uint128 kLow64 = ~uint64_t(0);

// A 192-bit magnitude as (high, low).
struct Wide {
    uint64_t high;
    uint128 low;
};

// m × factor + add; false when the result needs more than 192 bits.
bool MultiplyAdd(Wide& m, uint64_t factor, uint64_t add) {
    const uint128 p0 = (m.low & kLow64) * factor + add;
    const uint128 p1 = (m.low >> 64) * factor + (p0 >> 64);
    const uint128 p2 = uint128(m.high) * factor + (p1 >> 64);
    if ((p2 >> 64) != 0) return false;
    m.low = (p1 << 64) | (p0 & kLow64);
    m.high = static_cast<uint64_t>(p2);
    return true;
}

int CompareMagnitudes(const Wide& a, const Wide& b) {
    if (a.high != b.high) return a.high < b.high ? -1 : 1;
    return a.low < b.low ? -1 : a.low > b.low ? 1 : 0;
}

// a - b for a >= b.
Wide Subtract(const Wide& a, const Wide& b) {
    const uint64_t borrow = a.low < b.low ? 1 : 0;
    return Wide{a.high - b.high - borrow, a.low - b.low};
}

// a + b; false beyond 192 bits.
bool Add(const Wide& a, const Wide& b, Wide& sum) {
    sum.low = a.low + b.low;
    const uint64_t carry = sum.low < a.low ? 1 : 0;
    sum.high = a.high + b.high;
    if (sum.high < a.high) return false;
    sum.high += carry;
    return sum.high >= carry;
}

std::string Digits(Wide m) {
    if (m.high == 0) return DecimalText(m.low);
    // Nineteen digits at a time, from the lowest: each step divides the
    // three 64-bit limbs by 10^19.
    constexpr uint64_t kChunk = 10000000000000000000ull;
    std::string text;
    while (m.high != 0 || m.low != 0) {
        uint64_t limbs[3] = {m.high, static_cast<uint64_t>(m.low >> 64), static_cast<uint64_t>(m.low)};
        uint128 remainder = 0;
        for (uint64_t& limb : limbs) {
            const uint128 part = (remainder << 64) | limb;
            limb = static_cast<uint64_t>(part / kChunk);
            remainder = part % kChunk;
        }
        m = Wide{limbs[0], (uint128(limbs[1]) << 64) | limbs[2]};
        std::string chunk = std::to_string(static_cast<uint64_t>(remainder));
        if (m.high != 0 || m.low != 0) chunk.insert(0, 19 - chunk.size(), '0');
        text.insert(0, chunk);
    }
    return text;
}

}  // namespace

Number Number::Signed(int64_t value) {
    // The magnitude of INT64_MIN does not fit int64_t: negate in unsigned.
    const uint64_t magnitude = value < 0 ? ~static_cast<uint64_t>(value) + 1 : static_cast<uint64_t>(value);
    return Number(value < 0, 0, magnitude);
}

Number Number::Product(uint128 value, uint64_t factor) {
    Wide m{0, value};
    MultiplyAdd(m, factor, 0);  // 128 × 64 bits always fit 192
    return Number(false, m.high, m.low);
}

Number Number::Real(double value) {
    Number number;
    number.kind_ = Kind::Real;
    number.real_ = value;
    return number;
}

Number Number::FromLiteral(std::string_view literal) {
    const bool negative = !literal.empty() && literal[0] == '-';
    const std::string_view digits = negative ? literal.substr(1) : literal;
    bool integer = !digits.empty();
    Wide m{0, 0};
    for (char c : digits) {
        if (c < '0' || c > '9') {
            integer = false;
            break;
        }
        if (!MultiplyAdd(m, 10, static_cast<uint64_t>(c - '0'))) {
            integer = false;
            break;
        }
    }
    if (integer) return Number(negative, m.high, m.low);
    const std::string text(literal);
    char* end = nullptr;
    const double real = std::strtod(text.c_str(), &end);
    if (text.empty() || end != text.c_str() + text.size()) return Number();
    return Real(real);
}

double Number::real() const {
    if (kind_ == Kind::Real) return real_;
    if (kind_ == Kind::None) return 0;
    const double magnitude = static_cast<double>(high_) * 0x1p128 + static_cast<double>(low_);
    return negative_ ? -magnitude : magnitude;
}

std::string Number::Literal() const {
    if (kind_ == Kind::Integer && high_ == 0 && low_ <= UINT64_MAX) {
        std::string text = std::to_string(static_cast<uint64_t>(low_));
        return negative_ ? "-" + text : text;
    }
    if (kind_ == Kind::Integer) return (negative_ ? "-" : "") + Digits(Wide{high_, low_});
    if (kind_ == Kind::None || !std::isfinite(real_)) return "null";
    std::string text = fmt::format("{}", real_);
    // A whole number stays a real number when read back.
    if (text.find_first_of(".eE") == std::string::npos) text += ".0";
    return text;
}

std::string Number::GroupedText() const {
    if (kind_ == Kind::Integer) return (negative_ ? "-" : "") + GroupDigits(Digits(Wide{high_, low_}));
    return kind_ == Kind::Real ? GroupedDouble3(real_) : "";
}

Number Difference(const Number& left, const Number& right) {
    if (!left.present() || !right.present()) return Number();
    if (!left.isInteger() || !right.isInteger()) return Number::Real(left.real() - right.real());
    const Wide a{left.high_, left.low_}, b{right.high_, right.low_};
    // left - right = left + (-right): equal signs after negating add, others subtract.
    const bool rightNegated = !right.negative_;
    if (left.negative_ == rightNegated) {
        Wide sum{};
        if (!Add(a, b, sum)) return Number();
        return Number(left.negative_, sum.high, sum.low);
    }
    if (CompareMagnitudes(a, b) >= 0) {
        const Wide rest = Subtract(a, b);
        return Number(left.negative_, rest.high, rest.low);
    }
    const Wide rest = Subtract(b, a);
    return Number(rightNegated, rest.high, rest.low);
}

int CompareNumbers(const Number& left, const Number& right) {
    if (!left.present() || !right.present()) return int(left.present()) - int(right.present());
    if (left.isInteger() && right.isInteger()) {
        if (left.negative_ != right.negative_) return left.negative_ ? -1 : 1;
        const int magnitude = CompareMagnitudes(Wide{left.high_, left.low_}, Wide{right.high_, right.low_});
        return left.negative_ ? -magnitude : magnitude;
    }
    const double a = left.real(), b = right.real();
    return a < b ? -1 : a > b ? 1 : 0;
}

}  // namespace kavo
