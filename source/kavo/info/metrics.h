#pragma once
// One sample of a drive in the Prometheus text exposition format: numbers in
// base units from the decoded logs of the sample, named by Prometheus
// conventions, for node_exporter's textfile collector and the like.
#include <cstdint>
#include <string>
#include <vector>

#include "decode/info_document.h"

namespace kavo {

struct MetricsSample {
    std::string device;                           // "/dev/nvme0", "sim"
    const uint8_t* identify = nullptr;            // Identify Controller, 4096 bytes
    const InfoDocument* info = nullptr;           // the sample, with its decoded logs
    std::string healthStatus = "Unknown";         // the sample's grades
    std::string tempStatus = "Unknown";
    double durationSeconds = 0;
    bool failed = false;
    uint64_t timeMilliseconds = 0;                // wall clock of the sample
};

// The whole metrics file of a sample. Series of structures the sample lacks
// are left out.
std::string PrometheusMetrics(const MetricsSample& sample);

// One drive of a fleet run, for the series the fleet adds to its drives'.
struct FleetDriveMetrics {
    std::string device, serial;
    bool ended = false;  // the drive's run has ended, with `exitCode`
    int exitCode = 0;
};
// quellix_drive_listed (every drive of the run) and quellix_run_exit_code
// (drives whose run has ended).
std::string FleetMetrics(const std::vector<FleetDriveMetrics>& drives);
// Several metrics files as one: each family once, with the samples of every
// file in file order. Lines that are no family's are kept after their family.
std::string MergeMetricsTexts(const std::vector<std::string>& texts);

// A label value with \, " and line feeds escaped, and bytes that are not
// UTF-8 shown as \xHH.
std::string EscapeLabelValue(const std::string& value);

}  // namespace kavo
