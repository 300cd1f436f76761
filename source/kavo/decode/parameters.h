#pragma once
// Parameter records, the closed table of legal parameter names with their
// sources, descriptions and units, the PCI vendor table and the version
// gates.
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "base/number.h"
#include "decode/parameter_table.h"

namespace kavo {

// Both views refer to NUL-terminated literals of the static table.
struct ParameterDescription {
    std::string_view source;
    std::string_view description;
    Unit unit;
};

// The name a document gives a unit: "celsius", "data units", ...; "" for
// Unit::None.
const char* UnitName(Unit unit);

// The table of every concrete parameter name ("Power State 0 Maximum Power
// (MP)"), in byte order of the names. The numbered families of the template
// rows are expanded when the program is built, not when it starts.
size_t ParameterCount();
std::string_view ParameterName(size_t index);
const ParameterDescription& ParameterAt(size_t index);
// The description of a concrete name, or nullptr (one hash, one compare).
const ParameterDescription* FindParameter(std::string_view name);
// The table index of a concrete name; false for a name not in the table.
bool FindParameterIndex(std::string_view name, size_t& index);

// A field as a decoder renders it: the display text and, for a field with a
// unit, its number (absent when the text says the drive reports none).
struct Rendered {
    Rendered(std::string text) : text(std::move(text)) {}
    Rendered(const char* text) : text(text) {}
    Rendered(std::string text, Number number) : text(std::move(text)), number(number) {}
    std::string text;
    Number number;
};

// One parameter of a sample: the table row it belongs to, its display text,
// its number, and the compare type a compare gave it.
struct Parameter {
    uint16_t index;  // in the table
    std::string value;
    Number number;
    const char* compareType = nullptr;  // "exact", "counter", "ignore", "missing" or none

    std::string_view name() const { return ParameterName(index); }
    const ParameterDescription& description() const { return ParameterAt(index); }
    Unit unit() const { return description().unit; }
};

// The parameters of one sample, found by name in constant time.
class Parameters {
public:
    // Writes or overwrites the record of `name` (its compare type stays);
    // raises KavoError for a name that is not in the table.
    Parameter& Add(std::string_view name, Rendered rendered);
    // The same for a record of another sample (its compare type is not taken).
    Parameter& Add(const Parameter& record);
    const Parameter* Find(std::string_view name) const;
    Parameter* Find(std::string_view name);
    const Parameter* AtIndex(size_t index) const;
    bool Has(std::string_view name) const { return Find(name) != nullptr; }
    size_t size() const { return records_.size(); }
    bool empty() const { return records_.empty(); }
    // The records in the order they were added, and in name order.
    const std::vector<Parameter>& Records() const { return records_; }
    std::vector<Parameter>& Records() { return records_; }
    std::vector<const Parameter*> Ordered() const;
    std::vector<Parameter*> Ordered();

private:
    Parameter& AddAt(size_t index, Rendered rendered);
    std::vector<Parameter> records_;
    std::vector<uint16_t> slots_;  // by table index: position in records_ + 1; 0 absent
};

void AddParameter(Parameters& parameters, std::string_view name, Rendered rendered);
bool HasParameter(const Parameters& parameters, std::string_view name);

// Vendor name of a PCI vendor identifier text such as "0x144D", or "Unknown".
std::string LookupVendorName(const std::string& identifier);

// "DRIVE " + drive + " : " + vendor + " " + model, the vendor's name removed
// from the model (any case) and the size text appended unless the model
// already shows it.
std::string DriveDescription(const std::string& drive, const std::string& vendor, const std::string& model,
                             const std::string& sizeText);

// Whether a field of NVMe 1.3 / 1.4 is reported; raises `highest` to the
// gate's version when it is.
bool VersionGate13(uint32_t ver, uint32_t& highest, bool fieldNonZero);
bool VersionGate14(uint32_t ver, uint32_t& highest, bool fieldNonZero);

constexpr uint32_t kVersion121 = 0x00010201;
constexpr uint32_t kVersion13 = 0x00010300;
constexpr uint32_t kVersion14 = 0x00010400;

}  // namespace kavo
