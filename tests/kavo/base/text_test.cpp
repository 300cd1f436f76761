// Renderings, parsers, hex dumps and time texts.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <limits>
#include <memory>
#include <sstream>
#include <stdexcept>
#include <vector>

#include <json/json.h>

#include "base/json_reader.h"
#include "base/json_writer.h"
#include "base/number.h"
#include "base/kavo_errors.h"
#include "base/kavo_json.h"
#include "base/kavo_text.h"
#include "run_binary.h"

using namespace kavo;

TEST(GroupedRenderings, GroupThousandsAndKeepSigns) {
    EXPECT_EQ(GroupedDecimal64(0), "0");
    EXPECT_EQ(GroupedDecimal64(999), "999");
    EXPECT_EQ(GroupedDecimal64(1000), "1,000");
    EXPECT_EQ(GroupedDecimal64(18446744073709551615ull), "18,446,744,073,709,551,615");
    EXPECT_EQ(GroupDigits("-1000"), "-1,000");
    EXPECT_EQ(GroupDigits("-100"), "-100");
    EXPECT_EQ(GroupDigits("-123456"), "-123,456");
    EXPECT_EQ(GroupedDecimal128(U128FromHalves(0, 1)), "18,446,744,073,709,551,616");
    EXPECT_EQ(GroupedDecimal128(kUint128Max), "340,282,366,920,938,463,463,374,607,431,768,211,455");
}

TEST(GroupedRenderings, DoublesAreCutNotRounded) {
    EXPECT_EQ(GroupedDouble3(-123.4567), "-123.456");
    EXPECT_EQ(GroupedDouble3(1234.5), "1,234.500");
    EXPECT_EQ(GroupedDouble3(0.0005), "0.000");
    EXPECT_EQ(GroupedDouble3(-1234.5), "-1,234.500");
    EXPECT_EQ(GroupedThousandths(1000000000), "1,000,000.000");
    EXPECT_EQ(GroupedThousandths(1), "0.001");
    EXPECT_EQ(GroupedThousandths(1050), "1.050");
}

// Hex texts are the hot path of every decode; printf is the oracle.
TEST(HexRenderings, MinimumDigitsGrowWithTheValue) {
    auto printed = [](uint64_t value, int digits) {
        char text[40];
        std::snprintf(text, sizeof text, "0x%0*llX", digits, static_cast<unsigned long long>(value));
        return std::string(text);
    };
    for (int digits : {0, 1, 2, 4, 8, 16, 20})
        for (int shift = 0; shift < 64; shift += 3)
            for (uint64_t value : {uint64_t(0), uint64_t(1) << shift, (uint64_t(1) << shift) - 1, ~uint64_t(0) >> shift})
                EXPECT_EQ(HexDigits(value, digits), printed(value, digits)) << value << " " << digits;
    EXPECT_EQ(HexByte(0x0A), "0A");
    EXPECT_EQ(HexByte(0xF0), "F0");
}

TEST(HexRenderings, FixedDigitsAndDashedBytes) {
    EXPECT_EQ(Hex16(0xABC), "0x0ABC");
    EXPECT_EQ(Hex16(0x144D), "0x144D");
    EXPECT_EQ(VersionText(0x00010400), "1.4.0");
    EXPECT_EQ(VersionText(0x00020000), "2.0.0");
    EXPECT_EQ(VersionText(0x00010201), "1.2.1");
    const uint8_t oui[] = {0x44, 0x1B, 0x00};
    EXPECT_EQ(DashedHex3Reversed(oui), "00-1b-44");
    uint8_t bytes[16];
    for (int i = 0; i < 16; ++i) bytes[i] = static_cast<uint8_t>(i * 0x11);
    EXPECT_EQ(DashedHex16(bytes), "0011223344556677-8899aa-bbccddeeff");
    EXPECT_EQ(DashedHex16After3(bytes), "001122-33445566778899aabbccddeeff");
    EXPECT_EQ(DashedHex8(bytes), "001122-3344556677");
}

