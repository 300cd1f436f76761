// Any JSON text the library reads is written by the project's styled writer
// exactly as the library's own writer writes it (or refused, for the library
// to write), and in one line as the library writes it without indentation.
// A text the flat-record reader takes, the library reads to the
// same value.
#include <cstdlib>
#include <memory>
#include <sstream>
#include <string>

#include <json/reader.h>
#include <json/writer.h>

#include "base/json_styled.h"
#include "base/kavo_json.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const std::unique_ptr<Json::CharReader> reader(Json::CharReaderBuilder().newCharReader());
    static const std::unique_ptr<Json::StreamWriter> writer(Json::StreamWriterBuilder().newStreamWriter());
    static const std::unique_ptr<Json::StreamWriter> compactWriter([] {
        Json::StreamWriterBuilder builder;
        builder["indentation"] = "";
        return builder.newStreamWriter();
    }());
    const char* text = reinterpret_cast<const char*>(data);
    Json::Value value, flat;
    std::string errors;
    const bool flatRead = kavo::ParseFlatObject(std::string_view(text, size), flat);
    if (!reader->parse(text, text + size, &value, &errors)) {
        if (flatRead) std::abort();
        return 0;
    }
    if (flatRead && !(flat == value)) std::abort();
    std::string styled;
    if (!kavo::AppendStyledJson(value, styled)) return 0;
    std::ostringstream expected;
    writer->write(value, &expected);
    if (styled != expected.str()) std::abort();
    std::string compact;
    if (!kavo::AppendCompactJson(value, compact)) std::abort();
    std::ostringstream expectedCompact;
    compactWriter->write(value, &expectedCompact);
    if (compact != expectedCompact.str()) std::abort();
    return 0;
}
