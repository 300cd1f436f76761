// Admin command operations shared by every binding: dispatch, timing
// records, log lines and the two command lists.
#include "transport/nvme_admin_command.h"

#include <cstdio>

#include "base/kavo_errors.h"
#include "base/kavo_log.h"
#include "base/kavo_text.h"
#include "transport/simulated_drive.h"

namespace kavo {
namespace {

void AppendRecord(const std::string& name, int returnCode, uint32_t bytes, double milliseconds, CommandLog* commands) {
    if (commands == nullptr) return;
    CommandRecord& record = commands->emplace_back();
    record.name = name;
    record.returnCode = returnCode;
    record.bytesReturned = bytes;
    record.milliseconds = milliseconds;
    record.timeMs = WallClockMilliseconds();
}

std::string StatusText(uint16_t status) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%04X", status);
    return text;
}

void LogLines(Severity severity, const char* source, const std::vector<std::string>& lines) {
    if (!LogEnabled(severity)) return;
    for (const std::string& line : lines) LogRecord(severity, source, __LINE__).stream() << line;
}

}  // namespace

bool IsSimulatedDrive(const std::string& drive) { return drive.compare(0, 3, "sim") == 0; }

std::string DriveNumberAfterPrefix(const std::string& drive, const std::vector<std::string>& prefixes) {
    for (const std::string& prefix : prefixes) {
        if (drive.size() <= prefix.size() || drive.compare(0, prefix.size(), prefix) != 0) continue;
        std::string number = drive.substr(prefix.size());
        if (number.find_first_not_of("0123456789") == std::string::npos) return number;
    }
    return drive;
}

NvmeHandle GetNvmeId(const std::string& path, bool writeAccess) {
    NvmeHandle handle = IsSimulatedDrive(path) ? OpenSimulatedDrive(path) : OpenPlatformDrive(path, writeAccess);
    if (!handle) {
        std::string message = "Failed to open handle for NVME drive '" + path + "'";
        if (writeAccess) message += "\n" + std::string(WriteAccessHint());
        throw KavoError(message);
    }
    KLOG(Verbose) << "Opened handle " << handle->HandleText() << " for NVME drive '" << path << "'";
    return handle;
}

int NvmeQueryPropertyCommand(DriveHandle& handle, const std::string& name, uint32_t dataType, uint32_t requestValue,
                             uint32_t requestSubValue, uint32_t dataLength, uint8_t* data, uint32_t* completionDw0,
                             CommandLog* commands, uint32_t nsid) {
    QueryPropertyRequest request{dataType, requestValue, requestSubValue, dataLength, nsid};
    QueryPropertyResult result = handle.QueryProperty(request, data);
    const char* source = handle.QuerySource();
    int returnCode = 0;
    // The request's dump, made only for a log that shows it.
    auto dump = [&](Severity severity) {
        return LogEnabled(severity) ? handle.QueryDump(name, request) : std::vector<std::string>();
    };
    if (result.callSucceeded && result.bytesReturned == dataLength) {
        if (completionDw0 != nullptr) *completionDw0 = result.completionDw0;
        KLOG_AS(Debug, source) << "Admin command " << name << " completed in " << result.milliseconds << " mS, returned "
                               << result.bytesReturned << " bytes";
        LogLines(Severity::Verbose, source, dump(Severity::Verbose));
    } else if (result.callSucceeded) {
        KLOG_AS(Error, source) << "Admin command " << name << " failed: " << handle.QueryCallName() << " completed in "
                               << result.milliseconds << " mS, returned " << result.bytesReturned
                               << " bytes but expected " << dataLength;
        LogLines(Severity::Error, source, dump(Severity::Error));
        returnCode = 1;
    } else {
        if (result.nvmeStatus != 0) {
            KLOG_AS(Error, source) << "Admin command " << name << " failed: " << handle.QueryCallName()
                                   << " returned NVMe status " << StatusText(result.nvmeStatus) << ", Completed in "
                                   << result.milliseconds << " mS, returned " << result.bytesReturned << " bytes";
        } else {
            KLOG_AS(Error, source) << "Admin command " << name << " failed: " << handle.QueryCallName()
                                   << " returned code " << result.systemError << ", Completed in "
                                   << result.milliseconds << " mS, returned " << result.bytesReturned << " bytes";
        }
        LogLines(Severity::Error, source, dump(Severity::Error));
        returnCode = 1;
    }
    AppendRecord(name, returnCode, result.bytesReturned, result.milliseconds, commands);
    return returnCode;
}