TEST(HexDumpLines, LayoutPrintableColumnAndPartialLine) {
    uint8_t bytes[17];
    for (int i = 0; i < 16; ++i) bytes[i] = static_cast<uint8_t>(0x41 + i);
    bytes[16] = 0x80;
    Json::Value dump;
    HexDump(bytes, 17, dump);
    ASSERT_EQ(dump.size(), 2u);
    EXPECT_EQ(dump[0].asString(),
              "0x0000  |  41 42 43 44 45 46 47 48  |  49 4A 4B 4C 4D 4E 4F 50        A B C D E F G H  |  I J K L M N O P");
    EXPECT_EQ(dump[1].asString(),
              "0x0010  |  80 .. .. .. .. .. .. ..  |  .. .. .. .. .. .. .. ..        . . . . . . . .  |  . . . . . . . .");
    EXPECT_EQ(dump[0].asString().size(), 105u);
    HexDump(bytes, 0, dump);
    EXPECT_TRUE(dump.isArray());
    EXPECT_EQ(dump.size(), 0u);
}

TEST(DurationTexts, RangesAndParentheses) {
    EXPECT_EQ(DurationText(12.3456, 3), "12.346 Milliseconds");
    EXPECT_EQ(DurationText(1500, 3), "1.500 Seconds (1.500)");
    EXPECT_EQ(DurationText(75500, 3), "1.258 Minutes (1:15.500)");
    EXPECT_EQ(DurationText(3723004, 3), "1.034 Hours (1:02:03.004)");
    EXPECT_EQ(DurationText(999.9996, 3), "1000.000 Milliseconds");
    EXPECT_EQ(DurationText(60000, 2), "1.00 Minutes (1:00.000)");
    EXPECT_EQ(DurationText(90061000, 3), "25.017 Hours (25:01:01.000)");
}

TEST(TimestampTexts, LocalDateTimeWithMilliseconds) {
#ifdef _WIN32
    _putenv_s("TZ", "UTC");
    _tzset();
#else
    setenv("TZ", "UTC", 1);
    tzset();
#endif
    EXPECT_EQ(TimestampText(1658422704123ull), "2022-07-21 16:58:24.123");
    EXPECT_EQ(TimestampText(0), "1970-01-01 00:00:00.000");
    // The date and time of one second are reused; the next second is new.
    EXPECT_EQ(TimestampText(1658422704007ull), "2022-07-21 16:58:24.007");
    EXPECT_EQ(TimestampText(1658422704999ull), "2022-07-21 16:58:24.999");
    EXPECT_EQ(TimestampText(1658422705000ull), "2022-07-21 16:58:25.000");
    EXPECT_EQ(TimestampText(1658422705090ull), "2022-07-21 16:58:25.090");
}

TEST(NumberParsing, CommasSignsHexAndFailures) {
    double d = 0;
    EXPECT_TRUE(TryParseDouble("  1,024.5 GB", d));
    EXPECT_DOUBLE_EQ(d, 1024.5);
    EXPECT_FALSE(TryParseDouble("N/A", d));
    EXPECT_FALSE(TryParseDouble("AB12345", d));
    EXPECT_TRUE(TryParseDouble("0x1F", d));
    EXPECT_DOUBLE_EQ(d, 31);
    EXPECT_FALSE(TryParseDouble("1e999", d));
    int64_t i = 0;
    EXPECT_TRUE(TryParseInt64("12abc", i));
    EXPECT_EQ(i, 12);
    EXPECT_FALSE(TryParseInt64("", i));
    EXPECT_FALSE(TryParseInt64("99999999999999999999", i));
}

