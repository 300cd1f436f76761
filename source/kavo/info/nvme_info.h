#pragma once
// Sample operations on info documents: collecting one sample of a drive,
// comparing it with a reference and checking it against rules.
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include <json/value.h>

#include "decode/parameter_reuse.h"
#include "transport/nvme_admin_command.h"

namespace kavo {

// The structures of a sample as the drive returned them, for consumers that
// want numbers rather than the document's renderings (metrics). Empty when
// the page was not read.
struct SampleStructures {
    std::vector<uint8_t> smartHealth;  // log page 02h
    std::vector<uint8_t> selfTestLog;  // log page 06h
};

// One sample of the drive into `info`; true when every command succeeded.
// With `reuse`, the records kept from the run's last sample are overwritten
// rather than built again (a long run's samples). The sample's command
// records go to "_metadata"/"commands"; with `commands` they are kept there
// instead, for the caller to journal and to put into the document only when
// it is written (AddCommandRecords).
bool GetNvmeInfo(DriveHandle& handle, uint8_t* identifyBuffer, const Json::Value& settings, Json::Value& info,
                 SampleStructures* structures = nullptr, ParameterReuse* reuse = nullptr,
                 CommandLog* commands = nullptr);
// Puts a sample's kept command records into its document.
void AddCommandRecords(const CommandLog& commands, Json::Value& info);

// Compare and rules.
std::string CompareType(std::string_view setting, std::string_view name, std::string_view source, bool sameDrive);
// The same as a static literal ("exact", "counter" or "ignore"), which a
// record can refer to rather than copy.
const char* CompareTypeText(std::string_view setting, std::string_view name, std::string_view source, bool sameDrive);
bool CounterNotDecreased(const std::string& current, const std::string& reference);
std::string ValueDelta(const std::string& current, const std::string& reference);
// With `reuse` (a long run's samples), records that keep their compare type
// from the last sample's compare are only compared by value.
bool CompareNvmeInfo(const Json::Value& reference, Json::Value& current, const std::string& setting,
                     ParameterReuse* reuse = nullptr);
bool VerifyNvmeInfo(Json::Value& info, const Json::Value& rules);
bool CheckRule(const std::string& name, const std::string& op, const std::string& limit, const std::string& value,
               std::string& message);

}  // namespace kavo
