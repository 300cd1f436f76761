#pragma once
// What every admin command leaves behind: a plain record kept in a list
// while the sample or run goes on, and turned into JSON only when a document
// or journal line is written.
#include <cstdint>
#include <string>
#include <vector>

#include <json/value.h>

#include "base/json_writer.h"

namespace kavo {

struct CommandRecord {
    std::string name;          // "Identify Controller", "Get Log Page 0x02", ...
    int returnCode = 0;        // 0 = success
    uint32_t bytesReturned = 0;
    double milliseconds = 0;   // the system call alone
    uint64_t timeMs = 0;       // wall clock at the end, ms since the epoch
    bool allowed = false;      // a failure the read expects (the end of a namespace walk)
};
using CommandLog = std::vector<CommandRecord>;

// A record as documents hold it: "admin command", "allowed", "bytes
// returned", "return code", "time in ms", "timestamp".
Json::Value CommandRecordJson(const CommandRecord& record);
// The array of a log's records, as "_metadata"/"commands" and "command
// times" hold them.
Json::Value CommandLogJson(const CommandLog& log);
// Writes a record as documents and journals hold it.
void WriteCommandRecord(JsonWriter& out, const CommandRecord& record);

}  // namespace kavo
