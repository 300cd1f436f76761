#pragma once
// Parameter records, the closed table of legal parameter names with their
// sources and descriptions, the PCI vendor table and the version gates.
#include <cstdint>
#include <string>
#include <string_view>

#include <json/value.h>

namespace kavo {

// Both views refer to NUL-terminated literals of the static table.
struct ParameterDescription {
    std::string_view source;
    std::string_view description;
};

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

// Writes or overwrites the record of `name` in `parameters`; raises KavoError
// for a name that is not in the table.
void AddParameter(Json::Value& parameters, std::string_view name, const std::string& value);
// Whether `parameters` holds the record of `name`: during a sample that reuses
// the records of the last one, whether this sample wrote it.
bool HasParameter(const Json::Value& parameters, std::string_view name);

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
