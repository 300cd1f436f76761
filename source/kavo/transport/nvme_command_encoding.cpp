// Query-property requests as real NVMe admin commands.
#include "transport/nvme_admin_command.h"

namespace kavo {
namespace {

constexpr uint32_t kAllNamespaces = 0xFFFFFFFF;
// Get Log Page CDW10 bit 15: retain asynchronous event, so reading a page
// never clears an event the kernel driver waits for.
constexpr uint32_t kRetainAsynchronousEvent = 1u << 15;

EncodedCommand Identify(const QueryPropertyRequest& request) {
    EncodedCommand encoded;
    encoded.command.opcode = kOpcodeIdentify;
    encoded.command.cdw10 = request.requestValue & 0xFF;
    // CNS 00h names the namespace; CNS 02h lists the active ones above it.
    bool takesNsid = encoded.command.cdw10 == 0 || encoded.command.cdw10 == kCnsActiveNamespaceList;
    encoded.command.nsid = takesNsid ? request.requestSubValue : 0;
    encoded.command.dataLength = request.dataLength;
    return encoded;
}

std::vector<EncodedCommand> LogPage(const QueryPropertyRequest& request, uint32_t maxTransferBytes) {
    std::vector<EncodedCommand> pieces;
    uint32_t total = (request.dataLength + 3) & ~3u;  // whole dwords
    uint32_t piece = maxTransferBytes == 0 ? total : maxTransferBytes;
    // A read of no bytes is no command: NUMD 0 would ask for one dword.
    for (uint32_t offset = 0; offset < total; offset += piece) {
        uint32_t length = total - offset < piece ? total - offset : piece;
        uint32_t dwords = length / 4 == 0 ? 0 : length / 4 - 1;  // 0's based
        EncodedCommand encoded;
        encoded.dataOffset = offset;
        encoded.command.opcode = kOpcodeGetLogPage;
        encoded.command.nsid = kAllNamespaces;
        // Log identifier, retain asynchronous event, log specific field 0
        // (for telemetry: read what is there, do not create a new capture).
        encoded.command.cdw10 = (request.requestValue & 0xFF) | kRetainAsynchronousEvent | ((dwords & 0xFFFF) << 16);
        encoded.command.cdw11 = dwords >> 16;
        encoded.command.cdw12 = offset;
        encoded.command.cdw13 = 0;
        encoded.command.dataLength = length;
        pieces.push_back(encoded);
    }
    return pieces;
}

EncodedCommand Feature(const QueryPropertyRequest& request) {
    EncodedCommand encoded;
    encoded.command.opcode = kOpcodeGetFeatures;
    encoded.command.cdw10 = request.requestValue & 0xFF;  // select 000b: current value
    encoded.command.cdw11 = request.requestSubValue;
    encoded.command.nsid = FeatureNamespace(request.requestValue & 0xFF, request.nsid);
    encoded.command.dataLength = request.dataLength;
    return encoded;
}

}  // namespace

bool IsNamespaceFeature(uint32_t featureId) { return featureId == 0x03 || featureId == 0x05; }

uint32_t FeatureNamespace(uint32_t featureId, uint32_t requestedNsid) {
    if (!IsNamespaceFeature(featureId)) return 0;
    return requestedNsid != 0 ? requestedNsid : 1;
}

uint32_t MaxTransferBytes(uint8_t mdts) {
    if (mdts == 0 || mdts > 20) return 0;
    return 4096u << mdts;
}

std::vector<EncodedCommand> EncodeQueryProperty(const QueryPropertyRequest& request, uint32_t maxTransferBytes) {
    switch (request.dataType) {
        case kDataTypeIdentify: return {Identify(request)};
        case kDataTypeLogPage: return LogPage(request, maxTransferBytes);
        case kDataTypeFeature: return {Feature(request)};
        default: return {};
    }
}

}  // namespace kavo
