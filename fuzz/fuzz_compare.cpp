// Compare of a real sample against a reference document made up by the
// fuzzer, as a hand-edited or damaged compare file would be.
#include "base/kavo_errors.h"
#include "base/kavo_json.h"
#include "fuzz_drive.h"
#include "info/nvme_info.h"

namespace {

// One sample of the built-in simulated drive, taken once.
const Json::Value& Sample() {
    static const Json::Value sample = [] {
        Json::Value settings = fuzz::Settings({"read identify controller", "read identify namespace",
                                               "read log page 01h", "read log page 02h", "read log page 03h",
                                               "read feature 04h"});
        Json::Value info;
        std::vector<uint8_t> identify(4096, 0);
        kavo::NvmeHandle drive = kavo::GetNvmeId("sim", false);
        kavo::GetNvmeInfo(*drive, identify.data(), settings, info);
        return info;
    }();
    return sample;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzz::QuietLogging();
    Json::Value reference;
    try {
        kavo::ParseJsonText(std::string(reinterpret_cast<const char*>(data), size), reference);
    } catch (const kavo::KavoError&) {
        return 0;
    }
    Json::Value current = Sample();
    try {
        for (const char* type : {"default", "firmware", "all"}) kavo::CompareNvmeInfo(reference, current, type);
    } catch (const std::runtime_error& e) {
        // A counter that is no number is reported by name; anything else
        // escaping is a fault.
        if (std::string(e.what()).rfind("Compare of '", 0) != 0) throw;
    }
    return 0;
}
