// The simulated NVMe controller and its drive handle.
#include "simulated_drive.h"

#include <chrono>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <thread>

#include "kavo_errors.h"
#include "kavo_json.h"
#include "kavo_text.h"
#include "parameters.h"
#include "simulated_drive_fields.h"

namespace kavo {
namespace {

void Put(uint8_t* at, uint64_t value, int width) {
    for (int i = 0; i < width; ++i) at[i] = static_cast<uint8_t>(value >> (8 * i));
}

uint64_t Get(const uint8_t* at, int width) {
    uint64_t value = 0;
    for (int i = width - 1; i >= 0; --i) value = (value << 8) | at[i];
    return value;
}

void PutText(uint8_t* at, const std::string& text, size_t width, char pad) {
    std::memset(at, pad, width);
    std::memcpy(at, text.data(), std::min(text.size(), width));
}

void Add128(uint8_t* at, uint64_t amount) {
    uint128 value = U128FromHalves(Get(at, 8), Get(at + 8, 8)) + amount;
    Put(at, static_cast<uint64_t>(value & 0xFFFFFFFFFFFFFFFFull), 8);
    Put(at + 8, static_cast<uint64_t>(value >> 64), 8);
}

[[noreturn]] void Fail(const std::string& origin, const std::string& problem) {
    throw UsageError("Simulated drive description " + origin + ": " + problem);
}

std::string Hex2(uint32_t value) {
    char text[8];
    std::snprintf(text, sizeof text, "%02X", value & 0xFF);
    return text;
}

// Command keys that faults name: "identify 01", "log 02", "feature 04",
// "self-test 0F".
std::string CommandKey(const NvmeCommand& command) {
    switch (command.opcode) {
        case kOpcodeIdentify: return "identify " + Hex2(command.cdw10);
        case kOpcodeGetLogPage: return "log " + Hex2(command.cdw10);
        case kOpcodeGetFeatures: return "feature " + Hex2(command.cdw10);
        case kOpcodeDeviceSelfTest: return "self-test " + Hex2(command.cdw10 & 0xF);
        default: return "opcode " + Hex2(command.opcode);
    }
}

const std::vector<std::string> kSections = {"description", "identify controller", "namespaces", "smart", "error log",
                                            "firmware log", "log pages", "features", "self-test", "telemetry", "faults",
                                            "growth per read", "temperature swing"};

class SimulatedDriveHandle : public DriveHandle {
public:
    SimulatedDriveHandle(const Json::Value& description, const std::string& origin, std::string name)
        : controller_(description, origin), name_(std::move(name)) {}

    std::string HandleText() const override { return name_; }
    const char* QuerySource() const override { return "SIM_ADMIN_COMMAND"; }
    const char* PassThroughSource() const override { return "SIM_ADMIN_COMMAND"; }
    const char* QueryCallName() const override { return "simulated controller"; }
    const char* PassThroughCallName() const override { return "simulated controller"; }

    QueryPropertyResult QueryProperty(const QueryPropertyRequest& request, uint8_t* data) override {
        QueryPropertyResult result;
        uint32_t maxTransfer = MaxTransferBytes(controller_.IdentifyControllerData()[77]);
        std::vector<EncodedCommand> commands = EncodeQueryProperty(request, maxTransfer);
        if (commands.empty()) {
            result.systemError = 22;
            return result;
        }
        std::vector<uint8_t> buffer(((request.dataLength + 3) & ~3u) + 4, 0);
        uint32_t delivered = 0;
        for (const EncodedCommand& encoded : commands) {
            int64_t start = MonotonicNanoseconds();
            SimulatedController::Completion completion =
                controller_.Execute(encoded.command, buffer.data() + encoded.dataOffset);
            if (completion.delayMs) std::this_thread::sleep_for(std::chrono::milliseconds(completion.delayMs));
            result.milliseconds += ElapsedMilliseconds(start);
            if (completion.transportError) {
                result.systemError = 5;  // an I/O error of the transport
                return result;
            }
            if (completion.status != 0) {
                result.nvmeStatus = completion.status;
                return result;
            }
            result.completionDw0 = completion.dw0;
            delivered += completion.bytes;
            if (completion.bytes < encoded.command.dataLength) break;
        }
        result.callSucceeded = true;
        result.bytesReturned = std::min(delivered, request.dataLength);
        if (result.bytesReturned == request.dataLength && request.dataLength != 0)
            std::memcpy(data, buffer.data(), request.dataLength);
        return result;
    }