// The writer's layout is the one documents have always had: the JSON
// library's styled and compact texts, for every kind of value it holds
// alike (the library writes reals and non-ASCII text its own way).
TEST(JsonWriter, LayoutIsTheLibrarysStyledAndCompactLayout) {
    auto library = [](const Json::Value& value, const char* indentation = "\t") {
        Json::StreamWriterBuilder builder;
        builder["indentation"] = indentation;
        std::unique_ptr<Json::StreamWriter> writer(builder.newStreamWriter());
        std::ostringstream text;
        writer->write(value, &text);
        return text.str();
    };
    Json::Value document(Json::objectValue);
    document["empty object"] = Json::Value(Json::objectValue);
    document["empty array"] = Json::Value(Json::arrayValue);
    document["nested"][0][0] = Json::Value(Json::arrayValue);
    document["nested"][1]["a"] = 1;
    document["nested"][2] = Json::Value(Json::objectValue);
    document["nested"][3]["b"]["c"] = Json::Value(Json::arrayValue);
    document["text"] = "quote \" slash / back \\ tab \t newline \n bell \x07 del \x7f";
    document["numbers"].append(Json::Int64(-9223372036854775807LL - 1));
    document["numbers"].append(Json::UInt64(18446744073709551615ULL));
    document["numbers"].append(0);
    document["flags"].append(true);
    document["flags"].append(Json::Value());
    document[""] = "";
    for (const Json::Value& value : {document, Json::Value(7), Json::Value("x"), Json::Value(Json::arrayValue)}) {
        EXPECT_EQ(StyledJson(value), library(value));
        EXPECT_EQ(CompactJson(value), library(value, ""));
    }
}

TEST(JsonWriter, TextIsAsciiAndNumbersReadBackExactly) {
    // Non-ASCII text as \u escapes (surrogate pairs beyond the first plane);
    // a byte that starts no UTF-8 character stands for itself.
    EXPECT_EQ(CompactJson(Json::Value("\xc3\xa9 \xf0\x9f\x98\x80 \xff \xc3")), "\"\\u00e9 \\ud83d\\ude00 \\u00ff \\u00c3\"");
    EXPECT_EQ(CompactJson(Json::Value(std::string("a\0b", 3))), "\"a\\u0000b\"");
    // Bytes F5h to FFh start no sequence: each stands for itself, and the
    // continuation bytes after it stay apart, as they were.
    EXPECT_EQ(CompactJson(Json::Value("\xff\x9c\x9c \xf8\x88\x80\x80\x80")),
              "\"\\u00ff\\u009c\\u009c \\u00f8\\u0088\\u0080\\u0080\\u0080\"");
    // Reals in the shortest text that reads back, whole ones with ".0".
    Json::Value reals(Json::arrayValue);
    for (double real : {0.1, 3.0, -0.25, 1e300, 1e-300}) reals.append(real);
    EXPECT_EQ(CompactJson(reals), "[0.1,3.0,-0.25,1e+300,1e-300]");
    JsonWriter out(JsonWriter::Layout::Compact);
    out.BeginArray();
    out.Number(Number::Product(kUint128Max, 512000));
    out.Number(Number::Signed(-5));
    out.Number(Number());
    out.Literal("1.50");
    out.EndArray();
    EXPECT_EQ(out.Take(), "[174224571863520493293247799005065324264960000,-5,null,1.50]");
}

TEST(JsonWriter, StreamedValuesAreLaidOutAsWholeOnes) {
    Json::Value whole;
    whole["a"]["list"].append(1);
    whole["a"]["list"].append(Json::Value(Json::objectValue));
    whole["a"]["none"] = Json::Value(Json::arrayValue);
    whole["b"] = "x";
    JsonWriter out;
    out.BeginObject();
    out.Key("a");
    out.BeginObject();
    out.Key("list");
    out.BeginArray();
    out.Unsigned(1);
    out.BeginObject();
    out.EndObject();
    out.EndArray();
    out.Key("none");
    out.BeginArray();
    out.EndArray();
    out.EndObject();
    out.Member("b", "x");
    out.EndObject();
    EXPECT_EQ(out.Take(), StyledJson(whole));
    JsonWriter misuse;
    EXPECT_THROW(misuse.EndObject(), std::logic_error);
    misuse.BeginObject();
    EXPECT_THROW(misuse.String("no name"), std::logic_error);
}

