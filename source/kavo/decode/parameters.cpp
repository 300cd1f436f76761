// Parameter records, name expansion, vendor lookup and version gates.
#include "decode/parameters.h"

#include <algorithm>
#include <cctype>
#include <vector>

#include "base/kavo_errors.h"
#include "base/kavo_json.h"
#include "base/kavo_log.h"
#include "base/kavo_text.h"
#include "decode/parameter_reuse.h"
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
            for (size_t r = 0; r < group[g].count; ++r) flat.push_back({group[g].source, group[g].rows[r].description});
        return flat;
    }();
    return rows;
}

// A parameter record with its four members, in the order the object keeps.
const Json::Value& ParameterSkeleton() {
    static const Json::Value skeleton = RecordSkeleton({"description", "name", "source", "value"});
    return skeleton;
}

bool VersionGate(uint32_t gateVersion, uint32_t ver, uint32_t& highest, bool fieldNonZero) {
    if (ver < gateVersion && !fieldNonZero) return false;
    if (highest < gateVersion) highest = gateVersion;
    return true;
}

}  // namespace

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

namespace {

// Writes the record of table index `index` into `parameters`.
Json::Value& WriteRecord(Json::Value& parameters, size_t index, const std::string& value) {
    const ParameterDescription& description = ParameterAt(index);
    // Every sample holds hundreds of records. The record's key, its name,
    // description and source are the table's own literals (NUL-terminated),
    // referred to rather than copied, and the member keys are static.
    const Json::StaticString nameText(kParameterNames[index].data());
    const Json::StaticString descriptionText(description.description.data());
    const Json::StaticString sourceText(description.source.data());
    Json::Value& record = parameters[nameText];
    if (record.isNull()) {
        // A new record: a copy of the four-member skeleton, filled in the
        // members' own order, costs no member lookups.
        record = ParameterSkeleton();
        Json::Value::iterator member = record.begin();
        *member = descriptionText;
        *++member = nameText;
        *++member = sourceText;
        *++member = value;
    } else {
        record[Json::StaticString("name")] = nameText;
        record[Json::StaticString("value")] = value;
        record[Json::StaticString("description")] = descriptionText;
        record[Json::StaticString("source")] = sourceText;
    }
    return record;
}

}  // namespace

void AddParameter(Json::Value& parameters, std::string_view name, const std::string& value) {
    size_t index = 0;
    if (!FindParameterIndex(name, index))
        throw KavoError("Parameter '" + std::string(name) + "' not in parameter descriptions");
    ParameterReuse* reuse = ParameterReuse::ActiveFor(parameters);
    if (reuse == nullptr || !reuse->Overwrite(index, value)) {
        Json::Value& record = WriteRecord(parameters, index, value);
        if (reuse != nullptr) reuse->Remember(index, record);
    }
    KLOG(Verbose) << "Adding parameter '" << name << "' = " << value;
}

bool HasParameter(const Json::Value& parameters, std::string_view name) {
    size_t index = 0;
    if (const ParameterReuse* reuse = ParameterReuse::ActiveFor(parameters); reuse != nullptr && FindParameterIndex(name, index)) {
        bool known = false;
        const bool written = reuse->Written(index, known);
        if (known) return written;  // a kept record counts once this sample wrote it
    }
    return parameters.isObject() && parameters.isMember(name.data(), name.data() + name.size());
}

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
