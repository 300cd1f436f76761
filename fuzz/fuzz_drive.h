#pragma once
// A drive for the fuzz targets: every query-property request is answered with
// the next bytes of the fuzzer's input (zeros once it runs out), so decoders
// see whatever structure the fuzzer makes up.
#include <algorithm>
#include <cstring>
#include <initializer_list>

#include "info/nvme_info.h"
#include "transport/nvme_admin_command.h"

namespace fuzz {

class FuzzDrive : public kavo::DriveHandle {
public:
    FuzzDrive(const uint8_t* data, size_t size) : data_(data), size_(size) {}

    std::string HandleText() const override { return "fuzz"; }
    const char* QuerySource() const override { return "FUZZ"; }
    const char* PassThroughSource() const override { return "FUZZ"; }
    const char* QueryCallName() const override { return "fuzz"; }
    const char* PassThroughCallName() const override { return "fuzz"; }
    kavo::QueryPropertyResult QueryProperty(const kavo::QueryPropertyRequest& request, uint8_t* data) override {
        kavo::QueryPropertyResult result;
        result.callSucceeded = true;
        result.bytesReturned = request.dataLength;
        size_t take = std::min<size_t>(request.dataLength, size_ - used_);
        if (request.dataLength != 0) std::memset(data, 0, request.dataLength);
        if (take != 0) std::memcpy(data, data_ + used_, take);
        used_ += take;
        uint8_t dw0[4] = {};
        take = std::min<size_t>(4, size_ - used_);
        if (take != 0) std::memcpy(dw0, data_ + used_, take);
        used_ += take;
        result.completionDw0 = dw0[0] | dw0[1] << 8 | dw0[2] << 16 | static_cast<uint32_t>(dw0[3]) << 24;
        return result;
    }
    kavo::PassThroughResult PassThrough(const kavo::NvmeCommand&) override { return {true, 1}; }
    std::vector<std::string> QueryDump(const std::string&, const kavo::QueryPropertyRequest&) const override { return {}; }
    std::vector<std::string> PassThroughDump(const std::string&, const kavo::NvmeCommand&) const override { return {}; }

private:
    const uint8_t* data_;
    size_t size_, used_ = 0;
};

// Sample settings that read everything, hex dumps included.
kavo::SampleSettings ReadEverything();
// The drive name fuzzed samples carry.
const kavo::DriveName& FuzzDriveName();
// Quiet logging for every target: decoders log their failures.
void QuietLogging();
// The input as a file in a scratch folder; returns its path.
std::string InputFile(const uint8_t* data, size_t size, const char* name);

}  // namespace fuzz
