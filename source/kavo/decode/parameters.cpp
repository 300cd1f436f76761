// Parameter records, name expansion, vendor lookup and version gates.
#include "decode/parameters.h"

#include <algorithm>
#include <cctype>
#include <mutex>

#include "base/kavo_errors.h"
#include "base/kavo_log.h"
#include "base/kavo_text.h"
#include "decode/parameter_table.h"

namespace kavo {
namespace {

using Table = std::map<std::string, ParameterDescription>;

Table BuildTable() {
    Table table;
    size_t groups = 0;
    const ParameterGroup* group = ParameterGroups(groups);
    for (size_t g = 0; g < groups; ++g)
        for (size_t r = 0; r < group[g].count; ++r)
            table.emplace(group[g].rows[r].name, ParameterDescription{group[g].source, group[g].rows[r].description});
    return table;
}

Table& MutableTable() {
    static Table table = BuildTable();
    return table;
}

struct ExpansionRule {
    const char* prefix;
    int first;
    int last;
};

// Families of numbered names; the first "#" takes each number of the range.
const ExpansionRule kRules[] = {
    {"Power State #", 0, 31}, {"Temperature Sensor #", 1, 8}, {"LBA Range #", 0, 15}, {"Self-Test #", 1, 20},
    {"Firmware Slot #", 1, 7}, {"Namespace #", 1, 1},         {"Error #", 0, 255},
};

std::string ReplaceFirstHash(const std::string& name, int number) {
    std::string result = name;
    size_t hash = result.find('#');
    if (hash != std::string::npos) result.replace(hash, 1, std::to_string(number));
    return result;
}

bool StartsWith(const std::string& text, const std::string& prefix) { return text.compare(0, prefix.size(), prefix) == 0; }

bool VersionGate(uint32_t gateVersion, uint32_t ver, uint32_t& highest, bool fieldNonZero) {
    if (ver < gateVersion && !fieldNonZero) return false;
    if (highest < gateVersion) highest = gateVersion;
    return true;
}

}  // namespace

const std::map<std::string, ParameterDescription>& ParameterDescriptions() { return MutableTable(); }

void ExpandParameterNames() {
    static std::once_flag expanded;
    std::call_once(expanded, [] {
        Table& table = MutableTable();
        std::vector<std::pair<std::string, ParameterDescription>> templates;
        for (const auto& entry : table)
            if (entry.first.find('#') != std::string::npos) templates.push_back(entry);
        for (const auto& [name, description] : templates) {
            for (const ExpansionRule& rule : kRules) {
                if (!StartsWith(name, rule.prefix)) continue;
                for (int number = rule.first; number <= rule.last; ++number) {
                    std::string concrete = ReplaceFirstHash(name, number);
                    if (StartsWith(concrete, "Namespace 1 LBA #")) {
                        for (int format = 0; format <= 15; ++format)
                            table.emplace(ReplaceFirstHash(concrete, format), description);
                    } else {
                        table.emplace(concrete, description);
                    }
                }
                break;
            }
        }
        for (auto it = table.begin(); it != table.end();) {
            if (it->first.find('#') != std::string::npos) it = table.erase(it);
            else ++it;
        }
    });
}

const ParameterDescription* FindParameter(const std::string& name) {
    const Table& table = MutableTable();
    auto found = table.find(name);
    if (found == table.end() || name.find('#') != std::string::npos) return nullptr;
    return &found->second;
}

void AddParameter(Json::Value& parameters, const std::string& name, const std::string& value) {
    const ParameterDescription* description = FindParameter(name);
    if (description == nullptr) throw KavoError("Parameter '" + name + "' not in parameter descriptions");
    // Every sample holds hundreds of records: static member keys spare each
    // record four key strings.
    Json::Value& record = parameters[name];
    record[Json::StaticString("name")] = name;
    record[Json::StaticString("value")] = value;
    record[Json::StaticString("description")] = description->description;
    record[Json::StaticString("source")] = description->source;
    KLOG(Verbose) << "Adding parameter '" << name << "' = " << value;
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
