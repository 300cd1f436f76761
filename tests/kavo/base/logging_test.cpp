// The console and trace file line layouts, and the function names records carry.
#include <gtest/gtest.h>

#include <spdlog/details/log_msg.h>

#include "base/kavo_log.h"
#include "base/platform.h"

using namespace kavo;

namespace {

std::string Format(spdlog::formatter& formatter, spdlog::level::level_enum level, const char* message) {
    spdlog::details::log_msg msg(spdlog::source_loc{"file.cpp", 42, "kavo::GetNvmeInfo"}, "main", level, message);
    spdlog::memory_buf_t buffer;
    formatter.format(msg, buffer);
    return std::string(buffer.data(), buffer.size());
}

// The part after "[YYYY-MM-DD HH:MM:SS.mmm]  ".
std::string AfterStamp(const std::string& line) {
    EXPECT_EQ(line.size() > 27 ? line.substr(0, 1) + line.substr(5, 1) + line.substr(8, 1) + line.substr(11, 1) +
                                     line.substr(20, 1) + line.substr(24, 3)
                               : "",
              "[-- .]  ")
        << line;
    return line.size() > 27 ? line.substr(27) : "";
}

}  // namespace

TEST(LogLayouts, ConsoleShowsTheMessageOnly) {
    KavoFormatter console;
    EXPECT_EQ(KavoFormatter::Header(), "");
    EXPECT_EQ(Format(console, spdlog::level::err, "Admin command failed"), "Admin command failed\n");
    EXPECT_EQ(Format(console, spdlog::level::info, " "), " \n");
}

TEST(LogLayouts, TraceLinesBySeverity) {
    KavoTxtFormatter trace;
    EXPECT_EQ(AfterStamp(Format(trace, spdlog::level::info, "Begin")), "Begin\n");
    EXPECT_EQ(AfterStamp(Format(trace, spdlog::level::debug, "Detail")), "Detail\n");
    EXPECT_EQ(AfterStamp(Format(trace, spdlog::level::warn, "Careful")), "WARN  [kavo::GetNvmeInfo@42] Careful\n");
    EXPECT_EQ(AfterStamp(Format(trace, spdlog::level::err, "Broken")), "ERROR [kavo::GetNvmeInfo@42] Broken\n");
    EXPECT_EQ(AfterStamp(Format(trace, spdlog::level::critical, "[FAIL]")), "FATAL [kavo::GetNvmeInfo@42] [FAIL]\n");
    EXPECT_EQ(AfterStamp(Format(trace, spdlog::level::trace, "Adding")), "VERB  [kavo::GetNvmeInfo@42] Adding\n");
    EXPECT_EQ(AfterStamp(Format(trace, spdlog::level::err, "two\nlines")), "ERROR [kavo::GetNvmeInfo@42] two\nlines\n");
}

TEST(LogLayouts, QualifiedFunctionNames) {
    EXPECT_EQ(QualifiedFunctionName("bool kavo::GetNvmeInfo(kavo::DriveHandle&, uint8_t*)"), "kavo::GetNvmeInfo");
    EXPECT_EQ(QualifiedFunctionName("void GetAppParameters(int, char**, Json::Value&)"), "GetAppParameters");
    EXPECT_EQ(QualifiedFunctionName("int kavo::{anonymous}::Helper()"), "kavo::Helper");
    EXPECT_EQ(QualifiedFunctionName("kavo::GetFeature04(kavo::DriveHandle&)::<lambda(int)>"), "kavo::GetFeature04");
}

// A flushed line goes straight to the descriptor; lines of a burst waiting in
// the stream must still come out before it, and colour codes wrap the text
// but not its line end.
TEST(ConsoleWrites, BurstLinesStayAheadOfTheFlushedLine) {
    testing::internal::CaptureStdout();
    platform::WriteConsole("first\n", 0, false, false);
    platform::WriteConsole("second\n", 0, false, false);
    platform::WriteConsole("third\n", 0);
    platform::WriteConsole("fourth\n", 0, false, false);
    platform::WriteConsole("", 0);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "first\nsecond\nthird\nfourth\n");
}

#ifndef _WIN32
TEST(ConsoleWrites, ColoursWrapTheTextNotItsLineEnd) {
    testing::internal::CaptureStdout();
    platform::WriteConsole("warning\n", 3);
    platform::WriteConsole("error", 2);
    platform::WriteConsole("fatal\n", 1, false, false);
    std::fflush(stdout);
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              "\033[93mwarning\033[0m\n\033[91merror\033[0m\033[97;41mfatal\033[0m\n");
}
#endif
