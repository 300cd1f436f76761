// Rules: parsing with the units of the parameters, and verification of a
// sample against them.
#include "info/rules.h"

#include <algorithm>
#include <cstdlib>
#include <utility>

#include "base/kavo_errors.h"
#include "base/kavo_log.h"
#include "base/kavo_text.h"
#include "decode/parameters.h"

namespace kavo {
namespace {

struct OperatorName {
    const char* text;
    RuleOperator kind;
};
const OperatorName kOperators[] = {
    {"match", RuleOperator::Match},   {"not-match", RuleOperator::NotMatch},  {"=", RuleOperator::Equal},
    {"!=", RuleOperator::NotEqual},   {">", RuleOperator::Greater},           {">=", RuleOperator::GreaterOrEqual},
    {"<", RuleOperator::Less},        {"<=", RuleOperator::LessOrEqual},
};

// The unit texts a limit may carry for a unit, each with how many of the
// number's unit it stands for. A value shows its unit after a blank ("35 C",
// "5 %", "12 Min"); counts and the like show none.
struct UnitText {
    const char* text;
    uint64_t scale;
};

std::vector<UnitText> UnitTexts(Unit unit) {
    switch (unit) {
        case Unit::Celsius: return {{"C", 1}};
        case Unit::Percent: return {{"%", 1}};
        case Unit::Minutes: return {{"Min", 1}};
        case Unit::Seconds: return {{"Sec", 1}, {"sec", 1}};
        case Unit::Milliseconds: return {{"mS", 1}, {"ms", 1}};
        case Unit::Microseconds: return {{"uS", 1}, {"us", 1}};
        case Unit::Watts: return {{"Watts", 1}, {"W", 1}};
        case Unit::Bytes:
            return {{"B", 1},           {"KB", 1000},         {"MB", 1000000},         {"GB", 1000000000},
                    {"TB", 1000000000000}, {"KiB", 1ull << 10}, {"MiB", 1ull << 20}, {"GiB", 1ull << 30},
                    {"TiB", 1ull << 40}};
        default: return {{"", 1}};
    }
}

std::string ExpectedUnits(Unit unit) {
    std::string list;
    const std::vector<UnitText> texts = UnitTexts(unit);
    for (size_t i = 0; i < texts.size(); ++i)
        list += (i == 0 ? "" : i + 1 == texts.size() ? " or " : ", ") + std::string(texts[i].text);
    return list.empty() ? "no unit" : list;
}

uint64_t PowerOfTen(size_t exponent) {
    uint64_t power = 1;
    for (size_t i = 0; i < exponent; ++i) power *= 10;
    return power;
}

// A limit's number ("1,000", "-5", "1.5", "2e3", "0x1F") times `scale`: an
// integer when the product is whole, a real otherwise; none for any other
// text.
Number LimitNumber(const std::string& text, uint64_t scale) {
    std::string digits;
    for (char c : text)
        if (c != ',') digits += c;
    const bool negative = !digits.empty() && digits[0] == '-';
    const std::string magnitude = negative ? digits.substr(1) : digits;
    WideSigned hex;
    if (magnitude.size() > 2 && magnitude[0] == '0' && (magnitude[1] == 'x' || magnitude[1] == 'X')) {
        if (!ParseWideInteger(magnitude, hex)) return Number();
        const Number product = Number::Product(hex.magnitude, scale);
        return negative ? Number::FromLiteral("-" + product.Literal()) : product;
    }
    char* end = nullptr;
    const double real = std::strtod(digits.c_str(), &end);
    const bool plain = std::all_of(magnitude.begin(), magnitude.end(), [](char c) {
        return (c >= '0' && c <= '9') || c == '.' || c == 'e' || c == 'E' || c == '+' || c == '-';
    });
    if (digits.empty() || end != digits.c_str() + digits.size() || !plain) return Number();
    // Exact when the decimal digits times the scale are whole.
    const size_t e = magnitude.find_first_of("eE");
    const std::string mantissa = magnitude.substr(0, e);
    const int exponent = e == std::string::npos ? 0 : std::atoi(magnitude.c_str() + e + 1);
    const size_t point = mantissa.find('.');
    std::string whole = mantissa.substr(0, point), fraction = point == std::string::npos ? "" : mantissa.substr(point + 1);
    while (!fraction.empty() && fraction.back() == '0') fraction.pop_back();
    const int shift = exponent - static_cast<int>(fraction.size());
    const Number m = Number::FromLiteral(whole + fraction);
    if (m.FitsUint128() && shift >= 0 && shift <= 19 && scale <= UINT64_MAX / PowerOfTen(static_cast<size_t>(shift))) {
        const Number product = Number::Product(m.low(), scale * PowerOfTen(static_cast<size_t>(shift)));
        return negative ? Number::FromLiteral("-" + product.Literal()) : product;
    }
    if (m.FitsUint128() && shift < 0 && shift >= -19 && scale % PowerOfTen(static_cast<size_t>(-shift)) == 0) {
        const Number product = Number::Product(m.low(), scale / PowerOfTen(static_cast<size_t>(-shift)));
        return negative ? Number::FromLiteral("-" + product.Literal()) : product;
    }
    return Number::Real(real * static_cast<double>(scale));
}

// The limit of a numeric rule in the unit of its parameter's number; an
// empty text with `error` set when it is not one.
Number NumericLimit(const std::string& limit, Unit unit, std::string& error) {
    const size_t blank = limit.find(' ');
    const std::string number = limit.substr(0, blank);
    const std::string unitText = blank == std::string::npos ? "" : Trim(limit.substr(blank + 1));
    if (!LimitNumber(number, 1).present()) {
        error = "Limit '" + limit + "' is not a number";
        return Number();
    }
    const std::vector<UnitText> texts = UnitTexts(unit);
    const auto found = std::find_if(texts.begin(), texts.end(), [&](const UnitText& t) { return unitText == t.text; });
    if (found != texts.end()) return LimitNumber(number, found->scale);
    const std::string expected = ExpectedUnits(unit);
    error = "Limit '" + limit + "' needs " + (expected == "no unit" ? expected : "the unit " + expected);
    return Number();
}

// A rule from its parts; an empty `error` when it is good.
Rule MakeRule(const std::string& text, const std::string& name, const std::string& op, const std::string& limit,
              std::string& error) {
    Rule rule;
    rule.text = text, rule.parameter = name, rule.op = op, rule.limit = limit;
    const ParameterDescription* description = FindParameter(name);
    const auto known = std::find_if(std::begin(kOperators), std::end(kOperators),
                                    [&](const OperatorName& o) { return op == o.text; });
    if (description == nullptr) {
        error = "Unknown parameter '" + name + "' in rule: " + text;
    } else if (known == std::end(kOperators)) {
        error = "Unknown operator '" + op + "' in rule: " + text;
    } else {
        rule.kind = known->kind;
        if (rule.kind == RuleOperator::Match || rule.kind == RuleOperator::NotMatch) return rule;
        if (description->unit == Unit::None) {
            error = "'" + name + "' has no number: compare it with match or not-match in rule: " + text;
        } else {
            rule.limitNumber = NumericLimit(limit, description->unit, error);
            if (!error.empty()) error += " in rule: " + text;
        }
    }
    return rule;
}

// Gathers the errors of a list of rules and raises them together.
class RuleErrors {
public:
    explicit RuleErrors(const std::string& origin) : text_("Invalid rule file: " + origin + "\n\n") {}
    void Add(const std::string& error) {
        text_ += " Rule Error: " + error + "\n";
        ++count_;
    }
    void RaiseAny() const {
        if (count_ != 0) throw UsageError(text_);
    }

private:
    std::string text_;
    int count_ = 0;
};

bool Holds(RuleOperator kind, int order) {
    switch (kind) {
        case RuleOperator::Equal: return order == 0;
        case RuleOperator::NotEqual: return order != 0;
        case RuleOperator::Greater: return order > 0;
        case RuleOperator::GreaterOrEqual: return order >= 0;
        case RuleOperator::Less: return order < 0;
        case RuleOperator::LessOrEqual: return order <= 0;
        default: return false;
    }
}

}  // namespace

std::vector<Rule> ParseRules(const Json::Value& texts, const std::string& origin) {
    if (!texts.isArray()) throw UsageError("Invalid rule file: " + origin + "\n\n 'rules' must be an array of rule texts\n");
    RuleErrors errors(origin);
    std::vector<Rule> rules;
    for (const Json::Value& element : texts) {
        if (!element.isString()) {
            errors.Add("Rule is not a text: " + Trim(element.toStyledString()));
            continue;
        }
        const std::string text = element.asString();
        KLOG(Verbose) << "Parsing rule " << text;
        const size_t open = text.find('\'');
        const size_t close = open == std::string::npos ? std::string::npos : text.find('\'', open + 1);
        if (close == std::string::npos) {
            errors.Add("Did not find quoted parameter name in rule: " + text);
            continue;
        }
        const std::string rest = Trim(text.substr(close + 1));
        const size_t blank = rest.find(' ');
        if (blank == std::string::npos) {
            errors.Add("Did not find operator in rule: " + text);
            continue;
        }
        std::string error;
        Rule rule = MakeRule(text, text.substr(open + 1, close - open - 1), Trim(rest.substr(0, blank)),
                             Trim(rest.substr(blank)), error);
        if (error.empty()) rules.push_back(std::move(rule));
        else errors.Add(error);
    }
    errors.RaiseAny();
    return rules;
}

std::vector<Rule> ParseRuleObjects(const Json::Value& objects, const std::string& origin) {
    RuleErrors errors(origin);
    std::vector<Rule> rules;
    for (const Json::Value& object : objects) {
        auto member = [&](const char* key) { return object.isObject() && object[key].isString() ? object[key].asString() : ""; };
        std::string error;
        Rule rule = MakeRule(member("rule"), member("parameter"), member("operator"), member("limit"), error);
        if (error.empty()) rules.push_back(std::move(rule));
        else errors.Add(error);
    }
    errors.RaiseAny();
    return rules;
}

bool CheckRule(const Rule& rule, const Parameter& record, std::string& message) {
    const std::string value = Trim(record.value);
    const std::string shown = rule.parameter + " " + rule.op + " " + rule.limit;
    KLOG(Verbose) << "Checking rule " << shown << " with value  " << value;
    bool passed = false;
    if (rule.kind == RuleOperator::Match) {
        passed = value == rule.limit;
        if (!passed) message = " Failed rule '" + shown + "' does not match value '" + value + "'";
    } else if (rule.kind == RuleOperator::NotMatch) {
        passed = value != rule.limit;
        if (!passed) message = " Failed rule '" + shown + "' matches value '" + value + "'";
    } else if (!record.number.present()) {
        message = " Failed rule '" + shown + "' parameters are not numbers";
    } else {
        passed = Holds(rule.kind, CompareNumbers(record.number, rule.limitNumber));
        if (!passed) message = " Failed rule '" + shown + "' with value '" + value + "'";
    }
    if (!passed) KLOG(Error) << message;
    return passed;
}

bool VerifyNvmeInfo(InfoDocument& info, const std::vector<Rule>& rules) {
    int64_t start = MonotonicNanoseconds();
    Json::Value& violations = info.document["rule violations"];
    violations = Json::Value(Json::arrayValue);
    for (const Rule& rule : rules) {
        const Parameter* record = info.parameters.Find(rule.parameter);
        std::string message;
        if (record == nullptr || CheckRule(rule, *record, message)) continue;  // unreported parameters are skipped
        Json::Value violation(Json::objectValue);
        violation["name"] = rule.parameter;
        violation["rule operator"] = rule.op;
        violation["rule limit"] = rule.limit;
        violation["rule"] = rule.text;
        violation["value"] = record->value;
        violation["msg"] = message;
        violations.append(violation);
    }
    KLOG(Debug) << "NVMe Verify Information completed in " << ElapsedText(start, 3) << " with " << violations.size()
                << " rule violations";
    return violations.empty();
}

}  // namespace kavo
