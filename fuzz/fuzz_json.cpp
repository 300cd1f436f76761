// Any text: the reader takes it as one JSON value or refuses it, never
// more; what it takes, the writer writes in both layouts, and what it wrote
// reads back to a value it writes the same way again, numbers exact as they
// stood. (Bytes that are no UTF-8 are written as the characters U+0080 to
// U+00FF: the first writing maps them, every later one keeps them.)
#include <cstdlib>
#include <string>

#include "base/json_reader.h"
#include "base/json_writer.h"
#include "base/kavo_errors.h"
#include "base/kavo_json.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    Json::Value value;
    try {
        kavo::ParseJsonText(text, value);
    } catch (const kavo::KavoError&) {
        return 0;
    }
    for (const std::string& written : {kavo::StyledJson(value), kavo::CompactJson(value)}) {
        Json::Value once, twice;
        kavo::ParseJsonText(written, once);
        const std::string again = kavo::StyledJson(once);
        kavo::ParseJsonText(again, twice);
        if (!(twice == once) || kavo::StyledJson(twice) != again) std::abort();
    }
    // A copy through the events keeps every number literal as it was.
    kavo::JsonWriter out(kavo::JsonWriter::Layout::Compact);
    kavo::JsonCopy copy(out);
    kavo::ParseJsonEvents(text, copy);
    kavo::JsonWriter again(kavo::JsonWriter::Layout::Compact);
    kavo::JsonCopy second(again);
    kavo::ParseJsonEvents(out.Buffer(), second);
    if (again.Buffer() != out.Buffer()) std::abort();
    return 0;
}
