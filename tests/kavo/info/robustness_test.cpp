// Whatever a drive returns, a sample is collected without a crash, without a
// read outside the data (checked by the sanitizer build) and with every
// parameter rendered as text.
#include <gtest/gtest.h>

#include <random>

#include "fake_drive.h"
#include "decode/decoders.h"
#include "base/kavo_json.h"
#include "info/compare.h"
#include "info/nvme_info.h"
#include "info/rules.h"
#include "decode/parameters.h"

using namespace kavo;

namespace {

std::vector<uint8_t> RandomBytes(std::mt19937& random, size_t count) {
    std::vector<uint8_t> bytes(count);
    for (uint8_t& byte : bytes) byte = static_cast<uint8_t>(random());
    return bytes;
}

// Identify Namespace of random bytes; `decodable`: with at most the 16 LBA
// formats whose parameters exist.
std::vector<uint8_t> RandomNamespace(std::mt19937& random, bool decodable) {
    std::vector<uint8_t> data = RandomBytes(random, 4096);
    if (decodable) data[25] = static_cast<uint8_t>(random() % 16);  // NLBAF
    return data;
}

// A drive whose every structure is random bytes; in some rounds the SMART /
// health log reports fewer temperature sensors. `decodable`: the Identify
// structures describe no more power states and LBA formats than have
// parameters, so that their decoding runs to its end.
void FillRandomly(test::FakeDrive& drive, std::mt19937& random, bool decodable = false) {
    std::vector<uint8_t> identify = RandomBytes(random, 4096);
    identify[80] = 1, identify[81] = static_cast<uint8_t>(2 + random() % 3), identify[82] = 1, identify[83] = 0;  // 1.2.1-1.4.1
    identify[516] = static_cast<uint8_t>(random() % 4), identify[517] = identify[518] = identify[519] = 0;  // NN 0..3
    if (decodable) identify[263] = static_cast<uint8_t>(random() % 32);  // NPSS
    drive.SetIdentifyController(identify);
    for (uint32_t nsid = 1; nsid <= 3; ++nsid) drive.Set(kDataTypeIdentify, 0, nsid, {RandomNamespace(random, decodable)});
    for (uint8_t page = 1; page <= 8; ++page) {
        std::vector<uint8_t> data = RandomBytes(random, 16384);
        if (page == 7 || page == 8) data[12] = static_cast<uint8_t>(random() % 8), data[13] = 0;  // DA3LB
        if (page == 2)
            for (size_t sensor = 0; sensor < 8; ++sensor)
                if (random() % 2 == 0) data[200 + 2 * sensor] = data[201 + 2 * sensor] = 0;
        drive.SetLogPage(page, data);
    }
    for (uint8_t fid = 1; fid <= 0x11; ++fid) {
        std::vector<uint8_t> data = RandomBytes(random, 4096);
        uint32_t dw0 = static_cast<uint32_t>(random());
        drive.SetFeature(fid, 0, dw0, data);
        drive.SetFeature(fid, 0x00100000, dw0, data);
        for (uint32_t sensor = 1; sensor <= 8; ++sensor) {
            drive.SetFeature(fid, sensor << 16, dw0, data);
            drive.SetFeature(fid, (sensor << 16) | 0x00100000, dw0, data);
        }
    }
}

}  // namespace

TEST(RandomDriveData, EverySampleCompletes) {
    std::mt19937 random(20261208);
    const std::string path = ::testing::TempDir() + "random-sample.json";
    for (int round = 0; round < 60; ++round) {
        test::FakeDrive drive;
        FillRandomly(drive, random, round % 2 == 0);
        SampleSettings settings = test::SampleSettings(true);
        settings.logHexData = (round % 2) == 0;
        std::vector<uint8_t> buffer(4096, 0);
        InfoDocument info, reference;
        CommandLog commands;
        ASSERT_NO_THROW(GetNvmeInfo(drive, buffer.data(), settings, test::FakeDriveName(), info, commands)) << round;
        ASSERT_NO_THROW(GetNvmeInfo(drive, buffer.data(), settings, test::FakeDriveName(), reference, commands)) << round;
        // A number only for a parameter with a unit, and a number for every
        // such parameter whose text is not a word for "none".
        for (const Parameter& record : info.parameters.Records()) {
            if (record.number.present()) {
                EXPECT_NE(record.unit(), Unit::None) << record.name() << " " << round;
            }
        }
        InfoDocument compared = info;
        EXPECT_NO_THROW(CompareNvmeInfo(reference, compared, "default"));
        EXPECT_EQ(compared.parameters.size(), info.parameters.size()) << "compare adds no records";
        Json::Value texts(Json::arrayValue);
        texts.append("'Percentage Used' < 90 %");
        texts.append("'Data Written' < 1 TB");
        EXPECT_NO_THROW(VerifyNvmeInfo(info, ParseRules(texts, "test")));
        // Whatever the numbers, the document reads back to itself.
        const std::string text = InfoDocumentText(info);
        WriteTextFile(path, text);
        InfoDocument back;
        ASSERT_TRUE(ReadInfoDocument(path, back)) << round;
        ASSERT_EQ(InfoDocumentText(back), text) << round;
    }
}
