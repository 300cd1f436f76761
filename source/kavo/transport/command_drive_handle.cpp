// The request-to-commands loop shared by the bindings that carry real NVMe
// admin commands.
#include "transport/command_drive_handle.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <vector>

namespace kavo {

QueryPropertyResult CommandDriveHandle::QueryProperty(const QueryPropertyRequest& request, uint8_t* data) {
    QueryPropertyResult result;
    if (request.dataType == kDataTypeLogPage && request.dataLength == 0) {
        result.callSucceeded = true;  // nothing to read: no command at all
        return result;
    }
    std::vector<EncodedCommand> commands = EncodeQueryProperty(request, TransferLimit());
    if (commands.empty()) {
        result.systemError = EINVAL;
        return result;
    }
    // Whole dwords are transferred; a bounce buffer keeps the caller's buffer
    // untouched unless every piece succeeded.
    std::vector<uint8_t>& buffer = bounce_;
    buffer.assign(((request.dataLength + 3) & ~3u) + 4, 0);
    uint32_t delivered = 0;
    for (const EncodedCommand& encoded : commands) {
        Outcome outcome = RunCommand(encoded.command, buffer.data() + encoded.dataOffset);
        result.milliseconds += outcome.milliseconds;
        if (outcome.systemError != 0) {
            result.systemError = outcome.systemError;
            return result;
        }
        if (outcome.nvmeStatus != 0) {
            result.nvmeStatus = outcome.nvmeStatus;
            return result;
        }
        result.completionDw0 = outcome.dw0;
        delivered += outcome.bytes;
        if (outcome.bytes < encoded.command.dataLength) break;  // a short piece ends the read
    }
    result.callSucceeded = true;
    result.bytesReturned = std::min(delivered, request.dataLength);
    if (result.bytesReturned == request.dataLength && request.dataLength != 0)
        std::memcpy(data, buffer.data(), request.dataLength);
    if (request.dataType == kDataTypeIdentify && request.requestValue == 1 && result.bytesReturned > 77 &&
        result.bytesReturned == request.dataLength)
        learntTransferLimit_ = MaxTransferBytes(data[77]);
    return result;
}

PassThroughResult CommandDriveHandle::PassThrough(const NvmeCommand& command) {
    PassThroughResult result;
    uint8_t none[4] = {};
    Outcome outcome = RunCommand(command, none);
    result.milliseconds = outcome.milliseconds;
    result.completionDw0 = outcome.dw0;
    if (outcome.systemError != 0) {
        result.systemError = outcome.systemError;
        return result;
    }
    result.callSucceeded = true;
    result.nvmeStatus = outcome.nvmeStatus;
    result.returnStatus = outcome.nvmeStatus == 0 ? 1 : 0;
    return result;
}

}  // namespace kavo
