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

// The parameters of a sample without the host's clock, which moves between
// two samples.
Json::Value Parameters(const Json::Value& info) {
    Json::Value parameters = info["nvme"]["parameters"];
    parameters.removeMember("Host Timestamp");
    parameters.removeMember("Host Timestamp Decoded");
    return parameters;
}

// The first record in which two parameter objects differ, for a failure.
std::string FirstDifference(const Json::Value& a, const Json::Value& b) {
    for (const std::string& name : a.getMemberNames())
        if (a[name] != b[name]) return name + ":\n" + a[name].toStyledString() + "against\n" + b[name].toStyledString();
    for (const std::string& name : b.getMemberNames())
        if (!a.isMember(name)) return name + " missing";
    return "";
}

// The parameters and compare types of a compare's mismatches.
std::vector<std::string> Mismatches(const Json::Value& info) {
    std::vector<std::string> mismatches;
    for (const char* list : {"all mismatches", "compare mismatches"})
        for (const Json::Value& entry : info[list])
            mismatches.push_back(std::string(list) + ": " + entry["name"].asString() + " " + entry["compare_type"].asString());
    return mismatches;
}

std::vector<std::string> CommandNames(const Json::Value& info) {
    std::vector<std::string> names;
    for (const Json::Value& record : info["_metadata"]["commands"]) names.push_back(record["admin command"].asString());
    return names;
}

}  // namespace

TEST(RandomDriveData, EverySampleCompletes) {
    std::mt19937 random(20261208);
    for (int round = 0; round < 60; ++round) {
        test::FakeDrive drive;
        FillRandomly(drive, random);
        Json::Value settings = test::ReadSettings(true);
        settings["log hex data"] = (round % 2) == 0;
        std::vector<uint8_t> buffer(4096, 0);
        Json::Value info, reference;
        ASSERT_NO_THROW(GetNvmeInfo(drive, buffer.data(), settings, info)) << "round " << round;
        ASSERT_NO_THROW(GetNvmeInfo(drive, buffer.data(), settings, reference)) << "round " << round;
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

// A run's samples overwrite the records of the sample before, and keep
// those of an Identify structure that did not change; whatever the drive
// reports from one sample to the next, each sample, compared as a run
// compares it, equals a sample built afresh: the same records, values and
// compare types, and the same commands.
TEST(RandomDriveData, ReusedRecordsEqualAFreshSample) {
    std::mt19937 random(20261209);
    Json::Value settings = test::ReadSettings(true);
    ParameterReuse reuse;
    Json::Value previous;
    test::FakeDrive drive;
    for (int round = 0; round < 40; ++round) {
        // A new drive every fourth round; in between the same drive, once
        // with new namespace structures only.
        if (round % 4 == 0) {
            drive = test::FakeDrive();
            FillRandomly(drive, random, round % 8 == 0);
        } else if (round % 4 == 2) {
            for (uint32_t nsid = 1; nsid <= 3; ++nsid)
                drive.Set(kDataTypeIdentify, 0, nsid, {RandomNamespace(random, round % 8 == 2)});
        }
        std::vector<uint8_t> freshBuffer(4096, 0), reusedBuffer(4096, 0);
        Json::Value fresh, reused;
        ASSERT_NO_THROW(GetNvmeInfo(drive, freshBuffer.data(), settings, fresh)) << "round " << round;
        reuse.Lend(reused);
        ASSERT_NO_THROW(GetNvmeInfo(drive, reusedBuffer.data(), settings, reused, nullptr, &reuse)) << "round " << round;
        if (!previous.isNull()) {
            const char* type = round % 3 == 0 ? "all" : "default";
            bool freshPassed = false, reusedPassed = false;
            ASSERT_NO_THROW(freshPassed = CompareNvmeInfo(previous, fresh, type));
            ASSERT_NO_THROW(reusedPassed = CompareNvmeInfo(previous, reused, type, &reuse));
            EXPECT_EQ(reusedPassed, freshPassed) << "round " << round;
            EXPECT_EQ(Mismatches(reused), Mismatches(fresh)) << "round " << round;
            EXPECT_EQ(reused["static mismatches"], fresh["static mismatches"]) << "round " << round;
            EXPECT_EQ(reused["counter mismatches"], fresh["counter mismatches"]) << "round " << round;
        }
        ASSERT_EQ(Parameters(reused), Parameters(fresh))
            << "round " << round << ": " << FirstDifference(Parameters(reused), Parameters(fresh));
        ASSERT_EQ(CommandNames(reused), CommandNames(fresh)) << "round " << round;
        EXPECT_EQ(reused["nvme"]["health status"], fresh["nvme"]["health status"]) << "round " << round;
        previous = fresh;
        reuse.Reclaim(reused);
    }
    // Half the drives decode to the end: their Identify Controller repeats
    // in 3 rounds of 4.
    EXPECT_GE(reuse.RepeatedDecodings(), 15u);
}

// Records a sample brought along before it was read are the caller's: they
// stay, and the run keeps no records it did not write itself.
TEST(RandomDriveData, ForeignRecordsAreNeverReused) {
    std::mt19937 random(7);
    Json::Value settings = test::ReadSettings(true);
    ParameterReuse reuse;
    for (int round = 0; round < 3; ++round) {
        test::FakeDrive drive;
        FillRandomly(drive, random);
        std::vector<uint8_t> buffer(4096, 0);
        Json::Value sample;
        if (round == 1) AddParameter(sample["nvme"]["parameters"], "PCI Width", "x4");
        reuse.Lend(sample);
        ASSERT_NO_THROW(GetNvmeInfo(drive, buffer.data(), settings, sample, nullptr, &reuse));
        EXPECT_EQ(sample["nvme"]["parameters"].isMember("PCI Width"), round == 1) << "round " << round;
        reuse.Reclaim(sample);
    }
}