TEST(JsonReader, ValuesReadInAnyLayoutAsTheLibraryReadsThem) {
    for (const std::string text : {"{\"a\":[1,-2,3.5,true,null,\"x\"],\"b\":{}}",
                                   "\r\n{ \"a\" :\t[ 1 , -2 , 3.5 , true , null , \"x\" ] ,\n \"b\" : { } }\n"}) {
        Json::Value ours, library;
        ParseJsonText(text, ours);
        std::istringstream stream(text);
        std::string errors;
        ASSERT_TRUE(Json::parseFromStream(Json::CharReaderBuilder(), stream, &library, &errors));
        EXPECT_EQ(ours, library) << text;
    }
    Json::Value value;
    EXPECT_THROW(ParseJsonText("{\"a\":1} x", value), KavoError);
    EXPECT_THROW(ParseJsonText("{\"a\":1,}", value), KavoError);
    EXPECT_THROW(ParseJsonText(std::string(1001, '[') + std::string(1001, ']'), value), KavoError);
    ParseJsonText(std::string(1000, '[') + std::string(1000, ']'), value);
    // Integers beyond 64 bits are reals in a library value.
    ParseJsonText("[18446744073709551616]", value);
    EXPECT_TRUE(value[0].isDouble());
}

TEST(Numbers, IntegersStayExactAtEveryWidth) {
    const Number top = Number::Product(kUint128Max, 512000);
    EXPECT_EQ(Number::FromLiteral(top.Literal()).Literal(), top.Literal());
    EXPECT_EQ(top.GroupedText().substr(0, 8), "174,224,");
    EXPECT_EQ(CompareNumbers(top, Number::Unsigned(kUint128Max)), 1);
    EXPECT_EQ(CompareNumbers(Number::FromLiteral("-3"), Number::Signed(-2)), -1);
    EXPECT_EQ(CompareNumbers(Number::Unsigned(0), Number::FromLiteral("-0")), 0);
    // 2^53 + 1 is not 2^53, though both are the same double.
    const Number above = Number::FromLiteral("9007199254740993"), at = Number::FromLiteral("9007199254740992");
    EXPECT_EQ(CompareNumbers(above, at), 1);
    EXPECT_EQ(CompareNumbers(Number::Real(1.5), Number::Unsigned(1)), 1);
    EXPECT_EQ(Difference(Number::Unsigned(3), Number::Unsigned(5)).Literal(), "-2");
    EXPECT_EQ(Difference(Number::Signed(-5), Number::Unsigned(kUint128Max)).Literal(),
              "-340282366920938463463374607431768211460");
    EXPECT_EQ(Difference(top, Number::Unsigned(1)).GroupedText().back(), '9');
    EXPECT_FALSE(Difference(Number(), Number::Unsigned(1)).present());
    // Beyond 192 bits an integer literal is kept as the nearest real; text
    // that is no number gives none.
    EXPECT_EQ(Number::FromLiteral(std::string(60, '9')).kind(), Number::Kind::Real);
    EXPECT_FALSE(Number::FromLiteral("12abc").present());
    EXPECT_FALSE(Number::FromLiteral("").present());
}

