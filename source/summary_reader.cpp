// Summaries read a record at a time.
#include "summary_reader.h"

#include <algorithm>
#include <cstring>
#include <fstream>
#include <vector>

#include "base/kavo_errors.h"
#include "base/kavo_json.h"

namespace {

// The arrays a summary streams, as their member lines read in the layout
// quellix writes: a member line, then "[" on a line of its own.
const char kCommandTimes[] = "\t\"command times\" : ";
const char* const kSampleArrays[] = {"\t\t\"sample\" : ", "\t\t\"status\" : "};

bool IsSampleArray(const std::string& line) {
    for (const char* member : kSampleArrays)
        if (line == member) return true;
    return false;
}

// The lines of an array that opens on the next line, up to its closing
// bracket at `indent`; each element (at indent + 1) goes to `element` as text.
void ReadArray(std::ifstream& file, const std::string& indent, const std::function<void(const std::string&)>& element,
               std::string& closing) {
    std::string line, text;
    const std::string start = indent + "[", finish = indent + "]", close = indent + "\t}",
                      closeComma = close + ",";
    while (std::getline(file, line)) {
        if (line == start) continue;
        if (line.rfind(finish, 0) == 0) {
            closing = line.substr(indent.size() + 1);  // "," or ""
            return;
        }
        text += line;
        text += '\n';
        if (line == close || line == closeComma) {
            if (text.back() == '\n') text.pop_back();
            if (text.back() == ',') text.pop_back();
            element(text);
            text.clear();
        }
    }
    throw kavo::KavoError("The summary ends inside an array");
}

// The first place of `mark` in `text`. Searched by its last character, the
// closing bracket, which the skipped array hardly holds, rather than by its
// first, a line break, which starts every line of it.
size_t FindMark(const std::string& text, const std::string& mark) {
    for (size_t at = mark.size() - 1; at < text.size(); ++at) {
        const void* hit = std::memchr(text.data() + at, mark.back(), text.size() - at);
        if (hit == nullptr) break;
        at = static_cast<size_t>(static_cast<const char*>(hit) - text.data());
        if (text.compare(at + 1 - mark.size(), mark.size(), mark) == 0) return at + 1 - mark.size();
    }
    return std::string::npos;
}

// Passes over an array that opens on the next line, up to its closing
// bracket at `indent`, in blocks and without looking at its lines: the array
// of command records is most of a long run's summary. Only the closing line
// starts with `indent` and "]"; the elements are indented deeper.
void SkipArray(std::ifstream& file, const std::string& indent, std::string& closing) {
    const std::string mark = "\n" + indent + "]";
    std::streamoff windowStart = file.tellg();  // file offset of window[0]
    std::string window;
    std::vector<char> block(1 << 16);
    for (;;) {
        const std::streamsize got = file.rdbuf()->sgetn(block.data(), static_cast<std::streamsize>(block.size()));
        if (got <= 0) break;
        window.append(block.data(), static_cast<size_t>(got));
        const size_t at = FindMark(window, mark);
        if (at != std::string::npos) {
            file.seekg(windowStart + static_cast<std::streamoff>(at + mark.size()));
            std::getline(file, closing);  // "," or ""
            return;
        }
        // The mark may straddle two blocks: its first bytes stay.
        const size_t keep = std::min(window.size(), mark.size() - 1);
        windowStart += static_cast<std::streamoff>(window.size() - keep);
        window.erase(0, window.size() - keep);
    }
    throw kavo::KavoError("The summary ends inside an array");
}

}  // namespace

void ReadSummary(const std::string& path, Json::Value& document,
                 const std::function<void(const Json::Value& record)>& sample) {
    std::ifstream file(path, std::ios::binary);
    if (!file) throw kavo::KavoError("Could not open file to read JSON data '" + path + "'");
    // The document without its arrays; the arrays' places hold "[]".
    std::string skeleton, line;
    while (std::getline(file, line)) {
        std::string closing;
        if (line == kCommandTimes) {
            SkipArray(file, "\t", closing);
            skeleton += line + "[]" + closing + "\n";
        } else if (IsSampleArray(line)) {
            ReadArray(file, "\t\t",
                      [&](const std::string& text) {
                          Json::Value record;
                          if (!kavo::ParseFlatObject(text, record)) kavo::ParseJsonText(text, record);
                          sample(record);
                      },
                      closing);
            skeleton += line + "[]" + closing + "\n";
        } else {
            skeleton += line + "\n";
        }
    }
    kavo::ParseJsonText(skeleton, document);
    if (!document.isObject() || !document["_cmd"].isObject())
        throw kavo::KavoError("Not the summary of a run: '" + path + "'");
    // A summary laid out by another writer came whole: its records now.
    for (const char* details : {"read details", "selftest details"}) {
        for (const char* array : {"sample", "status"}) {
            Json::Value& records = document[details][array];
            if (!records.isArray()) continue;
            for (const Json::Value& record : records) sample(record);
            records = Json::Value(Json::arrayValue);
        }
        if (document[details].isNull()) document.removeMember(details);
    }
    document.removeMember("command times");
}
