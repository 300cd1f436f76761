#pragma once
// The static rows of the parameter descriptions table, grouped by source.
#include <cstddef>
#include <cstdint>
#include <string_view>

namespace kavo {

struct ParameterRow {
    const char* name;
    const char* description;
};

struct ParameterGroup {
    const char* source;
    const ParameterRow* rows;
    size_t count;
};

const ParameterGroup* ParameterGroups(size_t& count);

// The hash of a parameter name (32-bit FNV-1a) that places it in the
// generated name table's slots; the generator and the lookup share it.
constexpr uint32_t ParameterNameHash(std::string_view name) {
    uint32_t hash = 2166136261u;
    for (char c : name) hash = (hash ^ static_cast<uint8_t>(c)) * 16777619u;
    return hash;
}

}  // namespace kavo
