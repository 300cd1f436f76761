// Simulated drive descriptions: the "sim:FILE" document read, checked and
// applied on top of the built-in drive.
#include <algorithm>
#include <filesystem>
#include <map>

#include "base/kavo_json.h"
#include "transport/simulated_bytes.h"
#include "transport/simulated_drive.h"
#include "transport/simulated_drive_fields.h"

namespace kavo {

using sim::Fail;
using sim::Put;

namespace {

const std::vector<std::string> kSections = {"description", "identify controller", "namespaces", "smart", "error log",
                                            "firmware log", "log pages", "features", "self-test", "telemetry", "faults",
                                            "growth per read", "temperature swing"};

}  // namespace

// Loads "sim" (empty description) or "sim:FILE".
Json::Value LoadSimulatedDescription(const std::string& driveText, std::string& origin) {
    std::string baseDir;
    Json::Value description(Json::objectValue);
    if (driveText == "sim") {
        origin = "built-in";
        return description;
    }
    if (driveText.compare(0, 4, "sim:") != 0 || driveText.size() == 4)
        throw UsageError("Simulated drive '" + driveText + "' is not valid: use sim or sim:FILE");
    std::string path = driveText.substr(4);
    origin = "'" + path + "'";
    std::error_code error;
    if (!std::filesystem::is_regular_file(path, error)) Fail(origin, "file not found");
    try {
        ReadJsonFile(path, description);
    } catch (const std::exception& e) {
        Fail(origin, std::string("not valid JSON: ") + e.what());
    }
    if (!description.isObject()) Fail(origin, "the document must be a JSON object");
    baseDir = std::filesystem::absolute(path, error).parent_path().string();
    description["_base dir"] = baseDir;
    return description;
}

void SimulatedController::ApplyDescription(const Json::Value& d) {
    const std::string base = d.isMember("_base dir") ? d["_base dir"].asString() : ".";
    for (const std::string& member : d.getMemberNames())
        if (member != "_base dir" && std::find(kSections.begin(), kSections.end(), member) == kSections.end())
            Fail(origin_, "unknown section '" + member + "'");
    if (d.isMember("identify controller"))
        sim::ApplyFields(d["identify controller"], sim::IdentifyControllerFields(), idctrl_.data(), idctrl_.size(), origin_,
                         "identify controller", base);
    if (d.isMember("namespaces")) {
        const Json::Value& list = d["namespaces"];
        if (!list.isArray()) Fail(origin_, "'namespaces' must be an array of namespaces");
        // Entries take the NSIDs 1, 2, ... in turn; "nsid" places one (and
        // the entries after it) elsewhere, so NSID 1 can be inactive.
        std::map<uint32_t, std::array<uint8_t, 4096>> namespaces;
        uint32_t nsid = 0;
        for (Json::ArrayIndex i = 0; i < list.size(); ++i) {
            const Json::Value& entry = list[i];
            if (!entry.isObject()) Fail(origin_, "'namespaces' entry " + std::to_string(i + 1) + " must be an object");
            std::string what = "namespaces " + std::to_string(i + 1);
            nsid = entry.isMember("nsid") ? static_cast<uint32_t>(sim::ParseUnsigned(entry["nsid"], 0xFFFFFFFE, origin_, what))
                                          : nsid + 1;
            if (nsid == 0 || namespaces.count(nsid)) Fail(origin_, what + ": NSID " + std::to_string(nsid) + " is not free");
            std::array<uint8_t, 4096> ns = namespaces_.begin()->second;
            sim::ApplyFields(entry, sim::IdentifyNamespaceFields(), ns.data(), ns.size(), origin_, what, base, {"nsid"});
            namespaces[nsid] = ns;
        }
        namespaces_ = namespaces;
    }
    if (d.isMember("smart"))
        sim::ApplyFields(d["smart"], sim::SmartFields(), smart_.data(), smart_.size(), origin_, "smart", base);
    if (d.isMember("growth per read")) {
        const Json::Value& growth = d["growth per read"];
        if (!growth.isObject()) Fail(origin_, "'growth per read' must be an object");
        for (const std::string& name : growth.getMemberNames()) {
            if (!growth_.count(name)) Fail(origin_, "unknown counter '" + name + "' in 'growth per read'");
            growth_[name] = sim::ParseUnsigned(growth[name], UINT32_MAX, origin_, "growth per read " + name);
        }
    }
    if (d.isMember("temperature swing"))
        temperatureSwing_ = static_cast<int>(sim::ParseUnsigned(d["temperature swing"], 50, origin_, "temperature swing"));
    if (d.isMember("error log")) {
        const Json::Value& list = d["error log"];
        if (!list.isArray()) Fail(origin_, "'error log' must be an array of entries");
        size_t entries = static_cast<size_t>(idctrl_[262]) + 1;  // 256 at most
        if (list.size() > entries)
            Fail(origin_, "'error log' has " + std::to_string(list.size()) + " entries but ELPE allows " + std::to_string(entries));
        errorLog_.resize(entries);
        for (Json::ArrayIndex i = 0; i < list.size(); ++i)
            sim::ApplyFields(list[i], sim::ErrorEntryFields(), errorLog_[i].data(), 64, origin_,
                             "error log " + std::to_string(i), base);
    }
    errorLog_.resize(static_cast<size_t>(idctrl_[262]) + 1);
    if (d.isMember("firmware log"))
        sim::ApplyFields(d["firmware log"], sim::FirmwareSlotFields(), firmware_.data(), firmware_.size(), origin_,
                         "firmware log", base);
    if (d.isMember("log pages")) {
        const Json::Value& pages = d["log pages"];
        if (!pages.isObject()) Fail(origin_, "'log pages' must map log identifiers to raw pages");
        for (const std::string& id : pages.getMemberNames()) {
            uint8_t lid = static_cast<uint8_t>(sim::ParseUnsigned(Json::Value("0x" + id), 0xFF, origin_, "log pages " + id));
            std::vector<uint8_t> page(4096, 0);
            sim::ApplyFields(pages[id], {}, page.data(), page.size(), origin_, "log pages " + id, base);
            rawLogPages_[lid] = page;
        }
    }
    if (d.isMember("features")) {
        const Json::Value& features = d["features"];
        if (!features.isObject()) Fail(origin_, "'features' must be an object");
        for (const std::string& key : features.getMemberNames()) {
            const Json::Value& value = features[key];
            if (key == "temperature thresholds") {
                if (!value.isObject()) Fail(origin_, "'temperature thresholds' must be an object");
                compositeOver_ = static_cast<uint16_t>(sim::ParseUnsigned(value.get("composite over", compositeOver_), 0xFFFF, origin_, key));
                compositeUnder_ = static_cast<uint16_t>(sim::ParseUnsigned(value.get("composite under", compositeUnder_), 0xFFFF, origin_, key));
                sensorOver_ = static_cast<uint16_t>(sim::ParseUnsigned(value.get("sensor over", sensorOver_), 0xFFFF, origin_, key));
                sensorUnder_ = static_cast<uint16_t>(sim::ParseUnsigned(value.get("sensor under", sensorUnder_), 0xFFFF, origin_, key));
            } else if (key == "apst entries") {
                if (!value.isArray() || value.size() > 32) Fail(origin_, "'apst entries' must be an array of at most 32 numbers");
                apst_.fill(0);
                for (Json::ArrayIndex i = 0; i < value.size(); ++i)
                    sim::ParseNumber(value[i], 8, apst_.data() + 8 * i, origin_, "apst entries");
            } else if (key == "host memory buffer") {
                sim::ApplyFields(value, {}, hostMemory_.data(), hostMemory_.size(), origin_, key, base);
            } else if (key == "timestamp attributes") {
                timestampAttributes_ = static_cast<uint8_t>(sim::ParseUnsigned(value, 0xFF, origin_, key));
            } else {
                uint32_t fid = static_cast<uint32_t>(sim::ParseUnsigned(Json::Value("0x" + key), 0xFF, origin_, "features " + key));
                featureDw0_[static_cast<uint8_t>(fid)] = static_cast<uint32_t>(sim::ParseUnsigned(value, UINT32_MAX, origin_, "features " + key));
            }
        }
    }
    if (d.isMember("self-test")) {
        const Json::Value& t = d["self-test"];
        if (!t.isObject()) Fail(origin_, "'self-test' must be an object");
        for (const std::string& key : t.getMemberNames()) {
            const Json::Value& v = t[key];
            if (key == "short seconds") shortSeconds_ = static_cast<uint32_t>(sim::ParseUnsigned(v, 86400, origin_, key));
            else if (key == "extended seconds") extendedSeconds_ = static_cast<uint32_t>(sim::ParseUnsigned(v, 86400, origin_, key));
            else if (key == "result") completedResult_.result = static_cast<uint8_t>(sim::ParseUnsigned(v, 0xF, origin_, key));
            else if (key == "segment") completedResult_.segment = static_cast<uint8_t>(sim::ParseUnsigned(v, 0xFF, origin_, key));
            else if (key == "failing lba") {
                completedResult_.failingLba = sim::ParseUnsigned(v, UINT64_MAX, origin_, key);
                completedResult_.nsid = 1;
                completedResult_.validInfo = 0x3;
            } else if (key == "ignore abort") {
                if (!v.isBool()) Fail(origin_, "'ignore abort' must be true or false");
                ignoreAbort_ = v.asBool();
            } else if (key == "progress") {
                if (!v.isArray()) Fail(origin_, "'progress' must be an array of percentages");
                for (const Json::Value& p : v) progressScript_.push_back(static_cast<uint8_t>(sim::ParseUnsigned(p, 100, origin_, key)));
            } else if (key == "history") {
                if (!v.isArray() || v.size() > 20) Fail(origin_, "'history' must be an array of at most 20 results");
                selfTestLog_.clear();
                for (const Json::Value& entry : v) {
                    if (!entry.isObject()) Fail(origin_, "every 'history' entry must be an object");
                    SelfTestResult r;
                    r.result = static_cast<uint8_t>(sim::ParseUnsigned(entry.get("result", 0), 0xF, origin_, "history result"));
                    r.code = static_cast<uint8_t>(sim::ParseUnsigned(entry.get("code", 1), 0xF, origin_, "history code"));
                    r.poh = sim::ParseUnsigned(entry.get("power on hours", 0), UINT64_MAX, origin_, "history power on hours");
                    r.segment = static_cast<uint8_t>(sim::ParseUnsigned(entry.get("segment", 0), 0xFF, origin_, "history segment"));
                    selfTestLog_.push_back(r);
                }
            } else {
                Fail(origin_, "unknown field '" + key + "' in 'self-test'");
            }
        }
    }
    for (uint8_t lid : {0x07, 0x08}) {
        std::vector<uint8_t> page(512 * 3, 0);
        page[0] = lid;
        Put(page.data() + 5, 0x4C5100, 3);  // IEEE OUI
        Put(page.data() + 8, 1, 2), Put(page.data() + 10, 2, 2), Put(page.data() + 12, 2, 2);
        for (size_t i = 512; i < page.size(); ++i) page[i] = static_cast<uint8_t>(i * 7);
        telemetry_[lid] = page;
    }
    if (d.isMember("telemetry")) {
        const Json::Value& t = d["telemetry"];
        if (!t.isObject()) Fail(origin_, "'telemetry' must be an object");
        for (const char* key : {"host blocks", "controller blocks"}) {
            if (!t.isMember(key)) continue;
            uint8_t lid = std::string(key) == "host blocks" ? 0x07 : 0x08;
            uint64_t blocks = sim::ParseUnsigned(t[key], 64, origin_, std::string("telemetry ") + key);
            std::vector<uint8_t>& page = telemetry_[lid];
            page.resize(512 * (blocks + 1));
            Put(page.data() + 8, blocks, 2), Put(page.data() + 10, blocks, 2), Put(page.data() + 12, blocks, 2);
        }
    }
    if (d.isMember("faults")) {
        const Json::Value& list = d["faults"];
        if (!list.isArray()) Fail(origin_, "'faults' must be an array");
        for (const Json::Value& f : list) {
            if (!f.isObject() || !f["command"].isString()) Fail(origin_, "every fault needs a 'command' text");
            Fault fault;
            for (const std::string& key : f.getMemberNames()) {
                const Json::Value& v = f[key];
                if (key == "command") fault.command = v.asString();
                else if (key == "status") fault.status = static_cast<uint16_t>(sim::ParseUnsigned(v, 0x7FFF, origin_, "fault status"));
                else if (key == "short") fault.shortBytes = static_cast<int64_t>(sim::ParseUnsigned(v, 1u << 24, origin_, "fault short"));
                else if (key == "delay ms") fault.delayMs = static_cast<uint32_t>(sim::ParseUnsigned(v, 60000, origin_, "fault delay ms"));
                else if (key == "after") fault.after = static_cast<uint32_t>(sim::ParseUnsigned(v, UINT32_MAX, origin_, "fault after"));
                else if (key == "times") fault.times = static_cast<int64_t>(sim::ParseUnsigned(v, UINT32_MAX, origin_, "fault times"));
                else if (key == "transport error") fault.transportError = v.isBool() && v.asBool();
                else if (key == "after abort") fault.afterAbort = v.isBool() && v.asBool();
                else if (key == "hang") fault.hang = v.isBool() && v.asBool();
                else Fail(origin_, "unknown field '" + key + "' in a fault");
            }
            faults_.push_back(fault);
        }
    }
}

}  // namespace kavo
