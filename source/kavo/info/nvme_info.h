#pragma once
// One sample of a drive: the commands the settings ask for, their decoded
// records, the calculated parameters, the grades, the description and the
// command result.
#include <cstdint>
#include <string>

#include "decode/decoders.h"
#include "decode/info_document.h"
#include "transport/nvme_admin_command.h"

namespace kavo {

// Who the sample is of: the drive as the user named it and the path it was
// opened under.
struct DriveName {
    std::string drive;     // "0", "sim"
    std::string nvmePath;  // "/dev/nvme0", "sim"
};

// One sample of the drive into `info` (which may already hold host
// information under "_metadata" / "system"); true when every command and
// decoding succeeded. The sample's command records go to `commands`, for the
// caller to journal and to put into the document when it is written
// (AddCommandRecords). A run passes `kept` from sample to sample (see
// DecodedIdentify).
bool GetNvmeInfo(DriveHandle& handle, uint8_t* identifyBuffer, const SampleSettings& settings, const DriveName& drive,
                 InfoDocument& info, CommandLog& commands, DecodedIdentify* kept = nullptr);
// Puts a sample's command records into its document.
void AddCommandRecords(const CommandLog& commands, InfoDocument& info);

}  // namespace kavo
