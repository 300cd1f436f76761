#pragma once
// A drive handle whose answers a test sets up: data and completion dword 0
// per request, failures, short returns. It records every request it saw.
#include <map>
#include <tuple>
#include <vector>

#include "info/nvme_info.h"
#include "transport/nvme_admin_command.h"

namespace test {

class FakeDrive : public kavo::DriveHandle {
public:
    struct Answer {
        std::vector<uint8_t> data;
        uint32_t dw0 = 0;
        bool fail = false;
        int64_t bytes = -1;  // bytes returned; -1: the requested length
    };
    using Key = std::tuple<uint32_t, uint32_t, uint32_t>;  // data type, value, sub-value

    void Set(uint32_t dataType, uint32_t value, uint32_t subValue, Answer answer) {
        answers_[Key(dataType, value, subValue)] = std::move(answer);
    }
    void SetIdentifyController(std::vector<uint8_t> data) { Set(kavo::kDataTypeIdentify, 1, 0, {std::move(data)}); }
    void SetLogPage(uint8_t lid, std::vector<uint8_t> data) { Set(kavo::kDataTypeLogPage, lid, 0, {std::move(data)}); }
    void SetFeature(uint8_t fid, uint32_t cdw11, uint32_t dw0, std::vector<uint8_t> data = {}) {
        Set(kavo::kDataTypeFeature, fid, cdw11, {std::move(data), dw0});
    }

    std::vector<kavo::QueryPropertyRequest> requests;
    std::vector<kavo::NvmeCommand> passThrough;
    kavo::PassThroughResult passThroughResult{true, 1};

    std::string HandleText() const override { return "fake"; }
    const char* QuerySource() const override { return "FAKE_QUERY"; }
    const char* PassThroughSource() const override { return "FAKE_PASS_THROUGH"; }
    const char* QueryCallName() const override { return "fake call"; }
    const char* PassThroughCallName() const override { return "fake call"; }
    kavo::QueryPropertyResult QueryProperty(const kavo::QueryPropertyRequest& request, uint8_t* data) override;
    kavo::PassThroughResult PassThrough(const kavo::NvmeCommand& command) override {
        passThrough.push_back(command);
        return passThroughResult;
    }
    std::vector<std::string> QueryDump(const std::string&, const kavo::QueryPropertyRequest&) const override { return {}; }
    std::vector<std::string> PassThroughDump(const std::string&, const kavo::NvmeCommand&) const override { return {}; }

private:
    std::map<Key, Answer> answers_;
};

// Little-endian writes into a structure under construction.
void Put(std::vector<uint8_t>& bytes, size_t offset, uint64_t value, int width);
void PutText(std::vector<uint8_t>& bytes, size_t offset, const std::string& text, size_t width, char pad = ' ');

// Sample settings with every read setting of a command file set to `on`.
kavo::SampleSettings SampleSettings(bool on = true);
// The drive name samples of a fake drive carry: drive "0" at path "fake".
const kavo::DriveName& FakeDriveName();
// An info document as a library value, read back from its text.
Json::Value DocumentJson(const kavo::InfoDocument& info);

}  // namespace test
