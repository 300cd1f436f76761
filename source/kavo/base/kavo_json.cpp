// JSON files and text.
#include "base/kavo_json.h"

#include <fstream>
#include <initializer_list>
#include <memory>
#include <sstream>

#include "base/kavo_errors.h"
#include "base/kavo_log.h"
#include "base/kavo_text.h"

namespace kavo {

namespace {

std::string Written(const Json::Value& value) {
    Json::StreamWriterBuilder builder;
    std::unique_ptr<Json::StreamWriter> writer(builder.newStreamWriter());
    std::ostringstream text;
    writer->write(value, &text);
    return text.str();
}

// Writes the pieces of a document in order; every piece must reach the file.
void WriteText(const std::string& path, std::initializer_list<std::pair<const char*, size_t>> pieces, int64_t start) {
    std::ofstream file(path, std::ios::out | std::ios::trunc);
    if (!file.is_open()) throw KavoError("Could not open file to write JSON data to '" + path + "'");
    for (const auto& [data, size] : pieces) file.write(data, static_cast<std::streamsize>(size));
    file.flush();
    bool written = file.good();
    file.close();
    // A summary that silently lacks data is worse than a failed run.
    if (!written || file.fail()) throw KavoError("Could not write JSON data to file '" + path + "'");
    KLOG_AS(Debug, "kavo::WriteJsonFile") << "Wrote JSON data to file '" << path << "' in " << ElapsedText(start, 3);
}

}  // namespace

void WriteJsonFile(const std::string& path, const Json::Value& document) {
    int64_t start = MonotonicNanoseconds();
    std::string text = Written(document);
    WriteText(path, {{text.data(), text.size()}}, start);
}

void JsonArrayText::Append(const Json::Value& element) {
    std::string text = Written(element);
    elements_ += count_++ == 0 ? "\t\t" : ",\n\t\t";
    for (char c : text) {
        elements_ += c;
        if (c == '\n') elements_ += "\t\t";
    }
}

void WriteJsonFile(const std::string& path, Json::Value& document, const std::string& arrayMember,
                   const JsonArrayText& array) {
    int64_t start = MonotonicNanoseconds();
    // The document is written with a marker in place of the array, and the
    // array's text goes where the marker stands: a top-level member is the
    // only line with a single tab before the member name.
    const std::string marker = "quellix array text " + arrayMember;
    Json::Value kept = std::move(document[arrayMember]);
    document[arrayMember] = marker;
    std::string text = Written(document);
    document[arrayMember] = std::move(kept);
    std::string line = "\n\t\"" + arrayMember + "\" : \"" + marker + "\"";
    size_t at = text.find(line);
    if (at == std::string::npos) throw KavoError("Could not write JSON data to file '" + path + "'");
    size_t value = at + line.size() - marker.size() - 2;
    size_t rest = value + marker.size() + 2;
    static const char kOpen[] = "\n\t[\n", kClose[] = "\n\t]", kEmpty[] = "[]";
    if (array.size() == 0) {
        WriteText(path, {{text.data(), value}, {kEmpty, 2}, {text.data() + rest, text.size() - rest}}, start);
        return;
    }
    WriteText(path,
              {{text.data(), value}, {kOpen, 4}, {array.Elements().data(), array.Elements().size()}, {kClose, 3},
               {text.data() + rest, text.size() - rest}},
              start);
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
