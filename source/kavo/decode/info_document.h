#pragma once
// The info document of one sample: its typed parameter records, the decoded
// health and self-test logs, and every other member as JSON ("_metadata",
// "raw hex data", "nvme" / "namespaces", compare and rules results). It is
// written by one writer, with the records under "nvme" / "parameters".
#include <cstdint>
#include <optional>
#include <string>

#include <json/value.h>

#include "decode/health_log.h"
#include "decode/parameters.h"

namespace kavo {

struct InfoDocument {
    Json::Value document = Json::Value(Json::objectValue);
    Parameters parameters;
    // The highest NVMe version the decoders have seen so far in this sample.
    uint32_t highestVersion = 0;
    std::optional<SmartHealth> smartHealth;  // when log page 02h was read
    std::optional<SelfTestLog> selfTestLog;  // when log page 06h was read
};

// The document's text in the documents' styled layout.
std::string InfoDocumentText(const InfoDocument& info);
// Writes it atomically (AtomicFile).
void WriteInfoDocument(const std::string& path, const InfoDocument& info);

// Reads an info document written by quellix, any version, into `info`:
// "parameters" into typed records (numbers exactly as written; a record
// written before numbers existed has none), everything else into
// `info.document`. A record whose name is not in the table is kept out of
// the records and counted in `unknown`. Returns whether the document had a
// "nvme" / "parameters" object; raises KavoError for a file that is not JSON.
bool ReadInfoDocument(const std::string& path, InfoDocument& info, size_t* unknown = nullptr);

}  // namespace kavo
