#pragma once
// The machine value of a field: an integer of either sign with up to 192
// bits of magnitude (a 128-bit counter times its unit, such as data units
// in bytes), or a real number. A document writes it as a JSON number
// (integers as exact integer literals at any width), and consumers compare
// it without reading any display text back.
#include <cstdint>
#include <string>
#include <string_view>

#include "base/wide_integer.h"

namespace kavo {

class Number {
public:
    enum class Kind : uint8_t { None, Integer, Real };

    Number() = default;
    static Number Unsigned(uint128 value) { return Number(false, 0, value); }
    static Number Signed(int64_t value);
    static Number Integer(const WideSigned& value) { return Number(value.negative, 0, value.magnitude); }
    // value × factor, exact.
    static Number Product(uint128 value, uint64_t factor);
    static Number Real(double value);
    // A JSON number literal ("-12", "340282366920938463463374607431768211455",
    // "0.25", "1e3"). An integer beyond 192 bits of magnitude is kept as the
    // nearest real; any other text gives no number.
    static Number FromLiteral(std::string_view literal);

    Kind kind() const { return kind_; }
    bool present() const { return kind_ != Kind::None; }
    bool isInteger() const { return kind_ == Kind::Integer; }
    bool negative() const { return negative_; }
    // The magnitude of an integer when it fits 128 bits.
    bool FitsUint128() const { return kind_ == Kind::Integer && high_ == 0; }
    uint128 low() const { return low_; }
    // The value as a double (nearest for wide integers; 0 for none).
    double real() const;
    // The JSON literal: exact digits for an integer, the shortest text that
    // reads back to the same double for a real (".0" added to a whole one).
    std::string Literal() const;
    // Exact digits of an integer's magnitude, grouped by thousands
    // ("1,234,567"); for a real, its value with three decimals.
    std::string GroupedText() const;

    // left - right: exact for integers (none when the difference needs more
    // than 192 bits), a real otherwise; none when either is missing.
    friend Number Difference(const Number& left, const Number& right);
    // -1, 0 or 1 as `left` is below, equal to or above `right`: exact when
    // both are integers, as doubles otherwise. A missing number sorts below all.
    friend int CompareNumbers(const Number& left, const Number& right);

private:
    Number(bool negative, uint64_t high, uint128 low)
        : kind_(Kind::Integer), negative_(negative && (high != 0 || low != 0)), high_(high), low_(low) {}
    Kind kind_ = Kind::None;
    bool negative_ = false;
    uint64_t high_ = 0;  // bits 128 to 191 of the magnitude
    uint128 low_ = 0;
    double real_ = 0;
};

}  // namespace kavo
