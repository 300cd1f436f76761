// Command records into JSON: the document form and the journal's one line.
#include "transport/command_record.h"

#include "base/kavo_text.h"

namespace kavo {

Json::Value CommandRecordJson(const CommandRecord& record) {
    Json::Value json(Json::objectValue);
    json["admin command"] = record.name;
    json["allowed"] = record.allowed;
    json["bytes returned"] = Json::UInt(record.bytesReturned);
    json["return code"] = record.returnCode;
    json["time in ms"] = record.milliseconds;
    json["timestamp"] = TimestampText(record.timeMs);
    return json;
}

Json::Value CommandLogJson(const CommandLog& log) {
    Json::Value list(Json::arrayValue);
    for (const CommandRecord& record : log) list.append(CommandRecordJson(record));
    return list;
}

void WriteCommandRecord(JsonWriter& out, const CommandRecord& record) {
    out.BeginObject();
    out.Member("admin command", record.name);
    out.Key("allowed");
    out.Bool(record.allowed);
    out.Key("bytes returned");
    out.Unsigned(record.bytesReturned);
    out.Key("return code");
    out.Signed(record.returnCode);
    out.Key("time in ms");
    out.Real(record.milliseconds);
    out.Member("timestamp", TimestampText(record.timeMs));
    out.EndObject();
}

}  // namespace kavo
