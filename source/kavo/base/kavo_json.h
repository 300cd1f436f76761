#pragma once
// JSON files: atomic writing, reading, and lookups that never raise.
#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>

#include <json/value.h>

namespace kavo {

// A file written atomically: the content goes to a new temporary file in the
// same folder, which replaces the file of that name only once it is complete
// and on the device. Readers see the old file or the new one, never a part;
// a failed write leaves the old file as it was and raises KavoError naming
// the file, what it was to hold and the system's reason.
class AtomicFile {
public:
    // `what` names the file's content in messages ("metrics file", "report");
    // without it a failure speaks of JSON data.
    explicit AtomicFile(const std::string& path, const char* what = nullptr);
    AtomicFile(const AtomicFile&) = delete;
    AtomicFile& operator=(const AtomicFile&) = delete;
    ~AtomicFile();  // without Commit: the temporary file is removed
    void Write(const char* data, size_t size);
    void Write(const std::string& text) { Write(text.data(), text.size()); }
    void Commit();

private:
    [[noreturn]] void Fail(const std::string& reason);
    std::string path_, temporary_;
    const char* what_;
    std::FILE* file_ = nullptr;
};

// Whether `fileName` names a temporary file of AtomicFile, which a crash can
// leave behind ("<final name>.tmp-<number>-<number>"); `finalName` is then
// the name of the file it was to replace.
bool IsAtomicTemporary(std::string_view fileName, std::string_view& finalName);

// Writes text / the whole document in the styled layout, atomically.
// `what` as for AtomicFile.
void WriteTextFile(const std::string& path, const std::string& text, const char* what = nullptr);
void WriteJsonFile(const std::string& path, const Json::Value& document);
// Reads and parses a file or a text; raises KavoError when the file cannot
// be opened, is no regular file or larger than `maxBytes` (0: any size), or
// holds no JSON value.
void ReadJsonFile(const std::string& path, Json::Value& document, uint64_t maxBytes = 0);
void ParseJsonText(std::string_view text, Json::Value& document);

// Lookups that never raise: a missing member or one of another type gives
// the fallback.
bool JsonBool(const Json::Value& object, const char* key);
std::string JsonText(const Json::Value& object, const char* key);

}  // namespace kavo
