// Any text: the reader takes it as one JSON value or refuses it, never
// more; what it takes, the writer writes in both layouts, and each reads
// back to the same value (valid UTF-8), numbers exact as they stood.
#include <cstdlib>
#include <string>

#include "base/json_reader.h"
#include "base/json_writer.h"
#include "base/kavo_errors.h"
#include "base/kavo_json.h"
#include "base/kavo_text.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    Json::Value value;
    try {
        kavo::ParseJsonText(text, value);
    } catch (const kavo::KavoError&) {
        return 0;
    }
    // A text that is valid UTF-8 reads back as it was. A byte that is not
    // stands for itself as U+0080 to U+00FF: such a text (and the order of
    // members named by it) changes once, and then stays.
    const bool utf8 = kavo::EscapedText(text, false) == text;
    for (const std::string& written : {kavo::StyledJson(value), kavo::CompactJson(value)}) {
        Json::Value back;
        kavo::ParseJsonText(written, back);
        if (utf8 && !(back == value) && kavo::CompactJson(back) != kavo::CompactJson(value)) std::abort();
        Json::Value again;
        kavo::ParseJsonText(kavo::CompactJson(back), again);
        if (!(again == back) && kavo::CompactJson(again) != kavo::CompactJson(back)) std::abort();
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
