#pragma once
// Reading JSON text as a stream of events, in any valid layout, without
// holding the whole value: a summary of millions of records is read one
// record at a time. Numbers arrive as the literal text that stood in the
// document, so integers of any width stay exact.
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include <json/value.h>

#include "base/json_writer.h"

namespace kavo {

class JsonEvents {
public:
    virtual ~JsonEvents() = default;
    virtual void Null() = 0;
    virtual void Bool(bool value) = 0;
    virtual void Number(std::string_view literal) = 0;
    virtual void String(std::string_view text) = 0;
    virtual void Key(std::string_view name) = 0;
    virtual void BeginObject() = 0;
    virtual void EndObject() = 0;
    virtual void BeginArray() = 0;
    virtual void EndArray() = 0;
};

// Reads one JSON value from a file or a text, calling `events` for each of
// its parts in order. Raises KavoError naming the file (or "text") and the
// offset for anything that is not one JSON value, or nests deeper than 1,000
// levels. An exception from `events` ends the reading and passes through.
// Only a regular file is read, of at most `maxBytes` bytes when that is not
// 0: a pipe or device is refused at once, as is a larger file.
void ReadJsonEvents(const std::string& path, JsonEvents& events, uint64_t maxBytes = 0);
void ParseJsonEvents(std::string_view text, JsonEvents& events);
// The same for a text that may be overwritten while it is read: its strings
// are read in place rather than copied (journal lines, read once).
void ParseJsonEventsInPlace(std::string& text, JsonEvents& events);

// Builds a library value from the events of one value. Integers that fit 64
// bits are kept as integers, other numbers as reals.
class JsonValueBuilder : public JsonEvents {
public:
    explicit JsonValueBuilder(Json::Value& root) : root_(root) {}
    void Null() override { Put(Json::Value()); }
    void Bool(bool value) override { Put(Json::Value(value)); }
    void Number(std::string_view literal) override;
    void String(std::string_view text) override { Put(Json::Value(text.data(), text.data() + text.size())); }
    void Key(std::string_view name) override { key_.assign(name.data(), name.size()); }
    void BeginObject() override { Open(Json::objectValue); }
    void EndObject() override { Close(); }
    void BeginArray() override { Open(Json::arrayValue); }
    void EndArray() override { Close(); }
    // Whether the value is complete.
    bool Done() const { return started_ && open_.empty(); }

private:
    Json::Value& Put(Json::Value value);
    void Open(Json::ValueType type) { open_.push_back(&Put(Json::Value(type))); }
    void Close();
    Json::Value& root_;
    std::vector<Json::Value*> open_;
    std::string key_;
    bool started_ = false;
};

// Writes the events it is given: a value read in one layout is written in
// another, its numbers exactly as they stood.
class JsonCopy : public JsonEvents {
public:
    explicit JsonCopy(JsonWriter& out) : out_(out) {}
    void Null() override { out_.Null(); }
    void Bool(bool value) override { out_.Bool(value); }
    void Number(std::string_view literal) override { out_.Literal(literal); }
    void String(std::string_view text) override { out_.String(text); }
    void Key(std::string_view name) override { out_.Key(name); }
    void BeginObject() override { out_.BeginObject(); }
    void EndObject() override { out_.EndObject(); }
    void BeginArray() override { out_.BeginArray(); }
    void EndArray() override { out_.EndArray(); }

private:
    JsonWriter& out_;
};

// A number literal as a library value (see JsonValueBuilder).
Json::Value JsonNumberValue(std::string_view literal);

}  // namespace kavo
