// The storage driver double: the Windows NVMe driver's answers to the two
// storage controls, from the documentation and the mingw-w64 headers.
#include "storage_driver_double.h"

#include <algorithm>
#include <cctype>
#include <cstddef>
#include <cstring>

#include <winioctl.h>
#include <nvme.h>

namespace test {
namespace {

static_assert(offsetof(DocumentedProtocolCommand, ReturnStatus) == 16);
static_assert(offsetof(DocumentedProtocolCommand, FixedProtocolReturnData) == 64);
static_assert(offsetof(DocumentedProtocolCommand, Command) == 80);
static_assert(sizeof(DocumentedProtocolCommand) == 84);
static_assert(sizeof(NVME_COMMAND) == kDocumentedCommandLengthNvme);
static_assert(sizeof(STORAGE_PROTOCOL_SPECIFIC_DATA) == 40);
static_assert(sizeof(STORAGE_PROTOCOL_DATA_DESCRIPTOR) == 48);

StorageDriverDouble* active = nullptr;
StorageDriverDouble::Counts totals;

constexpr DWORD kQueryHeader = offsetof(STORAGE_PROPERTY_QUERY, AdditionalParameters);
constexpr DWORD kSpecificData = sizeof(STORAGE_PROTOCOL_SPECIFIC_DATA);
constexpr DWORD kDescriptorHeader = offsetof(STORAGE_PROTOCOL_DATA_DESCRIPTOR, ProtocolSpecificData);
constexpr DWORD kCommandOffset = offsetof(DocumentedProtocolCommand, Command);
constexpr DWORD kCommandEnd = kCommandOffset + kDocumentedCommandLengthNvme;

std::string Text(uint64_t value) { return std::to_string(value); }

// The protocol check both controls make: NVMe is carried, another known
// protocol is not, anything else is no protocol at all.
DWORD ProtocolError(DWORD protocol) {
    if (protocol == ProtocolTypeNvme) return ERROR_SUCCESS;
    if (protocol == ProtocolTypeUnknown || protocol > ProtocolTypeMaxReserved) return ERROR_INVALID_PARAMETER;
    return ERROR_INVALID_FUNCTION;
}

// A region [offset, offset + length) inside a buffer of `size` bytes that
// does not overlap what comes before `first`.
bool Inside(uint64_t offset, uint64_t length, uint64_t first, uint64_t size) {
    return length == 0 || (offset >= first && offset + length <= size);
}

}  // namespace

StorageDriverDouble::StorageDriverDouble() {
    saved_ = kavo::DeviceCalls();
    kavo::DeviceCalls().createFile = &StorageDriverDouble::CreateFileA;
    kavo::DeviceCalls().deviceIoControl = &StorageDriverDouble::DeviceIoControl;
    kavo::DeviceCalls().closeHandle = &StorageDriverDouble::CloseHandle;
    active = this;
}

StorageDriverDouble::~StorageDriverDouble() {
    kavo::DeviceCalls() = saved_;
    if (active == this) active = nullptr;
    totals.queries += counts_.queries;
    totals.protocolCommands += counts_.protocolCommands;
    totals.refused += counts_.refused;
    totals.failed += counts_.failed;
}

StorageDriverDouble::Counts StorageDriverDouble::Totals() {
    Counts sum = totals;
    if (active != nullptr) {
        sum.queries += active->counts_.queries;
        sum.protocolCommands += active->counts_.protocolCommands;
        sum.refused += active->counts_.refused;
        sum.failed += active->counts_.failed;
    }
    return sum;
}

void StorageDriverDouble::AddNvmeDisk(unsigned number, const Json::Value& description, uint32_t maxTransferBytes) {
    Disk& disk = disks_[number];
    disk.nvme = true;
    disk.controller = std::make_unique<kavo::SimulatedController>(description, "disk " + Text(number));
    // The disk is the first active namespace, as the controller lists them.
    std::vector<uint8_t> list(4096, 0);
    kavo::NvmeCommand identify;
    identify.opcode = NVME_ADMIN_COMMAND_IDENTIFY;
    identify.cdw10 = NVME_IDENTIFY_CNS_ACTIVE_NAMESPACES;
    identify.dataLength = 4096;
    disk.controller->Execute(identify, list.data());
    uint32_t first = 0;
    std::memcpy(&first, list.data(), 4);
    disk.nsid = first != 0 ? first : 1;
    const uint8_t mdts = disk.controller->IdentifyControllerData()[77];
    // MDTS in units of the minimum memory page size (4 KiB); 0 is no limit
    // of the controller, where the adapter's own limit of 2 MiB stands.
    disk.maxTransferBytes = maxTransferBytes != 0 ? maxTransferBytes
                            : mdts != 0 && mdts <= 9 ? 4096u << mdts
                                                     : 2u << 20;
}

void StorageDriverDouble::AddOtherDisk(unsigned number) { disks_[number].nvme = false; }

BOOL StorageDriverDouble::Refuse(DWORD error, const std::string& reason) {
    ++counts_.refused;
    refusals.push_back(reason);
    SetLastError(error);
    return FALSE;
}

HANDLE WINAPI StorageDriverDouble::CreateFileA(LPCSTR path, DWORD access, DWORD /*share*/,
                                               LPSECURITY_ATTRIBUTES /*security*/, DWORD disposition, DWORD /*flags*/,
                                               HANDLE /*templateFile*/) {
    StorageDriverDouble& self = *active;
    std::string name = path != nullptr ? path : "";
    std::transform(name.begin(), name.end(), name.begin(), [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
    const std::string prefix = "\\\\.\\PHYSICALDRIVE";
    std::string digits = name.compare(0, prefix.size(), prefix) == 0 ? name.substr(prefix.size()) : "";
    bool number = !digits.empty() && digits.size() < 6 &&
                  std::all_of(digits.begin(), digits.end(), [](char c) { return c >= '0' && c <= '9'; });
    auto disk = number ? self.disks_.find(static_cast<unsigned>(std::stoul(digits))) : self.disks_.end();
    if (disk == self.disks_.end()) {
        SetLastError(ERROR_FILE_NOT_FOUND);
        return INVALID_HANDLE_VALUE;
    }
    if (disposition != OPEN_EXISTING) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return INVALID_HANDLE_VALUE;
    }
    if ((access & (GENERIC_WRITE | GENERIC_ALL)) != 0 && !self.elevated) {
        SetLastError(ERROR_ACCESS_DENIED);
        return INVALID_HANDLE_VALUE;
    }
    HANDLE handle = reinterpret_cast<HANDLE>(self.nextHandle_ += 4);
    self.handles_[handle] = OpenFile{disk->first, access};
    return handle;
}

BOOL WINAPI StorageDriverDouble::CloseHandle(HANDLE handle) {
    StorageDriverDouble& self = *active;
    if (self.handles_.erase(handle) == 0) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    return TRUE;
}

BOOL WINAPI StorageDriverDouble::DeviceIoControl(HANDLE handle, DWORD code, LPVOID in, DWORD inSize, LPVOID out,
                                                 DWORD outSize, LPDWORD returned, LPOVERLAPPED overlapped) {
    StorageDriverDouble& self = *active;
    auto file = self.handles_.find(handle);
    if (file == self.handles_.end()) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    if (overlapped != nullptr) return self.Refuse(ERROR_INVALID_PARAMETER, "an overlapped request on a handle opened without FILE_FLAG_OVERLAPPED");
    if (returned == nullptr) return self.Refuse(ERROR_INVALID_PARAMETER, "no bytes-returned variable without an overlapped structure");
    *returned = 0;
    if ((inSize != 0 && in == nullptr) || (outSize != 0 && out == nullptr))
        return self.Refuse(ERROR_INVALID_PARAMETER, "a buffer size without a buffer");
    // METHOD_BUFFERED, as both controls are: the driver sees one system
    // buffer holding the input, writes its answer over it, and the caller's
    // output receives the bytes the driver reports, only when it succeeds.
    std::vector<BYTE> system(std::max<DWORD>(inSize, outSize), 0);
    if (inSize != 0) std::memcpy(system.data(), in, inSize);
    Disk& disk = self.disks_[file->second.disk];
    DWORD count = 0;
    BOOL ok = FALSE;
    if (code == IOCTL_STORAGE_QUERY_PROPERTY)
        ok = self.Query(file->second, disk, system.data(), inSize, system.data(), outSize, &count);
    else if (code == IOCTL_STORAGE_PROTOCOL_COMMAND)
        ok = self.ProtocolCommand(file->second, disk, system.data(), inSize, outSize, &count);
    else
        return self.Refuse(ERROR_INVALID_FUNCTION, "control code " + Text(code) + " is not one the double answers");
    if (!ok) return FALSE;
    if (count != 0) std::memcpy(out, system.data(), count);
    *returned = count;
    return TRUE;
}

BOOL StorageDriverDouble::Query(OpenFile& /*file*/, Disk& disk, const BYTE* system, DWORD inSize, BYTE* output,
                                DWORD outSize, DWORD* returned) {
    if (inSize < sizeof(STORAGE_PROPERTY_QUERY))
        return Refuse(ERROR_INVALID_PARAMETER, "input of " + Text(inSize) + " bytes, shorter than STORAGE_PROPERTY_QUERY");
    STORAGE_PROPERTY_QUERY query;
    std::memcpy(&query, system, kQueryHeader);
    const DWORD property = query.PropertyId;
    if (property != StorageAdapterProtocolSpecificProperty && property != StorageDeviceProtocolSpecificProperty)
        return Refuse(ERROR_INVALID_FUNCTION, "PropertyId " + Text(property) + " is not a protocol-specific property");
    if (query.QueryType == PropertyExistsQuery) {
        if (!disk.nvme) return Refuse(ERROR_INVALID_FUNCTION, "no NVMe protocol data on a disk of another protocol");
        return TRUE;
    }
    if (query.QueryType != PropertyStandardQuery)
        return Refuse(ERROR_INVALID_PARAMETER, "QueryType " + Text(query.QueryType) + " for a protocol-specific property");
    if (inSize < kQueryHeader + kSpecificData)
        return Refuse(ERROR_INVALID_PARAMETER, "input of " + Text(inSize) +
                                                   " bytes, too short for STORAGE_PROTOCOL_SPECIFIC_DATA at AdditionalParameters");
    STORAGE_PROTOCOL_SPECIFIC_DATA data;
    std::memcpy(&data, system + kQueryHeader, kSpecificData);
    if (DWORD error = ProtocolError(data.ProtocolType))
        return Refuse(error, "ProtocolType " + Text(data.ProtocolType) + " on an NVMe adapter");
    if (!disk.nvme) return Refuse(ERROR_INVALID_FUNCTION, "NVMe protocol data asked of a disk of another protocol");
    if (data.DataType == NVMeDataTypeUnknown) return Refuse(ERROR_INVALID_PARAMETER, "DataType NVMeDataTypeUnknown");
    if (data.DataType > NVMeDataTypeFeature) return Refuse(ERROR_INVALID_FUNCTION, "DataType " + Text(data.DataType));
    const DWORD length = data.ProtocolDataLength;
    if (length != 0 && data.ProtocolDataOffset < kSpecificData)
        return Refuse(ERROR_INVALID_PARAMETER, "ProtocolDataOffset " + Text(data.ProtocolDataOffset) +
                                                   " below sizeof(STORAGE_PROTOCOL_SPECIFIC_DATA) " + Text(kSpecificData));
    const uint64_t needed = kDescriptorHeader + (length != 0 ? uint64_t(data.ProtocolDataOffset) + length : kSpecificData);
    if (length > disk.maxTransferBytes)
        return Refuse(ERROR_INVALID_PARAMETER, "ProtocolDataLength " + Text(length) + " above the adapter's largest transfer " +
                                                   Text(disk.maxTransferBytes));
    if (outSize < sizeof(STORAGE_PROTOCOL_DATA_DESCRIPTOR) || outSize < needed)
        return Refuse(ERROR_INSUFFICIENT_BUFFER, "output of " + Text(outSize) + " bytes for an answer of " + Text(needed));

    const bool device = property == StorageDeviceProtocolSpecificProperty;
    kavo::NvmeCommand command;
    command.dataLength = length;
    switch (data.DataType) {
        case NVMeDataTypeIdentify: {
            const DWORD cns = data.ProtocolDataRequestValue;
            if (cns != NVME_IDENTIFY_CNS_SPECIFIC_NAMESPACE && cns != NVME_IDENTIFY_CNS_CONTROLLER &&
                cns != NVME_IDENTIFY_CNS_ACTIVE_NAMESPACES)
                return Refuse(ERROR_INVALID_FUNCTION, "Identify CNS " + Text(cns) + " is not carried by the driver");
            if (data.ProtocolDataRequestSubValue2 != 0 || data.ProtocolDataRequestSubValue3 != 0 ||
                data.ProtocolDataRequestSubValue4 != 0)
                return Refuse(ERROR_INVALID_PARAMETER, "ProtocolDataRequestSubValue2 to 4 are reserved for Identify");
            if (length == 0) return Refuse(ERROR_INVALID_PARAMETER, "Identify without a data buffer");
            command.opcode = NVME_ADMIN_COMMAND_IDENTIFY;
            command.cdw10 = cns;
            if (cns != NVME_IDENTIFY_CNS_CONTROLLER)
                command.nsid = data.ProtocolDataRequestSubValue != 0 || !device ? data.ProtocolDataRequestSubValue : disk.nsid;
            command.dataLength = std::min<DWORD>(length, 4096);
            break;
        }
        case NVMeDataTypeLogPage: {
            if (data.ProtocolDataRequestValue > 0xFF)
                return Refuse(ERROR_INVALID_PARAMETER, "log identifier " + Text(data.ProtocolDataRequestValue));
            if (length == 0) return Refuse(ERROR_INVALID_PARAMETER, "a log page of no bytes");
            const uint64_t offset = uint64_t(data.ProtocolDataRequestSubValue2) << 32 | data.ProtocolDataRequestSubValue;
            if (offset % 4 != 0) return Refuse(ERROR_INVALID_PARAMETER, "log page offset " + Text(offset) + " not in dwords");
            STORAGE_PROTOCOL_DATA_SUBVALUE_GET_LOG_PAGE sub;
            sub.AsUlong = data.ProtocolDataRequestSubValue4;
            if (sub.Reserved != 0) return Refuse(ERROR_INVALID_PARAMETER, "reserved bits of ProtocolDataRequestSubValue4");
            if (data.ProtocolDataRequestSubValue3 > 0xFFFF)
                return Refuse(ERROR_INVALID_PARAMETER, "log specific identifier " + Text(data.ProtocolDataRequestSubValue3));
            const uint32_t numd = (length + 3) / 4 - 1;  // dwords, 0's based
            command.opcode = NVME_ADMIN_COMMAND_GET_LOG_PAGE;
            command.nsid = device ? disk.nsid : NVME_NAMESPACE_ALL;
            command.cdw10 = (data.ProtocolDataRequestValue & 0xFF) | (sub.LogSpecificField << 8) |
                            (sub.RetainAsynEvent << 15) | ((numd & 0xFFFF) << 16);
            command.cdw11 = (numd >> 16) | (data.ProtocolDataRequestSubValue3 << 16);
            command.cdw12 = static_cast<uint32_t>(offset);
            command.cdw13 = static_cast<uint32_t>(offset >> 32);
            break;
        }
        default: {  // NVMeDataTypeFeature
            const DWORD fid = data.ProtocolDataRequestValue;
            if (fid == 0 || fid > 0xFF) return Refuse(ERROR_INVALID_PARAMETER, "feature identifier " + Text(fid));
            if (data.ProtocolDataRequestSubValue2 != 0 || data.ProtocolDataRequestSubValue3 != 0 ||
                data.ProtocolDataRequestSubValue4 != 0)
                return Refuse(ERROR_INVALID_PARAMETER, "ProtocolDataRequestSubValue2 to 4 are reserved for Get Features");
            command.opcode = NVME_ADMIN_COMMAND_GET_FEATURES;
            command.cdw10 = fid;  // select 000b: the current value
            command.cdw11 = data.ProtocolDataRequestSubValue;
            // The namespace features belong to the disk's namespace.
            if (fid == NVME_FEATURE_LBA_RANGE_TYPE || fid == NVME_FEATURE_ERROR_RECOVERY) command.nsid = disk.nsid;
            break;
        }
    }
    std::vector<uint8_t> buffer(((command.dataLength + 3) & ~3u) + 4, 0);
    kavo::SimulatedController::Completion completion = disk.controller->Execute(command, buffer.data());
    ++counts_.queries;
    if (completion.delayMs != 0) Sleep(completion.delayMs);
    if (completion.transportError || completion.status != 0) {
        ++counts_.failed;
        SetLastError(ERROR_IO_DEVICE);
        return FALSE;
    }
    const DWORD bytes = std::min<DWORD>(completion.bytes, command.dataLength);
    STORAGE_PROTOCOL_DATA_DESCRIPTOR descriptor{};
    descriptor.Version = sizeof(STORAGE_PROTOCOL_DATA_DESCRIPTOR);
    descriptor.Size = sizeof(STORAGE_PROTOCOL_DATA_DESCRIPTOR);
    descriptor.ProtocolSpecificData = data;
    descriptor.ProtocolSpecificData.ProtocolDataOffset = length != 0 ? data.ProtocolDataOffset : 0;
    descriptor.ProtocolSpecificData.ProtocolDataLength = bytes;
    descriptor.ProtocolSpecificData.FixedProtocolReturnData = completion.dw0;
    std::memset(output, 0, static_cast<size_t>(needed));
    std::memcpy(output, &descriptor, sizeof descriptor);
    if (bytes != 0) std::memcpy(output + kDescriptorHeader + data.ProtocolDataOffset, buffer.data(), bytes);
    *returned = length != 0 ? kDescriptorHeader + data.ProtocolDataOffset + bytes
                            : static_cast<DWORD>(sizeof(STORAGE_PROTOCOL_DATA_DESCRIPTOR));
    return TRUE;
}

BOOL StorageDriverDouble::ProtocolCommand(OpenFile& file, Disk& disk, BYTE* system, DWORD inSize, DWORD outSize,
                                          DWORD* returned) {
    // The control code asks for FILE_READ_ACCESS | FILE_WRITE_ACCESS.
    const bool readWrite = (file.access & GENERIC_ALL) != 0 ||
                           ((file.access & GENERIC_READ) != 0 && (file.access & GENERIC_WRITE) != 0);
    if (!readWrite) return Refuse(ERROR_ACCESS_DENIED, "IOCTL_STORAGE_PROTOCOL_COMMAND on a handle without read and write access");
    if (!disk.nvme) return Refuse(ERROR_INVALID_FUNCTION, "an NVMe command sent to a disk of another protocol");
    if (inSize < kCommandOffset)
        return Refuse(ERROR_INVALID_PARAMETER, "input of " + Text(inSize) + " bytes, shorter than STORAGE_PROTOCOL_COMMAND");
    DocumentedProtocolCommand header;
    std::memcpy(&header, system, kCommandOffset);
    if (header.Version != kDocumentedStructureVersion) return Refuse(ERROR_INVALID_PARAMETER, "Version " + Text(header.Version));
    if (header.Length < sizeof(DocumentedProtocolCommand))
        return Refuse(ERROR_INVALID_PARAMETER, "Length " + Text(header.Length) + " below sizeof(STORAGE_PROTOCOL_COMMAND) " +
                                                   Text(sizeof(DocumentedProtocolCommand)));
    if (DWORD error = ProtocolError(header.ProtocolType))
        return Refuse(error, "ProtocolType " + Text(header.ProtocolType) + " on an NVMe adapter");
    if (header.CommandLength != kDocumentedCommandLengthNvme)
        return Refuse(ERROR_INVALID_PARAMETER, "CommandLength " + Text(header.CommandLength) + " for an NVMe command");
    if (inSize < kCommandEnd)
        return Refuse(ERROR_INVALID_PARAMETER, "input of " + Text(inSize) + " bytes, without the whole NVMe command");
    if (outSize < kCommandEnd)
        return Refuse(ERROR_INSUFFICIENT_BUFFER, "output of " + Text(outSize) + " bytes, without room for the command");
    if ((header.Flags & ~kDocumentedFlagAdapterRequest) != 0) return Refuse(ERROR_INVALID_PARAMETER, "Flags " + Text(header.Flags));
    if (header.CommandSpecific == kDocumentedNvmeNvmCommand)
        return Refuse(ERROR_INVALID_FUNCTION, "an NVM command set command (not modelled)");
    if (header.CommandSpecific != kDocumentedNvmeAdminCommand)
        return Refuse(ERROR_INVALID_PARAMETER, "CommandSpecific " + Text(header.CommandSpecific));
    if ((header.Flags & kDocumentedFlagAdapterRequest) == 0)
        return Refuse(ERROR_INVALID_PARAMETER, "an admin command without STORAGE_PROTOCOL_COMMAND_FLAG_ADAPTER_REQUEST");
    if (!Inside(header.ErrorInfoOffset, header.ErrorInfoLength, kCommandEnd, outSize))
        return Refuse(ERROR_INVALID_PARAMETER, "ErrorInfoOffset " + Text(header.ErrorInfoOffset) + " and ErrorInfoLength " +
                                                   Text(header.ErrorInfoLength) + " outside the output");
    if (!Inside(header.DataToDeviceBufferOffset, header.DataToDeviceTransferLength, kCommandEnd, inSize))
        return Refuse(ERROR_INVALID_PARAMETER, "DataToDeviceBufferOffset " + Text(header.DataToDeviceBufferOffset) +
                                                   " and DataToDeviceTransferLength " +
                                                   Text(header.DataToDeviceTransferLength) + " outside the input");
    if (!Inside(header.DataFromDeviceBufferOffset, header.DataFromDeviceTransferLength, kCommandEnd, outSize))
        return Refuse(ERROR_INVALID_PARAMETER, "DataFromDeviceBufferOffset " + Text(header.DataFromDeviceBufferOffset) +
                                                   " and DataFromDeviceTransferLength " +
                                                   Text(header.DataFromDeviceTransferLength) + " outside the output");
    if (header.DataToDeviceTransferLength > disk.maxTransferBytes || header.DataFromDeviceTransferLength > disk.maxTransferBytes)
        return Refuse(ERROR_INVALID_PARAMETER, "a transfer above the adapter's largest transfer " + Text(disk.maxTransferBytes));
    NVME_COMMAND nvme;
    std::memcpy(&nvme, system + kCommandOffset, sizeof nvme);
    const DWORD opcode = nvme.CDW0.OPC;
    if (opcode == NVME_ADMIN_COMMAND_IDENTIFY || opcode == NVME_ADMIN_COMMAND_GET_LOG_PAGE ||
        opcode == NVME_ADMIN_COMMAND_GET_FEATURES)
        return Refuse(ERROR_INVALID_FUNCTION, "admin opcode " + Text(opcode) + " has IOCTL_STORAGE_QUERY_PROPERTY");
    if (opcode != NVME_ADMIN_COMMAND_DEVICE_SELF_TEST && opcode < 0xC0)
        return Refuse(ERROR_INVALID_FUNCTION, "admin opcode " + Text(opcode) + " is not passed through");
    if (opcode == NVME_ADMIN_COMMAND_DEVICE_SELF_TEST &&
        (header.DataToDeviceTransferLength != 0 || header.DataFromDeviceTransferLength != 0))
        return Refuse(ERROR_INVALID_PARAMETER, "Device Self-test with a data transfer");
    kavo::NvmeCommand command;
    command.opcode = static_cast<uint8_t>(opcode);
    command.nsid = nvme.NSID;
    command.cdw10 = nvme.u.GENERAL.CDW10;
    command.cdw11 = nvme.u.GENERAL.CDW11;
    command.cdw12 = nvme.u.GENERAL.CDW12;
    command.cdw13 = nvme.u.GENERAL.CDW13;
    command.cdw14 = nvme.u.GENERAL.CDW14;
    command.cdw15 = nvme.u.GENERAL.CDW15;
    command.dataLength = header.DataFromDeviceTransferLength;
    command.timeoutMs = header.TimeOutValue * 1000;
    std::vector<uint8_t> data(((command.dataLength + 3) & ~3u) + 4, 0);
    kavo::SimulatedController::Completion completion = disk.controller->Execute(command, data.data());
    ++counts_.protocolCommands;
    if (completion.delayMs != 0) Sleep(completion.delayMs);
    if (completion.transportError) {
        ++counts_.failed;
        SetLastError(ERROR_IO_DEVICE);
        return FALSE;
    }
    if (completion.status != 0) ++counts_.failed;
    DocumentedProtocolCommand* answer = reinterpret_cast<DocumentedProtocolCommand*>(system);
    answer->ReturnStatus = completion.status == 0 ? kDocumentedStatusSuccess : kDocumentedStatusError;
    answer->ErrorCode = completion.status;
    answer->FixedProtocolReturnData = completion.dw0;
    DWORD end = kCommandEnd;
    if (header.DataFromDeviceTransferLength != 0) {
        std::memcpy(system + header.DataFromDeviceBufferOffset, data.data(),
                    std::min<DWORD>(completion.bytes, header.DataFromDeviceTransferLength));
        end = std::max<DWORD>(end, header.DataFromDeviceBufferOffset + header.DataFromDeviceTransferLength);
    }
    *returned = end;
    return TRUE;
}

}  // namespace test
