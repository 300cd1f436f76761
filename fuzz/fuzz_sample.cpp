// A whole sample of a drive that answers every command with made-up data:
// the namespace walk, log pages, telemetry, every feature and its data
// buffer, the grades and the metrics.
#include <vector>

#include "decode/parameters.h"
#include "fuzz_drive.h"
#include "info/metrics.h"
#include "info/nvme_info.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzz::QuietLogging();
    static const kavo::SampleSettings settings = fuzz::ReadEverything();
    fuzz::FuzzDrive drive(data, size);
    std::vector<uint8_t> identify(4096, 0);
    kavo::InfoDocument info;
    kavo::CommandLog commands;
    kavo::GetNvmeInfo(drive, identify.data(), settings, fuzz::FuzzDriveName(), info, commands);
    kavo::InfoDocumentText(info);
    kavo::MetricsSample metrics;
    metrics.identify = identify.data();
    metrics.info = &info;
    kavo::PrometheusMetrics(metrics);
    return 0;
}
