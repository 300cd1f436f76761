// Row walking and the renderings shared by the Identify decoders.
#include "decode/decode_table.h"

#include "base/kavo_text.h"
#include "decode/health_log.h"
#include "decode/parameters.h"

namespace kavo::decode {

uint64_t Le(const uint8_t* data, size_t size, size_t offset, size_t width) {
    uint64_t value = 0;
    for (size_t i = width; i-- > 0;) value = (value << 8) | (offset + i < size ? data[offset + i] : 0);
    return value;
}

namespace {

bool AnyByteNonZero(const uint8_t* data, size_t size, size_t offset, size_t width) {
    for (size_t i = 0; i < width && offset + i < size; ++i)
        if (data[offset + i] != 0) return true;
    return false;
}

}  // namespace

void DecodeRows(Context& context, const Row* rows, size_t count) {
    bool previousGate = true;
    std::string name = context.prefix;  // the prefix, then each row's name after it
    const size_t prefixLength = name.size();
    for (size_t r = 0; r < count; ++r) {
        const Row& row = rows[r];
        if (row.offset + row.width > context.size) continue;  // never read past the structure
        const uint8_t* bytes = context.data + row.offset;
        uint64_t raw = row.width <= 8 ? Le(context.data, context.size, row.offset, row.width) : 0;
        uint64_t value = row.high == kWhole ? raw : Bits(raw, row.high, row.low);
        bool nonZero = row.width <= 8 ? value != 0 : AnyByteNonZero(context.data, context.size, row.offset, row.width);
        if (row.condition != nullptr && row.conditionFirst && !row.condition(context.data, context.size)) continue;
        bool reported = true;
        switch (row.gate) {
            case Gate::Always: break;
            case Gate::V13: reported = VersionGate13(context.ver, context.highest, nonZero); break;
            case Gate::V14: reported = VersionGate14(context.ver, context.highest, nonZero); break;
            case Gate::V13Whole: reported = VersionGate13(context.ver, context.highest, raw != 0); break;
            case Gate::Previous: reported = previousGate; break;
        }
        previousGate = reported;
        if (!reported) continue;
        if (row.condition != nullptr && !row.conditionFirst && !row.condition(context.data, context.size)) continue;
        FieldView view{value, bytes, row.width, context.data, context.size, context.ver};
        name.resize(prefixLength);
        name += row.name;
        AddParameter(context.parameters, name, row.render(view));
    }
}

Rendered Supported(const FieldView& f) { return f.value == 1 ? "Supported" : "Not Supported"; }
Rendered Plain(const FieldView& f) { return PlainNumber(f.value); }
Rendered PlainPlus1(const FieldView& f) { return PlainNumber(uint128(f.value) + 1); }
Rendered Grouped(const FieldView& f) { return GroupedNumber(f.value); }
Rendered GroupedPlus1(const FieldView& f) { return GroupedNumber(uint128(f.value) + 1); }

Rendered Grouped128(const FieldView& f) {
    uint64_t low = Le(f.bytes, f.width, 0, 8), high = Le(f.bytes, f.width, 8, 8);
    return GroupedNumber(U128FromHalves(low, high));
}

Rendered PowerOfTwoText(uint64_t n) {
    // Conforming drives report small exponents; larger ones are shown without
    // the product rather than overflowing it.
    if (n >= 64) return std::to_string(n) + " (2^" + std::to_string(n) + ")";
    return {std::to_string(n) + " (2^" + std::to_string(n) + "=" + std::to_string(uint64_t(1) << n) + ")",
            Number::Unsigned(uint128(1) << n)};
}
Rendered PowerOfTwo(const FieldView& f) { return PowerOfTwoText(f.value); }

Rendered MicrosecondsText(uint64_t n) {
    return {GroupedDecimal64(n) + " uS (" + GroupedDouble3(static_cast<double>(n) / 1000000.0) + " sec)",
            Number::Unsigned(n)};
}

Rendered KelvinText(uint64_t kelvin) { return CelsiusOfKelvin(kelvin); }

Rendered FourKiBUnits(uint64_t n) {
    return {GroupedDecimal64(n) + " (" + GroupedDecimal64(4 * n) + " KiB)", Number::Product(n, 4096)};
}

Rendered AsciiText(const FieldView& f) { return DriveText(f.bytes, f.width); }

std::string YesNo(bool value) { return value ? "Yes" : "No"; }
std::string EnabledDisabled(bool value) { return value ? "Enabled" : "Disabled"; }

}  // namespace kavo::decode
