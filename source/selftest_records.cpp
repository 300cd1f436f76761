// The drive and its self-test log for the self-test summary.
#include "selftest_records.h"

#include "base/kavo_text.h"
#include "decode/decode_table.h"

namespace {

// A member with its text, and its number under "numbers".
void Set(Json::Value& record, const char* member, const std::string& text, const Json::Value& number) {
    record[member] = text;
    record["numbers"][member] = number;
}

}  // namespace

Json::Value SelfTestDrive(const uint8_t* identify, const std::string& path) {
    using kavo::decode::Le;
    Json::Value drive(Json::objectValue);
    drive["model"] = kavo::DriveText(identify + 24, 40);
    drive["serial"] = kavo::DriveText(identify + 4, 20);
    drive["firmware"] = kavo::DriveText(identify + 64, 8);
    drive["path"] = path;
    const std::pair<const char*, uint64_t> kThresholds[] = {{"warning temperature", Le(identify, 4096, 266, 2)},
                                                            {"critical temperature", Le(identify, 4096, 268, 2)}};
    for (const auto& [member, kelvin] : kThresholds) {
        if (kelvin == 0) continue;  // not reported
        const kavo::Rendered celsius = kavo::CelsiusOfKelvin(kelvin);
        drive[member] = celsius.text;
        drive["numbers"][member] = Json::Int64(static_cast<int64_t>(kelvin) - 273);
    }
    return drive;
}

Json::Value SelfTestLogEntries(const kavo::SelfTestLog& log) {
    Json::Value entries(Json::arrayValue);
    for (const kavo::SelfTestResult& r : log.results) {
        if (!r.used()) continue;
        Json::Value entry(Json::objectValue);
        entry["test"] = kavo::SelfTestTypeText(r.testCode());
        entry["numbers"]["test"] = r.testCode();
        Set(entry, "result", kavo::SelfTestResultText(r.result()), r.result());
        Set(entry, "power on hours", kavo::GroupedDecimal64(r.powerOnHours), Json::UInt64(r.powerOnHours));
        if (r.result() == 7) Set(entry, "segment", std::to_string(r.segment), r.segment);
        if (r.valid & 0x01) Set(entry, "namespace", std::to_string(r.nsid), r.nsid);
        if (r.valid & 0x02) Set(entry, "failing lba", kavo::GroupedDecimal64(r.failingLba), Json::UInt64(r.failingLba));
        if (r.valid & 0x04) Set(entry, "status code type", std::to_string(r.statusCodeType), r.statusCodeType);
        if (r.valid & 0x08) Set(entry, "status code", std::to_string(r.statusCode), r.statusCode);
        entries.append(entry);
    }
    return entries;
}
