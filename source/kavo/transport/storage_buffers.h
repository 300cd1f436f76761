#pragma once
// The two buffers of the Windows storage I/O controls, laid out byte by
// byte: the 48-byte query-property input (STORAGE_PROPERTY_QUERY with a
// STORAGE_PROTOCOL_SPECIFIC_DATA in its AdditionalParameters) and the
// 144-byte protocol pass-through buffer (STORAGE_PROTOCOL_COMMAND and the
// 64-byte NVMe command). The Windows binding checks the SDK structures
// against these offsets at compile time.
#include <array>
#include <cstdint>

#include "transport/nvme_admin_command.h"

namespace kavo::storage {

constexpr size_t kQueryBufferSize = 48;
constexpr size_t kProtocolDataOffset = 8;       // AdditionalParameters in the query
constexpr size_t kProtocolSpecificDataSize = 40;
constexpr size_t kQueryOutputHeaderSize = 48;   // STORAGE_PROTOCOL_DATA_DESCRIPTOR
constexpr size_t kQueryOutputReturnData = 32;   // FixedProtocolReturnData in the output
constexpr size_t kPassThroughBufferSize = 144;
constexpr size_t kPassThroughCommandOffset = 80;

constexpr uint32_t kStorageAdapterProtocolSpecificProperty = 49;
constexpr uint32_t kPropertyStandardQuery = 0;
constexpr uint32_t kProtocolTypeNvme = 3;
constexpr uint32_t kProtocolStructureVersion = 1;
constexpr uint32_t kProtocolCommandDeclaredSize = 84;  // the SDK's sizeof, with a placeholder for Command
constexpr uint32_t kCommandFlagAdapterRequest = 0x80000000;
constexpr uint32_t kCommandLengthNvme = 64;
constexpr uint32_t kSpecificNvmeAdminCommand = 1;
constexpr uint32_t kProtocolStatusSuccess = 1;
constexpr uint32_t kPassThroughTimeoutSeconds = 2;

// Offsets inside the pass-through buffer.
constexpr size_t kReturnStatusOffset = 16;
constexpr size_t kErrorCodeOffset = 20;
constexpr size_t kFixedReturnDataOffset = 64;

std::array<uint8_t, kQueryBufferSize> QueryPropertyBuffer(const QueryPropertyRequest& request);
std::array<uint8_t, kPassThroughBufferSize> PassThroughBuffer(const NvmeCommand& command);
uint32_t ReadU32(const uint8_t* at);

}  // namespace kavo::storage