    PassThroughResult PassThrough(const NvmeCommand& command) override {
        PassThroughResult result;
        int64_t start = MonotonicNanoseconds();
        SimulatedController::Completion completion = controller_.Execute(command, nullptr);
        if (completion.delayMs) std::this_thread::sleep_for(std::chrono::milliseconds(completion.delayMs));
        result.milliseconds = ElapsedMilliseconds(start);
        result.completionDw0 = completion.dw0;
        if (completion.transportError) {
            result.systemError = 5;
        } else {
            result.callSucceeded = true;
            result.nvmeStatus = completion.status;
            result.returnStatus = completion.status == 0 ? 1 : 0;
        }
        return result;
    }

    std::vector<std::string> QueryDump(const std::string& name, const QueryPropertyRequest& request) const override {
        return {"Additional debug info...", "Running NVMe Admin " + name + " command on the simulated controller",
                "Data type = " + std::to_string(request.dataType),
                "Request value = " + std::to_string(request.requestValue),
                "Request sub-value = " + std::to_string(request.requestSubValue),
                "Data length = " + std::to_string(request.dataLength), "Handle = " + name_};
    }

    std::vector<std::string> PassThroughDump(const std::string& name, const NvmeCommand& command) const override {
        return {"Additional debug info...",
                "NVMe Admin Command " + name + " run on the simulated controller (Pass-Thru method)",
                "Command.OPC = " + std::to_string(command.opcode), "Command.NSID = " + std::to_string(command.nsid),
                "Command.CDW10 = " + std::to_string(command.cdw10), "Command.CDW11 = " + std::to_string(command.cdw11),
                "Handle = " + name_};
    }

private:
    SimulatedController controller_;
    std::string name_;
};

// Loads "sim" (empty description) or "sim:FILE".
Json::Value LoadDescription(const std::string& driveText, std::string& origin, std::string& baseDir) {
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

}  // namespace

NvmeHandle OpenSimulatedDrive(const std::string& driveText) {
    std::string origin, baseDir;
    Json::Value description = LoadDescription(driveText, origin, baseDir);
    return std::make_unique<SimulatedDriveHandle>(description, origin, driveText);
}

void CheckSimulatedDrive(const std::string& driveText) {
    std::string origin, baseDir;
    Json::Value description = LoadDescription(driveText, origin, baseDir);
    SimulatedController check(description, origin);
}

SimulatedController::SimulatedController(const Json::Value& description, const std::string& origin)
    : origin_(origin), startNanoseconds_(MonotonicNanoseconds()), startWallMs_(WallClockMilliseconds()) {
    BuildDefaults();
    ApplyDescription(description);
}

void SimulatedController::BuildDefaults() {
    uint8_t* c = idctrl_.data();
    Put(c + 0, 0x1D0F, 2);  // an unregistered vendor identifier: "Unknown"
    Put(c + 2, 0x1D0F, 2);
    PutText(c + 4, "QLX0SIM0000000000001", 20, ' ');
    PutText(c + 24, "Quellix Simulated NVMe Drive 512GB", 40, ' ');
    PutText(c + 64, "SIM1.4.0", 8, ' ');
    c[72] = 2;                                   // RAB
    c[73] = 0x4C, c[74] = 0x51, c[75] = 0x00;    // IEEE OUI 00-51-4c
    c[77] = 5;                                   // MDTS: 128 KiB
    Put(c + 78, 1, 2);                           // CNTLID
    Put(c + 80, kVersion14, 4);
    Put(c + 84, 500000, 4);                      // RTD3R
    Put(c + 88, 1000000, 4);                     // RTD3E
    Put(c + 92, 0x0300, 4);                      // OAES: namespace attribute, firmware activation
    Put(c + 96, 0x0002, 4);                      // CTRATT: NOPSPM
    c[111] = 1;                                  // I/O controller
    Put(c + 256, 0x0017, 2);                     // OACS: security, format, firmware, self-test
    c[258] = 3, c[259] = 3;                      // ACL, AERL
    c[260] = 0x14;                               // FRMW: 2 slots, activation without reset
    c[261] = 0x0E;                               // LPA: effects log, extended data, telemetry
    c[262] = 63;                                 // ELPE: 64 entries
    c[263] = 4;                                  // NPSS: 5 power states
    c[264] = 1, c[265] = 1;                      // AVSCC, APSTA
    Put(c + 266, 357, 2);                        // WCTEMP 84 C
    Put(c + 268, 361, 2);                        // CCTEMP 88 C
    Put(c + 270, 100, 2);                        // MTFA
    Put(c + 272, 8192, 4);                       // HMPRE 32 MiB
    Put(c + 276, 2560, 4);                       // HMMIN
    Put(c + 316, 5, 2);                          // EDSTT 5 minutes
    c[319] = 1;                                  // FWUG
    Put(c + 320, 1, 2);                          // KAS
    Put(c + 322, 1, 2);                          // HCTMA
    Put(c + 324, 313, 2), Put(c + 326, 358, 2);  // MNTMT, MXTMT
    Put(c + 328, 0x3, 4);                        // SANICAP: crypto erase, block erase
    c[512] = 0x66, c[513] = 0x44;                // SQES, CQES
    Put(c + 516, 1, 4);                          // NN
    Put(c + 520, 0x5F, 2);                       // ONCS incl. timestamp
    c[524] = 0x04;                               // FNA: crypto erase
    c[525] = 0x07;                               // VWC present, flush all NSID supported
    Put(c + 526, 0xFF, 2);                       // AWUN
    c[530] = 1;                                  // NVSCC
    Put(c + 536, 0, 4);                          // SGLS
    PutText(c + 768, "nqn.2026-01.dev.quellix:sim:QLX0SIM0000000000001", 256, '\0');
    struct PowerState { uint16_t mp; uint8_t flags; uint32_t enlat, exlat; uint8_t rank; };
    const PowerState states[] = {{850, 0, 0, 0, 0}, {550, 0, 0, 0, 1}, {350, 0, 0, 0, 2},
                                 {30, 3, 2000, 2000, 3}, {50, 3, 2000, 10000, 4}};
    for (int s = 0; s < 5; ++s) {
        uint8_t* p = c + 2048 + 32 * s;
        Put(p, states[s].mp, 2);
        p[3] = states[s].flags;
        Put(p + 4, states[s].enlat, 4);
        Put(p + 8, states[s].exlat, 4);
        p[12] = p[13] = p[14] = p[15] = states[s].rank;
    }

    std::array<uint8_t, 4096> ns{};
    Put(ns.data() + 0, 1000215216, 8);  // 512 GB of 512-byte blocks
    Put(ns.data() + 8, 1000215216, 8);
    Put(ns.data() + 16, 312567000, 8);
    ns[25] = 1;                         // two LBA formats
    ns[33] = 0x09;                      // DLFEAT: reads zeros, deallocate in write zeroes
    Put(ns.data() + 48, 512110190592ull, 8);
    for (int i = 0; i < 16; ++i) ns[104 + i] = static_cast<uint8_t>(0xA0 + i);
    for (int i = 0; i < 8; ++i) ns[120 + i] = static_cast<uint8_t>(0x50 + i);
    Put(ns.data() + 128, 0x00090000, 4);  // 512 bytes, best performance
    Put(ns.data() + 132, 0x010C0000, 4);  // 4096 bytes, better performance
    namespaces_.assign(1, ns);

    errorLog_.assign(64, {});
    uint8_t* s = smart_.data();
    Put(s + 1, 308, 2);       // 35 C
    s[3] = 100, s[4] = 10, s[5] = 3;
    Put(s + 32, 12345678, 8);
    Put(s + 48, 23456789, 8);
    Put(s + 64, 345678901, 8);
    Put(s + 80, 456789012, 8);
    Put(s + 96, 1234, 8);
    Put(s + 112, 321, 8);
    Put(s + 128, 2345, 8);
    Put(s + 144, 12, 8);
    Put(s + 200, 310, 2), Put(s + 202, 305, 2);
    growth_ = {{"DUR", 1000}, {"DUW", 500}, {"HRC", 20000}, {"HWC", 9000}, {"CBT", 1}, {"POH", 0}};

    firmware_[0] = 0x01;
    PutText(firmware_.data() + 8, "SIM1.4.0", 8, ' ');
    PutText(firmware_.data() + 16, "SIM1.3.9", 8, ' ');
    for (uint8_t opcode : {0x00, 0x01, 0x02, 0x04, 0x05, 0x06, 0x08, 0x09, 0x0A, 0x0C, 0x10, 0x11, 0x14, 0x80})
        Put(effects_.data() + 4 * opcode, 1, 4);
    for (uint8_t opcode : {0x00, 0x01, 0x02}) Put(effects_.data() + 1024 + 4 * opcode, 1, 4);

    featureDw0_ = {{0x01, 0x03020103}, {0x02, 0x00000000}, {0x05, 0x00000000}, {0x06, 0x00000001},
                   {0x08, 0x00000000}, {0x0A, 0x00000000}, {0x0B, 0x0000031F}, {0x0C, 0x00000001},
                   {0x0D, 0x00000001}, {0x0F, 0x00000000}, {0x10, 0x014F0159}, {0x11, 0x00000000}};
    for (int state = 0; state < 3; ++state) Put(apst_.data() + 8 * state, (uint64_t(100 * (state + 1)) << 8) | (3 << 3), 8);
    Put(hostMemory_.data(), 8192, 4);
    Put(hostMemory_.data() + 4, 0xDEAD0000, 4);
    Put(hostMemory_.data() + 12, 4, 4);
    compositeOver_ = 357, compositeUnder_ = 273, sensorOver_ = 363, sensorUnder_ = 268;
    completedResult_.result = 0;
    // One earlier extended test that passed, as a drive in service has.
    SelfTestResult earlier;
    earlier.code = 2;
    earlier.poh = 2300;
    selfTestLog_.push_back(earlier);
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
        if (!list.isArray() || list.empty()) Fail(origin_, "'namespaces' must be a non-empty array");
        std::vector<std::array<uint8_t, 4096>> namespaces;
        for (Json::ArrayIndex i = 0; i < list.size(); ++i) {
            std::array<uint8_t, 4096> ns = namespaces_.front();
            sim::ApplyFields(list[i], sim::IdentifyNamespaceFields(), ns.data(), ns.size(), origin_,
                             "namespaces " + std::to_string(i + 1), base);
            namespaces.push_back(ns);
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
        size_t entries = static_cast<size_t>(idctrl_[262]) + 1;
        if (list.size() > entries)
            Fail(origin_, "'error log' has " + std::to_string(list.size()) + " entries but ELPE allows " + std::to_string(entries));
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
                else Fail(origin_, "unknown field '" + key + "' in a fault");
            }
            faults_.push_back(fault);
        }
    }
}

