// Metrics: drive paths and texts that are not UTF-8, and counters beyond
// what a float holds.
#include <filesystem>

#include "base/kavo_text.h"
#include "hostile.h"

namespace fs = std::filesystem;

namespace {

class MetricsInput : public test::ScratchTest {};

}  // namespace

// A byte that is not UTF-8 in a path (a file named in another encoding)
// must not make the whole metrics file unreadable.
TEST_F(MetricsInput, ANonUtf8DrivePathGivesAValidMetricsFile) {
    const std::string name = "drive-\xff\xfe.json";
    test::WriteFile(dir + "/" + name, R"({"smart": {"DUW": "0x100000000000000000000000000000"}})");
    test::WriteJson(dir + "/read.cmd.json", test::ReadCommand());
    auto run = hostile::RunBounded(dir, "-n 'sim:" + name + "' --metrics quellix.prom");
    ASSERT_EQ(run.exitCode, 0) << run.output;
    const std::string metrics = test::ReadFile(dir + "/quellix.prom");
    EXPECT_EQ(kavo::EscapedText(metrics, false), metrics) << "not valid UTF-8";
    EXPECT_NE(metrics.find("device=\"sim:drive-\\\\xFF\\\\xFE.json\""), std::string::npos) << metrics;
    // 2^116 data units of 512,000 bytes, exactly, and said to be beyond a
    // float under a name the exposition format's lint accepts.
    EXPECT_NE(metrics.find("} 42535295865117307932921825928971026432000\n"), std::string::npos) << metrics;
    EXPECT_NE(metrics.find("quellix_value_beyond_float_precision{"), std::string::npos);
    EXPECT_EQ(metrics.find("counter_beyond"), std::string::npos);
}
