#include "fake_drive.h"

#include "base/kavo_json.h"

#include <algorithm>
#include <cstring>

namespace test {

kavo::QueryPropertyResult FakeDrive::QueryProperty(const kavo::QueryPropertyRequest& request, uint8_t* data) {
    requests.push_back(request);
    kavo::QueryPropertyResult result;
    auto found = answers_.find(Key(request.dataType, request.requestValue, request.requestSubValue));
    if (found == answers_.end() || found->second.fail) {
        result.systemError = 1117;
        return result;
    }
    const Answer& answer = found->second;
    result.callSucceeded = true;
    result.completionDw0 = answer.dw0;
    result.bytesReturned = answer.bytes >= 0 ? static_cast<uint32_t>(answer.bytes) : request.dataLength;
    if (result.bytesReturned == request.dataLength && request.dataLength != 0) {
        std::memset(data, 0, request.dataLength);
        std::memcpy(data, answer.data.data(), std::min<size_t>(answer.data.size(), request.dataLength));
    }
    return result;
}

void Put(std::vector<uint8_t>& bytes, size_t offset, uint64_t value, int width) {
    for (int i = 0; i < width; ++i) bytes.at(offset + i) = static_cast<uint8_t>(value >> (8 * i));
}

void PutText(std::vector<uint8_t>& bytes, size_t offset, const std::string& text, size_t width, char pad) {
    for (size_t i = 0; i < width; ++i) bytes.at(offset + i) = i < text.size() ? static_cast<uint8_t>(text[i]) : pad;
}

kavo::SampleSettings SampleSettings(bool on) {
    kavo::SampleSettings settings;
    for (int f = 1; f <= 0x18; ++f) settings.features[f] = on;
    for (int p = 1; p <= 0x10; ++p) settings.logPages[p] = on;
    settings.readIdentifyController = on;
    settings.readIdentifyNamespace = on;
    return settings;
}

const kavo::DriveName& FakeDriveName() {
    static const kavo::DriveName name{"0", "fake"};
    return name;
}

Json::Value DocumentJson(const kavo::InfoDocument& info) {
    Json::Value document;
    kavo::ParseJsonText(kavo::InfoDocumentText(info), document);
    return document;
}

}  // namespace test
