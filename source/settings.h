#pragma once
// The settings of a run, typed: read once from the command file and the
// command line, checked for missing keys and wrong types before anything
// else happens, and then read as fields.
#include <cstdint>
#include <string>
#include <vector>

#include <json/value.h>

#include "decode/decoders.h"
#include "drive_selection.h"
#include "info/nvme_info.h"
#include "info/rules.h"

struct CommonSettings {
    std::string commandFile;   // as named on the command line, ".cmd.json" added
    std::string logDirectory;  // absolute
    kavo::DriveName drive;     // as named ("0", "sim") and its path
    std::string description;   // "short description"
    bool highPriority = false;
    bool highResolutionTimer = false;
    bool report = true;        // "report": absent or true
    std::vector<std::string> arguments;  // the command line, without the program
    bool stopOnEndOfInput = false;       // --stop-on-eof
};

// A run over several drives: each one read by a run of its own.
struct FleetSettings {
    DriveSelection selection;
    unsigned jobs = 0;             // runs at a time (--jobs); 0: the number of CPUs
    std::string baselineFolder;    // a compare "file" that is a folder: absolute
};

struct ReadSettings {
    kavo::SampleSettings sample;
    bool readSystemData = false;
    bool readExtendedSystemData = false;
    uint32_t samples = 0;
    uint32_t intervalMs = 0;
    uint32_t displaySampleRate = 0;
    uint32_t logSampleRate = 0;
    uint32_t failLimit = 0;
    std::string compareType;
    std::string compareFile;   // as given; resolved when the run starts
    std::string rulesFile;     // as given
    std::string metricsFile;   // absolute, or empty
    std::string healthLimit;   // "", "SUSPECT" or "CRITICAL"
    std::vector<kavo::Rule> rules;  // of the command file's "rules" member
};

struct SelfTestSettings {
    uint32_t displayIntervalSeconds = 0;
    uint32_t abortTimeSeconds = 0;
    bool extended = false;
    bool readSmartData = false;
};

struct Settings {
    // "help", "usage" or "export": a request that ends the run with 0 and
    // no result line; empty for a run.
    std::string request;
    std::string commandType;  // "read" or "self-test"
    // The settings object as the summary's "_settings" keeps it: the command
    // file with the options applied, "_input" and "common".
    Json::Value json;
    CommonSettings common;
    ReadSettings read;
    SelfTestSettings selfTest;
    FleetSettings fleet;
    bool isFleet() const { return fleet.selection.fleet; }
};

// The keys a command type requires in its command file, in the order they
// are reported when missing.
std::vector<std::string> RequiredKeys(const std::string& commandType);
// The typed settings of `settings.json`, whose command type and required
// keys are checked. Raises a usage error naming the key and what it expects
// for a value of the wrong type.
void TypeSettings(Settings& settings);