SimulatedController::Fault* SimulatedController::MatchFault(const std::string& key) {
    for (Fault& fault : faults_) {
        if (key.compare(0, fault.command.size(), fault.command) != 0) continue;
        if (fault.afterAbort && !abortReceived_) continue;
        if (fault.seen++ < fault.after) continue;
        if (fault.times >= 0 && fault.fired >= fault.times) continue;
        ++fault.fired;
        return &fault;
    }
    return nullptr;
}

SimulatedController::Completion SimulatedController::Execute(const NvmeCommand& command, uint8_t* data) {
    Completion completion;
    Fault* fault = MatchFault(CommandKey(command));
    if (fault != nullptr && (fault->status != 0 || fault->transportError)) {
        completion.status = fault->status;
        completion.transportError = fault->transportError;
        completion.delayMs = fault->delayMs;
        return completion;
    }
    switch (command.opcode) {
        case kOpcodeIdentify: completion = Identify(command, data); break;
        case kOpcodeGetLogPage: completion = LogPage(command, data); break;
        case kOpcodeGetFeatures: completion = Feature(command, data); break;
        case kOpcodeDeviceSelfTest: completion = SelfTest(command); break;
        default: completion.status = kStatusInvalidOpcode;
    }
    if (fault != nullptr) {
        completion.delayMs = fault->delayMs;
        if (fault->shortBytes >= 0 && static_cast<uint64_t>(fault->shortBytes) < completion.bytes)
            completion.bytes = static_cast<uint32_t>(fault->shortBytes);
    }
    return completion;
}

