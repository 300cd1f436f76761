#include "base/json_writer.h"

#include <array>
#include <stdexcept>

namespace kavo {
namespace {

// The four-digit \u escape of a UTF-16 code unit.
void AppendEscape(std::string& out, unsigned unit) {
    static const char kHex[] = "0123456789abcdef";
    const char escape[6] = {'\\', 'u', kHex[(unit >> 12) & 0xF], kHex[(unit >> 8) & 0xF], kHex[(unit >> 4) & 0xF],
                            kHex[unit & 0xF]};
    out.append(escape, 6);
}

// The code point of the UTF-8 sequence at `at`, advancing past it; a byte
// that starts no valid sequence stands for itself (U+0080 to U+00FF), so no
// text is lost.
unsigned NextCodePoint(std::string_view text, size_t& at) {
    const unsigned char lead = static_cast<unsigned char>(text[at]);
    const size_t length = lead >= 0xF0 && lead <= 0xF4   ? 4
                          : lead >= 0xE0 && lead <= 0xEF ? 3
                          : lead >= 0xC2 && lead <= 0xDF ? 2
                                                        : 1;
    if (length == 1 || at + length > text.size()) return static_cast<unsigned char>(text[at++]);
    unsigned point = lead & (0x7F >> length);
    for (size_t i = 1; i < length; ++i) {
        const unsigned char next = static_cast<unsigned char>(text[at + i]);
        if ((next & 0xC0) != 0x80) return static_cast<unsigned char>(text[at++]);
        point = (point << 6) | (next & 0x3F);
    }
    const bool overlong = (length == 3 && point < 0x800) || (length == 4 && point < 0x10000);
    if (overlong || point > 0x10FFFF || (point >= 0xD800 && point <= 0xDFFF)) return static_cast<unsigned char>(text[at++]);
    at += length;
    return point;
}

}  // namespace

void JsonWriter::BreakLine() {
    if (!styled_) return;
    out_ += '\n';
    out_ += indent_;
}

void JsonWriter::Open(Level& level) {
    if (level.opened) return;
    if (level.breakFirst) BreakLine();
    out_ += level.array ? '[' : '{';
    level.opened = true;
    if (styled_) indent_ += '\t';
}

void JsonWriter::BeforeValue() {
    if (levels_.empty() || afterKey_) {
        afterKey_ = false;
        return;
    }
    Level& level = levels_.back();
    if (!level.array) throw std::logic_error("JsonWriter: a member value without a name");
    Open(level);
    if (!level.first) out_ += ',';
    level.first = false;
    BreakLine();
}

void JsonWriter::Begin(bool array) {
    const bool member = afterKey_;
    BeforeValue();
    levels_.push_back(Level{array, false, member && styled_, true});
}

void JsonWriter::End() {
    if (levels_.empty()) throw std::logic_error("JsonWriter: nothing to end");
    const Level level = levels_.back();
    levels_.pop_back();
    if (!level.opened) {
        out_ += level.array ? "[]" : "{}";
        return;
    }
    if (styled_) indent_.pop_back();
    BreakLine();
    out_ += level.array ? ']' : '}';
}

void JsonWriter::Key(std::string_view name) {
    if (levels_.empty() || levels_.back().array || afterKey_) throw std::logic_error("JsonWriter: a name out of place");
    Level& level = levels_.back();
    Open(level);
    if (!level.first) out_ += ',';
    level.first = false;
    BreakLine();
    Quoted(name);
    out_ += styled_ ? " : " : ":";
    afterKey_ = true;
}

void JsonWriter::Quoted(std::string_view text) {
    // The bytes that go in as they are: printable ASCII but the quote and
    // the backslash. Texts are mostly made of them, and go in as runs.
    static const auto kPlain = [] {
        std::array<bool, 256> plain{};
        for (int byte = 0x20; byte < 0x80; ++byte) plain[byte] = byte != '"' && byte != '\\';
        return plain;
    }();
    out_ += '"';
    size_t at = 0;
    while (at < text.size()) {
        const size_t run = at;
        while (at < text.size() && kPlain[static_cast<unsigned char>(text[at])]) ++at;
        out_.append(text.data() + run, at - run);
        if (at == text.size()) break;
        switch (text[at]) {
            case '"': out_ += "\\\""; ++at; break;
            case '\\': out_ += "\\\\"; ++at; break;
            case '\b': out_ += "\\b"; ++at; break;
            case '\f': out_ += "\\f"; ++at; break;
            case '\n': out_ += "\\n"; ++at; break;
            case '\r': out_ += "\\r"; ++at; break;
            case '\t': out_ += "\\t"; ++at; break;
            default: {
                const unsigned point = NextCodePoint(text, at);
                if (point < 0x10000) {
                    AppendEscape(out_, point);
                } else {
                    AppendEscape(out_, 0xD800 + ((point - 0x10000) >> 10));
                    AppendEscape(out_, 0xDC00 + ((point - 0x10000) & 0x3FF));
                }
            }
        }
    }
    out_ += '"';
}

void JsonWriter::String(std::string_view text) {
    BeforeValue();
    Quoted(text);
}

void JsonWriter::Number(const kavo::Number& number) {
    BeforeValue();
    out_ += number.Literal();
}

void JsonWriter::Literal(std::string_view literal) {
    BeforeValue();
    out_.append(literal.data(), literal.size());
}

void JsonWriter::Bool(bool value) {
    BeforeValue();
    out_ += value ? "true" : "false";
}

void JsonWriter::Null() {
    BeforeValue();
    out_ += "null";
}

void JsonWriter::Value(const Json::Value& value) {
    switch (value.type()) {
        case Json::nullValue: Null(); return;
        case Json::intValue: Signed(value.asLargestInt()); return;
        case Json::uintValue: Unsigned(value.asLargestUInt()); return;
        case Json::realValue: Real(value.asDouble()); return;
        case Json::booleanValue: Bool(value.asBool()); return;
        case Json::stringValue: {
            const char* begin = nullptr;
            const char* end = nullptr;
            value.getString(&begin, &end);
            String(std::string_view(begin, static_cast<size_t>(end - begin)));
            return;
        }
        case Json::arrayValue:
            BeginArray();
            for (const Json::Value& element : value) Value(element);
            EndArray();
            return;
        case Json::objectValue:
            BeginObject();
            for (auto member = value.begin(); member != value.end(); ++member) {
                const char* end = nullptr;
                const char* name = member.memberName(&end);
                Key(std::string_view(name, static_cast<size_t>(end - name)));
                Value(*member);
            }
            EndObject();
            return;
    }
}

std::string NumberedRecord::Compact() const {
    JsonWriter out(JsonWriter::Layout::Compact);
    out.BeginObject();
    auto numbers = [&] {
        out.Key("numbers");
        out.BeginObject();
        for (const auto& [name, number] : numbers_) out.Member(name, number);
        out.EndObject();
    };
    bool written = false;
    for (const auto& [member, value] : values_) {
        if (!written && member > "numbers") {
            numbers();
            written = true;
        }
        out.Member(member, value);
    }
    if (!written) numbers();
    out.EndObject();
    return out.Take();
}

std::string StyledJson(const Json::Value& value) {
    JsonWriter writer;
    writer.Value(value);
    return writer.Take();
}

std::string CompactJson(const Json::Value& value) {
    JsonWriter writer(JsonWriter::Layout::Compact);
    writer.Value(value);
    return writer.Take();
}

}  // namespace kavo
