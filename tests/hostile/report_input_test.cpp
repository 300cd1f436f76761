// Report: what the report reads back, and a report that cannot be written.
#include <filesystem>
#include <sys/stat.h>

#include "hostile.h"
#include "summary_reader.h"

namespace fs = std::filesystem;

namespace {

class ReportInput : public test::ScratchTest {};

}  // namespace

// Keys of the command file travel in the summary's "_settings"; one named
// like the sample array is not read back as sample records.
TEST_F(ReportInput, OnlyTheRunsOwnSampleRecordsAreReadBack) {
    Json::Value fake(Json::objectValue);
    fake["message"] = "not a sample";
    fake["return code"] = 1;
    Json::Value changes;
    changes["samples"] = 3;
    for (int i = 0; i < 5; ++i) changes["sample"].append(fake);
    changes["read details"]["sample"].append(fake);
    test::WriteJson(dir + "/read.cmd.json", test::ReadCommand(changes));
    ASSERT_EQ(test::RunQuellix(dir, "-n sim").exitCode, 0);
    Json::Value document;
    size_t records = 0;
    ReadSummary(dir + "/read.summary.json", document, [&](const Json::Value& record) {
        ++records;
        EXPECT_EQ(record["message"].asString(), "PASSED");
    });
    EXPECT_EQ(records, 3u);
    EXPECT_EQ(hostile::RunBounded(dir, "--report .").exitCode, 0);
}

// The report is drawn before the summary is written: one that cannot be
// written is the run's result in the summary too, never a PASS beside a 17.
TEST_F(ReportInput, AReportThatCannotBeWrittenIsTheRunsResult) {
    fs::create_directories(dir + "/read.report.html");
    test::WriteJson(dir + "/read.cmd.json", test::ReadCommand());
    auto run = hostile::RunBounded(dir, "-n sim -s 2");
    EXPECT_EQ(run.exitCode, 17) << run.output;
    const Json::Value summary = test::ReadJson(dir + "/read.summary.json");
    EXPECT_EQ(summary["_cmd"]["result"].asString(), "FAIL");
    EXPECT_EQ(summary["_cmd"]["return code"].asInt(), 17);
    const std::string message = summary["_cmd"]["message"].asString();
    EXPECT_EQ(message.rfind(" No errors found on 2 samples; Could not write the report '", 0), 0u) << message;
    EXPECT_NE(message.find("/read.report.html': not a regular file"), std::string::npos) << message;
    EXPECT_EQ(hostile::Samples(dir + "/read.summary.json").size(), 2u);
    EXPECT_FALSE(fs::exists(dir + "/read.journal.jsonl"));
}

// --report reads summaries; a pipe or a device under a summary's name is
// refused at once instead of blocking or filling memory.
TEST_F(ReportInput, SummariesThatAreNoFilesAreRefusedAtOnce) {
    ASSERT_EQ(mkfifo((dir + "/read.summary.json").c_str(), 0644), 0);
    auto pipe = hostile::RunBounded(dir, "--report .");
    EXPECT_EQ(pipe.exitCode, 17) << pipe.output;
    EXPECT_NE(pipe.output.find("read.summary.json': not a regular file"), std::string::npos) << pipe.output;
    fs::remove(dir + "/read.summary.json");
    fs::create_symlink("/dev/zero", dir + "/selftest.summary.json");
    auto device = hostile::RunBounded(dir, "--report .");
    EXPECT_EQ(device.exitCode, 17) << device.output;
    EXPECT_NE(device.output.find("selftest.summary.json': not a regular file"), std::string::npos) << device.output;
}
