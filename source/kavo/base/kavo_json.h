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
// The elements of a long JSON array kept as their written text: a run keeps
// every command record of every sample, and text takes a fraction of the
// memory of a value tree.
class JsonArrayText {
public:
    void Append(const Json::Value& element);
    size_t size() const { return count_; }
    // The elements as written at the second level of a document.
    const std::string& Elements() const { return elements_; }

private:
    std::string elements_;
    size_t count_ = 0;
};

// Writes `document` with its top-level member `arrayMember` holding `array`.
// The member is written in place and restored, so the document is not copied.
void WriteJsonFile(const std::string& path, Json::Value& document, const std::string& arrayMember,
                   const JsonArrayText& array);

// Parses text; raises KavoError "Failed to convert string to Json".
void ParseJsonText(const std::string& text, Json::Value& document);

// Lookups that never raise: a missing member or one of another type gives
// the fallback.
bool JsonBool(const Json::Value& object, const char* key);
std::string JsonText(const Json::Value& object, const char* key);

}  // namespace kavo
