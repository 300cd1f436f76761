// Whatever a drive returns, a sample is collected without a crash, without a
// read outside the data (checked by the sanitizer build) and with every
// parameter rendered as text.
#include <gtest/gtest.h>

#include <random>

#include "fake_drive.h"
#include "decode/decoders.h"
#include "info/nvme_info.h"
#include "decode/parameters.h"

using namespace kavo;

namespace {

std::vector<uint8_t> RandomBytes(std::mt19937& random, size_t count) {
    std::vector<uint8_t> bytes(count);
    for (uint8_t& byte : bytes) byte = static_cast<uint8_t>(random());
    return bytes;
}

}  // namespace

TEST(RandomDriveData, EverySampleCompletes) {
    std::mt19937 random(20261208);
    for (int round = 0; round < 60; ++round) {
        test::FakeDrive drive;
        std::vector<uint8_t> identify = RandomBytes(random, 4096);
        identify[80] = 1, identify[81] = static_cast<uint8_t>(2 + random() % 3), identify[82] = 1, identify[83] = 0;  // 1.2.1-1.4.1
        identify[516] = static_cast<uint8_t>(random() % 4), identify[517] = identify[518] = identify[519] = 0;  // NN 0..3
        drive.SetIdentifyController(identify);
        for (uint32_t nsid = 1; nsid <= 3; ++nsid) drive.Set(kDataTypeIdentify, 0, nsid, {RandomBytes(random, 4096)});
        for (uint8_t page = 1; page <= 8; ++page) {
            std::vector<uint8_t> data = RandomBytes(random, 16384);
            if (page == 7 || page == 8) data[12] = static_cast<uint8_t>(random() % 8), data[13] = 0;  // DA3LB
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
        Json::Value settings = test::ReadSettings(true);
        settings["log hex data"] = (round % 2) == 0;
        std::vector<uint8_t> buffer(4096, 0);
        Json::Value run(Json::arrayValue), info, reference;
        ASSERT_NO_THROW(GetNvmeInfo(drive, buffer.data(), settings, run, info)) << "round " << round;
        ASSERT_NO_THROW(GetNvmeInfo(drive, buffer.data(), settings, run, reference)) << "round " << round;
        for (const std::string& name : info["nvme"]["parameters"].getMemberNames())
            ASSERT_TRUE(info["nvme"]["parameters"][name]["value"].isString()) << name;
        Json::Value compared = info;
        EXPECT_NO_THROW(CompareNvmeInfo(reference, compared, "default"));
        EXPECT_EQ(compared["nvme"]["parameters"].size(), info["nvme"]["parameters"].size()) << "compare adds no records";
        Json::Value rules;
        Json::Value rule;
        rule["parameter"] = "Percentage Used", rule["operator"] = "<", rule["limit"] = "90 %", rule["rule"] = "x";
        rules["rules"].append(rule);
        EXPECT_NO_THROW(VerifyNvmeInfo(info, rules));
    }
}
