// Admin command operations: records, byte counts, dispatch and opening.
#include <gtest/gtest.h>

#include "fake_drive.h"
#include "base/kavo_errors.h"
#include "base/json_writer.h"
#include "base/kavo_json.h"
#include "transport/nvme_admin_command.h"

using namespace kavo;

TEST(QueryProperty, RecordsSuccessAndDeliversDw0) {
    test::FakeDrive drive;
    drive.Set(kDataTypeFeature, 0x0A, 0, {{}, 0x1234});
    CommandLog log;
    uint32_t dw0 = 0;
    EXPECT_EQ(NvmeQueryPropertyCommand(drive, "Get Feature 10", kDataTypeFeature, 0x0A, 0, 0, nullptr, &dw0, &log), 0);
    EXPECT_EQ(dw0, 0x1234u);
    ASSERT_EQ(log.size(), 1u);
    const Json::Value record = CommandRecordJson(log[0]);
    EXPECT_EQ(record["admin command"].asString(), "Get Feature 10");
    EXPECT_EQ(record["return code"].asInt(), 0);
    EXPECT_EQ(record["bytes returned"].asUInt(), 0u);
    EXPECT_FALSE(record["allowed"].asBool());
    EXPECT_TRUE(record["time in ms"].isDouble());
    EXPECT_FALSE(record["timestamp"].asString().empty());
}

TEST(QueryProperty, ShortReturnFailsAndLeavesTheBufferAlone) {
    test::FakeDrive drive;
    test::FakeDrive::Answer answer;
    answer.data.assign(4096, 0xAB);
    answer.bytes = 512;
    drive.Set(kDataTypeIdentify, 1, 0, answer);
    std::vector<uint8_t> buffer(4096, 0x11);
    CommandLog log;
    EXPECT_EQ(IdentifyController(drive, buffer.data(), &log), 1);
    EXPECT_EQ(buffer[0], 0x11);
    EXPECT_EQ(log[0].returnCode, 1);
    EXPECT_EQ(log[0].bytesReturned, 512u);
    // Without a log the command runs all the same.
    EXPECT_EQ(IdentifyController(drive, buffer.data(), nullptr), 1);
    EXPECT_EQ(drive.requests.size(), 2u);
}

// A journal keeps a record as one line; a recovered run and the summary read
// it back, so the line must read back to the document's form exactly.
TEST(CommandRecords, JournalLineReadsBackAsTheDocumentRecord) {
    std::vector<CommandRecord> records(3);
    records[0] = {"Identify Controller", 0, 4096, 0.061, 1765256400123, false};
    records[1] = {"Get \"odd\" name\\\n\t", 1, 0, 3.0, 0, true};  // quotes, escapes, a whole number
    records[2] = {"Get Log Page 0x02", -5, 512, 1e-7, 4102444799999, false};
    for (const CommandRecord& record : records) {
        JsonWriter out(JsonWriter::Layout::Compact);
        WriteCommandRecord(out, record);
        Json::Value line;
        ParseJsonText(out.Buffer(), line);
        EXPECT_EQ(CompactJson(line), CompactJson(CommandRecordJson(record))) << out.Buffer();
        EXPECT_EQ(out.Buffer(), CompactJson(CommandRecordJson(record)));
    }
    EXPECT_EQ(CommandLogJson(records).size(), 3u);
}

TEST(Dispatcher, ChoosesThePathByOpcode) {
    test::FakeDrive drive;
    drive.SetIdentifyController(std::vector<uint8_t>(4096, 1));
    CommandLog run;
    uint8_t buffer[4096];
    // Any non-zero CNS goes out as Identify Controller.
    EXPECT_EQ(NvmeAdminCommand(drive, "Identify", &run, 0x06, 0, 2, 0, 0, 0, 0, 0, buffer, nullptr, 4096), 0);
    EXPECT_EQ(drive.requests.back().requestValue, 1u);
    EXPECT_EQ(drive.requests.back().requestSubValue, 0u);
    NvmeAdminCommand(drive, "Identify Namespace 1", &run, 0x06, 7, 0, 0, 0, 0, 0, 0, buffer, nullptr, 4096);
    EXPECT_EQ(drive.requests.back().requestValue, 0u);
    EXPECT_EQ(drive.requests.back().requestSubValue, 7u);
    // Self-test goes through pass-through with zeros in CDW12 to CDW15.
    EXPECT_EQ(NvmeAdminCommand(drive, "Abort Self-Test", &run, 0x14, 0xFFFFFFFF, 0xF, 0, 5, 6, 7, 8, nullptr, nullptr, 0), 0);
    ASSERT_EQ(drive.passThrough.size(), 1u);
    EXPECT_EQ(drive.passThrough[0].cdw10, 0xFu);
    EXPECT_EQ(drive.passThrough[0].cdw12, 0u);
    EXPECT_EQ(drive.passThrough[0].timeoutMs, 2000u);
    size_t records = run.size();
    try {
        NvmeAdminCommand(drive, "Format", &run, 0x09, 0, 0, 0, 0, 0, 0, 0, nullptr, nullptr, 0);
        FAIL() << "opcode 09h must be refused";
    } catch (const KavoError& e) {
        EXPECT_EQ(std::string(e.what()), std::string("Application does not support NVMe Admin command opcode 9 for ") + PlatformName());
    }
    EXPECT_EQ(run.size(), records);
}

