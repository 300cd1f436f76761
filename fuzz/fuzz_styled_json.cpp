// Any JSON text the library reads is written by the project's styled writer
// exactly as the library's own writer writes it (or refused, for the library
// to write).
#include <cstdlib>
#include <memory>
#include <sstream>
#include <string>

#include <json/reader.h>
#include <json/writer.h>

#include "base/json_styled.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const std::unique_ptr<Json::CharReader> reader(Json::CharReaderBuilder().newCharReader());
    static const std::unique_ptr<Json::StreamWriter> writer(Json::StreamWriterBuilder().newStreamWriter());
    const char* text = reinterpret_cast<const char*>(data);
    Json::Value value;
    std::string errors;
    if (!reader->parse(text, text + size, &value, &errors)) return 0;
    std::string styled;
    if (!kavo::AppendStyledJson(value, styled)) return 0;
    std::ostringstream expected;
    writer->write(value, &expected);
    if (styled != expected.str()) std::abort();
    return 0;
}
