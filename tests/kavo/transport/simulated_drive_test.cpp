// The simulated drive: descriptions, faults and the controller's behaviour.
#include <gtest/gtest.h>

#include <filesystem>

#include "base/kavo_errors.h"
#include "decode/decoders.h"
#include "info/nvme_info.h"
#include "decode/parameters.h"
#include "run_binary.h"
#include "transport/simulated_drive.h"

using namespace kavo;

namespace {

std::string Problem(const std::string& json) {
    std::string dir = test::ScratchDirectory("sim-problems");
    test::WriteFile(dir + "/d.json", json);
    try {
        CheckSimulatedDrive("sim:" + dir + "/d.json");
    } catch (const UsageError& e) {
        std::string text = e.what();
        EXPECT_EQ(text.find("Simulated drive description '" + dir + "/d.json': "), 0u) << text;
        return text.substr(text.find("': ") + 3);
    }
    return "accepted";
}

}  // namespace

TEST(SimulatedDrive, EveryExampleDescriptionLoads) {
    size_t count = 0;
    for (const auto& entry : std::filesystem::directory_iterator(QUELLIX_EXAMPLES "/drives")) {
        EXPECT_NO_THROW(CheckSimulatedDrive("sim:" + entry.path().string())) << entry.path();
        ++count;
    }
    EXPECT_GE(count, 6u);
}

TEST(SimulatedDrive, FaultyDescriptionsNameTheProblem) {
    EXPECT_EQ(Problem("{"), Problem("{").substr(0, 16) == "not valid JSON: " ? Problem("{") : "not valid JSON");
    EXPECT_EQ(Problem("[]"), "the document must be a JSON object");
    EXPECT_EQ(Problem(R"({"smrt": {}})"), "unknown section 'smrt'");
    EXPECT_EQ(Problem(R"({"smart": {"TEMP": 1}})"), "unknown field 'TEMP' in 'smart'");
    EXPECT_EQ(Problem(R"({"smart": {"CTEMP": 70000}})"), "value 70000 does not fit the 2-byte field 'smart CTEMP'");
    EXPECT_EQ(Problem(R"({"identify controller": {"SN": "012345678901234567890"}})"),
              "text '012345678901234567890' does not fit the 20-byte field 'SN'");
    EXPECT_EQ(Problem(R"({"identify controller": {"VER": "1.4"}})"), "value '1.4' of 'identify controller VER' is not a number");
    EXPECT_EQ(Problem(R"({"identify controller": {"VER": -1}})"),
              "value of 'identify controller VER' must be a non-negative number or a number text");
    EXPECT_EQ(Problem(R"({"log pages": {"C0": {"raw": "0g"}}})"), "'log pages C0 raw' is not hexadecimal text");
    EXPECT_EQ(Problem(R"({"faults": [{"status": 2}]})"), "every fault needs a 'command' text");
    EXPECT_EQ(Problem(R"({"namespaces": [{"LBAF16": 0}]})"), "unknown field 'LBAF16' in 'namespaces 1'");
    EXPECT_EQ(Problem(R"({"smart": {"bytes": {"510": "01 02 03"}}})"),
              "'smart bytes at 510' holds 3 bytes at offset 510, more than the 512-byte structure");
    EXPECT_EQ(Problem(R"({"smart": {"DUR": "0x1FFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFF"}})"),
              "value '0x1FFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFF' of 'smart DUR' is larger than 128 bits");
    EXPECT_THROW(CheckSimulatedDrive("simulated"), UsageError);
}

TEST(SimulatedDrive, CountersGrowAndRawStructuresApply) {
    std::string dir = test::ScratchDirectory("sim-behaviour");
    std::vector<char> raw(512, 0);
    raw[3] = 77;  // available spare from a binary SMART page
    test::WriteFile(dir + "/smart.bin", std::string(raw.begin(), raw.end()));
    test::WriteFile(dir + "/d.json", R"({"log pages": {"02": {"raw file": "smart.bin"}},
        "smart": {"DUR": "36893488147419103232"}, "growth per read": {"DUR": 5}})");
    NvmeHandle raw2 = OpenSimulatedDrive("sim:" + dir + "/d.json");
    CommandLog run;
    std::vector<uint8_t> page(512);
    EXPECT_EQ(ReadLogPage(0x02, 512, *raw2, page.data(), &run), 0);
    EXPECT_EQ(page[3], 77);

    test::WriteFile(dir + "/e.json", R"({"smart": {"DUR": "36893488147419103232", "POH": 10}, "growth per read": {"DUR": 5, "POH": 2}})");
    NvmeHandle drive = OpenSimulatedDrive("sim:" + dir + "/e.json");
    std::vector<uint8_t> identify(4096);
    IdentifyController(*drive, identify.data(), &run);
    InfoDocument first, second;
    DecodeSmartHealthLog(first, (ReadLogPage(2, 512, *drive, page.data(), &run), page.data()), 512, identify.data());
    DecodeSmartHealthLog(second, (ReadLogPage(2, 512, *drive, page.data(), &run), page.data()), 512, identify.data());
    auto value = [](const InfoDocument& info, const char* name) { return info.parameters.Find(name)->value; };
    EXPECT_EQ(value(first, "Data Units Read"), "36,893,488,147,419,103,232");
    EXPECT_EQ(value(second, "Data Units Read"), "36,893,488,147,419,103,237");
    EXPECT_EQ(value(first, "Power On Hours"), "10");
    EXPECT_EQ(value(second, "Power On Hours"), "12");
    EXPECT_EQ(value(first, "Controller Busy Time"), "1,234 Min");
    EXPECT_EQ(value(second, "Controller Busy Time"), "1,235 Min");
}

