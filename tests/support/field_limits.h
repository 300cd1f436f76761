#pragma once
// Decoded fields at the limits of their width. Each field of a structure is
// set to its largest value (all its bytes FF) and to a value that needs its
// top byte (its bytes cleared, the top bit of the last one set), one field at
// a time on a base structure. A field read narrower, wider, signed or at a
// shifted offset shows in its own text or number, or in another field whose
// number should have stayed as it is in the base structure.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "decode/parameters.h"

namespace test {

// A field's text and number ("" for none).
struct Shown {
    const char* value;
    const char* number;
};

struct FieldLimits {
    const char* name;      // the parameter
    size_t offset, width;  // its bytes in the structure
    Shown largest, topByte;
    const char* unit = nullptr;  // the unit name, when checked
    // The value changes what other fields mean or whether they are decoded
    // at all (a type code, a count of entries): the others are not compared.
    bool changesOthers = false;
};

// The parameters `decode` makes of a structure.
using DecodeStructure = std::function<kavo::Parameters(const std::vector<uint8_t>&)>;

inline std::string ValueIn(const kavo::Parameters& parameters, const std::string& name) {
    const kavo::Parameter* record = parameters.Find(name);
    return record != nullptr ? record->value : "";
}

inline std::string NumberIn(const kavo::Parameters& parameters, const std::string& name) {
    const kavo::Parameter* record = parameters.Find(name);
    return record != nullptr && record->number.present() ? record->number.Literal() : "";
}

inline void ExpectFieldsAtTheirLimits(const std::vector<uint8_t>& base, const std::vector<FieldLimits>& fields,
                                      const DecodeStructure& decode) {
    const kavo::Parameters baseParameters = decode(base);
    std::map<std::string, std::string> baseNumbers;
    for (const FieldLimits& field : fields) baseNumbers[field.name] = NumberIn(baseParameters, field.name);
    auto overlap = [](const FieldLimits& a, const FieldLimits& b) {
        return a.offset < b.offset + b.width && b.offset < a.offset + a.width;
    };
    for (const FieldLimits& field : fields) {
        ASSERT_LE(field.offset + field.width, base.size()) << field.name;
        for (const bool largest : {true, false}) {
            std::vector<uint8_t> bytes = base;
            const auto first = bytes.begin() + static_cast<std::ptrdiff_t>(field.offset);
            std::fill_n(first, field.width, largest ? 0xFF : 0x00);
            if (!largest) bytes[field.offset + field.width - 1] = 0x80;
            const kavo::Parameters parameters = decode(bytes);
            const Shown& expected = largest ? field.largest : field.topByte;
            const std::string pattern = std::string(field.name) + (largest ? " all FF" : " top byte 80h");
            EXPECT_EQ(ValueIn(parameters, field.name), expected.value) << pattern;
            EXPECT_EQ(NumberIn(parameters, field.name), expected.number) << pattern;
            const kavo::Parameter* record = parameters.Find(field.name);
            if (field.unit != nullptr && record != nullptr) {
                EXPECT_STREQ(kavo::UnitName(record->unit()), field.unit) << pattern;
            }
            if (field.changesOthers) continue;
            for (const FieldLimits& other : fields)
                if (!overlap(other, field)) {
                    EXPECT_EQ(NumberIn(parameters, other.name), baseNumbers[other.name]) << other.name << " with " << pattern;
                }
        }
    }
}

}  // namespace test
