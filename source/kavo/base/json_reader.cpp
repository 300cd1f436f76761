// JSON events from the RapidJSON reader: its SAX interface streams from a
// file, keeps number literals as text, and parses without recursion.
#include "base/json_reader.h"

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <memory>

#include <rapidjson/error/en.h>
#include <rapidjson/filereadstream.h>
#include <rapidjson/memorystream.h>
#include <rapidjson/reader.h>
#include <rapidjson/stream.h>

#include "base/kavo_errors.h"
#include "base/platform.h"

namespace kavo {
namespace {

constexpr size_t kMaxDepth = 1000;

// Hands the reader's callbacks on to the events; keeps what stopped it.
class Adapter {
public:
    explicit Adapter(JsonEvents& events) : events_(events) {}
    bool Null() { return Call([&] { events_.Null(); }); }
    bool Bool(bool value) { return Call([&] { events_.Bool(value); }); }
    bool RawNumber(const char* text, rapidjson::SizeType length, bool) {
        return Call([&] { events_.Number(std::string_view(text, length)); });
    }
    bool String(const char* text, rapidjson::SizeType length, bool) {
        return Call([&] { events_.String(std::string_view(text, length)); });
    }
    bool Key(const char* text, rapidjson::SizeType length, bool) {
        return Call([&] { events_.Key(std::string_view(text, length)); });
    }
    bool StartObject() { return Deeper() && Call([&] { events_.BeginObject(); }); }
    bool EndObject(rapidjson::SizeType) { return Shallower() && Call([&] { events_.EndObject(); }); }
    bool StartArray() { return Deeper() && Call([&] { events_.BeginArray(); }); }
    bool EndArray(rapidjson::SizeType) { return Shallower() && Call([&] { events_.EndArray(); }); }
    // Never called: numbers come as raw text.
    bool Int(int) { return false; }
    bool Uint(unsigned) { return false; }
    bool Int64(int64_t) { return false; }
    bool Uint64(uint64_t) { return false; }
    bool Double(double) { return false; }

    std::exception_ptr failure;
    bool tooDeep = false;

private:
    template <typename F>
    bool Call(F f) {
        try {
            f();
            return true;
        } catch (...) {
            failure = std::current_exception();
            return false;
        }
    }
    bool Deeper() {
        tooDeep = ++depth_ > kMaxDepth;
        return !tooDeep;
    }
    bool Shallower() {
        --depth_;
        return true;
    }
    JsonEvents& events_;
    size_t depth_ = 0;
};

template <unsigned Flags = 0, typename Stream>
void Parse(Stream& stream, JsonEvents& events, const std::string& origin) {
    Adapter adapter(events);
    rapidjson::Reader reader;
    const rapidjson::ParseResult result =
        reader.Parse<rapidjson::kParseNumbersAsStringsFlag | rapidjson::kParseIterativeFlag | Flags>(stream, adapter);
    if (adapter.failure) std::rethrow_exception(adapter.failure);
    if (adapter.tooDeep) throw KavoError("JSON nested deeper than " + std::to_string(kMaxDepth) + " levels in " + origin);
    if (result.IsError())
        throw KavoError("Invalid JSON in " + origin + " at offset " + std::to_string(result.Offset()) + ": " +
                        rapidjson::GetParseError_En(result.Code()));
}

}  // namespace

void ReadJsonEvents(const std::string& path, JsonEvents& events, uint64_t maxBytes) {
    std::string reason;
    std::unique_ptr<std::FILE, int (*)(std::FILE*)> file(platform::OpenRegularFile(path, maxBytes, reason), std::fclose);
    if (!file) throw KavoError("Could not open file to read JSON data '" + path + "': " + reason);
    char buffer[65536];
    rapidjson::FileReadStream stream(file.get(), buffer, sizeof buffer);
    Parse(stream, events, "'" + path + "'");
}

void ParseJsonEvents(std::string_view text, JsonEvents& events) {
    rapidjson::MemoryStream stream(text.data(), text.size());
    Parse(stream, events, "text");
}

void ParseJsonEventsInPlace(std::string& text, JsonEvents& events) {
    rapidjson::InsituStringStream stream(&text[0]);
    Parse<rapidjson::kParseInsituFlag>(stream, events, "text");
}

Json::Value JsonNumberValue(std::string_view literal) {
    const std::string text(literal);
    const bool integer = text.find_first_of(".eE") == std::string::npos;
    if (integer) {
        char* end = nullptr;
        errno = 0;
        if (text[0] == '-') {
            const long long value = std::strtoll(text.c_str(), &end, 10);
            if (errno == 0) return Json::Value(Json::Int64(value));
        } else {
            // As the library's own reader: signed when it fits, as most values do.
            const unsigned long long value = std::strtoull(text.c_str(), &end, 10);
            if (errno == 0 && value <= static_cast<unsigned long long>(INT64_MAX)) return Json::Value(Json::Int64(value));
            if (errno == 0) return Json::Value(Json::UInt64(value));
        }
    }
    return Json::Value(std::strtod(text.c_str(), nullptr));
}

void JsonValueBuilder::Number(std::string_view literal) { Put(JsonNumberValue(literal)); }

void JsonValueBuilder::Close() {
    if (!open_.empty()) open_.pop_back();
}

Json::Value& JsonValueBuilder::Put(Json::Value value) {
    if (open_.empty()) {
        started_ = true;
        root_ = std::move(value);
        return root_;
    }
    Json::Value& container = *open_.back();
    if (container.isArray()) return container.append(std::move(value));
    return container[key_] = std::move(value);
}

}  // namespace kavo
