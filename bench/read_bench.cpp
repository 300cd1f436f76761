// Per-sample costs of the read command on the built-in simulated drive with
// every identify structure, log page and feature read.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <filesystem>
#include <vector>

#include "base/kavo_json.h"
#include "decode/decoders.h"
#include "info/compare.h"
#include "info/nvme_info.h"
#include "info/rules.h"
#include "decode/parameters.h"
#include "quellix.h"

namespace {

kavo::SampleSettings AllReadSettings() {
    kavo::SampleSettings settings;
    for (int f = 1; f <= 0x18; ++f) settings.features[f] = true;
    for (int p = 1; p <= 0x10; ++p) settings.logPages[p] = true;
    settings.readIdentifyController = settings.readIdentifyNamespace = true;
    return settings;
}

struct Drive {
    Drive() : handle(kavo::GetNvmeId("sim", false)), identify(4096, 0), settings(AllReadSettings()) {}
    kavo::InfoDocument Sample() {
        kavo::InfoDocument info;
        kavo::GetNvmeInfo(*handle, identify.data(), settings, name, info, commands);
        return info;
    }
    kavo::NvmeHandle handle;
    std::vector<uint8_t> identify;
    kavo::SampleSettings settings;
    kavo::DriveName name{"sim", "sim"};
    kavo::CommandLog commands;
};

void CollectSample(benchmark::State& state) {
    Drive drive;
    for (auto _ : state) benchmark::DoNotOptimize(drive.Sample());
}
BENCHMARK(CollectSample)->Unit(benchmark::kMicrosecond);

void CompareSample(benchmark::State& state) {
    Drive drive;
    const kavo::InfoDocument reference = drive.Sample();
    kavo::InfoDocument sample = drive.Sample();
    for (auto _ : state) benchmark::DoNotOptimize(kavo::CompareNvmeInfo(reference, sample, "default"));
}
BENCHMARK(CompareSample)->Unit(benchmark::kMicrosecond);

// A sample inside a long run: taken afresh and compared with the run's
// first one.
void LongRunSample(benchmark::State& state) {
    Drive drive;
    const kavo::InfoDocument reference = drive.Sample();
    for (auto _ : state) {
        kavo::InfoDocument info = drive.Sample();
        benchmark::DoNotOptimize(kavo::CompareNvmeInfo(reference, info, "default"));
    }
}
BENCHMARK(LongRunSample)->Unit(benchmark::kMicrosecond);

void VerifySample(benchmark::State& state) {
    Drive drive;
    kavo::InfoDocument sample = drive.Sample();
    const std::vector<kavo::Rule> rules = LoadRulesFile(QUELLIX_EXAMPLES "/rules/health.rules.json");
    for (auto _ : state) benchmark::DoNotOptimize(kavo::VerifyNvmeInfo(sample, rules));
}
BENCHMARK(VerifySample)->Unit(benchmark::kMicrosecond);

void WriteInfoFile(benchmark::State& state) {
    Drive drive;
    const kavo::InfoDocument sample = drive.Sample();
    std::string path = (std::filesystem::temp_directory_path() / "quellix-bench.nvme.info.json").string();
    for (auto _ : state) kavo::WriteInfoDocument(path, sample);
    std::filesystem::remove(path);
}
BENCHMARK(WriteInfoFile)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
