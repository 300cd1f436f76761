// The Windows storage I/O control buffers, byte by byte.
#include "transport/storage_buffers.h"

namespace kavo::storage {
namespace {

void PutU32(uint8_t* at, uint32_t value) {
    for (int i = 0; i < 4; ++i) at[i] = static_cast<uint8_t>(value >> (8 * i));
}

}  // namespace

uint32_t ReadU32(const uint8_t* at) {
    return uint32_t(at[0]) | uint32_t(at[1]) << 8 | uint32_t(at[2]) << 16 | uint32_t(at[3]) << 24;
}

std::array<uint8_t, kQueryBufferSize> QueryPropertyBuffer(const QueryPropertyRequest& request) {
    std::array<uint8_t, kQueryBufferSize> buffer{};
    PutU32(&buffer[0], kStorageAdapterProtocolSpecificProperty);
    PutU32(&buffer[4], kPropertyStandardQuery);
    uint8_t* data = &buffer[kProtocolDataOffset];
    PutU32(data + 0, kProtocolTypeNvme);
    PutU32(data + 4, request.dataType);
    PutU32(data + 8, request.requestValue);
    PutU32(data + 12, request.requestSubValue);
    PutU32(data + 16, request.dataLength != 0 ? static_cast<uint32_t>(kProtocolSpecificDataSize) : 0);
    PutU32(data + 20, request.dataLength);
    return buffer;
}

std::array<uint8_t, kPassThroughBufferSize> PassThroughBuffer(const NvmeCommand& command) {
    std::array<uint8_t, kPassThroughBufferSize> buffer{};
    PutU32(&buffer[0], kProtocolStructureVersion);
    PutU32(&buffer[4], kProtocolCommandDeclaredSize);
    PutU32(&buffer[8], kProtocolTypeNvme);
    PutU32(&buffer[12], kCommandFlagAdapterRequest);
    PutU32(&buffer[24], kCommandLengthNvme);
    PutU32(&buffer[40], kPassThroughTimeoutSeconds);
    PutU32(&buffer[56], kSpecificNvmeAdminCommand);
    uint8_t* nvme = &buffer[kPassThroughCommandOffset];
    nvme[0] = command.opcode;
    PutU32(nvme + 4, command.nsid);
    PutU32(nvme + 40, command.cdw10);
    PutU32(nvme + 44, command.cdw11);
    // CDW12 to CDW15 stay zero: the pass-through path sends none of them.
    return buffer;
}

}  // namespace kavo::storage
