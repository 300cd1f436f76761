#pragma once
// The one JSON writer of the program: documents, summaries and journal lines
// are written from typed data (or from a library value) straight into text.
//
// The styled layout is the one every document has always had: tab
// indentation, " : " between a member's name and value, one member or
// element a line, and an object or array that follows a member's name on a
// line of its own. The compact layout puts everything on one line (journal
// records). Strings are written as ASCII: every other character as \uXXXX.
#include <cstdint>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include <json/value.h>

#include "base/number.h"

namespace kavo {

class JsonWriter {
public:
    enum class Layout { Styled, Compact };
    explicit JsonWriter(Layout layout = Layout::Styled) : styled_(layout == Layout::Styled) {}

    void BeginObject() { Begin(false); }
    void EndObject() { End(); }
    void BeginArray() { Begin(true); }
    void EndArray() { End(); }
    // The name of the next member of the object being written.
    void Key(std::string_view name);

    void String(std::string_view text);
    void Number(const kavo::Number& number);  // null when absent
    void Unsigned(uint128 value) { Number(kavo::Number::Unsigned(value)); }
    void Signed(int64_t value) { Number(kavo::Number::Signed(value)); }
    void Real(double value) { Number(kavo::Number::Real(value)); }
    // A number literal as it stood in JSON text, written unchanged.
    void Literal(std::string_view literal);
    // A whole value given as compact JSON text, written unchanged on its line.
    void Compact(std::string_view json) { Literal(json); }
    void Bool(bool value);
    void Null();
    // A whole library value, objects in their member order.
    void Value(const Json::Value& value);

    // A member with its value, for the common cases.
    void Member(std::string_view key, std::string_view text) { Key(key), String(text); }
    void Member(std::string_view key, const char* text) { Key(key), String(text); }
    void Member(std::string_view key, const std::string& text) { Key(key), String(text); }
    void Member(std::string_view key, const kavo::Number& number) { Key(key), Number(number); }
    void Member(std::string_view key, const Json::Value& value) { Key(key), Value(value); }

    // The text written so far. A writer of a long document may take it out
    // in pieces (Buffer().clear()) while it goes on.
    std::string& Buffer() { return out_; }
    std::string Take() { return std::move(out_); }

private:
    struct Level {
        bool array;
        bool opened;      // the bracket is written: the container is not empty
        bool breakFirst;  // a member's object or array opens on a line of its own
        bool first;
    };
    void Begin(bool array);
    void End();
    // Where a value starts: after a member's name, or as the next element.
    void BeforeValue();
    void Open(Level& level);
    void BreakLine();
    void Quoted(std::string_view text);

    const bool styled_;
    bool afterKey_ = false;
    std::vector<Level> levels_;
    std::string out_;
    std::string indent_;
};

// A flat record of a summary: texts (and other library values) by member
// name, and the numbers of some of them, written on one line with the
// numbers under "numbers"; members in byte order, as in every document.
class NumberedRecord {
public:
    void Set(const std::string& member, Json::Value value) { values_[member] = std::move(value); }
    void SetNumber(const std::string& member, const kavo::Number& number) {
        if (number.present()) numbers_[member] = number;
    }
    std::string Compact() const;

private:
    std::map<std::string, Json::Value> values_;
    std::map<std::string, kavo::Number> numbers_;
};

// A value as a whole text: the styled layout of documents, or one line.
std::string StyledJson(const Json::Value& value);
std::string CompactJson(const Json::Value& value);

}  // namespace kavo
