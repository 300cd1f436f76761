// Compare of a sample with a reference info document: static values must
// stay equal, wear counters may only grow.
#include <algorithm>
#include <cctype>
#include <string_view>

#include "base/kavo_errors.h"
#include "base/kavo_json.h"
#include "base/kavo_log.h"
#include "decode/parameters.h"
#include "info/nvme_info.h"
#include "base/kavo_text.h"

namespace kavo {
namespace {

// A whole number of either sign with up to 128 bits of magnitude (see
// ParseWideInteger); false for an empty text.
bool ParseWholeNumber(const std::string& text, WideSigned& value) {
    return !text.empty() && ParseWideInteger(text, value);
}

bool ParseWholeDouble(const std::string& text, double& value) {
    if (text.empty()) return false;
    char* end = nullptr;
    double parsed = std::strtod(text.c_str(), &end);
    if (end != text.c_str() + text.size()) return false;
    value = parsed;
    return true;
}

Json::Value MismatchEntry(const Json::Value& current, const Json::Value& compareValue, const std::string& type,
                          const std::string& delta, const std::string& message) {
    // A long run adds entries every sample: static keys spare each entry its
    // own key strings, and the skeleton copy spares the member lookups.
    static const Json::Value kSkeleton =
        RecordSkeleton({"compare_type", "compare_value", "delta", "message", "name", "value"});
    Json::Value entry(kSkeleton);
    Json::Value::iterator member = entry.begin();
    *member = type;
    *++member = compareValue;
    *++member = delta;
    *++member = message;
    *++member = current["name"];
    *++member = current["value"];
    return entry;
}

// A value as text: a number a person wrote into a baseline reads as its
// decimal text; objects and arrays as nothing.
std::string Text(const Json::Value& value) {
    if (value.isString()) return value.asString();
    if (value.isNumeric() || value.isBool()) return Json::Value(value).asString();
    return "";
}

// A string value seen in place; other values as Text, kept in `storage`.
std::string_view TextView(const Json::Value& value, std::string& storage) {
    const char* begin = nullptr;
    const char* end = nullptr;
    if (value.isString() && value.getString(&begin, &end)) return std::string_view(begin, static_cast<size_t>(end - begin));
    storage = Text(value);
    return storage;
}

}  // namespace

std::string CompareType(std::string_view setting, std::string_view name, std::string_view source, bool sameDrive) {
    return CompareTypeText(setting, name, source, sameDrive);
}

const char* CompareTypeText(std::string_view setting, std::string_view name, std::string_view source, bool sameDrive) {
    static constexpr std::string_view kAlwaysIgnored[] = {"Host Memory Descriptor List Address (HMDLAL)",
                                                          "Host Memory Descriptor List Address (HMDLAU)",
                                                          "Timestamp", "Timestamp Decoded",
                                                          "Namespace 1 Utilization (NUSE)", "Highest Version Detected"};
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

bool CounterNotDecreased(const std::string& current, const std::string& reference) {
    if (current == reference) return true;
    auto [currentNumber, currentUnit] = SplitValueAndUnit(current);
    auto [referenceNumber, referenceUnit] = SplitValueAndUnit(reference);
    if (currentUnit != referenceUnit) return false;
    WideSigned currentInt, referenceInt;
    if (ParseWholeNumber(currentNumber, currentInt) && ParseWholeNumber(referenceNumber, referenceInt))
        return currentInt >= referenceInt;
    double currentDouble = 0, referenceDouble = 0;
    if (ParseWholeDouble(currentNumber, currentDouble) && ParseWholeDouble(referenceNumber, referenceDouble))
        return currentDouble >= referenceDouble;
    throw std::runtime_error("Counter values are not numbers: '" + current + "' and compare value '" + reference + "'");
}

std::string ValueDelta(const std::string& current, const std::string& reference) {
    auto [currentNumber, currentUnit] = SplitValueAndUnit(current);
    auto [referenceNumber, referenceUnit] = SplitValueAndUnit(reference);
    if (currentUnit != referenceUnit) return "Mismatch";
    WideSigned currentInt, referenceInt;
    if (ParseWholeNumber(currentNumber, currentInt) && ParseWholeNumber(referenceNumber, referenceInt)) {
        // The difference of two 128-bit values can overflow; such deltas are
        // not shown as numbers.
        std::optional<WideSigned> delta = Difference(currentInt, referenceInt);
        if (!delta) return "Mismatch";
        return (delta->negative ? "-" : "") + GroupedDecimal128(delta->magnitude);
    }
    double currentDouble = 0, referenceDouble = 0;
    if (ParseWholeDouble(currentNumber, currentDouble) && ParseWholeDouble(referenceNumber, referenceDouble))
        return GroupedDouble3(currentDouble - referenceDouble);
    return "Mismatch";
}

namespace {

// A member of a value that may not be an object (a compare file is written
// by hand at times): null unless the value is an object.
const Json::Value& MemberOf(const Json::Value& value, const char* key) {
    return value.isObject() ? value[key] : Json::Value::nullSingleton();
}

std::string_view MemberName(const Json::ValueIteratorBase& member) {
    const char* end = nullptr;
    const char* begin = member.memberName(&end);
    return std::string_view(begin, static_cast<size_t>(end - begin));
}

// The "name", "source" and "value" members of a parameter record (null when
// absent) and its "compare type" member (nullptr when absent), found in one
// pass over its few members rather than by a lookup each.
struct RecordMembers {
    const Json::Value* name;
    const Json::Value* source;
    const Json::Value* value;
    Json::Value* compareType;
};

RecordMembers MembersOf(Json::Value& record) {
    const Json::Value* null = &Json::Value::nullSingleton();
    RecordMembers found{null, null, null, nullptr};
    if (!record.isObject()) return found;
    const Json::Value::iterator end = record.end();
    for (Json::Value::iterator member = record.begin(); member != end; ++member) {
        const std::string_view key = MemberName(member);
        if (key == "name") found.name = &*member;
        else if (key == "source") found.source = &*member;
        else if (key == "value") found.value = &*member;
        else if (key == "compare type") found.compareType = &*member;
    }
    return found;
}

// The "value" member of a parameter record: its last member in the records
// quellix writes, looked up in any other.
const Json::Value& ValueOf(const Json::Value& record) {
    if (record.isObject() && !record.empty()) {
        Json::Value::const_iterator last = record.end();
        --last;
        if (MemberName(last) == "value") return *last;
    }
    return MemberOf(record, "value");
}

// Sets the record's compare type; a record kept from the last sample has
// the member already.
void SetCompareType(Json::Value& record, const RecordMembers& members, const char* type) {
    if (members.compareType != nullptr) *members.compareType = Json::StaticString(type);
    else record[Json::StaticString("compare type")] = Json::StaticString(type);
}

}  // namespace

bool CompareNvmeInfo(const Json::Value& reference, Json::Value& current, const std::string& setting,
                     ParameterReuse* reuse) {
    try {
        KLOG(Verbose) << "CompareNvmeInfo started...";
        int64_t start = MonotonicNanoseconds();
        current["compare mismatches"] = Json::Value(Json::arrayValue);
        current["all mismatches"] = Json::Value(Json::arrayValue);
        current["static mismatches"] = 0;
        current["counter mismatches"] = 0;
        const Json::Value& referenceParameters = MemberOf(MemberOf(reference, "nvme"), "parameters");
        Json::Value& parameters = current["nvme"]["parameters"];
        // Looked up read-only: a lookup through `parameters` would insert a null record.
        const Json::Value& currentSerial = static_cast<const Json::Value&>(parameters)["Serial Number (SN)"];
        const Json::Value& referenceSerial = MemberOf(referenceParameters, "Serial Number (SN)");
        bool sameDrive = !(currentSerial.isObject() && referenceSerial.isObject() &&
                           currentSerial["value"] != referenceSerial["value"]);
        KLOG(Debug) << (sameDrive ? " Comparing against the same drive" : " Comparing against different drives");
        // A long run's records mostly keep the compare type the last
        // sample's compare set; then only their values are compared.
        bool typesKept = false;
        if (reuse != nullptr && !reuse->BeginCompare(parameters, setting, sameDrive, typesKept)) reuse = nullptr;
        int failures = 0, staticMismatches = 0, counterMismatches = 0;
        // Both parameter objects are ordered by name: one walk through the
        // two finds each reference record without a lookup.
        Json::Value::const_iterator reference = referenceParameters.isObject() ? referenceParameters.begin()
                                                                               : Json::Value::const_iterator();
        const Json::Value::const_iterator referenceEnd = referenceParameters.isObject() ? referenceParameters.end()
                                                                                        : Json::Value::const_iterator();
        const Json::Value::iterator parametersEnd = parameters.end();
        size_t position = 0;
        for (Json::Value::iterator it = parameters.begin(); it != parametersEnd; ++it, ++position) {
            const std::string_view nameView = MemberName(it);
            while (reference != referenceEnd && MemberName(reference) < nameView) ++reference;
            const Json::Value& other =
                reference != referenceEnd && MemberName(reference) == nameView ? *reference : Json::Value::nullSingleton();
            Json::Value& record = *it;
            size_t index = 0;
            const bool known = reuse != nullptr && reuse->IndexAt(position, nameView, index);
            if (known && other.isObject()) {
                const Json::Value* value = typesKept ? reuse->TypedValue(index, &record) : nullptr;
                // The type it keeps, or the one worked out below, stays for
                // the next sample ("missing" does not).
                reuse->NoteType(index);
                if (value != nullptr && ValueOf(other) == *value) continue;
            }
            const RecordMembers members = MembersOf(record);
            std::string nameText, sourceText;
            // A literal: the record refers to it rather than holding a copy.
            const char* typeText = CompareTypeText(setting, TextView(*members.name, nameText),
                                                   TextView(*members.source, sourceText), sameDrive);
            const std::string type = typeText;
            if (!other.isObject()) {
                const std::string name(nameView);
                SetCompareType(record, members, "missing");
                std::string message = "'" + name + "' parameter missing in compare file";
                Json::Value entry = MismatchEntry(record, "", type, "Compare value missing", message);
                current["all mismatches"].append(entry);
                if (type != "ignore") {
                    current["compare mismatches"].append(entry);
                    ++failures;
                    KLOG(Error) << "Compare fail: " << message;
                }
                continue;
            }
            // The members found stay valid: a map keeps its elements in place
            // when another member is added.
            SetCompareType(record, members, typeText);
            const Json::Value& compareValue = ValueOf(other);
            if (compareValue == *members.value) continue;
            const std::string name(nameView), value = Text(*members.value), compareText = Text(compareValue);
            std::string delta = ValueDelta(value, compareText);
            std::string message = "'" + name + "' value '" + value + "' does not match compare value '" + compareText + "'";
            const Json::Value& entry =
                current["all mismatches"].append(MismatchEntry(record, compareValue, type, delta, message));
            if (type == "exact") {
                ++staticMismatches;
                ++failures;
                current["compare mismatches"].append(entry);
                KLOG(Error) << "Compare fail: " << message;
            } else if (type == "counter") {
                bool grew = false;
                try {
                    grew = CounterNotDecreased(value, compareText);
                } catch (const std::exception& e) {
                    throw std::runtime_error("Compare of '" + name + "' failed: " + e.what());
                }
                if (!grew) {
                    ++counterMismatches;
                    ++failures;
                    std::string less = "'" + name + "' value '" + value + "' is less than compare value '" + compareText + "'";
                    current["compare mismatches"].append(MismatchEntry(record, compareValue, type, delta, less));
                    KLOG(Error) << "Compare fail: " << less;
                }
            }
        }
        current["static mismatches"] = staticMismatches;
        current["counter mismatches"] = counterMismatches;
        KLOG(Debug) << "Compare Nvme Information completed in " << ElapsedText(start, 3) << " with " << failures
                    << " mismatches";
        return failures == 0;
    } catch (...) {
        RethrowWithLocation("kavo::CompareNvmeInfo", "kavo_nvme", __LINE__);
    }
}

}  // namespace kavo
