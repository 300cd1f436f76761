// Simulated drive descriptions made up by the fuzzer: refused with a usage
// error or loaded, and a loaded drive then answers a whole sample.
#include <vector>

#include "base/kavo_errors.h"
#include "fuzz_drive.h"
#include "info/nvme_info.h"
#include "transport/simulated_drive.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzz::QuietLogging();
    // A drive described as slow is slow, not faulty: such inputs are left
    // out so that the fuzzer's time limit finds only hangs.
    if (std::string(reinterpret_cast<const char*>(data), size).find("delay") != std::string::npos) return 0;
    std::string path = fuzz::InputFile(data, size, "fuzz-drive.json");
    kavo::NvmeHandle drive;
    try {
        drive = kavo::GetNvmeId("sim:" + path, false);
    } catch (const kavo::UsageError&) {
        return 0;
    }
    kavo::InfoDocument info;
    std::vector<uint8_t> identify(4096, 0);
    kavo::CommandLog commands;
    kavo::GetNvmeInfo(*drive, identify.data(), fuzz::ReadEverything(), fuzz::FuzzDriveName(), info, commands);
    return 0;
}
