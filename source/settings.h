#pragma once
// The settings of a run, typed: read once from the command file and the
// command line, checked for missing keys and wrong types before anything
// else happens, and then read as fields.
#include <cstdint>
#include <string>
#include <vector>

#include <json/value.h>

#include "decode/decoders.h"
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
};

// The keys a command type requires in its command file, in the order they
// are reported when missing.
std::vector<std::string> RequiredKeys(const std::string& commandType);
// The typed settings of `settings.json`, whose command type and required
// keys are checked. Raises a usage error naming the key and what it expects
// for a value of the wrong type.
void TypeSettings(Settings& settings);
