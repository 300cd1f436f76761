// Compare of a sample with a reference info document.
#include "info/compare.h"

#include <algorithm>
#include <cstdlib>
#include <iterator>
#include <map>
#include <mutex>
#include <vector>

#include "base/kavo_errors.h"
#include "base/kavo_log.h"
#include "base/kavo_text.h"

namespace kavo {
namespace {

// A value text of a document written before records carried numbers:
// "1,234 Min" is the figure 1234 in the unit "Min"; "12 (48 KiB)" the
// figure 12 without a unit. Only such a reference is read this way.
struct LegacyFigure {
    std::string number, unit;
    explicit LegacyFigure(const std::string& text) {
        std::string clean;
        for (char c : text)
            if (c != ',') clean += c;
        const size_t blank = clean.find(' ');
        number = clean.substr(0, blank);
        if (blank == std::string::npos) return;
        unit = clean.substr(blank + 1);
        unit = unit.substr(0, unit.find(' '));
        if (!unit.empty() && unit[0] == '(') unit.clear();
    }
    bool Integer(WideSigned& value) const { return !number.empty() && ParseWideInteger(number, value); }
    bool Real(double& value) const {
        char* end = nullptr;
        value = std::strtod(number.c_str(), &end);
        return !number.empty() && end == number.c_str() + number.size();
    }
};

// The difference of two figures in the earlier way: exact integers, else
// reals with three decimals, else "Mismatch".
std::string LegacyDelta(const std::string& current, const std::string& reference) {
    const LegacyFigure now(current), before(reference);
    if (now.unit != before.unit) return "Mismatch";
    WideSigned a, b;
    double x = 0, y = 0;
    if (now.Integer(a) && before.Integer(b)) {
        const Number delta = Difference(Number::Integer(a), Number::Integer(b));
        return delta.present() ? delta.GroupedText() : "Mismatch";
    }
    return now.Real(x) && before.Real(y) ? GroupedDouble3(x - y) : "Mismatch";
}

// Whether a counter did not decrease, in the earlier way; false for texts
// that are not figures of one unit.
bool LegacyNotDecreased(const std::string& current, const std::string& reference) {
    const LegacyFigure now(current), before(reference);
    if (now.unit != before.unit) return false;
    WideSigned a, b;
    double x = 0, y = 0;
    if (now.Integer(a) && before.Integer(b)) return a >= b;
    return now.Real(x) && before.Real(y) && x >= y;
}

std::string Delta(const Parameter& current, const Parameter& reference) {
    if (!reference.number.present()) return LegacyDelta(current.value, reference.value);
    const Number delta = Difference(current.number, reference.number);
    return delta.present() ? delta.GroupedText() : "Mismatch";
}

bool NotDecreased(const Parameter& current, const Parameter& reference) {
    if (!reference.number.present()) return LegacyNotDecreased(current.value, reference.value);
    return current.number.present() && CompareNumbers(current.number, reference.number) >= 0;
}

Json::Value MismatchEntry(const Parameter& current, const std::string& compareValue, const char* type,
                          const std::string& delta, const std::string& message) {
    // A long run lists a few entries every sample: the keys are literals the
    // entry refers to rather than copies.
    Json::Value entry(Json::objectValue);
    entry[Json::StaticString("compare_type")] = Json::StaticString(type);
    entry[Json::StaticString("compare_value")] = compareValue;
    entry[Json::StaticString("delta")] = delta;
    entry[Json::StaticString("message")] = message;
    entry[Json::StaticString("name")] = Json::StaticString(current.name().data());
    entry[Json::StaticString("value")] = current.value;
    return entry;
}

// The compare type of every parameter of the table for a setting and
// whether the reference is of the same drive: worked out once per
// combination, as it depends on nothing else.
const std::vector<const char*>& CompareTypes(const std::string& setting, bool sameDrive) {
    static std::mutex mutex;
    static std::map<std::pair<std::string, bool>, std::vector<const char*>> tables;
    const std::lock_guard<std::mutex> lock(mutex);
    std::vector<const char*>& types = tables[{setting, sameDrive}];
    if (types.empty())
        for (size_t index = 0; index < ParameterCount(); ++index)
            types.push_back(CompareTypeText(setting, ParameterName(index), ParameterAt(index).source, sameDrive));
    return types;
}

bool SameDrive(const InfoDocument& reference, const InfoDocument& current) {
    const Parameter* now = current.parameters.Find("Serial Number (SN)");
    const Parameter* before = reference.parameters.Find("Serial Number (SN)");
    return now == nullptr || before == nullptr || now->value == before->value;
}

}  // namespace

const char* CompareTypeText(std::string_view setting, std::string_view name, std::string_view source, bool sameDrive) {
    static constexpr std::string_view kAlwaysIgnored[] = {"Host Memory Descriptor List Address (HMDLAL)",
                                                          "Host Memory Descriptor List Address (HMDLAU)",
                                                          "Timestamp", "Timestamp Decoded",
                                                          "Namespace 1 Utilization (NUSE)", "Highest Version Detected",
                                                          // Where the host put the drive, not the drive: a
                                                          // renumbering after a reboot is no change of it.
                                                          "OS Location"};
    static constexpr std::string_view kIgnoredSources[] = {"Log Page 1", "Log Page 4", "Log Page 5", "Log Page 6",
                                                           "Get Feature 02h"};
    static constexpr std::string_view kWarningFlags[] = {
        "Critical Warnings", "Available Space Below Threshold", "Temperature Over/Under Threshold", "Reliability Degraded",
        "Media in Read Only", "Volatile Backup Failed", "Persistent Memory Unreliable", "EG Critical Warnings",
        "EG Available Space Below Threshold", "EG Reliability Degraded", "EG in Read Only"};
    auto in = [](const auto& list, std::string_view text) {
        return std::find(std::begin(list), std::end(list), text) != std::end(list);
    };
    if (name == "Host Timestamp" || name == "Host Timestamp Decoded") return "ignore";
    if (setting == "all") return "exact";
    if (in(kAlwaysIgnored, name)) return "ignore";
    if (in(kIgnoredSources, source)) return "ignore";
    if (setting == "firmware" && name == "Firmware Revision (FR)") return "ignore";
    if (setting == "firmware" && source == "Log Page 3") return "ignore";
    if (source != "Log Page 2") return "exact";
    if (name == "Composite Temperature" || name.substr(0, 18) == "Temperature Sensor") return "ignore";
    if (in(kWarningFlags, name)) return "exact";
    return sameDrive ? "counter" : "ignore";
}

bool CompareNvmeInfo(const InfoDocument& reference, InfoDocument& current, const std::string& setting) {
    int64_t start = MonotonicNanoseconds();
    const bool sameDrive = SameDrive(reference, current);
    KLOG(Debug) << (sameDrive ? " Comparing against the same drive" : " Comparing against different drives");
    Json::Value failed(Json::arrayValue), all(Json::arrayValue);
    int failures = 0, staticMismatches = 0, counterMismatches = 0;
    auto fail = [&](const Json::Value& entry) {
        failed.append(entry);
        ++failures;
        KLOG(Error) << "Compare fail: " << entry["message"].asString();
    };
    const std::vector<const char*>& types = CompareTypes(setting, sameDrive);
    for (Parameter* record : current.parameters.Ordered()) {
        const char* type = types[record->index];
        const Parameter* other = reference.parameters.AtIndex(record->index);
        const std::string_view name = record->name();
        if (other == nullptr) {
            record->compareType = "missing";
            const Json::Value entry = MismatchEntry(*record, "", type, "Compare value missing",
                                                    "'" + std::string(name) + "' parameter missing in compare file");
            all.append(entry);
            if (std::string_view(type) != "ignore") fail(entry);
            continue;
        }
        record->compareType = type;
        if (other->value == record->value) continue;
        const std::string delta = Delta(*record, *other);
        const Json::Value entry = MismatchEntry(*record, other->value, type, delta,
                                                "'" + std::string(name) + "' value '" + record->value +
                                                    "' does not match compare value '" + other->value + "'");
        all.append(entry);
        if (std::string_view(type) == "exact") {
            ++staticMismatches;
            fail(entry);
        } else if (std::string_view(type) == "counter" && !NotDecreased(*record, *other)) {
            ++counterMismatches;
            fail(MismatchEntry(*record, other->value, type, delta,
                               "'" + std::string(name) + "' value '" + record->value + "' is less than compare value '" +
                                   other->value + "'"));
        }
    }
    Json::Value& document = current.document;
    document["compare mismatches"] = std::move(failed);
    document["all mismatches"] = std::move(all);
    document["static mismatches"] = staticMismatches;
    document["counter mismatches"] = counterMismatches;
    KLOG(Debug) << "Compare Nvme Information completed in " << ElapsedText(start, 3) << " with " << failures
                << " mismatches";
    return failures == 0;
}

}  // namespace kavo