TEST(SimulatedDrive, FaultsFailShortenAndCount) {
    std::string dir = test::ScratchDirectory("sim-faults");
    test::WriteFile(dir + "/f.json", R"({"faults": [{"command": "log 03", "short": 100},
                                                    {"command": "feature", "status": "0x4002", "after": 1, "times": 1}]})");
    NvmeHandle drive = OpenSimulatedDrive("sim:" + dir + "/f.json");
    CommandLog run;
    std::vector<uint8_t> page(512, 0xEE);
    EXPECT_EQ(ReadLogPage(0x03, 512, *drive, page.data(), &run), 1);
    EXPECT_EQ(run[0].bytesReturned, 100u);
    EXPECT_EQ(page[0], 0xEE);
    uint32_t dw0 = 0;
    EXPECT_EQ(GetFeature(*drive, 0x01, 0, &dw0, nullptr, 0, run), 0);
    EXPECT_EQ(GetFeature(*drive, 0x02, 0, &dw0, nullptr, 0, run), 1);
    EXPECT_EQ(GetFeature(*drive, 0x02, 0, &dw0, nullptr, 0, run), 0);
}

TEST(SimulatedDrive, DescriptionsOfTheWrongShapeAreRefusedNotFatal) {
    auto entries = [](int count, bool named) {
        std::string list;
        for (int i = 0; i < count; ++i)
            list += std::string(i ? "," : "") + (named ? "{\"ERRCNT\": " + std::to_string(i + 1) + "}" : "{}");
        return "{\"identify controller\": {\"ELPE\": 255}, \"error log\": [" + list + "]}";
    };
    // Up to ELPE + 1 entries (256 at most) are taken, each kept.
    EXPECT_EQ(Problem(entries(65, true)), "accepted");
    EXPECT_EQ(Problem(entries(256, true)), "accepted");
    EXPECT_EQ(Problem(entries(257, false)), "'error log' has 257 entries but ELPE allows 256");
    std::string dir = test::ScratchDirectory("sim-error-log");
    test::WriteFile(dir + "/d.json", entries(100, true));
    NvmeHandle drive = GetNvmeId("sim:" + dir + "/d.json", false);
    std::vector<uint8_t> page(256 * 64);
    CommandLog run;
    ASSERT_EQ(ReadLogPage(0x01, static_cast<uint32_t>(page.size()), *drive, page.data(), &run), 0);
    EXPECT_EQ(page[64 * 99], 100) << "the 100th entry is kept";
    EXPECT_EQ(page[64 * 100], 0);

    // Sections and values of the wrong type are the description's fault.
    EXPECT_NE(Problem(R"({"features": {"temperature thresholds": 5}})").find("'temperature thresholds' must be an object"),
              std::string::npos);
    EXPECT_NE(Problem(R"({"self-test": {"history": [5]}})").find("every 'history' entry must be an object"),
              std::string::npos);
    EXPECT_NE(Problem(R"({"identify controller": {"raw file": {}}})").find("'raw file' of 'identify controller' must be a file name"),
              std::string::npos);
    EXPECT_NE(Problem(R"({"telemetry": 3})").find("'telemetry' must be an object"), std::string::npos);
    // A device or a pipe is no structure to read.
    EXPECT_NE(Problem(R"({"identify controller": {"raw file": "/dev/zero"}})").find("is not a regular file"),
              std::string::npos);
    test::WriteFile(dir + "/big.bin", std::string(5000, 'x'));
    std::string big = std::filesystem::path(dir + "/big.bin").generic_string();  // no backslashes in the JSON text
    EXPECT_NE(Problem("{\"identify controller\": {\"raw file\": \"" + big + "\"}}")
                  .find("is larger than the 4096-byte structure"),
              std::string::npos);
}
