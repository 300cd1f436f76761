#pragma once
// The decoders: each reads its admin command through the transport and turns
// the returned structure into parameter records of an info document. Every
// command leaves its record in `commands`.
#include <bitset>
#include <cstdint>
#include <string>
#include <vector>

#include "decode/info_document.h"
#include "transport/nvme_admin_command.h"

namespace kavo {

// What a sample reads: the command file's "read ..." and "log hex data"
// settings.
struct SampleSettings {
    bool logHexData = false;
    bool readIdentifyController = false;
    bool readIdentifyNamespace = false;
    std::bitset<256> features;  // "read feature 01h" ...
    std::bitset<256> logPages;  // "read log page 01h" ...
    bool Feature(uint8_t id) const { return features.test(id); }
    bool LogPage(uint8_t id) const { return logPages.test(id); }
};

// The records decoded from an Identify Controller structure and the bytes
// they came from. A run keeps one from sample to sample: a structure that
// reads the same as the last sample's is not decoded again (it hardly ever
// changes, and it is the largest one a sample decodes).
struct DecodedIdentify {
    std::vector<uint8_t> bytes;
    Parameters records;
    uint32_t highestVersion = 0;
};

// Identify Controller into `buffer` (4096 bytes) and its parameters, power
// states included; with `kept`, decoded only when its bytes differ from the
// ones kept. Returns 0 when every parameter was added, else 1.
int GetIdentifyController(DriveHandle& handle, uint8_t* buffer, InfoDocument& info, bool logHexData,
                          CommandLog& commands, DecodedIdentify* kept = nullptr);
// Power state descriptors of an Identify Controller structure.
void DecodePowerStates(const uint8_t* identify, size_t size, Parameters& parameters);
// Identify Namespace of `nsid` into `buffer` (4096 bytes) and its parameters.
int GetIdentifyNamespace(DriveHandle& handle, uint8_t* buffer, uint32_t nsid, InfoDocument& info, bool logHexData,
                         uint32_t ver, CommandLog& commands);
// The two halves of it: the command ("Identify Namespace 1", whatever the
// NSID), and the "Namespace 1" parameters of a structure already read. The
// commands alone (Read...) take the log as the transport does: nullptr
// keeps no record.
int ReadIdentifyNamespace(DriveHandle& handle, uint32_t nsid, uint8_t* buffer, CommandLog* commands);
int DecodeIdentifyNamespace(const uint8_t* buffer, uint32_t nsid, InfoDocument& info, bool logHexData, uint32_t ver);
// Identify Active Namespace List (CNS 02h): the active NSIDs from 1 to
// `numberOfNamespaces`, ascending. A list holds at most 1,024 identifiers, so
// it is asked again from the last NSID returned until it ends, for at most
// `maxNamespaces` identifiers; `complete` (when given) tells whether it
// ended within them. 0 on success, 1 when a command failed.
constexpr uint32_t kNamespaceListEntries = 1024;
// The most namespaces a sample lists and identifies: far more than drives
// have, and a bound on the commands a controller that reports a huge NN
// can make a sample spend.
constexpr uint32_t kNamespaceListLimit = 65536;
int ReadActiveNamespaceList(DriveHandle& handle, uint32_t numberOfNamespaces, std::vector<uint32_t>& nsids,
                            CommandLog* commands, uint32_t maxNamespaces = kNamespaceListLimit,
                            bool* complete = nullptr);

// The size of one namespace, from its Identify Namespace structure.
struct NamespaceSummary {
    uint32_t nsid = 0;
    uint64_t sizeInBlocks = 0;         // NSZE
    uint64_t capacityInBlocks = 0;     // NCAP
    uint64_t utilizationInBlocks = 0;  // NUSE
    uint32_t blockSizeShift = 0;       // LBADS of the active LBA format
    uint32_t metadataSize = 0;         // MS of the active LBA format
};
NamespaceSummary SummarizeNamespace(uint32_t nsid, const uint8_t* buffer);

// One Get Log Page of `length` bytes from offset 0; no decoding.
int ReadLogPage(uint8_t logId, uint32_t length, DriveHandle& handle, uint8_t* buffer, CommandLog* commands);
// The settings that ask for a log page and a feature: "read log page 02h",
// "read feature 0Ah".
std::string LogPageSetting(uint8_t logId);
std::string FeatureSetting(uint8_t featureId);
// Reads a requested page and decodes it. 0 when not requested or decoded.
// `raw`, when given, receives the page as read.
int GetLogPage(uint8_t logId, uint32_t length, DriveHandle& handle, InfoDocument& info, CommandLog& commands,
               const SampleSettings& settings, const uint8_t* identify);
int DecodeErrorInformationLog(InfoDocument& info, const uint8_t* page, size_t size, const uint8_t* identify);
int DecodeFirmwareSlotLog(InfoDocument& info, const uint8_t* page, size_t size, const uint8_t* identify);
int DecodeSelfTestLog(InfoDocument& info, const uint8_t* page, size_t size);
int DecodeSmartHealthLog(InfoDocument& info, const uint8_t* page, size_t size, const uint8_t* identify);

// Get Features with select 000b (current value).
int GetFeature(DriveHandle& handle, uint8_t featureId, uint32_t cdw11, uint32_t* dw0, uint8_t* data,
               uint32_t dataLength, CommandLog& commands, uint32_t nsid = 0);
int GetFeature01(DriveHandle& handle, InfoDocument& info, CommandLog& commands, const SampleSettings& settings);
int GetFeature02(DriveHandle& handle, InfoDocument& info, CommandLog& commands, const SampleSettings& settings);
int GetFeature04(DriveHandle& handle, InfoDocument& info, CommandLog& commands, const SampleSettings& settings,
                 const uint8_t* identify);
// Error Recovery belongs to a namespace: `nsid` is the one it is read from.
int GetFeature05(DriveHandle& handle, InfoDocument& info, CommandLog& commands, const SampleSettings& settings,
                 uint32_t nsid);
int GetFeature06(DriveHandle& handle, InfoDocument& info, CommandLog& commands, const SampleSettings& settings,
                 const uint8_t* identify);
int GetFeature08(DriveHandle& handle, InfoDocument& info, CommandLog& commands, const SampleSettings& settings);
int GetFeature0A(DriveHandle& handle, InfoDocument& info, CommandLog& commands, const SampleSettings& settings);
int GetFeature0B(DriveHandle& handle, InfoDocument& info, CommandLog& commands, const SampleSettings& settings,
                 const uint8_t* identify);
int GetFeature0C(DriveHandle& handle, InfoDocument& info, CommandLog& commands, const SampleSettings& settings,
                 const uint8_t* identify);
int GetFeature0D(DriveHandle& handle, InfoDocument& info, CommandLog& commands, const SampleSettings& settings,
                 const uint8_t* identify);
int GetFeature0E(DriveHandle& handle, InfoDocument& info, CommandLog& commands, const SampleSettings& settings,
                 const uint8_t* identify);
int GetFeature0F(DriveHandle& handle, InfoDocument& info, CommandLog& commands, const SampleSettings& settings,
                 const uint8_t* identify);
int GetFeature10(DriveHandle& handle, InfoDocument& info, CommandLog& commands, const SampleSettings& settings,
                 const uint8_t* identify);
int GetFeature11(DriveHandle& handle, InfoDocument& info, CommandLog& commands, const SampleSettings& settings,
                 const uint8_t* identify);

}  // namespace kavo