int NvmePassThroughCommand(DriveHandle& handle, const std::string& name, uint16_t opcode, uint32_t nsid, uint32_t cdw10,
                           uint32_t cdw11, uint32_t /*cdw12*/, uint32_t /*cdw13*/, uint32_t /*cdw14*/,
                           uint32_t /*cdw15*/, CommandLog* commands) {
    // CDW12 to CDW15 are accepted for symmetry with the dispatcher but never
    // sent: the command carries zeros there.
    NvmeCommand command;
    command.opcode = static_cast<uint8_t>(opcode & 0xFF);
    command.nsid = nsid;
    command.cdw10 = cdw10;
    command.cdw11 = cdw11;
    command.timeoutMs = 2000;
    PassThroughResult result = handle.PassThrough(command);
    const char* source = handle.PassThroughSource();
    const std::string call = handle.PassThroughCallName();
    int returnCode = 0;
    if (result.callSucceeded && result.returnStatus == 1) {
        KLOG_AS(Debug, source) << "Admin command " << name << " completed in " << result.milliseconds << " mS, returned "
                               << result.bytesReturned << " bytes";
        LogLines(Severity::Verbose, source, handle.PassThroughDump(name, command));
    } else {
        returnCode = result.systemError != 0 ? static_cast<int>(result.systemError) : 1;
        KLOG_AS(Error, source) << "Admin command " << name << ": " << call << " returned error: " << returnCode << " in "
                               << result.milliseconds << " mS";
        if (result.returnStatus != 1) {
            std::string status = result.nvmeStatus != 0 ? StatusText(result.nvmeStatus) : std::to_string(result.returnStatus);
            KLOG_AS(Error, source) << name << ": " << call << " returned status: " << status;
            KLOG_AS(Error, source) << name << ": " << call << " returned fixed protocol return data: " << result.completionDw0;
            KLOG_AS(Error, source) << name << ": " << call << " returned eror code: " << result.errorCode;
            KLOG_AS(Error, source) << name << ": " << call << " bytes returned: " << result.bytesReturned;
        }
        LogLines(Severity::Info, source, handle.PassThroughDump(name, command));
    }
    AppendRecord(name, returnCode, result.bytesReturned, result.milliseconds, commands);
    return returnCode;
}

int NvmeAdminCommand(DriveHandle& handle, const std::string& name, CommandLog* commands,
                     uint16_t opcode, uint32_t nsid, uint32_t cdw10, uint32_t cdw11, uint32_t cdw12, uint32_t cdw13,
                     uint32_t cdw14, uint32_t cdw15, uint8_t* data, uint32_t* completionDw0, uint32_t dataLength) {
    (void)cdw12, (void)cdw13, (void)cdw14, (void)cdw15;
    switch (opcode) {
        case kOpcodeGetLogPage:
            return NvmeQueryPropertyCommand(handle, name, kDataTypeLogPage, cdw10 & 0xFF, 0, dataLength, data, nullptr,
                                            commands);
        case kOpcodeIdentify:
            // The query path knows only Identify Namespace (CNS 0) and Identify
            // Controller (any other CNS).
            if ((cdw10 & 0xFF) == 0)
                return NvmeQueryPropertyCommand(handle, name, kDataTypeIdentify, 0, nsid, dataLength, data, nullptr,
                                                commands);
            return NvmeQueryPropertyCommand(handle, name, kDataTypeIdentify, 1, 0, dataLength, data, nullptr,
                                            commands);
        case kOpcodeGetFeatures:
            return NvmeQueryPropertyCommand(handle, name, kDataTypeFeature, cdw10 & 0xFF, cdw11, dataLength, data,
                                            completionDw0, commands);
        case kOpcodeDeviceSelfTest:
            return NvmePassThroughCommand(handle, name, opcode, nsid, cdw10, cdw11, 0, 0, 0, 0, commands);
        default:
            throw KavoError("Application does not support NVMe Admin command opcode " + std::to_string(opcode) + " for " +
                            PlatformName());
    }
}

int IdentifyController(DriveHandle& handle, uint8_t* buffer, CommandLog* commands) {
    return NvmeQueryPropertyCommand(handle, "Identify Controller", kDataTypeIdentify, 1, 0, 4096, buffer, nullptr,
                                    commands);
}

}  // namespace kavo
