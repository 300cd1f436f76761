// The typed settings of a run, read from the settings object once.
#include "settings.h"

#include <filesystem>

#include "base/kavo_errors.h"
#include "base/kavo_text.h"
#include "decode/decoders.h"

namespace fs = std::filesystem;

namespace {

std::string Shown(const Json::Value& value) { return kavo::Trim(value.toStyledString()); }

// Reads the members of the settings object, refusing values of the wrong type.
class Reader {
public:
    explicit Reader(const Json::Value& json) : json_(json) {}

    bool Bool(const std::string& key) const {
        const Json::Value& value = json_[key];
        if (value.isNull()) return false;
        if (value.isBool()) return value.asBool();
        throw kavo::UsageError("Invalid cmd file value for '" + key + "': expected true or false, found " + Shown(value));
    }
    // `nullIsZero`: an absent or null value reads as 0.
    uint32_t Unsigned(const std::string& key, bool nullIsZero = false) const {
        const Json::Value& value = json_[key];
        if (value.isNull() && nullIsZero) return 0;
        if (value.isUInt()) return value.asUInt();
        throw kavo::UsageError("Invalid cmd file value for '" + key + "': expected an unsigned number, found " +
                               Shown(value));
    }
    std::string Text(const std::string& key) const {
        const Json::Value& value = json_[key];
        if (value.isNull()) return "";
        if (value.isString()) return value.asString();
        throw kavo::UsageError("Invalid cmd file value for '" + key + "': expected a text, found " + Shown(value));
    }

private:
    const Json::Value& json_;
};

// "report": absent or true draws the run's report, false does not.
bool ReportWanted(const Json::Value& json) {
    const Json::Value& value = json["report"];
    if (value.isNull()) return true;
    if (value.isBool()) return value.asBool();
    throw kavo::UsageError("Invalid cmd file value for 'report': use true or false, not " + Shown(value));
}

// "health limit": "" (or absent) off, else the grade at which a sample fails.
std::string HealthLimit(const Json::Value& json) {
    const Json::Value& value = json["health limit"];
    if (value.isNull()) return "";
    if (value.isString() && (value.asString().empty() || value.asString() == "SUSPECT" || value.asString() == "CRITICAL"))
        return value.asString();
    throw kavo::UsageError("Invalid cmd file value for 'health limit': use \"\" (off), \"SUSPECT\" or \"CRITICAL\", not " +
                           Shown(value));
}

// A "rules" member of the command file: rule texts, as in a rules file, or
// rules already in the parsed form; anything else is refused before the
// drive is read.
std::vector<kavo::Rule> CommandFileRules(const Json::Value& json) {
    if (!json.isMember("rules")) return {};
    const Json::Value& rules = json["rules"];
    if (rules.isArray()) return kavo::ParseRules(rules, "cmd file member 'rules'");
    if (rules.isObject() && rules["rules"].isArray()) return kavo::ParseRuleObjects(rules["rules"], "cmd file member 'rules'");
    throw kavo::UsageError("Invalid cmd file value for 'rules': use an array of rule texts such as "
                           "[\"'Percentage Used' < 90 %\"], or a rules file");
}

kavo::SampleSettings SampleSettingsOf(const Reader& read) {
    kavo::SampleSettings sample;
    sample.logHexData = read.Bool("log hex data");
    sample.readIdentifyController = read.Bool("read identify controller");
    sample.readIdentifyNamespace = read.Bool("read identify namespace");
    for (unsigned id = 0; id < 256; ++id) {
        sample.features[id] = read.Bool(kavo::FeatureSetting(static_cast<uint8_t>(id)));
        sample.logPages[id] = read.Bool(kavo::LogPageSetting(static_cast<uint8_t>(id)));
    }
    return sample;
}

void TypeRead(const Json::Value& json, ReadSettings& settings) {
    const Reader read(json);
    settings.sample = SampleSettingsOf(read);
    settings.readSystemData = read.Bool("read system data");
    settings.readExtendedSystemData = read.Bool("read extended system data");
    settings.samples = read.Unsigned("samples");
    settings.intervalMs = read.Unsigned("interval in ms");
    settings.displaySampleRate = read.Unsigned("display sample rate");
    settings.logSampleRate = read.Unsigned("log sample rate");
    settings.failLimit = read.Unsigned("fail limit");
    settings.compareType = read.Text("compare type");
    settings.compareFile = read.Text("compare file");
    settings.rulesFile = read.Text("rules file");
    settings.metricsFile = read.Text("metrics file");
    if (!settings.metricsFile.empty()) settings.metricsFile = fs::absolute(settings.metricsFile).string();
    settings.healthLimit = HealthLimit(json);
    settings.rules = CommandFileRules(json);
}

void TypeSelfTest(const Json::Value& json, SelfTestSettings& settings) {
    const Reader read(json);
    settings.displayIntervalSeconds = read.Unsigned("display sample interval in sec", true);
    settings.abortTimeSeconds = read.Unsigned("abort time", true);
    settings.extended = read.Bool("extended self-test");
    settings.readSmartData = read.Bool("read smart data");
    read.Bool("read command times");  // kept for older command files: checked, not used
}

}  // namespace

std::vector<std::string> RequiredKeys(const std::string& commandType) {
    if (commandType == "self-test")
        return {"short description", "display sample interval in sec", "extended self-test", "read command times",
                "read smart data",   "abort time",  "high priority",  "high resolution timer"};
    std::vector<std::string> keys = {"short description", "log hex data", "read system data",
                                     "read extended system data", "read identify controller", "read identify namespace"};
    for (uint8_t feature = 0x01; feature <= 0x16; ++feature) keys.push_back(kavo::FeatureSetting(feature));
    keys.push_back(kavo::FeatureSetting(0x18));
    for (uint8_t page = 0x01; page <= 0x10; ++page) keys.push_back(kavo::LogPageSetting(page));
    for (const char* k : {"samples", "interval in ms", "display sample rate", "log sample rate", "compare type",
                          "compare file", "rules file", "fail limit", "high priority", "high resolution timer"})
        keys.push_back(k);
    return keys;
}

void TypeSettings(Settings& settings) {
    const Json::Value& json = settings.json;
    const Reader read(json);
    CommonSettings& common = settings.common;
    common.description = read.Text("short description");
    common.highPriority = read.Bool("high priority");
    common.highResolutionTimer = read.Bool("high resolution timer");
    common.report = ReportWanted(json);
    common.logDirectory = json["common"]["log directory"].asString();
    common.commandFile = json["_input"]["cmd file name"].asString();
    if (settings.commandType == "read") TypeRead(json, settings.read);
    else TypeSelfTest(json, settings.selfTest);
}
