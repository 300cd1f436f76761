// Command records into JSON: the document form and the journal's one line.
#include "transport/command_record.h"

#include "base/kavo_json.h"
#include "base/kavo_text.h"

namespace kavo {

Json::Value CommandRecordJson(const CommandRecord& record) {
    // Static keys spare each record its own key strings, and the skeleton
    // copy spares the member lookups.
    static const Json::Value kSkeleton =
        RecordSkeleton({"admin command", "allowed", "bytes returned", "return code", "time in ms", "timestamp"});
    Json::Value json(kSkeleton);
    Json::Value::iterator member = json.begin();
    *member = record.name;
    *++member = record.allowed;
    *++member = Json::UInt(record.bytesReturned);
    *++member = record.returnCode;
    *++member = record.milliseconds;
    *++member = TimestampText(record.timeMs);
    return json;
}

Json::Value CommandLogJson(const CommandLog& log) {
    Json::Value list(Json::arrayValue);
    for (const CommandRecord& record : log) list.append(CommandRecordJson(record));
    return list;
}

std::string CommandRecordText(const CommandRecord& record) {
    std::string out;
    out.reserve(160);
    out += "{\"admin command\":";
    AppendJsonString(out, record.name);
    out += record.allowed ? ",\"allowed\":true" : ",\"allowed\":false";
    out += ",\"bytes returned\":";
    out += std::to_string(record.bytesReturned);
    out += ",\"return code\":";
    out += std::to_string(record.returnCode);
    out += ",\"time in ms\":";
    AppendJsonNumber(out, record.milliseconds);
    // A timestamp text is digits, blanks, "-:." and letters: nothing to escape.
    out += ",\"timestamp\":\"";
    AppendTimestampText(out, record.timeMs);
    out += "\"}";
    return out;
}

}  // namespace kavo
