// JSON files and text.
#include "base/kavo_json.h"

#include <filesystem>

#include "base/json_reader.h"
#include "base/json_writer.h"
#include "base/kavo_errors.h"
#include "base/kavo_log.h"
#include "base/kavo_text.h"
#include "base/platform.h"

namespace kavo {

namespace {

// "Could not open file to write JSON data to 'x'" of a document; "Could not
// write the report 'x'" of a file whose content has a name.
std::string OpenFailure(const std::string& path, const char* what, const std::string& reason) {
    if (what == nullptr) return "Could not open file to write JSON data to '" + path + "': " + reason;
    return "Could not write the " + std::string(what) + " '" + path + "': " + reason;
}

}  // namespace

AtomicFile::AtomicFile(const std::string& path, const char* what) : path_(path), what_(what) {
    // A link under the name is replaced by the file; a device, pipe or
    // folder is not a document to replace.
    std::error_code error;
    std::filesystem::file_status status = std::filesystem::symlink_status(path, error);
    if (!error && std::filesystem::exists(status) && !std::filesystem::is_regular_file(status) &&
        !std::filesystem::is_symlink(status))
        throw KavoError(OpenFailure(path, what, "not a regular file"));
    static unsigned counter = 0;
    std::string reason;
    for (int attempt = 0; attempt < 16 && file_ == nullptr; ++attempt) {
        temporary_ = path + ".tmp-" + std::to_string(MonotonicNanoseconds() % 1000000007) + "-" + std::to_string(++counter);
        file_ = platform::CreateNewFile(temporary_, reason);
    }
    if (file_ == nullptr) throw KavoError(OpenFailure(path, what, reason));
}

bool IsAtomicTemporary(std::string_view fileName, std::string_view& finalName) {
    const size_t tmp = fileName.rfind(".tmp-");
    if (tmp == std::string_view::npos) return false;
    const std::string_view numbers = fileName.substr(tmp + 5);
    const size_t dash = numbers.find('-');
    if (dash == std::string_view::npos || !IsDecimalDigits(numbers.substr(0, dash)) ||
        !IsDecimalDigits(numbers.substr(dash + 1)))
        return false;
    finalName = fileName.substr(0, tmp);
    return true;
}

AtomicFile::~AtomicFile() {
    if (file_ == nullptr) return;
    std::fclose(file_);
    std::remove(temporary_.c_str());
}

void AtomicFile::Write(const char* data, size_t size) {
    if (size != 0 && std::fwrite(data, 1, size, file_) != size) Fail(platform::LastErrorText());
}

void AtomicFile::Commit() {
    std::string reason;
    if (!platform::SyncFile(file_, reason)) Fail(reason);
    std::FILE* file = file_;
    file_ = nullptr;
    if (std::fclose(file) != 0) Fail(platform::LastErrorText());
    if (!platform::ReplaceFile(temporary_, path_, reason)) Fail(reason);
    platform::SyncDirectory(std::filesystem::path(path_).parent_path().string());
}

void AtomicFile::Fail(const std::string& reason) {
    // The earlier file under the name stays as it was.
    if (file_ != nullptr) std::fclose(file_);
    file_ = nullptr;
    std::remove(temporary_.c_str());
    if (what_ != nullptr) throw KavoError(OpenFailure(path_, what_, reason));
    throw KavoError("Could not write JSON data to file '" + path_ + "': " + reason);
}

void WriteTextFile(const std::string& path, const std::string& text, const char* what) {
    int64_t start = MonotonicNanoseconds();
    AtomicFile file(path, what);
    file.Write(text);
    file.Commit();
    KLOG_AS(Debug, "kavo::WriteJsonFile") << "Wrote JSON data to file '" << path << "' in " << ElapsedText(start, 3);
}

void WriteJsonFile(const std::string& path, const Json::Value& document) { WriteTextFile(path, StyledJson(document)); }

void ReadJsonFile(const std::string& path, Json::Value& document, uint64_t maxBytes) {
    int64_t start = MonotonicNanoseconds();
    Json::Value parsed;
    JsonValueBuilder builder(parsed);
    ReadJsonEvents(path, builder, maxBytes);
    document.swap(parsed);
    KLOG(Debug) << "Read JSON data from file '" << path << "' in " << ElapsedText(start, 3);
}

void ParseJsonText(std::string_view text, Json::Value& document) {
    Json::Value parsed;
    JsonValueBuilder builder(parsed);
    ParseJsonEvents(text, builder);
    document.swap(parsed);
}

bool JsonBool(const Json::Value& object, const char* key) {
    if (!object.isObject()) return false;
    const Json::Value& value = object[key];
    return value.isBool() && value.asBool();
}

std::string JsonText(const Json::Value& object, const char* key) {
    if (!object.isObject()) return "";
    const Json::Value& value = object[key];
    return value.isString() ? value.asString() : "";
}

}  // namespace kavo
