// Every decoded log page, SMART / health included, from a made-up page and
// a made-up Identify Controller.
#include <vector>

#include "decode/decoders.h"
#include "fuzz_drive.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzz::QuietLogging();
    if (size < 1) return 0;
    std::vector<uint8_t> identify(4096, 0);
    size_t id = std::min<size_t>(size - 1, 512);  // the capability bytes decoders look at
    std::copy(data + 1, data + 1 + id, identify.begin() + 256);
    std::vector<uint8_t> page(data + 1 + id, data + size);
    kavo::InfoDocument info;
    switch (data[0] % 4) {
        case 0: kavo::DecodeErrorInformationLog(info, page.data(), page.size(), identify.data()); break;
        case 1: kavo::DecodeSmartHealthLog(info, page.data(), page.size(), identify.data()); break;
        case 2: kavo::DecodeFirmwareSlotLog(info, page.data(), page.size(), identify.data()); break;
        case 3: kavo::DecodeSelfTestLog(info, page.data(), page.size()); break;
    }
    kavo::InfoDocumentText(info);
    return 0;
}
