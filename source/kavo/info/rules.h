#pragma once
// Rules: limits every sample must meet, one sentence a rule
// ("'Percentage Used' < 90 %"), parsed and checked against the parameters'
// units when they are loaded, and verified against each sample's numbers.
#include <string>
#include <vector>

#include <json/value.h>

#include "base/number.h"
#include "decode/info_document.h"

namespace kavo {

enum class RuleOperator { Match, NotMatch, Equal, NotEqual, Greater, GreaterOrEqual, Less, LessOrEqual };

struct Rule {
    std::string text;       // the rule as written
    std::string parameter;
    std::string op;         // "match", "<", ...
    std::string limit;      // as written, its unit included
    RuleOperator kind = RuleOperator::Match;
    Number limitNumber;     // a numeric rule's limit in the unit of the parameter's number
};

// Rule texts into rules. Every bad rule is reported at once: raises a usage
// error "Invalid rule file: " + origin, a blank line, and one " Rule Error:
// ..." line for each bad rule. A numeric rule needs a parameter that has a
// number, and a limit that is a number in a unit of the parameter's
// ("70 C" for a temperature, "90 %" for a percentage, "1,000 GB" for bytes).
std::vector<Rule> ParseRules(const Json::Value& texts, const std::string& origin);
// The same for rules given in the parsed form {"parameter", "operator",
// "limit", "rule"} (an older command file's "rules" member).
std::vector<Rule> ParseRuleObjects(const Json::Value& objects, const std::string& origin);

// One rule against one record; false with `message` (which begins with a
// blank) when the record does not meet it.
bool CheckRule(const Rule& rule, const Parameter& record, std::string& message);
// Every rule against a sample; its violations go to "rule violations".
// Rules of parameters the sample does not report are skipped.
bool VerifyNvmeInfo(InfoDocument& info, const std::vector<Rule>& rules);

}  // namespace kavo