SimulatedController::Completion SimulatedController::Identify(const NvmeCommand& command, uint8_t* data) {
    Completion completion;
    uint32_t length = std::min<uint32_t>(command.dataLength, 4096);
    uint32_t cns = command.cdw10 & 0xFF;
    uint32_t nn = static_cast<uint32_t>(Get(idctrl_.data() + 516, 4));
    if (cns == 1) {
        std::memcpy(data, idctrl_.data(), length);
    } else if (cns == 0) {
        if (command.nsid == 0 || command.nsid > nn) {
            completion.status = 0x000B;  // invalid namespace
            return completion;
        }
        // Identifiers beyond the namespaces described are inactive: zeros.
        if (command.nsid <= namespaces_.size()) std::memcpy(data, namespaces_[command.nsid - 1].data(), length);
        else std::memset(data, 0, length);
    } else {
        completion.status = kStatusInvalidField;
        return completion;
    }
    completion.bytes = length;
    return completion;
}

uint64_t SimulatedController::PowerOnHours() const {
    // The stored hours (which grow per SMART read by "growth per read" POH)
    // plus the hours the drive has been open.
    uint64_t base = Get(smart_.data() + 128, 8);
    return base + static_cast<uint64_t>(ElapsedMilliseconds(startNanoseconds_) / 3600000.0);
}

