#pragma once
// Reads a run's summary without holding its long arrays: the summary of a
// long run holds millions of command records. The document is read without
// "command times", and the sample records (read) or status entries
// (self-test) are handed over one at a time.
#include <functional>
#include <string>

#include <json/value.h>

// Reads the summary at `path` into `document` (its sample array and
// "command times" left empty) and calls `sample` with each sample record in
// order. Raises KavoError when the file cannot be read or is not a summary.
void ReadSummary(const std::string& path, Json::Value& document,
                 const std::function<void(const Json::Value& record)>& sample);
