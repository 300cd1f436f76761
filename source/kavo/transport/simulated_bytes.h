#pragma once
// Byte helpers shared by the simulated controller and its description reader.
#include <cstdint>
#include <cstring>
#include <string>

#include "base/kavo_errors.h"
#include "base/kavo_text.h"

namespace kavo::sim {

inline void Put(uint8_t* at, uint64_t value, int width) {
    for (int i = 0; i < width; ++i) at[i] = static_cast<uint8_t>(value >> (8 * i));
}

inline uint64_t Get(const uint8_t* at, int width) {
    uint64_t value = 0;
    for (int i = width - 1; i >= 0; --i) value = (value << 8) | at[i];
    return value;
}

inline void PutText(uint8_t* at, const std::string& text, size_t width, char pad) {
    std::memset(at, pad, width);
    std::memcpy(at, text.data(), std::min(text.size(), width));
}

inline void Add128(uint8_t* at, uint64_t amount) {
    uint128 value = U128FromHalves(Get(at, 8), Get(at + 8, 8)) + amount;
    Put(at, static_cast<uint64_t>(value & 0xFFFFFFFFFFFFFFFFull), 8);
    Put(at + 8, static_cast<uint64_t>(value >> 64), 8);
}

// A description that cannot be used: a usage error naming it.
[[noreturn]] inline void Fail(const std::string& origin, const std::string& problem) {
    throw UsageError("Simulated drive description " + origin + ": " + problem);
}

}  // namespace kavo::sim
