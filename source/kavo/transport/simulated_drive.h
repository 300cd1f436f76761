#pragma once
// The simulated drive: a software NVMe controller behind the same admin
// command interface as a real drive. "sim" is a built-in healthy NVMe 1.4
// drive with one namespace; "sim:FILE" applies a drive description file
// (docs/simulated-drive.md) on top of it: field overrides, raw structures,
// self-test behaviour and injected faults.
#include <array>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include <json/value.h>

#include "transport/nvme_admin_command.h"

namespace kavo {

// Opens the simulated drive named by "sim" or "sim:FILE"; raises UsageError
// when the description file is missing or wrong.
NvmeHandle OpenSimulatedDrive(const std::string& driveText);
// Loads and checks a description without opening the drive.
void CheckSimulatedDrive(const std::string& driveText);
// The serial number the simulated drive reports in Identify Controller,
// found without running a command (a described fault cannot stop it).
std::string SimulatedSerial(const std::string& driveText);
// The description of "sim" (empty) or "sim:FILE" as a document; `origin`
// names it in messages. Raises UsageError when the file is missing or wrong.
Json::Value LoadSimulatedDescription(const std::string& driveText, std::string& origin);

// NVMe status values the simulated controller answers with.
constexpr uint16_t kStatusInvalidOpcode = 0x0001;
constexpr uint16_t kStatusInvalidField = 0x0002;
// Invalid Field with Do Not Retry, as controllers answer a namespace-specific
// feature sent to an inactive namespace.
constexpr uint16_t kStatusInvalidFieldNoRetry = 0x4002;
constexpr uint16_t kStatusSelfTestInProgress = 0x011D;

class SimulatedController {
public:
    struct Completion {
        uint16_t status = 0;       // 0 = success
        uint32_t dw0 = 0;
        uint32_t bytes = 0;        // data bytes delivered
        uint32_t delayMs = 0;
        bool transportError = false;
        bool hang = false;         // never completes, as a hung device
    };

    // `origin` names the description in messages ("built-in" or the file).
    SimulatedController(const Json::Value& description, const std::string& origin);

    Completion Execute(const NvmeCommand& command, uint8_t* data);
    const std::array<uint8_t, 4096>& IdentifyControllerData() const { return idctrl_; }

private:
    struct Fault {
        std::string command;       // prefix of the command key ("log 02", "feature", "self-test 0F")
        uint16_t status = 0;
        int64_t shortBytes = -1;
        uint32_t delayMs = 0;
        bool transportError = false;
        bool hang = false;
        uint32_t after = 0;        // matching commands to let through first
        int64_t times = -1;        // how often to fire (-1: always)
        bool afterAbort = false;   // only once a self-test abort was received
        uint32_t seen = 0;
        int64_t fired = 0;
    };
    struct SelfTestResult {
        uint8_t result = 0, code = 0, segment = 0, validInfo = 0, sct = 0, sc = 0;
        uint32_t nsid = 0;
        uint64_t poh = 0, failingLba = 0;
    };

    void BuildDefaults();
    void ApplyDescription(const Json::Value& description);
    Completion Identify(const NvmeCommand& command, uint8_t* data);
    Completion LogPage(const NvmeCommand& command, uint8_t* data);
    Completion Feature(const NvmeCommand& command, uint8_t* data);
    Completion SelfTest(const NvmeCommand& command);
    std::vector<uint8_t> LogPageData(uint8_t lid);
    std::vector<uint8_t> SmartPage();
    std::vector<uint8_t> SelfTestPage();
    // Records the result of a test whose time is up.
    void AdvanceSelfTest();
    uint64_t PowerOnHours() const;
    Fault* MatchFault(const std::string& key);

    std::string origin_;
    std::array<uint8_t, 4096> idctrl_{};
    std::map<uint32_t, std::array<uint8_t, 4096>> namespaces_;  // the active ones by NSID
    std::vector<std::array<uint8_t, 64>> errorLog_;
    std::array<uint8_t, 512> smart_{};
    std::array<uint8_t, 512> firmware_{};
    std::array<uint8_t, 4096> changedNamespaces_{};
    std::array<uint8_t, 4096> effects_{};
    std::map<uint8_t, std::vector<uint8_t>> telemetry_;
    std::map<uint8_t, std::vector<uint8_t>> rawLogPages_;
    std::map<uint8_t, uint32_t> featureDw0_;
    std::array<uint8_t, 256> apst_{};
    std::array<uint8_t, 16> hostMemory_{};
    uint16_t compositeOver_ = 0, compositeUnder_ = 0, sensorOver_ = 0, sensorUnder_ = 0;
    uint8_t timestampAttributes_ = 0x02;
    std::map<std::string, uint64_t> growth_;
    int temperatureSwing_ = 2;
    uint64_t smartReads_ = 0;
    int64_t startNanoseconds_ = 0;
    uint64_t startWallMs_ = 0;
    // Self-test engine.
    uint32_t shortSeconds_ = 2, extendedSeconds_ = 6;
    uint8_t testOperation_ = 0;
    int64_t testStart_ = 0;
    std::vector<uint8_t> progressScript_;
    size_t progressIndex_ = 0;
    SelfTestResult completedResult_;
    bool ignoreAbort_ = false;
    bool abortReceived_ = false;
    std::vector<SelfTestResult> selfTestLog_;  // newest first, 20 at most
    std::vector<Fault> faults_;
};

}  // namespace kavo
