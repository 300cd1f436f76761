// The request-to-commands loop shared by the bindings that carry real NVMe
// admin commands.
#include "transport/command_drive_handle.h"

#include <algorithm>
#include <cerrno>
#include <cstdint>
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
    // untouched unless every piece succeeded. It starts on a page boundary, so
    // that a page of data is one page for the driver to map, not two.
    constexpr uintptr_t kPage = 4096;
    const size_t length = ((request.dataLength + 3) & ~3u) + 4;
    if (bounce_.size() < length + kPage) bounce_.resize(length + kPage);
    const uintptr_t start = (reinterpret_cast<uintptr_t>(bounce_.data()) + kPage - 1) & ~(kPage - 1);
    uint8_t* const buffer = reinterpret_cast<uint8_t*>(start);
    std::memset(buffer, 0, length);
    uint32_t delivered = 0;
    for (const EncodedCommand& encoded : commands) {
        Outcome outcome = RunCommand(encoded.command, buffer + encoded.dataOffset);
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
        std::memcpy(data, buffer, request.dataLength);
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
