// JSON files and text.
#include "base/kavo_json.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstddef>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <initializer_list>
#include <iterator>
#include <memory>
#include <sstream>
#include <stdexcept>

#include <fmt/format.h>

#include "base/json_styled.h"
#include "base/kavo_errors.h"
#include "base/kavo_log.h"
#include "base/kavo_text.h"
#include "base/platform.h"

namespace kavo {

namespace {

// The library's own styled text, for what only it writes (comments, NUL
// bytes). One writer per thread: building a writer costs more than writing
// a small value with it.
std::string LibraryWritten(const Json::Value& value) {
    thread_local std::unique_ptr<Json::StreamWriter> writer(Json::StreamWriterBuilder().newStreamWriter());
    std::ostringstream text;
    writer->write(value, &text);
    return text.str();
}

// The styled text, written into `room` characters reserved beforehand.
std::string Written(const Json::Value& value, size_t room = 0) {
    std::string styled;
    styled.reserve(room);
    if (AppendStyledJson(value, styled)) return styled;
    return LibraryWritten(value);
}

// The member at a path of member names from the root (made when absent).
Json::Value& MemberAt(Json::Value& document, const std::vector<std::string>& path) {
    Json::Value* member = &document;
    for (const std::string& name : path) member = &(*member)[name];
    return *member;
}

std::string Tabs(int count) { return std::string(static_cast<size_t>(count), '\t'); }

// The end of the JSON string whose opening quote is at `quote`: the
// character after its closing quote, or nullptr when the text ends first.
const char* StringEnd(const char* quote, const char* end) {
    for (const char* at = quote + 1; at < end; ++at) {
        at = static_cast<const char*>(std::memchr(at, '"', static_cast<size_t>(end - at)));
        if (at == nullptr) return nullptr;
        // Escaped when an odd number of backslashes stands before it.
        size_t backslashes = 0;
        while (at[-1 - static_cast<std::ptrdiff_t>(backslashes)] == '\\') ++backslashes;
        if (backslashes % 2 == 0) return at + 1;
    }
    return nullptr;
}

// The styled layout of a flat object ({"key": scalar, ...}) given in compact
// text, as the document writer lays it out at `depth`; false for anything
// else (nested values, or text that is not such an object). A long run's
// summary lays out every command record this way, so the text is written in
// one pass into room made for it beforehand.
bool AppendFlatObject(std::string& out, const std::string& compact, int depth) {
    if (compact.size() < 2 || compact.front() != '{' || compact.back() != '}') return false;
    if (compact == "{}") {
        out += "{}";
        return true;
    }
    const size_t indent = static_cast<size_t>(depth) + 1;
    // A member takes at least four characters of the compact text ("":0)
    // and gains a line break, its indent and the blanks around the colon.
    const size_t members = compact.size() / 4 + 1;
    const size_t rollback = out.size();
    out.resize(rollback + compact.size() + members * (indent + 3) + indent + 2);
    auto refuse = [&] {
        out.resize(rollback);
        return false;
    };
    char* write = &out[rollback];
    auto put = [&](const char* from, const char* to) {
        std::memcpy(write, from, static_cast<size_t>(to - from));
        write += to - from;
    };
    auto breakLine = [&](size_t tabs) {
        *write++ = '\n';
        std::memset(write, '\t', tabs);
        write += tabs;
    };
    const char* at = compact.data() + 1;
    const char* const end = compact.data() + compact.size();
    *write++ = '{';
    while (true) {
        if (at >= end || *at != '"') return refuse();
        const char* keyEnd = StringEnd(at, end);
        if (keyEnd == nullptr || keyEnd >= end || *keyEnd != ':') return refuse();
        breakLine(indent);
        put(at, keyEnd);
        static const char kColon[] = " : ";
        put(kColon, kColon + 3);
        at = keyEnd + 1;
        if (at >= end) return refuse();
        const char* valueEnd = at;
        if (*at == '"') {
            valueEnd = StringEnd(at, end);
        } else {
            if (*at == '{' || *at == '[') return refuse();
            while (valueEnd < end && *valueEnd != ',' && *valueEnd != '}') ++valueEnd;
        }
        if (valueEnd == nullptr || valueEnd >= end) return refuse();
        put(at, valueEnd);
        if (*valueEnd == '}') {
            if (valueEnd + 1 != end) return refuse();
            break;
        }
        if (*valueEnd != ',') return refuse();
        *write++ = ',';
        at = valueEnd + 1;
    }
    breakLine(indent - 1);
    *write++ = '}';
    out.resize(static_cast<size_t>(write - out.data()));
    return true;
}

// An array element given in compact text, laid out as the document writer
// lays out an element at `depth`.
void AppendElement(std::string& out, const std::string& compact, int depth) {
    if (AppendFlatObject(out, compact, depth)) return;
    Json::Value value;
    ParseJsonText(compact, value);
    const std::string indent = Tabs(depth);
    for (char c : Written(value)) {
        out += c;
        if (c == '\n') out += indent;
    }
}

}  // namespace

AtomicFile::AtomicFile(const std::string& path) : path_(path) {
    // A link under the name is replaced by the file; a device, pipe or
    // folder is not a document to replace.
    std::error_code error;
    std::filesystem::file_status status = std::filesystem::symlink_status(path, error);
    if (!error && std::filesystem::exists(status) && !std::filesystem::is_regular_file(status) &&
        !std::filesystem::is_symlink(status))
        throw KavoError("Could not open file to write JSON data to '" + path + "': not a regular file");
    static unsigned counter = 0;
    std::string reason;
    for (int attempt = 0; attempt < 16 && file_ == nullptr; ++attempt) {
        temporary_ = path + ".tmp-" + std::to_string(MonotonicNanoseconds() % 1000000007) + "-" + std::to_string(++counter);
        file_ = platform::CreateNewFile(temporary_, reason);
    }
    if (file_ == nullptr) throw KavoError("Could not open file to write JSON data to '" + path + "': " + reason);
}

bool IsAtomicTemporary(std::string_view fileName, std::string_view& finalName) {
    const size_t tmp = fileName.rfind(".tmp-");
    if (tmp == std::string_view::npos) return false;
    const std::string_view numbers = fileName.substr(tmp + 5);
    const size_t dash = numbers.find('-');
    if (dash == std::string_view::npos || !IsDecimalDigits(numbers.substr(0, dash)) ||
        !IsDecimalDigits(numbers.substr(dash + 1)))
        return false;
    finalName = fileName.substr(0, tmp);
    return true;
}

AtomicFile::~AtomicFile() {
    if (file_ == nullptr) return;
    std::fclose(file_);
    std::remove(temporary_.c_str());
}

void AtomicFile::Write(const char* data, size_t size) {
    if (size != 0 && std::fwrite(data, 1, size, file_) != size) Fail(platform::LastErrorText());
}

void AtomicFile::Commit() {
    std::string reason;
    if (!platform::SyncFile(file_, reason)) Fail(reason);
    std::FILE* file = file_;
    file_ = nullptr;
    if (std::fclose(file) != 0) Fail(platform::LastErrorText());
    if (!platform::ReplaceFile(temporary_, path_, reason)) Fail(reason);
    platform::SyncDirectory(std::filesystem::path(path_).parent_path().string());
}

void AtomicFile::Fail(const std::string& reason) {
    // The earlier file under the name stays as it was.
    if (file_ != nullptr) std::fclose(file_);
    file_ = nullptr;
    std::remove(temporary_.c_str());
    throw KavoError("Could not write JSON data to file '" + path_ + "': " + reason);
}

void WriteTextFile(const std::string& path, const std::string& text) {
    int64_t start = MonotonicNanoseconds();
    AtomicFile file(path);
    file.Write(text);
    file.Commit();
    KLOG_AS(Debug, "kavo::WriteJsonFile") << "Wrote JSON data to file '" << path << "' in " << ElapsedText(start, 3);
}

void WriteJsonFile(const std::string& path, const Json::Value& document) {
    // Room for a whole sample document from the start: the text is never
    // copied while it grows, and pages of the room it does not fill are
    // never touched.
    constexpr size_t kDocumentRoom = 512 * 1024;
    WriteTextFile(path, Written(document, kDocumentRoom));
}

std::string CompactJson(const Json::Value& value) {
    std::string compact;
    if (AppendCompactJson(value, compact)) return compact;
    thread_local std::unique_ptr<Json::StreamWriter> writer([] {
        Json::StreamWriterBuilder builder;
        builder["indentation"] = "";
        return builder.newStreamWriter();
    }());
    std::ostringstream text;
    writer->write(value, &text);
    return text.str();
}

void AppendJsonString(std::string& out, std::string_view text) {
    // The bytes a JSON string cannot hold as they are: control characters,
    // the quote and the backslash.
    static const auto kEscaped = [] {
        std::array<bool, 256> escaped{};
        for (int byte = 0; byte < 0x20; ++byte) escaped[byte] = true;
        escaped['"'] = escaped['\\'] = true;
        return escaped;
    }();
    const char* begin = text.data();
    const char* end = begin + text.size();
    out += '"';
    const char* run = begin;  // characters that need no escape go in as one piece
    for (const char* c = begin; c != end; ++c) {
        const unsigned char byte = static_cast<unsigned char>(*c);
        if (!kEscaped[byte]) continue;
        out.append(run, c);
        if (byte < 0x20) {
            static const char kHex[] = "0123456789abcdef";
            out += "\\u00";
            out += kHex[byte >> 4];
            out += kHex[byte & 0xF];
        } else {
            out += '\\';
            out += *c;
        }
        run = c + 1;
    }
    out.append(run, end);
    out += '"';
}

void AppendJsonNumber(std::string& out, double number) {
    if (!std::isfinite(number)) {
        out += CompactJson(Json::Value(number));  // the writer's own spelling
        return;
    }
    char text[32];  // the longest shortest form of a double has 24 characters
    const char* const begin = text;
    const char* end = fmt::format_to(text, "{}", number);
    out.append(begin, end);
    // A whole number stays a real number when read back.
    if (std::none_of(begin, end, [](char c) { return c == '.' || c == 'e' || c == 'E'; })) out += ".0";
}

namespace {

// A scalar as JSON text; false for objects and arrays.
bool AppendScalar(std::string& out, const Json::Value& value) {
    switch (value.type()) {
    case Json::nullValue: out += "null"; return true;
    case Json::booleanValue: out += value.asBool() ? "true" : "false"; return true;
    case Json::intValue: out += std::to_string(value.asLargestInt()); return true;
    case Json::uintValue: out += std::to_string(value.asLargestUInt()); return true;
    case Json::realValue: AppendJsonNumber(out, value.asDouble()); return true;
    case Json::stringValue: {
        const char* begin = nullptr;
        const char* end = nullptr;
        value.getString(&begin, &end);
        AppendJsonString(out, std::string_view(begin, static_cast<size_t>(end - begin)));
        return true;
    }
    default: return false;
    }
}

}  // namespace

Json::Value RecordSkeleton(std::initializer_list<const char*> keys) {
    Json::Value record(Json::objectValue);
    for (const char* key : keys) record[Json::StaticString(key)] = Json::Value();
    auto member = record.begin();
    for (const char* key : keys) {
        if (member == record.end() || member.name() != key) throw std::logic_error("record keys out of order");
        ++member;
    }
    return record;
}

std::string RecordJson(const Json::Value& value) {
    if (!value.isObject()) return CompactJson(value);
    std::string out;
    out.reserve(256);  // a command or sample record, without growing
    out += '{';
    for (auto member = value.begin(); member != value.end(); ++member) {
        if (out.size() > 1) out += ',';
        const char* end = nullptr;
        const char* name = member.memberName(&end);
        AppendJsonString(out, std::string_view(name, static_cast<size_t>(end - name)));
        out += ':';
        if (!AppendScalar(out, *member)) return CompactJson(value);
    }
    return out + "}";
}

void WriteJsonFile(const std::string& path, Json::Value& document, const std::vector<StreamedArray>& arrays) {
    int64_t start = MonotonicNanoseconds();
    // The document is written with a marker text in place of each streamed
    // array; each marker is then replaced by the array's elements, laid out
    // as the writer lays out an array of objects at the marker's depth.
    std::vector<Json::Value> kept;
    for (size_t i = 0; i < arrays.size(); ++i) {
        Json::Value& member = MemberAt(document, arrays[i].member);
        kept.push_back(std::move(member));
        member = "quellix streamed array " + std::to_string(i);
    }
    std::string text = Written(document);
    for (size_t i = arrays.size(); i-- > 0;) MemberAt(document, arrays[i].member) = std::move(kept[i]);

    AtomicFile file(path);
    size_t done = 0;
    for (size_t i = 0; i < arrays.size(); ++i) {
        const std::string marker = "\"quellix streamed array " + std::to_string(i) + "\"";
        size_t at = text.find(marker, done);
        if (at == std::string::npos) throw KavoError("Could not write JSON data to file '" + path + "'");
        size_t lineStart = text.rfind('\n', at) + 1;
        int depth = static_cast<int>(text.find_first_not_of('\t', lineStart) - lineStart);
        file.Write(text.data() + done, at - done);
        std::string chunk;
        size_t count = 0;
        arrays[i].elements([&](const std::string& compact) {
            chunk += count++ == 0 ? "\n" + Tabs(depth) + "[\n" : ",\n";
            chunk += Tabs(depth + 1);
            AppendElement(chunk, compact, depth + 1);
            if (chunk.size() > (1u << 16)) {
                file.Write(chunk);
                chunk.clear();
            }
        });
        chunk += count == 0 ? "[]" : "\n" + Tabs(depth) + "]";
        file.Write(chunk);
        done = at + marker.size();
    }
    file.Write(text.data() + done, text.size() - done);
    file.Commit();
    KLOG_AS(Debug, "kavo::WriteJsonFile") << "Wrote JSON data to file '" << path << "' in " << ElapsedText(start, 3);
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
    // One reader per thread: a run's summary is read record by record.
    thread_local std::unique_ptr<Json::CharReader> reader(Json::CharReaderBuilder().newCharReader());
    std::string errors;
    Json::Value parsed;
    if (!reader->parse(text.data(), text.data() + text.size(), &parsed, &errors))
        throw KavoError("Failed to convert string to Json");
    document.swap(parsed);
}

namespace {

bool IsJsonSpace(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }

// The text of a string without escapes that starts after the opening quote
// at `at`; false at a backslash or when the text ends first.
bool PlainString(std::string_view text, size_t& at, std::string_view& content) {
    const size_t start = at;
    while (at < text.size() && text[at] != '"') {
        if (text[at] == '\\') return false;
        ++at;
    }
    if (at == text.size()) return false;
    content = text.substr(start, at - start);
    ++at;  // past the closing quote
    return true;
}

// A member value that is not a string: true, false, null, or a whole number
// of up to 18 digits (so it fits an Int64, the type the parser gives it).
bool PlainScalar(std::string_view text, size_t& at, Json::Value& value) {
    for (const auto& [word, literal] : {std::pair<std::string_view, bool>{"true", true}, {"false", false}}) {
        if (text.substr(at, word.size()) == word) {
            at += word.size();
            value = literal;
            return true;
        }
    }
    if (text.substr(at, 4) == "null") {
        at += 4;
        value = Json::Value();
        return true;
    }
    const bool negative = at < text.size() && text[at] == '-';
    size_t digit = at + (negative ? 1 : 0), end = digit;
    int64_t number = 0;
    while (end < text.size() && text[end] >= '0' && text[end] <= '9' && end - digit < 18) number = number * 10 + (text[end++] - '0');
    const size_t count = end - digit;
    if (count == 0 || (count > 1 && text[digit] == '0')) return false;
    if (end < text.size() && (text[end] == '.' || text[end] == 'e' || text[end] == 'E' || (text[end] >= '0' && text[end] <= '9')))
        return false;
    at = end;
    value = Json::Value(Json::Int64(negative ? -number : number));
    return true;
}

void SkipSpace(std::string_view text, size_t& at) {
    while (at < text.size() && IsJsonSpace(text[at])) ++at;
}

}  // namespace

bool ParseFlatObject(std::string_view text, Json::Value& object) {
    size_t at = 0;
    SkipSpace(text, at);
    if (at == text.size() || text[at++] != '{') return false;
    Json::Value parsed(Json::objectValue);
    SkipSpace(text, at);
    if (at < text.size() && text[at] == '}') {
        ++at;
    } else {
        for (;;) {
            std::string_view key, content;
            if (at == text.size() || text[at++] != '"' || !PlainString(text, at, key)) return false;
            SkipSpace(text, at);
            if (at == text.size() || text[at++] != ':') return false;
            SkipSpace(text, at);
            if (at == text.size()) return false;
            Json::Value& member = *parsed.demand(key.data(), key.data() + key.size());
            if (text[at] == '"') {
                if (!PlainString(text, ++at, content)) return false;
                member = Json::Value(content.data(), content.data() + content.size());
            } else if (!PlainScalar(text, at, member)) {
                return false;
            }
            SkipSpace(text, at);
            if (at == text.size()) return false;
            const char next = text[at++];
            if (next == '}') break;
            if (next != ',') return false;
            SkipSpace(text, at);
        }
    }
    SkipSpace(text, at);
    if (at != text.size()) return false;
    object.swap(parsed);
    return true;
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
