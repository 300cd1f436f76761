// Identify Controller (with its power states) and Identify Namespace from
// made-up structures.
#include <vector>

#include "decode/decoders.h"
#include "decode/parameters.h"
#include "fuzz_drive.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzz::QuietLogging();
    fuzz::FuzzDrive drive(data, size);
    kavo::InfoDocument info;
    kavo::CommandLog run;
    std::vector<uint8_t> identify(4096, 0), ns(4096, 0);
    kavo::GetIdentifyController(drive, identify.data(), info, true, run);
    kavo::DecodePowerStates(identify.data(), identify.size(), info.parameters);
    uint32_t ver = identify[80] | identify[81] << 8 | identify[82] << 16 | static_cast<uint32_t>(identify[83]) << 24;
    kavo::GetIdentifyNamespace(drive, ns.data(), 1, info, true, ver, run);
    kavo::InfoDocumentText(info);
    kavo::SummarizeNamespace(1, ns.data());
    return 0;
}
