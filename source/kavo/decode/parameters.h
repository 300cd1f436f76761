#pragma once
// Parameter records, the closed table of legal parameter names with their
// sources and descriptions, the PCI vendor table and the version gates.
#include <cstdint>
#include <map>
#include <string>

#include <json/value.h>

namespace kavo {

struct ParameterDescription {
    std::string source;
    std::string description;
};

// The table, keyed by name in byte order. Holds templates ("#") until
// ExpandParameterNames has run once.
const std::map<std::string, ParameterDescription>& ParameterDescriptions();
// Replaces every template row by its numbered rows; idempotent.
void ExpandParameterNames();
// The description of a concrete name, or nullptr.
const ParameterDescription* FindParameter(const std::string& name);

// Writes or overwrites the record of `name` in `parameters`; raises KavoError
// for a name that is not in the table.
void AddParameter(Json::Value& parameters, const std::string& name, const std::string& value);

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
