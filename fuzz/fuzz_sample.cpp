// A whole sample of a drive that answers every command with made-up data:
// the namespace walk, log pages, telemetry, every feature and its data
// buffer, the grades and the metrics.
#include <vector>

#include "decode/parameters.h"
#include "fuzz_drive.h"
#include "info/metrics.h"
#include "info/nvme_info.h"

namespace {

Json::Value Settings() {
    Json::Value settings = fuzz::Settings({"log hex data", "read identify controller", "read identify namespace"});
    char key[32];
    for (int id = 1; id <= 0x18; ++id) {
        std::snprintf(key, sizeof key, "read feature %02Xh", id);
        settings[key] = true;
        std::snprintf(key, sizeof key, "read log page %02Xh", id);
        settings[key] = true;
    }
    settings["common"]["nvme path"] = "fuzz";
    settings["common"]["drive"] = "fuzz";
    return settings;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzz::QuietLogging();
    static const Json::Value settings = Settings();
    fuzz::FuzzDrive drive(data, size);
    std::vector<uint8_t> identify(4096, 0);
    Json::Value info;
    kavo::SampleStructures structures;
    kavo::GetNvmeInfo(drive, identify.data(), settings, info, &structures);
    kavo::MetricsSample metrics;
    metrics.identify = identify.data();
    metrics.structures = &structures;
    kavo::PrometheusMetrics(metrics);
    return 0;
}
