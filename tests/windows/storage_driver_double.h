#pragma once
// A storage driver double for the tests of the Windows binding: what
// \\.\PHYSICALDRIVEn and the Windows NVMe driver answer to CreateFileA,
// DeviceIoControl and CloseHandle, written from the Windows storage
// documentation (IOCTL_STORAGE_QUERY_PROPERTY with the protocol-specific
// properties, IOCTL_STORAGE_PROTOCOL_COMMAND, "Working with NVMe drives") and
// the mingw-w64 headers (winioctl.h, nvme.h), not from the binding's buffer
// helpers. While one lives, it stands in the binding's call table
// (kavo::DeviceCalls) for the real calls.
//
// It checks every input buffer as the driver does and refuses a malformed
// one with the driver's error: ERROR_INVALID_PARAMETER for a field out of
// its range, ERROR_INSUFFICIENT_BUFFER for an output buffer too small for
// the answer, ERROR_INVALID_FUNCTION for a request the driver does not
// carry (another protocol, an unknown data type, an admin command that has
// its own control), ERROR_ACCESS_DENIED for a protocol command on a handle
// opened without read and write access. A well-formed request becomes the
// NVMe admin command the driver would build, run on a simulated controller.
//
// How the driver reports a command the controller failed (the documentation
// does not say; unverified on a real host, see docs/testing.md):
// - query property: the control fails with ERROR_IO_DEVICE; the control is
//   METHOD_BUFFERED, so nothing of the output reaches the caller;
// - protocol command: the control succeeds, ReturnStatus is
//   STORAGE_PROTOCOL_STATUS_ERROR, ErrorCode the completion's status field
//   and FixedProtocolReturnData its dword 0.
// A transport failure (the simulated drive's "transport error") fails
// either control with ERROR_IO_DEVICE.
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include <windows.h>

#include <json/value.h>

#include "transport/nvme_admin_command_windows.h"
#include "transport/simulated_drive.h"

namespace test {

// The protocol command structure as the documentation declares it
// (STORAGE_PROTOCOL_COMMAND; mingw-w64 10 declares only its control code).
struct DocumentedProtocolCommand {
    DWORD Version;
    DWORD Length;
    DWORD ProtocolType;
    DWORD Flags;
    DWORD ReturnStatus;
    DWORD ErrorCode;
    DWORD CommandLength;
    DWORD ErrorInfoLength;
    DWORD DataToDeviceTransferLength;
    DWORD DataFromDeviceTransferLength;
    DWORD TimeOutValue;
    DWORD ErrorInfoOffset;
    DWORD DataToDeviceBufferOffset;
    DWORD DataFromDeviceBufferOffset;
    DWORD CommandSpecific;
    DWORD Reserved0;
    DWORD FixedProtocolReturnData;
    DWORD Reserved1[3];
    BYTE Command[ANYSIZE_ARRAY];
};
constexpr DWORD kDocumentedStructureVersion = 1;         // STORAGE_PROTOCOL_STRUCTURE_VERSION
constexpr DWORD kDocumentedFlagAdapterRequest = 0x80000000;  // STORAGE_PROTOCOL_COMMAND_FLAG_ADAPTER_REQUEST
constexpr DWORD kDocumentedCommandLengthNvme = 0x40;     // STORAGE_PROTOCOL_COMMAND_LENGTH_NVME
constexpr DWORD kDocumentedNvmeAdminCommand = 0x01;      // STORAGE_PROTOCOL_SPECIFIC_NVME_ADMIN_COMMAND
constexpr DWORD kDocumentedNvmeNvmCommand = 0x02;        // STORAGE_PROTOCOL_SPECIFIC_NVME_NVM_COMMAND
constexpr DWORD kDocumentedStatusSuccess = 0x01;         // STORAGE_PROTOCOL_STATUS_SUCCESS
constexpr DWORD kDocumentedStatusError = 0x02;           // STORAGE_PROTOCOL_STATUS_ERROR

class StorageDriverDouble {
public:
    StorageDriverDouble();
    ~StorageDriverDouble();
    StorageDriverDouble(const StorageDriverDouble&) = delete;
    StorageDriverDouble& operator=(const StorageDriverDouble&) = delete;

    // \\.\PHYSICALDRIVE<number> as one namespace of an NVMe controller
    // described as the simulated drive's description files describe it.
    // The disk is the controller's first active namespace. The adapter's
    // largest transfer is `maxTransferBytes`, or the controller's MDTS when 0.
    void AddNvmeDisk(unsigned number, const Json::Value& description = Json::Value(Json::objectValue),
                     uint32_t maxTransferBytes = 0);
    // A disk of another protocol (a SATA disk behind its own driver): it
    // opens, and refuses every NVMe request.
    void AddOtherDisk(unsigned number);
    // Opening for writing needs an elevated process; false makes the double
    // refuse it as Windows refuses a standard user.
    bool elevated = true;

    // The calls as the binding's table holds them.
    static HANDLE WINAPI CreateFileA(LPCSTR path, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES security,
                                     DWORD disposition, DWORD flags, HANDLE templateFile);
    static BOOL WINAPI DeviceIoControl(HANDLE handle, DWORD code, LPVOID in, DWORD inSize, LPVOID out, DWORD outSize,
                                       LPDWORD returned, LPOVERLAPPED overlapped);
    static BOOL WINAPI CloseHandle(HANDLE handle);

    // What went through this double.
    struct Counts {
        size_t queries = 0;        // query-property requests answered from a controller
        size_t protocolCommands = 0;  // protocol commands answered from a controller
        size_t refused = 0;        // requests refused before reaching a controller
        size_t failed = 0;         // of the answered ones, those the controller or transport failed
    };
    const Counts& counts() const { return counts_; }
    // Every double of the process together, for the test's closing line.
    static Counts Totals();
    // The reason of each refusal, in order ("ProtocolDataOffset 8 below 40").
    std::vector<std::string> refusals;
    // Opened handles not closed yet.
    size_t OpenHandles() const { return handles_.size(); }

private:
    struct Disk {
        bool nvme = false;
        std::unique_ptr<kavo::SimulatedController> controller;
        uint32_t nsid = 1;
        uint32_t maxTransferBytes = 0;
    };
    struct OpenFile {
        unsigned disk = 0;
        DWORD access = 0;
    };
    BOOL Refuse(DWORD error, const std::string& reason);
    BOOL Query(OpenFile& file, Disk& disk, const BYTE* system, DWORD inSize, BYTE* output, DWORD outSize,
               DWORD* returned);
    BOOL ProtocolCommand(OpenFile& file, Disk& disk, BYTE* system, DWORD inSize, DWORD outSize, DWORD* returned);

    kavo::WindowsDeviceCalls saved_;
    std::map<unsigned, Disk> disks_;
    std::map<HANDLE, OpenFile> handles_;
    uintptr_t nextHandle_ = 0x5A000;
    Counts counts_;
};

}  // namespace test
