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
    Json::Value settings = fuzz::Settings({"read identify controller", "read identify namespace", "read log page 01h",
                                           "read log page 02h", "read log page 03h", "read log page 06h",
                                           "read log page 07h", "read feature 05h", "read feature 0Ch"});
    Json::Value info;
    std::vector<uint8_t> identify(4096, 0);
    kavo::GetNvmeInfo(*drive, identify.data(), settings, info);
    return 0;
}