#ifndef _WIN32
TEST(JsonFiles, WritesReplaceTheFileOrLeaveItAlone) {
    namespace fs = std::filesystem;
    fs::path dir = fs::temp_directory_path() / "quellix-atomic-test";
    fs::remove_all(dir);
    fs::create_directories(dir);
    Json::Value document;
    document["value"] = 1;
    // A failed write names the file and the system's reason.
    try {
        WriteJsonFile((dir / "missing" / "x.json").string(), document);
        FAIL() << "a write into a missing folder must fail";
    } catch (const KavoError& e) {
        EXPECT_NE(std::string(e.what()).find("x.json': No such file or directory"), std::string::npos) << e.what();
    }
    // A link planted under the name is replaced, its target left alone.
    fs::path target = dir / "target.txt", link = dir / "nvme.info.json";
    test::WriteFile(target.string(), "precious");
    fs::create_symlink(target, link);
    WriteJsonFile(link.string(), document);
    EXPECT_FALSE(fs::is_symlink(link));
    EXPECT_EQ(test::ReadFile(target.string()), "precious");
    Json::Value read;
    ReadJsonFile(link.string(), read);
    EXPECT_EQ(read, document);
    // Devices and folders are not documents to replace.
    EXPECT_THROW(WriteJsonFile("/dev/null", document), KavoError);
    EXPECT_TRUE(fs::is_character_file("/dev/null"));
    EXPECT_THROW(WriteJsonFile(dir.string(), document), KavoError);
    // Nothing but the documents is left in the folder.
    size_t files = 0;
    for (const auto& entry : fs::directory_iterator(dir)) files += entry.path().filename().string().find(".tmp-") == std::string::npos;
    EXPECT_EQ(files, 2u);
    for (const auto& entry : fs::directory_iterator(dir))
        EXPECT_EQ(entry.path().filename().string().find(".tmp-"), std::string::npos) << entry.path();
    EXPECT_THROW(ReadJsonFile("/nonexistent-dir/x.json", read), KavoError);
    EXPECT_THROW(ParseJsonText("{", read), KavoError);
    fs::remove_all(dir);
}
#endif

// A write abandoned by an exception between its start and its commit leaves
// the folder as it was: the earlier file intact and no temporary file.
TEST(JsonFiles, AnAbandonedWriteLeavesNoTemporaryFile) {
    namespace fs = std::filesystem;
    const fs::path dir = test::ScratchDirectory("atomic-abandoned");
    const fs::path path = dir / "nvme.info.json";
    test::WriteFile(path.string(), "earlier");
    auto names = [&dir] {
        std::vector<std::string> found;
        for (const auto& entry : fs::directory_iterator(dir)) found.push_back(entry.path().filename().string());
        std::sort(found.begin(), found.end());
        return found;
    };
    try {
        AtomicFile file(path.string());
        file.Write(std::string(100000, 'x'));
        const std::vector<std::string> during = names();
        ASSERT_EQ(during.size(), 2u) << "the write goes to a temporary file beside the document";
        std::string_view finalName;
        EXPECT_TRUE(IsAtomicTemporary(during[1], finalName)) << during[1];
        EXPECT_EQ(finalName, "nvme.info.json");
        throw std::runtime_error("abandoned");
    } catch (const std::runtime_error&) {
    }
    EXPECT_EQ(names(), std::vector<std::string>{"nvme.info.json"});
    EXPECT_EQ(test::ReadFile(path.string()), "earlier");
    {
        AtomicFile file(path.string());
        file.Write("later");
        file.Commit();
    }
    EXPECT_EQ(names(), std::vector<std::string>{"nvme.info.json"});
    EXPECT_EQ(test::ReadFile(path.string()), "later");
}

TEST(JsonFiles, TemporaryNamesAreRecognisedExactly) {
    const std::pair<const char*, const char*> kNames[] = {
        // name, the document it belongs to ("" when it is no temporary file)
        {"nvme.info.json.tmp-812-3", "nvme.info.json"},
        {"read.report.html.tmp-0-1", "read.report.html"},
        {"a.tmp-1-2.json.tmp-3-4", "a.tmp-1-2.json"},
        {"nvme.info.json.tmp-812", ""},
        {"nvme.info.json.tmp-x-1", ""},
        {"nvme.info.json.tmp-1-", ""},
        {"nvme.info.json.tmp--1", ""},
        {"a.json.tmp-1-2.bak", ""},
        {"nvme.info.json", ""},
    };
    for (const auto& [name, document] : kNames) {
        std::string_view finalName;
        EXPECT_EQ(IsAtomicTemporary(name, finalName), *document != '\0') << name;
        if (*document != '\0') {
            EXPECT_EQ(finalName, document) << name;
        }
    }
}
