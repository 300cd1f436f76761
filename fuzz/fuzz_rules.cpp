// A rules file made up by the fuzzer, loaded and checked against parameter
// values made up as well.
#include <string>

#include "base/kavo_errors.h"
#include "base/kavo_json.h"
#include "decode/parameters.h"
#include "fuzz_drive.h"
#include "info/rules.h"
#include "quellix.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzz::QuietLogging();
    std::string path = fuzz::InputFile(data, size, "fuzz.rules.json");
    std::vector<kavo::Rule> rules;
    try {
        rules = LoadRulesFile(path);
    } catch (const kavo::Error&) {
        return 0;  // not JSON, or a bad rule: refused, with a message
    }
    // Every rule's parameter gets a value made of the input's bytes, with
    // the number of its first bytes.
    kavo::InfoDocument info;
    std::string text(reinterpret_cast<const char*>(data), size);
    size_t at = 0;
    for (const kavo::Rule& rule : rules) {
        std::string value = text.substr(at % (size + 1), 12);
        kavo::AddParameter(info.parameters, rule.parameter, kavo::Rendered(value, kavo::Number::FromLiteral(value.substr(0, 3))));
        at += 7;
    }
    kavo::VerifyNvmeInfo(info, rules);
    return 0;
}
