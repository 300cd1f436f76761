#pragma once
// The static rows of the parameter descriptions table, grouped by source.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string_view>

namespace kavo {

// The unit of a parameter's number: what the number of its record counts.
// A parameter without a unit has no number (flags, names, identifiers shown
// as text); one with a unit has a number unless the drive reports none for
// it ("Not Reported").
enum class Unit : uint8_t {
    None,
    Count,         // a plain count or a level
    Identifier,    // a number that names or addresses something (a namespace, a slot, an LBA)
    Code,          // a result or status code
    BitField,      // bits that each mean something (critical warnings, status fields)
    Celsius,
    Percent,
    Bytes,
    DataUnits,     // thousands of 512-byte units
    Blocks,        // logical blocks
    Hours,
    Minutes,
    Seconds,
    Milliseconds,
    Microseconds,
    Watts,
};

struct ParameterRow {
    const char* name;
    const char* description;
    Unit unit = Unit::None;
};

struct ParameterGroup {
    const char* source;
    const ParameterRow* rows;
    size_t count;
};

const ParameterGroup* ParameterGroups(size_t& count);

// The hash of a parameter name that places it in the generated name table's
// slots; the generator and the lookup share it. Eight bytes a step (read in
// little-endian order on any machine), mixed by multiplication.
inline uint32_t ParameterNameHash(std::string_view name) {
    uint64_t hash = 0x9E3779B97F4A7C15ull ^ name.size();
    size_t at = 0;
    auto mix = [&hash](uint64_t word) {
        hash = (hash ^ word) * 0xFF51AFD7ED558CCDull;
        hash ^= hash >> 32;
    };
    for (; at + 8 <= name.size(); at += 8) {
        uint64_t word = 0;
        std::memcpy(&word, name.data() + at, sizeof word);
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_BIG_ENDIAN__
        word = __builtin_bswap64(word);
#endif
        mix(word);
    }
    uint64_t rest = 0;
    for (size_t b = 0; at + b < name.size(); ++b) rest |= uint64_t(static_cast<uint8_t>(name[at + b])) << (8 * b);
    mix(rest);
    return static_cast<uint32_t>(hash);
}

}  // namespace kavo