TEST(PassThrough, FailureCodes) {
    test::FakeDrive drive;
    CommandLog run;
    drive.passThroughResult = PassThroughResult{false, 0, 0, 0, 0, 0};
    EXPECT_EQ(NvmePassThroughCommand(drive, "Start", 0x14, 0xFFFFFFFF, 1, 0, 0, 0, 0, 0, &run), 1);
    drive.passThroughResult.systemError = 13;
    EXPECT_EQ(NvmePassThroughCommand(drive, "Start", 0x14, 0xFFFFFFFF, 1, 0, 0, 0, 0, 0, &run), 13);
    drive.passThroughResult = PassThroughResult{true, 0};
    drive.passThroughResult.nvmeStatus = 0x4001;
    EXPECT_EQ(NvmePassThroughCommand(drive, "Start", 0x14, 0xFFFFFFFF, 1, 0, 0, 0, 0, 0, &run), 1);
    EXPECT_EQ(run.size(), 3u);
}

TEST(OpenDrive, FailureMessagesWithAndWithoutWriteAccess) {
    const std::string path = PlatformDrivePath("97");
    try {
        GetNvmeId(path, false);
        FAIL();
    } catch (const KavoError& e) {
        EXPECT_EQ(std::string(e.what()), "Failed to open handle for NVME drive '" + path + "'");
    }
    try {
        GetNvmeId(path, true);
        FAIL();
    } catch (const KavoError& e) {
        EXPECT_EQ(std::string(e.what()), "Failed to open handle for NVME drive '" + path + "'\n" + WriteAccessHint());
    }
#ifdef _WIN32
    EXPECT_STREQ(WriteAccessHint(), "This command requires administrator privileges for write drive access");
#else
    EXPECT_STREQ(WriteAccessHint(), "This command requires root privileges for write drive access");
#endif
}

TEST(Encoding, LogPagesIdentifyAndFeatures) {
    auto pieces = EncodeQueryProperty({kDataTypeLogPage, 0x07, 0, 3 * 4096}, 4096);
    ASSERT_EQ(pieces.size(), 3u);
    for (size_t i = 0; i < 3; ++i) {
        const NvmeCommand& c = pieces[i].command;
        EXPECT_EQ(c.opcode, 0x02);
        EXPECT_EQ(c.nsid, 0xFFFFFFFFu);
        EXPECT_EQ(c.cdw10 & 0xFF, 0x07u);
        EXPECT_EQ(c.cdw10 & 0x8000, 0x8000u) << "retain asynchronous event";
        EXPECT_EQ((c.cdw10 >> 8) & 0x7F, 0u) << "no new telemetry capture";
        EXPECT_EQ(c.cdw10 >> 16, 1023u);
        EXPECT_EQ(c.cdw12, 4096 * i);
        EXPECT_EQ(pieces[i].dataOffset, 4096 * i);
    }
    auto whole = EncodeQueryProperty({kDataTypeLogPage, 0x01, 0, 64}, 0);
    ASSERT_EQ(whole.size(), 1u);
    EXPECT_EQ(whole[0].command.cdw10, 0x000F8001u);
    auto ns = EncodeQueryProperty({kDataTypeIdentify, 0, 3, 4096}, 0);
    EXPECT_EQ(ns[0].command.nsid, 3u);
    EXPECT_EQ(ns[0].command.cdw10, 0u);
    auto ctrl = EncodeQueryProperty({kDataTypeIdentify, 1, 0, 4096}, 0);
    EXPECT_EQ(ctrl[0].command.nsid, 0u);
    EXPECT_EQ(ctrl[0].command.cdw10, 1u);
    auto feature = EncodeQueryProperty({kDataTypeFeature, 0x04, 0x00100000, 0}, 0);
    EXPECT_EQ(feature[0].command.opcode, 0x0A);
    EXPECT_EQ(feature[0].command.cdw10, 4u);
    EXPECT_EQ(feature[0].command.cdw11, 0x00100000u);
    EXPECT_EQ(feature[0].command.nsid, 0u);
    EXPECT_EQ(EncodeQueryProperty({kDataTypeFeature, 0x05, 0, 0}, 0)[0].command.nsid, 1u);
    // A namespace's feature goes to the namespace asked for; others to none.
    EXPECT_EQ(EncodeQueryProperty({kDataTypeFeature, 0x05, 0, 0, 7}, 0)[0].command.nsid, 7u);
    EXPECT_EQ(EncodeQueryProperty({kDataTypeFeature, 0x06, 0, 0, 7}, 0)[0].command.nsid, 0u);
    auto list = EncodeQueryProperty({kDataTypeIdentify, kCnsActiveNamespaceList, 4, 4096}, 0);
    EXPECT_EQ(list[0].command.cdw10, 2u);
    EXPECT_EQ(list[0].command.nsid, 4u);
    EXPECT_TRUE(EncodeQueryProperty({9, 0, 0, 0}, 0).empty());
    EXPECT_EQ(MaxTransferBytes(0), 0u);
    EXPECT_EQ(MaxTransferBytes(5), 131072u);
}