std::vector<uint8_t> SimulatedController::SmartPage() {
    std::vector<uint8_t> page(smart_.begin(), smart_.end());
    Put(page.data() + 128, PowerOnHours(), 8);
    ++smartReads_;
    // Counters grow between reads; temperatures move around their base.
    static const std::map<std::string, uint32_t> kOffsets = {{"DUR", 32}, {"DUW", 48}, {"HRC", 64},
                                                             {"HWC", 80}, {"CBT", 96}, {"POH", 128}};
    for (const auto& [name, offset] : kOffsets) Add128(smart_.data() + offset, growth_[name]);
    int swing = static_cast<int>(std::lround(temperatureSwing_ * std::sin(static_cast<double>(smartReads_) * 0.9)));
    for (uint32_t offset : {1u, 200u, 202u, 204u, 206u, 208u, 210u, 212u, 214u}) {
        uint64_t kelvin = Get(smart_.data() + offset, 2);
        if (kelvin != 0 && kelvin + swing > 0) Put(page.data() + offset, kelvin + swing, 2);
    }
    return page;
}

void SimulatedController::AdvanceSelfTest() {
    if (testOperation_ == 0) return;
    uint32_t seconds = testOperation_ == 1 ? shortSeconds_ : extendedSeconds_;
    if (ElapsedMilliseconds(testStart_) < seconds * 1000.0) return;
    SelfTestResult result = completedResult_;
    result.code = testOperation_;
    result.poh = PowerOnHours();
    selfTestLog_.insert(selfTestLog_.begin(), result);
    if (selfTestLog_.size() > 20) selfTestLog_.resize(20);
    testOperation_ = 0;
}

std::vector<uint8_t> SimulatedController::SelfTestPage() {
    AdvanceSelfTest();
    std::vector<uint8_t> page(564, 0);
    page[0] = testOperation_;
    if (testOperation_ != 0) {
        uint32_t seconds = testOperation_ == 1 ? shortSeconds_ : extendedSeconds_;
        double done = seconds == 0 ? 100.0 : ElapsedMilliseconds(testStart_) / (seconds * 10.0);
        page[1] = static_cast<uint8_t>(std::min(99.0, done));
        if (progressIndex_ < progressScript_.size()) page[1] = progressScript_[progressIndex_++];
    }
    for (size_t j = 0; j < 20; ++j) {
        uint8_t* entry = page.data() + 4 + 28 * j;
        if (j >= selfTestLog_.size()) {
            entry[0] = 0x0F;  // unused entry
            continue;
        }
        const SelfTestResult& r = selfTestLog_[j];
        entry[0] = static_cast<uint8_t>((r.code << 4) | (r.result & 0xF));
        entry[1] = r.segment;
        entry[2] = r.validInfo;
        Put(entry + 4, r.poh, 8);
        Put(entry + 12, r.nsid, 4);
        Put(entry + 16, r.failingLba, 8);
        entry[24] = r.sct, entry[25] = r.sc;
    }
    return page;
}

std::vector<uint8_t> SimulatedController::LogPageData(uint8_t lid) {
    auto raw = rawLogPages_.find(lid);
    if (raw != rawLogPages_.end()) return raw->second;
    switch (lid) {
        case 0x01: {
            std::vector<uint8_t> page;
            for (const auto& entry : errorLog_) page.insert(page.end(), entry.begin(), entry.end());
            return page;
        }
        case 0x02: return SmartPage();
        case 0x03: return std::vector<uint8_t>(firmware_.begin(), firmware_.end());
        case 0x04: return std::vector<uint8_t>(changedNamespaces_.begin(), changedNamespaces_.end());
        case 0x05: return std::vector<uint8_t>(effects_.begin(), effects_.end());
        case 0x06:
            if ((Get(idctrl_.data() + 256, 2) & 0x10) == 0) return {};
            return SelfTestPage();
        case 0x07:
        case 0x08:
            if ((idctrl_[261] & 0x08) == 0) return {};
            return telemetry_[lid];
        default: return {};
    }
}

