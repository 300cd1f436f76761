// Verification of a sample against parsed rules.
#include "base/kavo_errors.h"
#include "base/kavo_log.h"
#include "info/nvme_info.h"
#include "base/kavo_text.h"
#include "decode/parameters.h"

namespace kavo {
namespace {

template <typename T>
bool Holds(const std::string& op, T value, T limit) {
    if (op == "=") return value == limit;
    if (op == "!=") return value != limit;
    if (op == ">") return value > limit;
    if (op == ">=") return value >= limit;
    if (op == "<") return value < limit;
    if (op == "<=") return value <= limit;
    return false;
}

std::string Member(const Json::Value& rule, const char* key) {
    const Json::Value& value = rule[key];
    return value.isString() ? value.asString() : "";
}

}  // namespace

bool CheckRule(const std::string& name, const std::string& op, const std::string& limit, const std::string& rawValue,
               std::string& message) {
    KLOG(Verbose) << "Checking rule " << name << " " << op << " " << limit << " with value  " << rawValue;
    std::string value = Trim(rawValue);
    std::string shown = name + " " + op + " " + limit;
    bool passed = false;
    if (op == "match") {
        passed = value == limit;
        if (!passed) message = " Failed rule '" + shown + "' does not match value '" + value + "'";
    } else if (op == "not-match") {
        passed = value != limit;
        if (!passed) message = " Failed rule '" + shown + "' matches value '" + value + "'";
    } else {
        auto [limitNumber, limitUnit] = SplitValueAndUnit(limit);
        auto [valueNumber, valueUnit] = SplitValueAndUnit(value);
        double limitDouble = 0, valueDouble = 0;
        int64_t limitInt = 0, valueInt = 0;
        if (limitUnit != valueUnit) {
            message = " Failed rule '" + shown + "' units do not match. Value unit: " + valueUnit;
        } else if (TryParseDouble(limitNumber, limitDouble) && TryParseDouble(valueNumber, valueDouble)) {
            KLOG(Verbose) << "Limit " << limitDouble << "  Value " << valueDouble << " Operator " << op;
            passed = Holds(op, valueDouble, limitDouble);
            if (!passed) message = " Failed rule '" + shown + "' with value '" + value + "'";
        } else if (TryParseInt64(limitNumber, limitInt) && TryParseInt64(valueNumber, valueInt)) {
            KLOG(Verbose) << "Limit " << limitInt << "  Value " << valueInt << " Operator " << op;
            passed = Holds(op, valueInt, limitInt);
            if (!passed) message = " Failed rule '" + shown + "' with value '" + value + "'";
        } else {
            message = " Failed rule '" + shown + "' parameters are not numbers";
        }
    }
    if (!passed) KLOG(Error) << message;
    return passed;
}

bool VerifyNvmeInfo(Json::Value& info, const Json::Value& rules) {
    try {
        KLOG(Verbose) << "VerifyNvmeInfo started...";
        int64_t start = MonotonicNanoseconds();
        info["rule violations"] = Json::Value(Json::arrayValue);
        int violations = 0;
        const Json::Value& list = rules.isObject() ? rules["rules"] : Json::Value::nullSingleton();
        const Json::Value& parameters = static_cast<const Json::Value&>(info)["nvme"]["parameters"];
        for (const Json::Value& rule : list) {
            std::string parameter = Member(rule, "parameter"), op = Member(rule, "operator");
            std::string limit = Member(rule, "limit"), text = Member(rule, "rule");
            KLOG(Verbose) << "Checking rule " << text;
            Json::Value violation(Json::objectValue);
            violation["name"] = parameter;
            violation["rule operator"] = op;
            violation["rule limit"] = limit;
            violation["rule"] = text;
            if (parameters.isObject() && parameters.isMember(parameter)) {
                const Json::Value& value = parameters[parameter]["value"];
                std::string valueText = value.isString() ? value.asString() : "";
                std::string message;
                if (CheckRule(parameter, op, limit, valueText, message)) {
                    KLOG(Verbose) << "Passed rule '" << text << "' with value '" << valueText << "'";
                    continue;
                }
                violation["value"] = valueText;
                violation["msg"] = message;
            } else if (FindParameter(parameter) != nullptr) {
                continue;  // the drive does not report this parameter in this sample
            } else {
                violation["value"] = "N/A";
                violation["msg"] = "Failed rule for unknown parameter: " + text;
                KLOG(Error) << "Failed rule for unknown parameter: " << text;
            }
            info["rule violations"].append(violation);
            ++violations;
        }
        KLOG(Debug) << "NVMe Verify Information completed in " << ElapsedText(start, 3) << " with " << violations
                    << " rule violations";
        return violations == 0;
    } catch (...) {
        RethrowWithLocation("kavo::VerifyNvmeInfo", "kavo_nvme", __LINE__);
    }
}

}  // namespace kavo
