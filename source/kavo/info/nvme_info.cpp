// One sample of a drive: the commands the settings ask for, the calculated
// parameters, the health and temperature grades, the description and the
// command result.
#include "info/nvme_info.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <vector>

#include "base/kavo_errors.h"
#include "base/kavo_json.h"
#include "base/kavo_log.h"
#include "base/kavo_text.h"
#include "base/stop_request.h"
#include "decode/decode_table.h"
#include "decode/parameters.h"
#include "info/grades.h"

namespace kavo {
namespace {

using decode::Le;

std::string Description(const uint8_t* identify, const std::string& drive, const std::string& sizeText) {
    std::string vendor = LookupVendorName(Hex16(static_cast<uint16_t>(Le(identify, 4096, 2, 2))));
    return DriveDescription(drive, vendor, DriveText(identify + 24, 40), sizeText);
}

void AddPowerPlan(const Json::Value& plan, Parameters& parameters) {
    auto text = [&](const char* key) {
        const Json::Value& value = plan[key];
        if (value.isString()) return value.asString();
        if (value.isIntegral()) return value.isUInt64() ? std::to_string(value.asUInt64()) : std::to_string(value.asInt64());
        return value.isNull() ? std::string() : value.toStyledString();
    };
    // A time the host reports ("30000", or "N/A" without a value) in milliseconds.
    auto milliseconds = [&](const char* key) {
        const std::string value = text(key);
        const bool digits = IsDecimalDigits(value);
        return Rendered(value + " mS", digits ? Number::FromLiteral(value) : Number());
    };
    auto aspm = [&](const char* key) {
        std::string value = text(key);
        if (value == "0") return std::string("Disabled");
        if (value == "1") return std::string("Attempt L0s");
        if (value == "2") return std::string("Attempt L1");
        return std::string("Unknown");
    };
    AddParameter(parameters, "Windows Power Plan", text("name"));
    AddParameter(parameters, "Windows Power NVMe Timeout 1 (DC)", milliseconds("dc primary timeout"));
    AddParameter(parameters, "Windows Power NVMe Timeout 1 (AC)", milliseconds("ac primary timeout"));
    AddParameter(parameters, "Windows Power NVMe Latency 1 (DC)", milliseconds("dc primary latency"));
    AddParameter(parameters, "Windows Power NVMe Latency 1 (AC)", milliseconds("ac primary latency"));
    AddParameter(parameters, "Windows Power NVMe Timeout 2 (DC)", milliseconds("dc secondary timeout"));
    AddParameter(parameters, "Windows Power NVMe Timeout 2 (AC)", milliseconds("ac secondary timeout"));
    AddParameter(parameters, "Windows Power NVMe Latency 2 (DC)", milliseconds("dc secondary latency"));
    AddParameter(parameters, "Windows Power NVMe Latency 2 (AC)", milliseconds("ac secondary latency"));
    AddParameter(parameters, "Windows Power NOPPME (DC)", text("dc noppme") == "1" ? "Supported" : "Not Supported");
    AddParameter(parameters, "Windows Power NOPPME (AC)", text("ac noppme") == "1" ? "Supported" : "Not Supported");
    AddParameter(parameters, "Windows Power ASPM (DC)", aspm("dc aspm"));
    AddParameter(parameters, "Windows Power ASPM (AC)", aspm("ac aspm"));
}

void CommandResult(const CommandLog& commands, Json::Value& info) {
    std::string failed;
    for (const CommandRecord& record : commands)
        if (record.returnCode != 0 && !record.allowed) failed += (failed.empty() ? "" : ", ") + record.name;
    info["_metadata"]["result"] = failed.empty() ? "PASS" : "FAIL";
    info["_metadata"]["read status"] = failed.empty() ? "All commands passed" : failed + " failed";
}

// Namespaces are identified at most up to this NSID when the controller
// cannot list its active namespaces: a walk of a controller that reports a
// huge NN (up to FFFFFFFEh) would never end.
constexpr uint32_t kNamespaceWalkLimit = 1024;

struct NamespaceScan {
    std::vector<NamespaceSummary> namespaces;  // the active ones, ascending
    std::array<uint8_t, 4096> first{};         // Identify Namespace of the first active one
    int failures = 0;
};

// A failed command that the sample tolerates: it does not fail the result.
void AllowLastRecord(CommandLog& commands) {
    if (!commands.empty()) commands.back().allowed = true;
}

// Which namespaces are active, and their Identify Namespace data when
// `identify` is set. The active namespace list (CNS 02h) names them; a
// controller that cannot list them is walked from NSID 1 to NN, an inactive
// identifier answering with zeros.
NamespaceScan ScanNamespaces(DriveHandle& handle, const uint8_t* id, bool identify, Json::Value& info,
                             CommandLog& commands) {
    NamespaceScan scan;
    const uint32_t nn = static_cast<uint32_t>(Le(id, 4096, 516, 4));
    if (nn == 0) return scan;
    std::array<uint8_t, 4096> buffer{};
    auto read = [&](uint32_t nsid) {
        buffer.fill(0);
        int result = ReadIdentifyNamespace(handle, nsid, buffer.data(), &commands);
        scan.failures += result;
        return result == 0;
    };
    auto keep = [&](uint32_t nsid) {
        if (scan.namespaces.empty()) scan.first = buffer;
        scan.namespaces.push_back(SummarizeNamespace(nsid, buffer.data()));
    };
    std::vector<uint32_t> active;
    bool complete = true;
    if (ReadActiveNamespaceList(handle, nn, active, &commands, kNamespaceListLimit, &complete) == 0) {
        if (!complete) {
            info["_metadata"]["namespace list"] = "The active namespace list names more than " +
                                                  std::to_string(kNamespaceListLimit) + " namespaces: listed up to NSID " +
                                                  std::to_string(active.back()) + " only";
            KLOG(Warning) << info["_metadata"]["namespace list"].asString();
        }
        for (uint32_t nsid : active) {
            if (!identify) scan.namespaces.push_back(NamespaceSummary{nsid});
            else if (read(nsid)) keep(nsid);
        }
        return scan;
    }
    AllowLastRecord(commands);
    const uint32_t last = std::min(nn, kNamespaceWalkLimit);
    KLOG(Warning) << "The controller did not list its active namespaces: identifying NSID 1 to " << last;
    if (nn > last) {
        info["_metadata"]["namespace walk"] = "NN is " + std::to_string(nn) + ": namespaces identified up to NSID " +
                                              std::to_string(last) + " only";
        KLOG(Warning) << info["_metadata"]["namespace walk"].asString();
    }
    for (uint32_t nsid = 1; nsid <= last; ++nsid) {
        if (StopRequested()) {
            info["_metadata"]["namespace walk"] = "stopped at NSID " + std::to_string(nsid) + " by a stop request";
            break;
        }
        if (!read(nsid)) continue;
        if (Le(buffer.data(), buffer.size(), 0, 8) != 0) keep(nsid);
    }
    if (!identify) scan.failures = 0;  // the walk only looked for a namespace to read features from
    return scan;
}

// One entry of "nvme" / "namespaces".
Json::Value NamespaceRecord(const NamespaceSummary& ns) {
    Json::Value record(Json::objectValue);
    record["nsid"] = ns.nsid;
    record["size in blocks"] = Json::UInt64(ns.sizeInBlocks);
    record["capacity in blocks"] = Json::UInt64(ns.capacityInBlocks);
    record["utilization in blocks"] = Json::UInt64(ns.utilizationInBlocks);
    uint128 blockSize = ns.blockSizeShift < 64 ? uint128(1) << ns.blockSizeShift : uint128(0);
    record["block size"] = blockSize <= UINT64_MAX ? Json::Value(Json::UInt64(blockSize)) : Json::Value(0);
    record["metadata size"] = ns.metadataSize;
    uint128 bytes = blockSize * ns.sizeInBlocks;
    // A structure of random bytes can describe more than 2^64 bytes: such a
    // size stays exact as decimal text.
    record["size in bytes"] = bytes <= UINT64_MAX ? Json::Value(Json::UInt64(bytes)) : Json::Value(DecimalText(bytes));
    return record;
}

// The total size of the namespaces: "Size" and "Size in GiB" (their
// number the bytes, exact), and the size text of the description ("512GB").
std::string AddSize(const std::vector<NamespaceSummary>& namespaces, Parameters& parameters) {
    uint128 total = 0;
    bool exact = true;
    for (const NamespaceSummary& ns : namespaces) {
        if (ns.blockSizeShift >= 64) continue;
        const uint128 bytes = uint128(ns.sizeInBlocks) << ns.blockSizeShift;
        exact = exact && total + bytes >= total;
        total += bytes;
    }
    const Number number = exact ? Number::Unsigned(total) : Number();
    const double value = static_cast<double>(total);
    const std::string gb = FixedText(value / 1000000000.0, 0);
    AddParameter(parameters, "Size", Rendered(gb + " GB", number));
    AddParameter(parameters, "Size in GiB", Rendered(FixedText(value / 1073741824.0, 1) + " GiB", number));
    return gb + "GB";
}

void AddGrades(const InfoDocument& info, const uint8_t* identify, Json::Value& nvme) {
    const Grade health = HealthGrade(*info.smartHealth);
    const Grade temperature = TemperatureGrade(*info.smartHealth, (Le(identify, 4096, 322, 2) & 1) != 0);
    nvme["health status"] = health.status;
    nvme["temp status"] = temperature.status;
    Json::Value& healthReasons = nvme["health reasons"] = Json::Value(Json::arrayValue);
    for (const std::string& reason : health.reasons) healthReasons.append(reason);
    Json::Value& temperatureReasons = nvme["temp reasons"] = Json::Value(Json::arrayValue);
    for (const std::string& reason : temperature.reasons) temperatureReasons.append(reason);
}

}  // namespace

void AddCommandRecords(const CommandLog& commands, InfoDocument& info) {
    info.document["_metadata"]["commands"] = CommandLogJson(commands);
}

bool GetNvmeInfo(DriveHandle& handle, uint8_t* identifyBuffer, const SampleSettings& settings, const DriveName& drive,
                 InfoDocument& info, CommandLog& commands, DecodedIdentify* kept) {
    commands.clear();
    try {
        KLOG(Verbose) << "GetNvmeInfo started...";
        int64_t start = MonotonicNanoseconds();
        const bool logHex = settings.logHexData;
        bool identifyEmpty = std::all_of(identifyBuffer, identifyBuffer + 4096, [](uint8_t b) { return b == 0; });
        int failures = 0;
        Json::Value& document = info.document;
        document["_metadata"]["file type"] = "nvme info";
        Json::Value& nvme = document["nvme"];
        nvme["health status"] = "Unknown";
        nvme["temp status"] = "Unknown";
        Parameters& parameters = info.parameters;

        std::array<uint8_t, 4096> local{};
        if (settings.readIdentifyController)
            failures += GetIdentifyController(handle, local.data(), info, logHex, commands, kept);
        if (identifyEmpty) {
            if (settings.readIdentifyController) std::memcpy(identifyBuffer, local.data(), local.size());
            else failures += IdentifyController(handle, identifyBuffer, &commands);
        }
        const uint8_t* id = identifyBuffer;
        const uint32_t ver = static_cast<uint32_t>(Le(id, 4096, 80, 4));
        if (info.highestVersion == 0) info.highestVersion = ver;

        const bool readNamespaces = settings.readIdentifyNamespace;
        NamespaceScan scan;
        if (readNamespaces || settings.Feature(0x05)) scan = ScanNamespaces(handle, id, readNamespaces, document, commands);
        std::string sizeText;
        if (readNamespaces) {
            failures += scan.failures;
            if (!scan.namespaces.empty())
                failures += DecodeIdentifyNamespace(scan.first.data(), scan.namespaces.front().nsid, info, logHex, ver);
            Json::Value& list = nvme["namespaces"];
            list = Json::Value(Json::arrayValue);
            for (const NamespaceSummary& ns : scan.namespaces) list.append(NamespaceRecord(ns));
            sizeText = AddSize(scan.namespaces, parameters);
        }

        uint32_t oaes = static_cast<uint32_t>(Le(id, 4096, 92, 4));
        uint8_t lpa = id[261];
        uint32_t oacs = static_cast<uint32_t>(Le(id, 4096, 256, 2));
        failures += GetLogPage(0x01, (uint32_t(id[262]) + 1) * 64, handle, info, commands, settings, id);
        failures += GetLogPage(0x02, 512, handle, info, commands, settings, id);
        failures += GetLogPage(0x03, 512, handle, info, commands, settings, id);
        if (oaes & 0x100) failures += GetLogPage(0x04, 4096, handle, info, commands, settings, id);
        if (lpa & 0x02) failures += GetLogPage(0x05, 4096, handle, info, commands, settings, id);
        if (oacs & 0x10) failures += GetLogPage(0x06, 564, handle, info, commands, settings, id);
        if (lpa & 0x08) {
            for (uint8_t page : {uint8_t(0x07), uint8_t(0x08)}) {
                if (!settings.LogPage(page)) continue;
                std::array<uint8_t, 512> header{};
                if (ReadLogPage(page, 512, handle, header.data(), &commands) != 0) continue;
                HexDump(header.data(), header.size(), document["raw hex data"]["log page " + std::to_string(page) + " pre"]);
                // The log runs from block 0 (this header) through Data Area 3
                // Last Block; 0 there means no data area and no second read.
                uint32_t lastBlock = static_cast<uint32_t>(Le(header.data(), header.size(), 12, 2));
                if (lastBlock != 0) failures += GetLogPage(page, (lastBlock + 1) * 512, handle, info, commands, settings, id);
            }
        }

        failures += GetFeature01(handle, info, commands, settings);
        failures += GetFeature02(handle, info, commands, settings);
        failures += GetFeature04(handle, info, commands, settings, id);
        if (!scan.namespaces.empty())
            failures += GetFeature05(handle, info, commands, settings, scan.namespaces.front().nsid);
        else if (settings.Feature(0x05))
            document["_metadata"]["namespace features"] =
                "Get Feature 05h (Error Recovery) not read: the controller has no active namespace";
        failures += GetFeature06(handle, info, commands, settings, id);
        failures += GetFeature08(handle, info, commands, settings);
        failures += GetFeature0A(handle, info, commands, settings);
        failures += GetFeature0B(handle, info, commands, settings, id);
        failures += GetFeature0C(handle, info, commands, settings, id);
        failures += GetFeature0D(handle, info, commands, settings, id);
        failures += GetFeature0E(handle, info, commands, settings, id);
        failures += GetFeature0F(handle, info, commands, settings, id);
        failures += GetFeature10(handle, info, commands, settings, id);
        failures += GetFeature11(handle, info, commands, settings, id);

        AddParameter(parameters, "Highest Version Detected", VersionText(info.highestVersion));
        AddParameter(parameters, "OS Location", drive.nvmePath);

        uint64_t now = WallClockMilliseconds();
        AddParameter(parameters, "Host Timestamp", GroupedWithUnit(now, "mS"));
        AddParameter(parameters, "Host Timestamp Decoded", TimestampText(now));
        const Json::Value& system = static_cast<const Json::Value&>(document)["_metadata"]["system"];
        AddParameter(parameters, "Host Power Source", JsonText(system, "power source"));
        if (system.isObject() && system.isMember("powerplan")) AddPowerPlan(system["powerplan"], parameters);

        // Grades need the SMART / health values; without them both stay
        // "Unknown" rather than guessing.
        if (settings.LogPage(0x02) && info.smartHealth) AddGrades(info, id, nvme);
        nvme["description"] = Description(id, drive.drive, sizeText);
        CommandResult(commands, document);
        KLOG(Debug) << "Get Nvme Information completed in " << ElapsedText(start, 3);
        return failures == 0;
    } catch (...) {
        RethrowWithLocation("kavo::GetNvmeInfo", "kavo_nvme", __LINE__);
    }
}

}  // namespace kavo
