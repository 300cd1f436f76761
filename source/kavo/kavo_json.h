#pragma once
// Reading and writing JSON documents.
#include <string>

#include <json/json.h>

namespace kavo {

// Writes the whole document; raises KavoError when the file cannot be opened
// or when the document did not reach it completely (a full disk).
void WriteJsonFile(const std::string& path, const Json::Value& document);
// Reads and parses a file; raises KavoError when it cannot be opened and the
// JSON library's error for a syntax error.
void ReadJsonFile(const std::string& path, Json::Value& document);
// Parses text; raises KavoError "Failed to convert string to Json".
void ParseJsonText(const std::string& text, Json::Value& document);

// Lookups that never raise: a missing member or one of another type gives
// the fallback.
bool JsonBool(const Json::Value& object, const char* key);
std::string JsonText(const Json::Value& object, const char* key);

}  // namespace kavo
