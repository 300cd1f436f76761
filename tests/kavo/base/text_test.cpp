// Renderings, parsers, hex dumps and time texts.
#include <gtest/gtest.h>

#include <filesystem>
#include <limits>
#include <memory>
#include <sstream>

#include <json/writer.h>

#include "base/json_styled.h"
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

TEST(NumberParsing, SplitValueAndUnit) {
    using P = std::pair<std::string, std::string>;
    EXPECT_EQ(SplitValueAndUnit("1,234 mS"), P("1234", "mS"));
    EXPECT_EQ(SplitValueAndUnit("35 C"), P("35", "C"));
    EXPECT_EQ(SplitValueAndUnit("512 GB (476.9 GiB)"), P("512", "GB"));
    EXPECT_EQ(SplitValueAndUnit("0x1F (31)"), P("0x1F", ""));
    EXPECT_EQ(SplitValueAndUnit("Supported"), P("Supported", ""));
    EXPECT_EQ(SplitValueAndUnit(""), P("", ""));
}

TEST(JsonFiles, StreamedArraysAreLaidOutAsInTheWholeDocument) {
    std::string streamedPath = "quellix-streamed-test.json", wholePath = "quellix-whole-test.json";
    Json::Value document;
    document["_cmd"]["result"] = "PASS";
    document["command times"] = Json::Value(Json::arrayValue);
    document["read details"]["begin time"] = "now";
    document["read details"]["sample"] = Json::Value(Json::arrayValue);
    document["z last"] = 1;
    std::vector<Json::Value> commands, samples;
    for (int i = 0; i < 3; ++i) {
        Json::Value record;
        record["admin command"] = "Get Log Page 0x0" + std::to_string(i);
        record["time in ms"] = 0.1 * i;
        record["allowed"] = false;
        record["text"] = "quote \" backslash \\ comma, brace } colon : \xC3\xA9";
        record["tail"] = "ends in backslashes \\\\";
        if (i == 2) record["nested"]["list"].append(i);  // laid out by the writer itself
        commands.push_back(record);
        Json::Value sample;
        sample["Composite Temperature"] = i == 1 ? Json::Value() : Json::Value("35 C");
        sample["return code"] = i;
        samples.push_back(sample);
    }
    samples.push_back(Json::Value(Json::objectValue));
    Json::Value tiny;  // the most members a text of its length can hold
    tiny[""] = 0;
    for (char key = 'a'; key <= 'z'; ++key) tiny[std::string(1, key)] = key % 2 ? Json::Value(true) : Json::Value("");
    samples.push_back(tiny);
    auto from = [](const std::vector<Json::Value>& list) {
        return [&list](const std::function<void(const std::string&)>& emit) {
            for (const Json::Value& element : list) emit(CompactJson(element));
        };
    };
    for (bool empty : {true, false}) {
        Json::Value whole = document;
        if (!empty) {
            for (const Json::Value& c : commands) whole["command times"].append(c);
            for (const Json::Value& c : samples) whole["read details"]["sample"].append(c);
        }
        std::vector<Json::Value> none;
        WriteJsonFile(streamedPath, document,
                      {{{"command times"}, from(empty ? none : commands)},
                       {{"read details", "sample"}, from(empty ? none : samples)}});
        WriteJsonFile(wholePath, whole);
        EXPECT_EQ(test::ReadFile(streamedPath), test::ReadFile(wholePath)) << (empty ? "empty arrays" : "full arrays");
        EXPECT_EQ(document["command times"].size(), 0u) << "the document is left as it was";
    }
    std::remove(streamedPath.c_str());
    std::remove(wholePath.c_str());
}

TEST(JsonFiles, StyledAndCompactTextsAreTheLibrarysOwn) {
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
    document["text"] = "quote \" slash / back \\ tab \t bell \x07 del \x7f e-acute \xc3\xa9 emoji \xf0\x9f\x98\x80 bad \xff";
    document["numbers"].append(-0.0);
    document["numbers"].append(0.1);
    document["numbers"].append(3.0);
    document["numbers"].append(1e300);
    document["numbers"].append(std::numeric_limits<double>::quiet_NaN());
    document["numbers"].append(std::numeric_limits<double>::infinity());
    document["numbers"].append(Json::Int64(-9223372036854775807LL - 1));
    document["numbers"].append(Json::UInt64(18446744073709551615ULL));
    document["flags"].append(true);
    document["flags"].append(Json::Value());
    document[""] = "";
    // Every byte that needs quoting, at every place of a 17-byte text: in
    // each of the two eight-byte steps and in the tail.
    for (const char special : {'"', '\\', '\x01', '\x1f', '\x7f', '\x80', '\xff'})
        for (size_t at = 0; at < 17; ++at) {
            std::string text(17, 'a');
            text[at] = special;
            document["places"].append(text);
        }
    document["places"].append(std::string(17, ' '));  // 0x20, the first plain byte
    for (const Json::Value& value : {document, Json::Value(7), Json::Value("x"), Json::Value(Json::arrayValue)}) {
        std::string styled, compact;
        ASSERT_TRUE(AppendStyledJson(value, styled));
        EXPECT_EQ(styled, library(value));
        ASSERT_TRUE(AppendCompactJson(value, compact));
        EXPECT_EQ(compact, library(value, ""));
    }
    // What the library alone writes: comments, and strings with a NUL.
    Json::Value commented = document;
    commented["nested"][1]["a"].setComment(std::string("// why"), Json::commentBefore);
    std::string refused = "kept";
    EXPECT_FALSE(AppendStyledJson(commented, refused));
    EXPECT_EQ(refused, "kept");
    EXPECT_FALSE(AppendStyledJson(Json::Value(std::string("a\0b", 3)), refused));
    EXPECT_FALSE(AppendCompactJson(commented, refused));
    EXPECT_EQ(refused, "kept");
}

