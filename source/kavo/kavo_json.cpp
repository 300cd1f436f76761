// JSON files and text.
#include "kavo_json.h"

#include <fstream>
#include <memory>
#include <sstream>

#include "kavo_errors.h"
#include "kavo_log.h"
#include "kavo_text.h"

namespace kavo {

void WriteJsonFile(const std::string& path, const Json::Value& document) {
    int64_t start = MonotonicNanoseconds();
    std::ofstream file(path, std::ios::out | std::ios::trunc);
    if (!file.is_open()) throw KavoError("Could not open file to write JSON data to '" + path + "'");
    Json::StreamWriterBuilder builder;
    std::unique_ptr<Json::StreamWriter> writer(builder.newStreamWriter());
    writer->write(document, &file);
    file.flush();
    bool written = file.good();
    file.close();
    // A summary that silently lacks data is worse than a failed run.
    if (!written || file.fail()) throw KavoError("Could not write JSON data to file '" + path + "'");
    KLOG(Debug) << "Wrote JSON data to file '" << path << "' in " << ElapsedText(start, 3);
}

void ReadJsonFile(const std::string& path, Json::Value& document) {
    int64_t start = MonotonicNanoseconds();
    std::ifstream file(path, std::ios::in | std::ios::binary);
    if (!file.is_open()) throw KavoError("Could not open file to read JSON data '" + path + "'");
    Json::CharReaderBuilder builder;
    std::string errors;
    Json::Value parsed;
    if (!Json::parseFromStream(builder, file, &parsed, &errors)) throw Json::RuntimeError(errors);
    document = parsed;
    KLOG(Debug) << "Read JSON data from file '" << path << "' in " << ElapsedText(start, 3);
}

void ParseJsonText(const std::string& text, Json::Value& document) {
    Json::CharReaderBuilder builder;
    std::unique_ptr<Json::CharReader> reader(builder.newCharReader());
    std::string errors;
    Json::Value parsed;
    if (!reader->parse(text.data(), text.data() + text.size(), &parsed, &errors))
        throw KavoError("Failed to convert string to Json");
    document = parsed;
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
