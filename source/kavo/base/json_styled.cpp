// The styled layout of the JSON library's StreamWriterBuilder defaults,
// without its per-token stream writes and member lookups.
#include "base/json_styled.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string_view>

#include <json/writer.h>

namespace kavo {
namespace {

// True when no byte of the text needs quoting by the library: no control
// character, quote, backslash or byte beyond ASCII. Documents are mostly
// long plain descriptions, so the test goes eight bytes a step: a byte b of
// a word x is found by the borrow that (x - b repeated) leaves in its top bit.
bool IsPlainText(const char* begin, const char* end) {
    constexpr uint64_t kOnes = 0x0101010101010101ULL, kTops = 0x8080808080808080ULL;
    auto anyBelow = [](uint64_t word, unsigned bound) { return ((word - kOnes * bound) & ~word & kTops) != 0; };
    auto anyEqual = [&](uint64_t word, unsigned byte) { return anyBelow(word ^ (kOnes * byte), 1); };
    const char* c = begin;
    for (; end - c >= 8; c += 8) {
        uint64_t word;
        std::memcpy(&word, c, sizeof word);
        // Once no top bit is set, the tests below see ASCII bytes only.
        if ((word & kTops) != 0 || anyBelow(word, 0x20) || anyEqual(word, '"') || anyEqual(word, '\\')) return false;
    }
    return std::none_of(c, end, [](char character) {
        const unsigned char byte = static_cast<unsigned char>(character);
        return byte == '\\' || byte == '"' || byte < 0x20 || byte > 0x7F;
    });
}

// The styled layout, or with `compact` the library's layout for an empty
// indentation: no line breaks and ":" between name and value.
class StyledWriter {
public:
    StyledWriter(std::string& out, bool compact) : out_(out), compact_(compact), separator_(compact ? ":" : " : ") {}

    bool Write(const Json::Value& root) {
        indented_ = true;
        return WriteValue(root);
    }

private:
    bool WriteValue(const Json::Value& value) {
        if (HasComment(value)) return false;
        switch (value.type()) {
        case Json::nullValue: out_ += "null"; return true;
        case Json::intValue: out_ += std::to_string(value.asLargestInt()); return true;
        case Json::uintValue: out_ += std::to_string(value.asLargestUInt()); return true;
        case Json::realValue: out_ += Json::valueToString(value.asDouble()); return true;
        case Json::booleanValue: out_ += value.asBool() ? "true" : "false"; return true;
        case Json::stringValue: {
            const char* begin = nullptr;
            const char* end = nullptr;
            value.getString(&begin, &end);
            return AppendQuoted(begin, end);
        }
        case Json::arrayValue: return WriteArray(value);
        case Json::objectValue: return WriteObject(value);
        }
        return false;
    }

    bool WriteObject(const Json::Value& value) {
        if (value.empty()) {
            out_ += "{}";
            return true;
        }
        WriteWithIndent("{");
        Indent();
        bool first = true;
        const Json::Value::const_iterator end = value.end();
        for (auto member = value.begin(); member != end; ++member) {
            const char* nameEnd = nullptr;
            const char* name = member.memberName(&nameEnd);
            if (IsPlainText(name, nameEnd)) {
                AppendMemberStart(first, name, nameEnd);
            } else {
                if (!first) out_ += ',';
                NewLineUnlessIndented();
                if (!AppendQuoted(name, nameEnd)) return false;
                out_ += separator_;
            }
            first = false;
            indented_ = false;
            if (!WriteValue(*member)) return false;
        }
        Unindent();
        WriteWithIndent("}");
        return true;
    }

    bool WriteArray(const Json::Value& value) {
        if (value.empty()) {
            out_ += "[]";
            return true;
        }
        WriteWithIndent("[");
        Indent();
        const Json::ArrayIndex size = value.size();
        for (Json::ArrayIndex index = 0; index < size; ++index) {
            if (index > 0) out_ += ',';
            NewLineUnlessIndented();
            indented_ = true;
            if (!WriteValue(value[index])) return false;
            indented_ = false;
        }
        Unindent();
        WriteWithIndent("]");
        return true;
    }

    // Room for `count` more characters at the end of the text. Documents
    // hold thousands of members: one resize a piece, not one append a token.
    char* Grow(size_t count) {
        const size_t at = out_.size();
        out_.resize(at + count);
        return &out_[at];
    }

    // The comma before all but the first member, the line break and indent,
    // the quoted name that needs no escape, and the colon, in one piece.
    void AppendMemberStart(bool first, const char* name, const char* nameEnd) {
        const size_t length = static_cast<size_t>(nameEnd - name);
        const bool breakLine = !indented_ && !compact_;
        char* write = Grow((first ? 0 : 1) + (breakLine ? 1 + indent_.size() : 0) + 2 + length + separator_.size());
        if (!first) *write++ = ',';
        if (breakLine) {
            *write++ = '\n';
            std::memcpy(write, indent_.data(), indent_.size());
            write += indent_.size();
        }
        *write++ = '"';
        std::memcpy(write, name, length);
        write += length;
        *write++ = '"';
        std::memcpy(write, separator_.data(), separator_.size());
    }

    // What needs no escape goes in as it is; the rest is quoted by the
    // library itself (a NUL byte would end its text early: refused).
    bool AppendQuoted(const char* begin, const char* end) {
        if (IsPlainText(begin, end)) {
            const size_t length = static_cast<size_t>(end - begin);
            char* write = Grow(length + 2);
            write[0] = '"';
            std::memcpy(write + 1, begin, length);
            write[length + 1] = '"';
            return true;
        }
        if (std::memchr(begin, '\0', static_cast<size_t>(end - begin)) != nullptr) return false;
        out_ += Json::valueToQuotedString(std::string(begin, end).c_str());
        return true;
    }

    static bool HasComment(const Json::Value& value) {
        return value.hasComment(Json::commentBefore) || value.hasComment(Json::commentAfterOnSameLine) ||
               value.hasComment(Json::commentAfter);
    }

    void NewLineUnlessIndented() {
        if (indented_ || compact_) return;
        out_ += '\n';
        out_ += indent_;
    }
    void WriteWithIndent(const char* text) {
        NewLineUnlessIndented();
        out_ += text;
        indented_ = false;
    }
    void Indent() { indent_ += '\t'; }
    void Unindent() { indent_.pop_back(); }

    std::string& out_;
    const bool compact_;
    const std::string_view separator_;  // between a member's name and value
    std::string indent_;
    bool indented_ = true;
};

}  // namespace

namespace {
bool AppendLaidOut(const Json::Value& value, std::string& out, bool compact) {
    const size_t start = out.size();
    StyledWriter writer(out, compact);
    if (writer.Write(value)) return true;
    out.resize(start);
    return false;
}
}  // namespace

bool AppendStyledJson(const Json::Value& value, std::string& out) { return AppendLaidOut(value, out, false); }

bool AppendCompactJson(const Json::Value& value, std::string& out) { return AppendLaidOut(value, out, true); }

}  // namespace kavo