TEST(JsonFiles, RecordSkeletonsKeepTheObjectsOrder) {
    Json::Value record = RecordSkeleton({"admin command", "allowed", "time in ms", "timestamp"});
    EXPECT_EQ(record.getMemberNames(), (std::vector<std::string>{"admin command", "allowed", "time in ms", "timestamp"}));
    EXPECT_TRUE(record["timestamp"].isNull());
    // "timestamp" sorts after "time in ms": listed the other way round the
    // members would be filled into the wrong keys.
    EXPECT_THROW(RecordSkeleton({"timestamp", "time in ms"}), std::logic_error);
    EXPECT_THROW(RecordSkeleton({"name", "name"}), std::logic_error);
}

TEST(JsonFiles, RecordTextReadsBackAsTheWritersTextDoes) {
    // Journal records: what the fast writer makes must read back to the
    // very value the JSON library's own compact text reads back to.
    Json::Value record(Json::objectValue);
    record["admin command"] = "Get Log Page 02h \"SMART\" \\ \t\x01 \xc2\xb0" "C";
    record["time in ms"] = 0.061234567890123456;
    record["whole"] = 3.0;
    record["tiny"] = 1e-300;
    record["huge"] = 1.5e300;
    record["negative"] = -0.25;
    record["return code"] = -1;
    record["bytes returned"] = Json::UInt(512);
    record["largest"] = Json::UInt64(18446744073709551615ULL);
    record["smallest"] = Json::Int64(-9223372036854775807LL - 1);
    record["allowed"] = false;
    record["nothing"] = Json::Value();
    record[""] = "";
    auto readBack = [](const std::string& text) {
        Json::Value value;
        ParseJsonText(text, value);
        return value;
    };
    EXPECT_EQ(readBack(RecordJson(record)), readBack(CompactJson(record))) << RecordJson(record);
    EXPECT_EQ(readBack(RecordJson(record))["whole"].type(), Json::realValue);

    Json::Value nested = record;
    nested["inner"]["a"] = 1;
    EXPECT_EQ(RecordJson(nested), CompactJson(nested));
    EXPECT_EQ(RecordJson(Json::Value("text")), CompactJson(Json::Value("text")));
}

#ifndef _WIN32
// The flat-record reader must give exactly what the general parser gives,
// and leave everything else to it.
TEST(JsonFiles, FlatRecordsReadAsTheParserReadsThem) {
    const std::vector<std::string> accepted = {
        "{}", " {\n} ", "{\"a\":\"\"}", "{\"\":0}",
        "{\n\t\"Composite Temperature\" : \"37 C\",\n\t\"return code\" : 0,\n\t\"timestamp\" : \"2026-12-09 08:13:15.333\"\n}",
        "{\"n\":-0,\"m\":-5,\"big\":123456789012345678,\"neg\":-123456789012345678}",
        "{\"t\":true,\"f\":false,\"z\":null}",
        "{\"same\":1,\"same\":\"two\"}",
        "{\"bytes\":\"\xC3\xA9\x01\x7F/*\"}",
        "\r\n{ \"a\" :\t\"b\" ,\r\n \"c\" : 7 }\n",
    };
    for (const std::string& text : accepted) {
        Json::Value fast, general;
        ASSERT_TRUE(ParseFlatObject(text, fast)) << text;
        ParseJsonText(text, general);
        EXPECT_EQ(fast, general) << text;
    }
    const std::vector<std::string> refused = {
        "", "[]", "{", "{\"a\":1", "{\"a\":1,}", "{\"a\" 1}", "{a:1}", "{\"a\":\"b\\\"c\"}", "{\"a\\n\":1}",
        "{\"a\":1.5}", "{\"a\":1e3}", "{\"a\":1234567890123456789}", "{\"a\":01}", "{\"a\":-}", "{\"a\":+1}",
        "{\"a\":{}}", "{\"a\":[1]}", "{\"a\":1} x", "{\"a\":1}{}", "{\"a\":1 // note\n}", "{\"a\":truex}",
        "{\"a\":nul}", "\xEF\xBB\xBF{}",
    };
    for (const std::string& text : refused) {
        Json::Value untouched("kept");
        EXPECT_FALSE(ParseFlatObject(text, untouched)) << text;
        EXPECT_EQ(untouched, Json::Value("kept")) << text;
    }
}

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