SimulatedController::Completion SimulatedController::LogPage(const NvmeCommand& command, uint8_t* data) {
    Completion completion;
    uint8_t lid = static_cast<uint8_t>(command.cdw10 & 0xFF);
    // The offset only counts for a piece of a longer read.
    uint64_t offset = (static_cast<uint64_t>(command.cdw13) << 32) | command.cdw12;
    std::vector<uint8_t> page = LogPageData(lid);
    if (page.empty()) {
        completion.status = kStatusInvalidField;
        return completion;
    }
    std::memset(data, 0, command.dataLength);
    if (offset < page.size()) {
        size_t available = page.size() - static_cast<size_t>(offset);
        std::memcpy(data, page.data() + offset, std::min<size_t>(available, command.dataLength));
    }
    completion.bytes = command.dataLength;
    return completion;
}

SimulatedController::Completion SimulatedController::Feature(const NvmeCommand& command, uint8_t* data) {
    Completion completion;
    uint8_t fid = static_cast<uint8_t>(command.cdw10 & 0xFF);
    switch (fid) {
        case 0x04: {
            uint32_t sensor = (command.cdw11 >> 16) & 0xF;
            bool under = ((command.cdw11 >> 20) & 0x3) == 1;
            if (sensor > 8) {
                completion.status = kStatusInvalidField;
                return completion;
            }
            completion.dw0 = sensor == 0 ? (under ? compositeUnder_ : compositeOver_) : (under ? sensorUnder_ : sensorOver_);
            return completion;
        }
        case 0x0C:
            if ((idctrl_[265] & 1) == 0) break;
            completion.dw0 = featureDw0_[fid];
            std::memcpy(data, apst_.data(), std::min<uint32_t>(command.dataLength, 256));
            completion.bytes = std::min<uint32_t>(command.dataLength, 256);
            return completion;
        case 0x0D:
            if (Get(idctrl_.data() + 272, 4) == 0) break;
            completion.dw0 = featureDw0_[fid];
            std::memset(data, 0, command.dataLength);
            std::memcpy(data, hostMemory_.data(), std::min<uint32_t>(command.dataLength, 16));
            completion.bytes = command.dataLength;
            return completion;
        case 0x0E: {
            if ((Get(idctrl_.data() + 520, 2) & 0x40) == 0) break;
            uint64_t now = startWallMs_ + static_cast<uint64_t>(ElapsedMilliseconds(startNanoseconds_));
            if ((timestampAttributes_ & 0x0E) == 0) now = static_cast<uint64_t>(ElapsedMilliseconds(startNanoseconds_)) + 90061000;
            std::memset(data, 0, command.dataLength);
            if (command.dataLength >= 8) {
                Put(data, now, 6);
                data[6] = timestampAttributes_;
            }
            completion.bytes = command.dataLength;
            return completion;
        }
        case 0x06:
            if ((idctrl_[525] & 1) == 0) break;
            [[fallthrough]];
        default: {
            auto value = featureDw0_.find(fid);
            if (value == featureDw0_.end()) break;
            completion.dw0 = value->second;
            completion.bytes = 0;
            return completion;
        }
    }
    completion.status = kStatusInvalidField;
    return completion;
}

SimulatedController::Completion SimulatedController::SelfTest(const NvmeCommand& command) {
    Completion completion;
    if ((Get(idctrl_.data() + 256, 2) & 0x10) == 0) {
        completion.status = kStatusInvalidOpcode;
        return completion;
    }
    uint8_t code = static_cast<uint8_t>(command.cdw10 & 0xF);
    AdvanceSelfTest();
    if (code == 0xF) {
        abortReceived_ = true;
        if (!ignoreAbort_ && testOperation_ != 0) {
            SelfTestResult aborted;
            aborted.result = 1;
            aborted.code = testOperation_;
            aborted.poh = PowerOnHours();
            selfTestLog_.insert(selfTestLog_.begin(), aborted);
            if (selfTestLog_.size() > 20) selfTestLog_.resize(20);
            testOperation_ = 0;
        }
        return completion;
    }
    if (code != 1 && code != 2) {
        completion.status = kStatusInvalidField;
        return completion;
    }
    if (testOperation_ != 0) {
        completion.status = kStatusSelfTestInProgress;
        return completion;
    }
    testOperation_ = code;
    testStart_ = MonotonicNanoseconds();
    progressIndex_ = 0;
    return completion;
}

}  // namespace kavo
