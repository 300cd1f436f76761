// Parameter records, the table lookups, vendor lookup and version gates.
#include "decode/parameters.h"

#include <algorithm>
#include <cctype>
#include <vector>

#include "base/kavo_errors.h"
#include "base/kavo_log.h"
#include "base/kavo_text.h"
#include "decode/parameter_table.h"

namespace kavo {
namespace {

#include "decode/parameter_names.inc"

// The template rows of parameter_table.cpp, flat, as the generated table
// counts them.
const std::vector<ParameterDescription>& Rows() {
    static const std::vector<ParameterDescription> rows = [] {
        std::vector<ParameterDescription> flat;
        size_t groups = 0;
        const ParameterGroup* group = ParameterGroups(groups);
        for (size_t g = 0; g < groups; ++g)
            for (size_t r = 0; r < group[g].count; ++r)
                flat.push_back({group[g].source, group[g].rows[r].description, group[g].rows[r].unit});
        return flat;
    }();
    return rows;
}

bool VersionGate(uint32_t gateVersion, uint32_t ver, uint32_t& highest, bool fieldNonZero) {
    if (ver < gateVersion && !fieldNonZero) return false;
    if (highest < gateVersion) highest = gateVersion;
    return true;
}

}  // namespace

const char* UnitName(Unit unit) {
    switch (unit) {
        case Unit::None: return "";
        case Unit::Count: return "count";
        case Unit::Identifier: return "identifier";
        case Unit::Code: return "code";
        case Unit::BitField: return "bit field";
        case Unit::Celsius: return "celsius";
        case Unit::Percent: return "percent";
        case Unit::Bytes: return "bytes";
        case Unit::DataUnits: return "data units";
        case Unit::Blocks: return "blocks";
        case Unit::Hours: return "hours";
        case Unit::Minutes: return "minutes";
        case Unit::Seconds: return "seconds";
        case Unit::Milliseconds: return "milliseconds";
        case Unit::Microseconds: return "microseconds";
        case Unit::Watts: return "watts";
    }
    return "";
}

size_t ParameterCount() { return kParameterNameCount; }
std::string_view ParameterName(size_t index) { return kParameterNames[index]; }
const ParameterDescription& ParameterAt(size_t index) { return Rows()[kParameterRows[index]]; }

bool FindParameterIndex(std::string_view name, size_t& index) {
    constexpr size_t kMask = kParameterSlotCount - 1;
    for (size_t slot = ParameterNameHash(name) & kMask;; slot = (slot + 1) & kMask) {
        const size_t entry = kParameterSlots[slot];
        if (entry == 0) return false;
        if (kParameterNames[entry - 1] == name) {
            index = entry - 1;
            return true;
        }
    }
}

const ParameterDescription* FindParameter(std::string_view name) {
    size_t index = 0;
    return FindParameterIndex(name, index) ? &ParameterAt(index) : nullptr;
}

Parameter& Parameters::Add(std::string_view name, Rendered rendered) {
    size_t index = 0;
    if (!FindParameterIndex(name, index))
        throw KavoError("Parameter '" + std::string(name) + "' not in parameter descriptions");
    return AddAt(index, std::move(rendered));
}

Parameter& Parameters::Add(const Parameter& record) { return AddAt(record.index, Rendered(record.value, record.number)); }

Parameter& Parameters::AddAt(size_t index, Rendered rendered) {
    KLOG(Verbose) << "Adding parameter '" << ParameterName(index) << "' = " << rendered.text;
    if (slots_.empty()) {
        slots_.assign(ParameterCount(), 0);
        records_.reserve(512);  // a full sample's records, without moving them as they come
    }
    if (slots_[index] != 0) {
        Parameter& record = records_[slots_[index] - 1];
        record.value = std::move(rendered.text);
        record.number = rendered.number;
        return record;
    }
    records_.push_back(Parameter{static_cast<uint16_t>(index), std::move(rendered.text), rendered.number});
    slots_[index] = static_cast<uint16_t>(records_.size());
    return records_.back();
}

const Parameter* Parameters::AtIndex(size_t index) const {
    if (index >= slots_.size() || slots_[index] == 0) return nullptr;
    return &records_[slots_[index] - 1];
}

const Parameter* Parameters::Find(std::string_view name) const {
    size_t index = 0;
    return FindParameterIndex(name, index) ? AtIndex(index) : nullptr;
}

Parameter* Parameters::Find(std::string_view name) {
    return const_cast<Parameter*>(static_cast<const Parameters&>(*this).Find(name));
}

std::vector<const Parameter*> Parameters::Ordered() const {
    std::vector<const Parameter*> ordered;
    ordered.reserve(records_.size());
    for (const Parameter& record : records_) ordered.push_back(&record);
    // Table indices follow the byte order of the names.
    std::sort(ordered.begin(), ordered.end(), [](const Parameter* a, const Parameter* b) { return a->index < b->index; });
    return ordered;
}

std::vector<Parameter*> Parameters::Ordered() {
    std::vector<Parameter*> ordered;
    for (const Parameter* record : static_cast<const Parameters&>(*this).Ordered())
        ordered.push_back(const_cast<Parameter*>(record));
    return ordered;
}

void AddParameter(Parameters& parameters, std::string_view name, Rendered rendered) {
    parameters.Add(name, std::move(rendered));
}

bool HasParameter(const Parameters& parameters, std::string_view name) { return parameters.Has(name); }

std::string LookupVendorName(const std::string& identifier) {
    static const std::map<std::string, std::string> kVendors = {
        {"0x8086", "Intel"},   {"0x144D", "Samsung"}, {"0x1C5C", "SK Hynix"},        {"0x1179", "Toshiba"},
        {"0x1BB1", "Seagate"}, {"0x1B96", "Western Digital"}, {"0x1344", "Micron"}, {"0x15B7", "Sandisk"},
    };
    std::string key = identifier;
    std::transform(key.begin(), key.end(), key.begin(), [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
    if (key.size() > 1) key[1] = 'x';
    auto found = kVendors.find(key);
    return found == kVendors.end() ? "Unknown" : found->second;
}

std::string DriveDescription(const std::string& drive, const std::string& vendor, const std::string& model,
                             const std::string& sizeText) {
    auto lower = [](std::string text) {
        std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
        return text;
    };
    std::string shown = Trim(model);
    size_t at = lower(shown).find(lower(vendor));
    if (at != std::string::npos) shown = Trim(shown.erase(at, vendor.size()));
    std::string description = "DRIVE " + drive + " : " + vendor + " " + shown;
    if (!sizeText.empty() && shown.find(sizeText) == std::string::npos) description += " " + sizeText;
    return description;
}

bool VersionGate13(uint32_t ver, uint32_t& highest, bool fieldNonZero) {
    return VersionGate(kVersion13, ver, highest, fieldNonZero);
}

bool VersionGate14(uint32_t ver, uint32_t& highest, bool fieldNonZero) {
    return VersionGate(kVersion14, ver, highest, fieldNonZero);
}

}  // namespace kavo
