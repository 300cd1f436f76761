// Per-sample costs of the read command on the built-in simulated drive with
// every identify structure, log page and feature read.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <filesystem>
#include <vector>

#include "base/kavo_json.h"
#include "decode/decoders.h"
#include "info/nvme_info.h"
#include "decode/parameters.h"
#include "quellix.h"

namespace {

Json::Value AllReadSettings() {
    Json::Value settings(Json::objectValue);
    char key[32];
    for (int f = 1; f <= 0x18; ++f) {
        std::snprintf(key, sizeof key, "read feature %02Xh", f);
        settings[key] = true;
    }
    for (int p = 1; p <= 0x10; ++p) {
        std::snprintf(key, sizeof key, "read log page %02Xh", p);
        settings[key] = true;
    }
    settings["read identify controller"] = true;
    settings["read identify namespace"] = true;
    settings["log hex data"] = false;
    settings["common"]["nvme path"] = "sim";
    settings["common"]["drive"] = "sim";
    return settings;
}

struct Drive {
    Drive() : handle(kavo::GetNvmeId("sim", false)), identify(4096, 0), settings(AllReadSettings()) {
    }
    Json::Value Sample() {
        Json::Value info;
        kavo::GetNvmeInfo(*handle, identify.data(), settings, info);
        return info;
    }
    kavo::NvmeHandle handle;
    std::vector<uint8_t> identify;
    Json::Value settings;
};

void CollectSample(benchmark::State& state) {
    Drive drive;
    for (auto _ : state) {
        Json::Value info;
        kavo::GetNvmeInfo(*drive.handle, drive.identify.data(), drive.settings, info);
        benchmark::DoNotOptimize(info);
    }
}
BENCHMARK(CollectSample)->Unit(benchmark::kMicrosecond);

void CompareSample(benchmark::State& state) {
    Drive drive;
    Json::Value reference = drive.Sample();
    Json::Value sample = drive.Sample();
    for (auto _ : state) benchmark::DoNotOptimize(kavo::CompareNvmeInfo(reference, sample, "default"));
}
BENCHMARK(CompareSample)->Unit(benchmark::kMicrosecond);

// A sample inside a long run: the records of the sample before are
// overwritten and its command records kept aside, then the sample is
// compared with the run's first one as a run compares it.
void LongRunSample(benchmark::State& state) {
    Drive drive;
    const Json::Value reference = drive.Sample();
    kavo::ParameterReuse reuse;
    kavo::CommandLog commands;
    for (auto _ : state) {
        Json::Value info;
        reuse.Lend(info);
        kavo::GetNvmeInfo(*drive.handle, drive.identify.data(), drive.settings, info, nullptr, &reuse, &commands);
        benchmark::DoNotOptimize(kavo::CompareNvmeInfo(reference, info, "default", &reuse));
        reuse.Reclaim(info);
    }
}
BENCHMARK(LongRunSample)->Unit(benchmark::kMicrosecond);

void VerifySample(benchmark::State& state) {
    Drive drive;
    Json::Value sample = drive.Sample();
    Json::Value rules;
    LoadRulesFile(QUELLIX_EXAMPLES "/rules/health.rules.json", rules);
    for (auto _ : state) benchmark::DoNotOptimize(kavo::VerifyNvmeInfo(sample, rules));
}
BENCHMARK(VerifySample)->Unit(benchmark::kMicrosecond);

void WriteInfoFile(benchmark::State& state) {
    Drive drive;
    Json::Value sample = drive.Sample();
    std::string path = (std::filesystem::temp_directory_path() / "quellix-bench.nvme.info.json").string();
    for (auto _ : state) kavo::WriteJsonFile(path, sample);
    std::filesystem::remove(path);
}
BENCHMARK(WriteInfoFile)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
