#pragma once
// Table-driven decoding of NVMe data structures. A row names a parameter,
// the field's offset, width and bits, its version gate and condition, and how
// its value is rendered, so that it can be checked against the field tables
// of the NVMe specification line by line. Reads never leave the structure.
#include <cstdint>
#include <string>

#include "decode/parameters.h"

namespace kavo::decode {

// Little-endian unsigned value of up to 8 bytes; bytes beyond `size` read as 0.
uint64_t Le(const uint8_t* data, size_t size, size_t offset, size_t width);
inline uint64_t Bits(uint64_t value, unsigned high, unsigned low) {
    unsigned count = high - low + 1;
    return count >= 64 ? value >> low : (value >> low) & ((uint64_t(1) << count) - 1);
}
inline bool Bit(uint64_t value, unsigned bit) { return ((value >> bit) & 1) != 0; }

// What a renderer sees of its field.
struct FieldView {
    uint64_t value;          // the field (bits applied), for widths up to 8 bytes
    const uint8_t* bytes;    // the field's first byte
    unsigned width;          // bytes
    const uint8_t* data;     // the whole structure
    size_t size;
    uint32_t ver;            // controller version
};

using Render = Rendered (*)(const FieldView&);
using Condition = bool (*)(const uint8_t* data, size_t size);

enum class Gate : uint8_t {
    Always,
    V13,          // VersionGate13 on the field (its bits)
    V14,          // VersionGate14 on the field (its bits)
    V13Whole,     // VersionGate13 on the whole field, ignoring the bits
    Previous,     // the result of the previous row's gate, without calling it again
};

struct Row {
    const char* name;
    uint16_t offset;
    uint16_t width;      // bytes
    uint8_t high;        // bits; high 0xFF means the whole field
    uint8_t low;
    Gate gate;
    Render render;
    Condition condition = nullptr;  // second condition, tested after the gate
    bool conditionFirst = false;    // test the condition before the gate
};

constexpr uint8_t kWhole = 0xFF;

struct Context {
    const uint8_t* data;
    size_t size;
    uint32_t ver;
    uint32_t& highest;
    Parameters& parameters;
    std::string prefix;  // prepended to every row name
};

// Adds the parameters of `rows` in order.
template <size_t N>
void DecodeRows(Context& context, const Row (&rows)[N]);
void DecodeRows(Context& context, const Row* rows, size_t count);

template <size_t N>
void DecodeRows(Context& context, const Row (&rows)[N]) {
    DecodeRows(context, rows, N);
}

// Renderings shared by the Identify decoders. Those of a number carry it:
// the field (Plain, Grouped), the field plus one (a 0's based count), or
// the quantity the text shows (PowerOfTwo: 2^n; FourKiBUnits: bytes).
Rendered Supported(const FieldView& f);
Rendered Plain(const FieldView& f);
Rendered PlainPlus1(const FieldView& f);
Rendered Grouped(const FieldView& f);
Rendered GroupedPlus1(const FieldView& f);
Rendered Grouped128(const FieldView& f);
Rendered PowerOfTwo(const FieldView& f);
Rendered PowerOfTwoText(uint64_t n);
Rendered MicrosecondsText(uint64_t n);
Rendered KelvinText(uint64_t kelvin);
Rendered FourKiBUnits(uint64_t n);
Rendered AsciiText(const FieldView& f);
std::string YesNo(bool value);
std::string EnabledDisabled(bool value);
// "Not Reported" (or `zeroText`) when zero, else `render`.
template <const char* ZeroText, Render Inner>
Rendered ZeroOr(const FieldView& f) {
    return f.value == 0 ? Rendered(ZeroText) : Inner(f);
}

}  // namespace kavo::decode
