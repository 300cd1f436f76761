#pragma once
// The only place where quellix talks to a drive: opening it and running NVMe
// admin commands. Every command is timed (the system call alone), logged and
// leaves one command record in the caller's command log, when one is given.
//
// Two paths reach the drive. The query-property path carries Identify, Get
// Log Page and Get Features and returns data; the pass-through path carries a
// raw admin command without data (Device Self-test). Each platform binding
// (Windows, Linux, simulated drive) implements both behind DriveHandle.
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "transport/command_record.h"

namespace kavo {

// Data types of the query-property path.
constexpr uint32_t kDataTypeIdentify = 1;
constexpr uint32_t kDataTypeLogPage = 2;
constexpr uint32_t kDataTypeFeature = 3;

constexpr uint8_t kOpcodeGetLogPage = 0x02;
constexpr uint8_t kOpcodeIdentify = 0x06;
constexpr uint8_t kOpcodeGetFeatures = 0x0A;
constexpr uint8_t kOpcodeDeviceSelfTest = 0x14;

// One NVMe admin command as the controller receives it.
struct NvmeCommand {
    uint8_t opcode = 0;
    uint32_t nsid = 0;
    uint32_t cdw10 = 0, cdw11 = 0, cdw12 = 0, cdw13 = 0, cdw14 = 0, cdw15 = 0;
    uint32_t dataLength = 0;
    uint32_t timeoutMs = 0;
};

struct QueryPropertyRequest {
    uint32_t dataType = 0;
    uint32_t requestValue = 0;     // CNS, log identifier or feature identifier
    uint32_t requestSubValue = 0;  // NSID for Identify Namespace, CDW11 for Get Features
    uint32_t dataLength = 0;
    // Namespace of a namespace-specific Get Features (LBA Range Type, Error
    // Recovery); 0 lets the binding choose. Windows ignores it: there the
    // opened disk is the namespace.
    uint32_t nsid = 0;
};

struct QueryPropertyResult {
    bool callSucceeded = false;   // the system call (and the controller) succeeded
    uint32_t bytesReturned = 0;   // data bytes delivered
    uint32_t completionDw0 = 0;
    uint32_t systemError = 0;     // errno / last-error value of a failed call
    uint16_t nvmeStatus = 0;      // status field of a command the controller failed
    double milliseconds = 0;
};

struct PassThroughResult {
    bool callSucceeded = false;
    uint32_t returnStatus = 0;    // 1 = success
    uint32_t errorCode = 0;
    uint32_t completionDw0 = 0;
    uint32_t bytesReturned = 0;
    uint32_t systemError = 0;
    uint16_t nvmeStatus = 0;
    double milliseconds = 0;
};

// An open drive; closed when the object is destroyed.
class DriveHandle {
public:
    virtual ~DriveHandle() = default;
    // The handle as printed after "Handle = ".
    virtual std::string HandleText() const = 0;
    // Log source names and the name of the system call of each path.
    virtual const char* QuerySource() const = 0;
    virtual const char* PassThroughSource() const = 0;
    virtual const char* QueryCallName() const = 0;
    virtual const char* PassThroughCallName() const = 0;
    // `data` holds at least request.dataLength bytes; it is written only on success.
    virtual QueryPropertyResult QueryProperty(const QueryPropertyRequest& request, uint8_t* data) = 0;
    virtual PassThroughResult PassThrough(const NvmeCommand& command) = 0;
    // Extra lines that describe the request, for the debug dumps.
    virtual std::vector<std::string> QueryDump(const std::string& name, const QueryPropertyRequest& request) const = 0;
    virtual std::vector<std::string> PassThroughDump(const std::string& name, const NvmeCommand& command) const = 0;
};

using NvmeHandle = std::unique_ptr<DriveHandle>;

// Opens a drive path: "sim" or "sim:FILE" for the simulated drive, otherwise
// the platform's device path. Raises KavoError when it cannot be opened.
NvmeHandle GetNvmeId(const std::string& path, bool writeAccess);
// True when the drive text names a simulated drive.
bool IsSimulatedDrive(const std::string& drive);
// The platform's device path of a drive number ("/dev/nvme0", "\\.\PHYSICALDRIVE0").
std::string PlatformDrivePath(const std::string& drive);
// The drive number of the platform's own names for a drive ("nvme0" and
// "/dev/nvme0" on Linux, "PHYSICALDRIVE0" and "\\.\PHYSICALDRIVE0" on
// Windows); the text unchanged when it is none of them.
std::string DriveNumberOfPlatformName(const std::string& drive);
// The digits after the first of `prefixes` that `drive` begins with, when
// nothing but digits follow; `drive` unchanged otherwise.
std::string DriveNumberAfterPrefix(const std::string& drive, const std::vector<std::string>& prefixes);
// Those names as the refusal of a wrong drive text lists them.
const char* PlatformDriveNameForms();

int NvmeQueryPropertyCommand(DriveHandle& handle, const std::string& name, uint32_t dataType, uint32_t requestValue,
                             uint32_t requestSubValue, uint32_t dataLength, uint8_t* data, uint32_t* completionDw0,
                             CommandLog* commands, uint32_t nsid = 0);
int NvmePassThroughCommand(DriveHandle& handle, const std::string& name, uint16_t opcode, uint32_t nsid, uint32_t cdw10,
                           uint32_t cdw11, uint32_t cdw12, uint32_t cdw13, uint32_t cdw14, uint32_t cdw15,
                           CommandLog* commands);
int NvmeAdminCommand(DriveHandle& handle, const std::string& name, CommandLog* commands,
                     uint16_t opcode, uint32_t nsid, uint32_t cdw10, uint32_t cdw11, uint32_t cdw12, uint32_t cdw13,
                     uint32_t cdw14, uint32_t cdw15, uint8_t* data, uint32_t* completionDw0, uint32_t dataLength);
int IdentifyController(DriveHandle& handle, uint8_t* buffer, CommandLog* commands);

// Bindings that carry real NVMe commands (Linux, simulated drive) turn a
// query-property request into one or more admin commands: a log page longer
// than the controller's maximum transfer is read in pieces with the log page
// offset. dataOffset says where each piece lands in the caller's buffer.
struct EncodedCommand {
    NvmeCommand command;
    uint32_t dataOffset = 0;
};
// maxTransferBytes 0 means unlimited. Empty for an unknown data type and for
// a log page of no bytes (which needs no command).
std::vector<EncodedCommand> EncodeQueryProperty(const QueryPropertyRequest& request, uint32_t maxTransferBytes);
// Largest transfer of a controller from Identify Controller MDTS (byte 77),
// assuming the 4 KiB minimum memory page size; 0 = unlimited.
uint32_t MaxTransferBytes(uint8_t mdts);
// True for the features whose value belongs to a namespace (LBA Range Type,
// Error Recovery): controllers reject them without an active namespace.
bool IsNamespaceFeature(uint32_t featureId);
// NSID a Get Features command carries: the requested namespace for a
// namespace-specific feature (namespace 1 when the caller named none), no
// namespace for the others.
uint32_t FeatureNamespace(uint32_t featureId, uint32_t requestedNsid = 0);
// Identify CNS values beyond Identify Namespace (0) and Controller (1).
constexpr uint32_t kCnsActiveNamespaceList = 0x02;

}  // namespace kavo

namespace kavo {

// Implemented by the platform binding (nvme_admin_command_linux.cpp,
// nvme_admin_command_windows.cpp).
// Opens the device path; nullptr when it cannot be opened.
NvmeHandle OpenPlatformDrive(const std::string& path, bool writeAccess);
// Second line of the open failure when write access was asked.
const char* WriteAccessHint();
// "the Linux OS" / "the Windows OS", for the dispatcher's refusal.
const char* PlatformName();

}  // namespace kavo
