// Windows binding of the admin command interface: CreateFileA on
// \\.\PHYSICALDRIVEn and the two storage I/O controls, through the
// replaceable call table of nvme_admin_command_windows.h.
#include <cstdio>
#include <cstring>
#include <vector>

#include <windows.h>
#include <winioctl.h>

#include "base/kavo_text.h"
#include "transport/nvme_admin_command.h"
#include "transport/nvme_admin_command_windows.h"
#include "transport/storage_buffers.h"
#include "transport/windows_storage.h"

namespace kavo {
namespace {

static_assert(offsetof(STORAGE_PROPERTY_QUERY, AdditionalParameters) == storage::kProtocolDataOffset);
static_assert(sizeof(STORAGE_PROTOCOL_SPECIFIC_DATA) == storage::kProtocolSpecificDataSize);
static_assert(storage::kProtocolDataOffset + sizeof(STORAGE_PROTOCOL_SPECIFIC_DATA) == storage::kQueryBufferSize);
static_assert(offsetof(STORAGE_PROTOCOL_SPECIFIC_DATA, FixedProtocolReturnData) + 8 == storage::kQueryOutputReturnData);
static_assert(sizeof(STORAGE_PROTOCOL_DATA_DESCRIPTOR) == storage::kQueryOutputHeaderSize);
static_assert(offsetof(STORAGE_PROTOCOL_COMMAND, Command) == storage::kPassThroughCommandOffset);
static_assert(offsetof(STORAGE_PROTOCOL_COMMAND, ReturnStatus) == storage::kReturnStatusOffset);
static_assert(offsetof(STORAGE_PROTOCOL_COMMAND, ErrorCode) == storage::kErrorCodeOffset);
static_assert(offsetof(STORAGE_PROTOCOL_COMMAND, FixedProtocolReturnData) == storage::kFixedReturnDataOffset);
static_assert(sizeof(STORAGE_PROTOCOL_COMMAND) == storage::kProtocolCommandDeclaredSize);

std::string Pointer(HANDLE handle) {
    char text[32];
    std::snprintf(text, sizeof text, "%p", static_cast<void*>(handle));
    return text;
}

class WindowsDriveHandle : public DriveHandle {
public:
    WindowsDriveHandle(HANDLE handle, const WindowsDeviceCalls& calls) : handle_(handle), calls_(calls) {}
    ~WindowsDriveHandle() override { calls_.closeHandle(handle_); }

    std::string HandleText() const override { return Pointer(handle_); }
    const char* QuerySource() const override { return "WIN_IOCTL_STORAGE_QUERY_PROPERTY"; }
    const char* PassThroughSource() const override { return "WIN_IOCTL_STORAGE_PROTOCOL_COMMAND"; }
    const char* QueryCallName() const override { return "DeviceIoControl"; }
    const char* PassThroughCallName() const override { return "DeviceIoControl with IOCTL_STORAGE_PROTOCOL_COMMAND"; }

    QueryPropertyResult QueryProperty(const QueryPropertyRequest& request, uint8_t* data) override {
        QueryPropertyResult result;
        auto input = storage::QueryPropertyBuffer(request);
        std::vector<uint8_t> output(storage::kQueryOutputHeaderSize + request.dataLength, 0);
        DWORD bytes = 0;
        int64_t start = MonotonicNanoseconds();
        BOOL ok = calls_.deviceIoControl(handle_, IOCTL_STORAGE_QUERY_PROPERTY, input.data(),
                                         static_cast<DWORD>(input.size()), output.data(),
                                         static_cast<DWORD>(output.size()), &bytes, nullptr);
        result.milliseconds = ElapsedMilliseconds(start);
        if (!ok) result.systemError = GetLastError();
        result.callSucceeded = ok != 0;
        // The data count leaves out the descriptor ahead of the data.
        result.bytesReturned = bytes >= storage::kQueryOutputHeaderSize ? bytes - storage::kQueryOutputHeaderSize : 0;
        if (result.callSucceeded && result.bytesReturned == request.dataLength) {
            result.completionDw0 = storage::ReadU32(&output[storage::kQueryOutputReturnData]);
            if (request.dataLength != 0) std::memcpy(data, &output[storage::kQueryOutputHeaderSize], request.dataLength);
        }
        return result;
    }

    PassThroughResult PassThrough(const NvmeCommand& command) override {
        PassThroughResult result;
        auto buffer = storage::PassThroughBuffer(command);
        DWORD bytes = 0;
        int64_t start = MonotonicNanoseconds();
        BOOL ok = calls_.deviceIoControl(handle_, IOCTL_STORAGE_PROTOCOL_COMMAND, buffer.data(),
                                         static_cast<DWORD>(buffer.size()), buffer.data(),
                                         static_cast<DWORD>(buffer.size()), &bytes, nullptr);
        result.milliseconds = ElapsedMilliseconds(start);
        if (!ok) result.systemError = GetLastError();
        result.callSucceeded = ok != 0;
        result.returnStatus = storage::ReadU32(&buffer[storage::kReturnStatusOffset]);
        result.errorCode = storage::ReadU32(&buffer[storage::kErrorCodeOffset]);
        result.completionDw0 = storage::ReadU32(&buffer[storage::kFixedReturnDataOffset]);
        result.bytesReturned = bytes;
        return result;
    }

