// A rules file made up by the fuzzer, loaded and checked against parameter
// values made up as well.
#include <string>

#include "base/kavo_errors.h"
#include "base/kavo_json.h"
#include "decode/parameters.h"
#include "fuzz_drive.h"
#include "info/nvme_info.h"
#include "quellix.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzz::QuietLogging();
    std::string path = fuzz::InputFile(data, size, "fuzz.rules.json");
    Json::Value rules;
    try {
        LoadRulesFile(path, rules);
    } catch (const kavo::UsageError&) {
        return 0;
    } catch (const kavo::KavoError&) {
        return 0;
    } catch (const Json::Exception&) {  // not JSON at all: the reader says so
        return 0;
    }
    // Every rule's parameter gets a value made of the input's bytes.
    Json::Value info;
    std::string text(reinterpret_cast<const char*>(data), size);
    size_t at = 0;
    for (const Json::Value& rule : rules["rules"]) {
        std::string value = text.substr(at % (size + 1), 12);
        kavo::AddParameter(info["nvme"]["parameters"], rule["parameter"].asString(), value);
        at += 7;
    }
    kavo::VerifyNvmeInfo(info, rules);
    return 0;
}
