#pragma once
// Reading and writing JSON documents.
#include <cstdio>
#include <functional>
#include <initializer_list>
#include <string>
#include <string_view>
#include <vector>

#include <json/json.h>

namespace kavo {

// A file written atomically: the content goes to a new temporary file in the
// same folder, which replaces the file of that name only once it is complete
// and on the device. Readers see the old file or the new one, never a part;
// a failed write leaves the old file as it was and raises KavoError naming
// the file and the system's reason.
class AtomicFile {
public:
    explicit AtomicFile(const std::string& path);
    AtomicFile(const AtomicFile&) = delete;
    AtomicFile& operator=(const AtomicFile&) = delete;
    ~AtomicFile();  // without Commit: the temporary file is removed
    void Write(const char* data, size_t size);
    void Write(const std::string& text) { Write(text.data(), text.size()); }
    void Commit();

private:
    [[noreturn]] void Fail(const std::string& reason);
    std::string path_, temporary_;
    std::FILE* file_ = nullptr;
};

// Whether `fileName` names a temporary file of AtomicFile, which a crash can
// leave behind ("<final name>.tmp-<number>-<number>"); `finalName` is then
// the name of the file it was to replace.
bool IsAtomicTemporary(std::string_view fileName, std::string_view& finalName);

// Writes text / the whole document atomically (AtomicFile).
void WriteTextFile(const std::string& path, const std::string& text);
void WriteJsonFile(const std::string& path, const Json::Value& document);
// Reads and parses a file; raises KavoError when it cannot be opened and the
// JSON library's error for a syntax error.
void ReadJsonFile(const std::string& path, Json::Value& document);

// The one-line form of a value, as journals keep records.
std::string CompactJson(const Json::Value& value);
// An object with these members, all null, to be copied and filled: a copy
// costs no member lookups, and its members are then set in order through an
// iterator. The keys must be static literals listed in the order an object
// keeps its members (byte order); anything else raises std::logic_error.
Json::Value RecordSkeleton(std::initializer_list<const char*> keys);

// Compact JSON text that reads back to an equal value, made fast for flat
// objects (the journal's command records): those are written directly,
// numbers in the shortest text that reads back exactly; anything nested
// goes through CompactJson.
std::string RecordJson(const Json::Value& value);
// Its pieces: a quoted, escaped string and a real number.
void AppendJsonString(std::string& out, std::string_view text);
void AppendJsonNumber(std::string& out, double number);

// An array of a document whose elements come from elsewhere (a journal on
// disk) instead of from memory.
struct StreamedArray {
    std::vector<std::string> member;  // member names from the root to the array
    // Hands the compact text of each element to `emit`, in order.
    std::function<void(const std::function<void(const std::string&)>& emit)> elements;
};
// Writes `document` atomically with each streamed array in place of the
// member it names, laid out exactly as if the elements were in the document.
void WriteJsonFile(const std::string& path, Json::Value& document, const std::vector<StreamedArray>& arrays);

// Parses text; raises KavoError "Failed to convert string to Json".
void ParseJsonText(const std::string& text, Json::Value& document);
// Reads a flat object of the kind this program writes, {"key": scalar, ...},
// whose members are strings without escapes, whole numbers of up to 18
// digits, true, false or null, without the general parser and to the same
// value; false, with `object` untouched, for any other text. A summary holds
// one such record per sample.
bool ParseFlatObject(std::string_view text, Json::Value& object);

// Lookups that never raise: a missing member or one of another type gives
// the fallback.
bool JsonBool(const Json::Value& object, const char* key);
std::string JsonText(const Json::Value& object, const char* key);

}  // namespace kavo