    std::vector<std::string> QueryDump(const std::string& name, const QueryPropertyRequest& request) const override {
        uint32_t offset = request.dataLength != 0 ? static_cast<uint32_t>(storage::kProtocolSpecificDataSize) : 0;
        return {"Additional debug info...",
                "Running NVMe Admin " + name + " command using IOCTL_STORAGE_QUERY_PROPERTY",
                "PSTORAGE_PROTOCOL_SPECIFIC_DATA: ProtocolType = ProtocolTypeNvme",
                "PSTORAGE_PROTOCOL_SPECIFIC_DATA: DataType = " + std::to_string(request.dataType),
                "PSTORAGE_PROTOCOL_SPECIFIC_DATA: ProtocolDataRequestValue = " + std::to_string(request.requestValue),
                "PSTORAGE_PROTOCOL_SPECIFIC_DATA: ProtocolDataRequestSubValue = " + std::to_string(request.requestSubValue),
                "PSTORAGE_PROTOCOL_SPECIFIC_DATA: DataOffset = " + std::to_string(offset),
                "PSTORAGE_PROTOCOL_SPECIFIC_DATA: DataLength = " + std::to_string(request.dataLength),
                "IOCTL offset = " + std::to_string(storage::kProtocolDataOffset),
                "Input buffer size = " + std::to_string(storage::kQueryBufferSize),
                "Output buffer size = " + std::to_string(storage::kQueryOutputHeaderSize + request.dataLength),
                "Handle = " + HandleText()};
    }

    std::vector<std::string> PassThroughDump(const std::string& name, const NvmeCommand& command) const override {
        return {"Additional debug info...",
                "NVMe Admin Command " + name + " run using IOCTL_STORAGE_PROTOCOL_COMMAND (Pass-Thru method)",
                "STORAGE_PROTOCOL_COMMAND: ProtocolType = ProtocolTypeNvme",
                "STORAGE_PROTOCOL_COMMAND: Flags = STORAGE_PROTOCOL_COMMAND_FLAG_ADAPTER_REQUEST",
                "STORAGE_PROTOCOL_COMMAND: CommandLength = STORAGE_PROTOCOL_COMMAND_LENGTH_NVME",
                "STORAGE_PROTOCOL_COMMAND: TimeOutValue = " + std::to_string(storage::kPassThroughTimeoutSeconds),
                "STORAGE_PROTOCOL_COMMAND: CommandSpecific = STORAGE_PROTOCOL_SPECIFIC_NVME_ADMIN_COMMAND",
                "STORAGE_PROTOCOL_COMMAND: Command.OPC = " + std::to_string(command.opcode),
                "STORAGE_PROTOCOL_COMMAND: Command.NSID = " + std::to_string(command.nsid),
                "STORAGE_PROTOCOL_COMMAND: Command.CDW10 = " + std::to_string(command.cdw10),
                "STORAGE_PROTOCOL_COMMAND: Command.CDW11 = " + std::to_string(command.cdw11),
                "STORAGE_PROTOCOL_COMMAND: Command.CDW12 = 0",
                "STORAGE_PROTOCOL_COMMAND: Command.CDW13 = 0",
                "STORAGE_PROTOCOL_COMMAND: Command.CDW14 = 0",
                "STORAGE_PROTOCOL_COMMAND: Command.CDW15 = 0",
                "Buffer size for output data = " + std::to_string(storage::kPassThroughBufferSize),
                "Handle = " + HandleText()};
    }

private:
    HANDLE handle_;
    WindowsDeviceCalls calls_;
};

}  // namespace

WindowsDeviceCalls& DeviceCalls() {
    static WindowsDeviceCalls calls;
    return calls;
}

NvmeHandle OpenPlatformDrive(const std::string& path, bool writeAccess) {
    const WindowsDeviceCalls calls = DeviceCalls();
    HANDLE handle = calls.createFile(path.c_str(), writeAccess ? (GENERIC_READ | GENERIC_WRITE) : 0,
                                     FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr);
    if (handle == INVALID_HANDLE_VALUE) return nullptr;
    return std::make_unique<WindowsDriveHandle>(handle, calls);
}

const char* WriteAccessHint() { return "This command requires administrator privileges for write drive access"; }
const char* PlatformName() { return "the Windows OS"; }
std::string PlatformDrivePath(const std::string& drive) { return "\\\\.\\PHYSICALDRIVE" + drive; }
std::string DriveNumberOfPlatformName(const std::string& drive) {
    return DriveNumberAfterPrefix(drive, {"\\\\.\\PHYSICALDRIVE", "PHYSICALDRIVE"});
}
const char* PlatformDriveNameForms() { return "PHYSICALDRIVE0 or \\\\.\\PHYSICALDRIVE0"; }

}  // namespace kavo
