// Compare of a real sample against a reference document made up by the
// fuzzer, as a hand-edited or damaged compare file would be.
#include "base/kavo_errors.h"
#include "base/kavo_json.h"
#include "fuzz_drive.h"
#include "info/compare.h"
#include "info/nvme_info.h"

namespace {

// One sample of the built-in simulated drive, taken once.
const kavo::InfoDocument& Sample() {
    static const kavo::InfoDocument sample = [] {
        kavo::InfoDocument info;
        std::vector<uint8_t> identify(4096, 0);
        kavo::CommandLog commands;
        kavo::NvmeHandle drive = kavo::GetNvmeId("sim", false);
        kavo::GetNvmeInfo(*drive, identify.data(), fuzz::ReadEverything(), fuzz::FuzzDriveName(), info, commands);
        return info;
    }();
    return sample;
}

}  // namespace

// The reference is read as a compare file is: any valid JSON of any shape.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzz::QuietLogging();
    kavo::InfoDocument reference;
    try {
        kavo::ReadInfoDocument(fuzz::InputFile(data, size, "reference.json"), reference);
    } catch (const kavo::KavoError&) {
        return 0;
    }
    kavo::InfoDocument current = Sample();
    for (const char* type : {"default", "firmware", "all"}) kavo::CompareNvmeInfo(reference, current, type);
    kavo::InfoDocumentText(current);
    return 0;
}
