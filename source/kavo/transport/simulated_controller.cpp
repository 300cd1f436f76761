// The simulated NVMe controller: a healthy NVMe 1.4 drive with one namespace
// by default, answering Identify, Get Log Page, Get Features and Device
// Self-test the way a controller does, with counters that grow per read, a
// temperature that moves, a self-test engine and injected faults.
#include <algorithm>
#include <chrono>
#include <cmath>
#include <map>

#include "transport/simulated_bytes.h"
#include "transport/simulated_drive.h"

namespace kavo {

using sim::Add128;
using sim::Get;
using sim::Put;
using sim::PutText;

namespace {

// NVMe 1.4.0 in the encoding of the VER field.
constexpr uint32_t kVersion14 = 0x00010400;

std::string Hex2(uint32_t value) { return HexByte(static_cast<uint8_t>(value)); }

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

}  // namespace

SimulatedController::SimulatedController(const Json::Value& description, const std::string& origin)
    : origin_(origin), startNanoseconds_(MonotonicNanoseconds()), startWallMs_(WallClockMilliseconds()) {
    BuildDefaults();
    try {
        ApplyDescription(description);
    } catch (const UsageError&) {
        throw;
    } catch (const std::exception& e) {
        // A section or value of a type the reader did not expect.
        sim::Fail(origin_, std::string("a section or value has the wrong type (") + e.what() + ")");
    }
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
    namespaces_ = {{1, ns}};

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
    if (fault != nullptr && (fault->status != 0 || fault->transportError || fault->hang)) {
        completion.hang = fault->hang;
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
        // Identifiers without a namespace are inactive: zeros.
        auto ns = namespaces_.find(command.nsid);
        if (ns != namespaces_.end()) std::memcpy(data, ns->second.data(), length);
        else std::memset(data, 0, length);
    } else if (cns == 2) {
        // Active NSIDs above the one given, ascending, ended by zeros.
        std::memset(data, 0, length);
        uint32_t at = 0;
        for (auto ns = namespaces_.upper_bound(command.nsid); ns != namespaces_.end() && at + 4 <= length; ++ns, at += 4)
            Put(data + at, ns->first, 4);
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
    if ((fid == 0x03 || fid == 0x05) && !namespaces_.count(command.nsid)) {
        completion.status = kStatusInvalidFieldNoRetry;
        return completion;
    }
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
