// Field tables of the simulated drive's structures and the description
// parsing that writes them.
#include "transport/simulated_drive_fields.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "base/kavo_errors.h"
#include "base/kavo_text.h"

namespace kavo::sim {
namespace {

using K = FieldKind;

[[noreturn]] void Fail(const std::string& origin, const std::string& problem) {
    throw UsageError("Simulated drive description " + origin + ": " + problem);
}

std::vector<Field> WithPowerStates(std::vector<Field> fields) {
    struct Part { const char* name; uint32_t offset; uint32_t width; };
    static const Part kPowerState[] = {{"MP", 0, 2},    {"FLAGS", 3, 1}, {"ENLAT", 4, 4}, {"EXLAT", 8, 4},
                                       {"RRT", 12, 1},  {"RRL", 13, 1},  {"RWT", 14, 1},  {"RWL", 15, 1},
                                       {"IDLP", 16, 2}, {"IPS", 18, 1},  {"ACTP", 20, 2}, {"APWAPS", 22, 1}};
    for (uint32_t state = 0; state < 32; ++state)
        for (const Part& part : kPowerState)
            fields.push_back({"PS" + std::to_string(state) + "." + part.name, 2048 + 32 * state + part.offset, part.width,
                              K::Number});
    return fields;
}

// Hex text with optional blanks and line breaks between bytes.
std::vector<uint8_t> HexBytes(const std::string& text, const std::string& origin, const std::string& what) {
    std::vector<uint8_t> bytes;
    int high = -1;
    for (char c : text) {
        if (std::isspace(static_cast<unsigned char>(c)) || c == ':' || c == '-') continue;
        int value = 0;
        if (!HexDigitValue(c, value)) Fail(origin, "'" + what + "' is not hexadecimal text");
        if (high < 0) high = value;
        else bytes.push_back(static_cast<uint8_t>(high * 16 + value)), high = -1;
    }
    if (high >= 0) Fail(origin, "'" + what + "' has an odd number of hexadecimal digits");
    return bytes;
}

void PutBytes(const std::vector<uint8_t>& source, uint8_t* bytes, size_t size, size_t at, const std::string& origin,
              const std::string& what) {
    if (at > size || source.size() > size - at)
        Fail(origin, "'" + what + "' holds " + std::to_string(source.size()) + " bytes at offset " + std::to_string(at) +
                         ", more than the " + std::to_string(size) + "-byte structure");
    std::copy(source.begin(), source.end(), bytes + at);
}

}  // namespace

const std::vector<Field>& IdentifyControllerFields() {
    static const std::vector<Field> fields = WithPowerStates({
        {"VID", 0, 2, K::Number},       {"SSVID", 2, 2, K::Number},     {"SN", 4, 20, K::Ascii},
        {"MN", 24, 40, K::Ascii},       {"FR", 64, 8, K::Ascii},        {"RAB", 72, 1, K::Number},
        {"IEEE", 73, 3, K::Number},     {"CMIC", 76, 1, K::Number},     {"MDTS", 77, 1, K::Number},
        {"CNTLID", 78, 2, K::Number},   {"VER", 80, 4, K::Number},      {"RTD3R", 84, 4, K::Number},
        {"RTD3E", 88, 4, K::Number},    {"OAES", 92, 4, K::Number},     {"CTRATT", 96, 4, K::Number},
        {"RRLS", 100, 2, K::Number},    {"CNTRLTYPE", 111, 1, K::Number}, {"FGUID", 112, 16, K::Number},
        {"CRDT1", 128, 2, K::Number},   {"CRDT2", 130, 2, K::Number},   {"CRDT3", 132, 2, K::Number},
        {"NVMSR", 253, 1, K::Number},   {"VWCI", 254, 1, K::Number},    {"MEC", 255, 1, K::Number},
        {"OACS", 256, 2, K::Number},    {"ACL", 258, 1, K::Number},     {"AERL", 259, 1, K::Number},
        {"FRMW", 260, 1, K::Number},    {"LPA", 261, 1, K::Number},     {"ELPE", 262, 1, K::Number},
        {"NPSS", 263, 1, K::Number},    {"AVSCC", 264, 1, K::Number},   {"APSTA", 265, 1, K::Number},
        {"WCTEMP", 266, 2, K::Number},  {"CCTEMP", 268, 2, K::Number},  {"MTFA", 270, 2, K::Number},
        {"HMPRE", 272, 4, K::Number},   {"HMMIN", 276, 4, K::Number},   {"TNVMCAP", 280, 16, K::Number},
        {"UNVMCAP", 296, 16, K::Number}, {"RPMBS", 312, 4, K::Number},  {"EDSTT", 316, 2, K::Number},
        {"DSTO", 318, 1, K::Number},    {"FWUG", 319, 1, K::Number},    {"KAS", 320, 2, K::Number},
        {"HCTMA", 322, 2, K::Number},   {"MNTMT", 324, 2, K::Number},   {"MXTMT", 326, 2, K::Number},
        {"SANICAP", 328, 4, K::Number}, {"HMMINDS", 332, 4, K::Number}, {"HMMAXD", 336, 2, K::Number},
        {"NSETIDMAX", 338, 2, K::Number}, {"ENDGIDMAX", 340, 2, K::Number}, {"ANATT", 342, 1, K::Number},
        {"ANACAP", 343, 1, K::Number},  {"ANAGRPMAX", 344, 4, K::Number}, {"NANAGRPID", 348, 4, K::Number},
        {"PELS", 352, 4, K::Number},    {"SQES", 512, 1, K::Number},    {"CQES", 513, 1, K::Number},
        {"MAXCMD", 514, 2, K::Number},  {"NN", 516, 4, K::Number},      {"ONCS", 520, 2, K::Number},
        {"FUSES", 522, 2, K::Number},   {"FNA", 524, 1, K::Number},     {"VWC", 525, 1, K::Number},
        {"AWUN", 526, 2, K::Number},    {"AWUPF", 528, 2, K::Number},   {"NVSCC", 530, 1, K::Number},
        {"NWPC", 531, 1, K::Number},    {"ACWU", 532, 2, K::Number},    {"SGLS", 536, 4, K::Number},
        {"MNAN", 540, 4, K::Number},    {"SUBNQN", 768, 256, K::Text},
    });
    return fields;
}

const std::vector<Field>& IdentifyNamespaceFields() {
    static const std::vector<Field> fields = [] {
        std::vector<Field> list = {
            {"NSZE", 0, 8, K::Number},     {"NCAP", 8, 8, K::Number},     {"NUSE", 16, 8, K::Number},
            {"NSFEAT", 24, 1, K::Number},  {"NLBAF", 25, 1, K::Number},   {"FLBAS", 26, 1, K::Number},
            {"MC", 27, 1, K::Number},      {"DPC", 28, 1, K::Number},     {"DPS", 29, 1, K::Number},
            {"NMIC", 30, 1, K::Number},    {"RESCAP", 31, 1, K::Number},  {"FPI", 32, 1, K::Number},
            {"DLFEAT", 33, 1, K::Number},  {"NAWUN", 34, 2, K::Number},   {"NAWUPF", 36, 2, K::Number},
            {"NACWU", 38, 2, K::Number},   {"NABSN", 40, 2, K::Number},   {"NABO", 42, 2, K::Number},
            {"NABSPF", 44, 2, K::Number},  {"NOIOB", 46, 2, K::Number},   {"NVMCAP", 48, 16, K::Number},
            {"NPWG", 64, 2, K::Number},    {"NPWA", 66, 2, K::Number},    {"NPDG", 68, 2, K::Number},
            {"NPDA", 70, 2, K::Number},    {"NOWS", 72, 2, K::Number},    {"ANAGRPID", 92, 4, K::Number},
            {"NSATTR", 99, 1, K::Number},  {"NVMSETID", 100, 2, K::Number}, {"ENDGID", 102, 2, K::Number},
            {"NGUID", 104, 16, K::Number}, {"EUI64", 120, 8, K::Number},
        };
        for (uint32_t format = 0; format < 16; ++format)
            list.push_back({"LBAF" + std::to_string(format), 128 + 4 * format, 4, K::Number});
        return list;
    }();
    return fields;
}

const std::vector<Field>& SmartFields() {
    static const std::vector<Field> fields = {
        {"CW", 0, 1, K::Number},        {"CTEMP", 1, 2, K::Number},     {"AVSPARE", 3, 1, K::Number},
        {"SPARETHRESH", 4, 1, K::Number}, {"PUSED", 5, 1, K::Number},   {"EGCWS", 6, 1, K::Number},
        {"DUR", 32, 16, K::Number},     {"DUW", 48, 16, K::Number},     {"HRC", 64, 16, K::Number},
        {"HWC", 80, 16, K::Number},     {"CBT", 96, 16, K::Number},     {"PC", 112, 16, K::Number},
        {"POH", 128, 16, K::Number},    {"UNSAFE", 144, 16, K::Number}, {"MEDIA", 160, 16, K::Number},
        {"ERRLOG", 176, 16, K::Number}, {"WCTT", 192, 4, K::Number},    {"CCTT", 196, 4, K::Number},
        {"TS1", 200, 2, K::Number},     {"TS2", 202, 2, K::Number},     {"TS3", 204, 2, K::Number},
        {"TS4", 206, 2, K::Number},     {"TS5", 208, 2, K::Number},     {"TS6", 210, 2, K::Number},
        {"TS7", 212, 2, K::Number},     {"TS8", 214, 2, K::Number},     {"TMT1C", 216, 4, K::Number},
        {"TMT2C", 220, 4, K::Number},   {"TMT1T", 224, 4, K::Number},   {"TMT2T", 228, 4, K::Number},
    };
    return fields;
}

const std::vector<Field>& ErrorEntryFields() {
    static const std::vector<Field> fields = {
        {"ERRCNT", 0, 8, K::Number}, {"SQID", 8, 2, K::Number},    {"CMDID", 10, 2, K::Number},
        {"STATUS", 12, 2, K::Number}, {"PEL", 14, 2, K::Number},   {"LBA", 16, 8, K::Number},
        {"NSID", 24, 4, K::Number},  {"VSIA", 28, 1, K::Number},   {"TRTYPE", 29, 1, K::Number},
        {"CSI", 32, 8, K::Number},   {"TTSI", 40, 2, K::Number},
    };
    return fields;
}

const std::vector<Field>& FirmwareSlotFields() {
    static const std::vector<Field> fields = {
        {"AFI", 0, 1, K::Number}, {"FRS1", 8, 8, K::Ascii},  {"FRS2", 16, 8, K::Ascii}, {"FRS3", 24, 8, K::Ascii},
        {"FRS4", 32, 8, K::Ascii}, {"FRS5", 40, 8, K::Ascii}, {"FRS6", 48, 8, K::Ascii}, {"FRS7", 56, 8, K::Ascii},
    };
    return fields;
}

uint64_t ParseUnsigned(const Json::Value& value, uint64_t maximum, const std::string& origin, const std::string& what) {
    uint8_t bytes[8] = {};
    ParseNumber(value, 8, bytes, origin, what);
    uint64_t result = 0;
    for (int i = 7; i >= 0; --i) result = (result << 8) | bytes[i];
    if (result > maximum)
        Fail(origin, "value of '" + what + "' is larger than " + std::to_string(maximum));
    return result;
}

void ParseNumber(const Json::Value& value, uint32_t width, uint8_t* out, const std::string& origin,
                 const std::string& what) {
    uint128 number = 0;
    if (value.isUInt64()) {
        number = value.asUInt64();
    } else if (value.isString()) {
        std::string text = Trim(value.asString());
        bool hex = text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X');
        size_t begin = hex ? 2 : 0;
        if (text.size() == begin) Fail(origin, "value '" + text + "' of '" + what + "' is not a number");
        for (size_t i = begin; i < text.size(); ++i) {
            int digit = 0;
            bool ok = hex ? HexDigitValue(text[i], digit) : (text[i] >= '0' && text[i] <= '9' && (digit = text[i] - '0', true));
            if (!ok) Fail(origin, "value '" + text + "' of '" + what + "' is not a number");
            uint128 base = hex ? 16 : 10;
            if (number > (kUint128Max - digit) / base)
                Fail(origin, "value '" + text + "' of '" + what + "' is larger than 128 bits");
            number = number * base + digit;
        }
    } else {
        Fail(origin, "value of '" + what + "' must be a non-negative number or a number text");
    }
    if (width < 16 && (number >> (8 * width)) != 0)
        Fail(origin, "value " + DecimalText(number) + " does not fit the " + std::to_string(width) + "-byte field '" + what + "'");
    for (uint32_t i = 0; i < width; ++i) out[i] = static_cast<uint8_t>((number >> (8 * i)) & 0xFF);
}

void ApplyFields(const Json::Value& object, const std::vector<Field>& fields, uint8_t* bytes, size_t size,
                 const std::string& origin, const std::string& what, const std::string& baseDir,
                 const std::vector<std::string>& skip) {
    if (!object.isObject()) Fail(origin, "'" + what + "' must be an object");
    // Whole structures first, so that named fields override them.
    if (object.isMember("raw file")) {
        if (!object["raw file"].isString()) Fail(origin, "'raw file' of '" + what + "' must be a file name");
        std::string path = object["raw file"].asString();
        if (!std::filesystem::path(path).is_absolute()) path = baseDir + "/" + path;  // "C:/x" is absolute too
        // Only a regular file no larger than the structure: a device or a
        // pipe would be read for ever.
        std::error_code error;
        if (!std::filesystem::is_regular_file(path, error))
            Fail(origin, "raw file '" + path + "' of '" + what + "' is not a regular file");
        if (std::filesystem::file_size(path, error) > size)
            Fail(origin, "raw file '" + path + "' of '" + what + "' is larger than the " + std::to_string(size) +
                             "-byte structure");
        std::ifstream file(path, std::ios::binary);
        if (!file) Fail(origin, "cannot read raw file '" + path + "' of '" + what + "'");
        std::vector<uint8_t> raw((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
        PutBytes(raw, bytes, size, 0, origin, what + " raw file");
    }
    if (object.isMember("raw")) {
        if (!object["raw"].isString()) Fail(origin, "'raw' of '" + what + "' must be hexadecimal text");
        PutBytes(HexBytes(object["raw"].asString(), origin, what + " raw"), bytes, size, 0, origin, what + " raw");
    }
    for (const std::string& name : object.getMemberNames()) {
        if (name == "raw" || name == "raw file" || std::find(skip.begin(), skip.end(), name) != skip.end()) continue;
        const Json::Value& value = object[name];
        if (name == "bytes") {
            if (!value.isObject()) Fail(origin, "'bytes' of '" + what + "' must map offsets to hexadecimal text");
            for (const std::string& offsetText : value.getMemberNames()) {
                uint64_t offset = ParseUnsigned(Json::Value(offsetText), size, origin, what + " bytes offset");
                if (!value[offsetText].isString()) Fail(origin, "bytes at " + offsetText + " must be hexadecimal text");
                PutBytes(HexBytes(value[offsetText].asString(), origin, what), bytes, size, offset, origin,
                         what + " bytes at " + offsetText);
            }
            continue;
        }
        auto field = std::find_if(fields.begin(), fields.end(), [&](const Field& f) { return f.name == name; });
        if (field == fields.end()) Fail(origin, "unknown field '" + name + "' in '" + what + "'");
        if (field->kind == FieldKind::Number) {
            ParseNumber(value, field->width, bytes + field->offset, origin, what + " " + name);
            continue;
        }
        if (!value.isString()) Fail(origin, "field '" + name + "' in '" + what + "' must be text");
        std::string text = value.asString();
        if (text.size() > field->width)
            Fail(origin, "text '" + text + "' does not fit the " + std::to_string(field->width) + "-byte field '" + name + "'");
        std::memset(bytes + field->offset, field->kind == FieldKind::Ascii ? ' ' : 0, field->width);
        std::memcpy(bytes + field->offset, text.data(), text.size());
    }
}

}  // namespace kavo::sim
