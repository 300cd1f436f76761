#pragma once
// Named fields of the structures a simulated drive description may override.
#include <cstdint>
#include <string>
#include <vector>

#include <json/value.h>

namespace kavo::sim {

enum class FieldKind { Number, Ascii, Text };  // Ascii: space padded; Text: zero padded

struct Field {
    std::string name;
    uint32_t offset;
    uint32_t width;
    FieldKind kind;
};

const std::vector<Field>& IdentifyControllerFields();
const std::vector<Field>& IdentifyNamespaceFields();
const std::vector<Field>& SmartFields();
const std::vector<Field>& ErrorEntryFields();
const std::vector<Field>& FirmwareSlotFields();

// Applies the members of `object` to `bytes` through `fields`. Members named
// in `skip` are left for the caller. "raw" (hex text), "raw file" (binary
// file relative to baseDir) and "bytes" ({"offset": "hex bytes"}) work on
// every structure. Raises UsageError naming `origin` and `what`.
void ApplyFields(const Json::Value& object, const std::vector<Field>& fields, uint8_t* bytes, size_t size,
                 const std::string& origin, const std::string& what, const std::string& baseDir,
                 const std::vector<std::string>& skip = {});

// Parses a number member: JSON number, decimal text or "0x" hex text; up to
// 128 bits. Raises UsageError when it does not fit `width` bytes.
void ParseNumber(const Json::Value& value, uint32_t width, uint8_t* out, const std::string& origin,
                 const std::string& what);
uint64_t ParseUnsigned(const Json::Value& value, uint64_t maximum, const std::string& origin, const std::string& what);

}  // namespace kavo::sim
