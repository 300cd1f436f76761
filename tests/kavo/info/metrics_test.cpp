// Prometheus metrics of a sample: numbers in base units from the decoded
// logs, label escaping, and exact products of 128-bit counters.
#include <gtest/gtest.h>

#include "fake_drive.h"
#include "info/metrics.h"

using namespace kavo;

namespace {

std::string Line(const std::string& text, const std::string& start) {
    size_t at = text.find("\n" + start);
    if (at == std::string::npos) return "";
    return text.substr(at + 1, text.find('\n', at + 1) - at - 1);
}

class Metrics : public ::testing::Test {
protected:
    void SetUp() override {
        test::PutText(identify, 4, "SN \"1\"", 20);
        test::PutText(identify, 24, "Model\\X", 40);
        test::PutText(identify, 64, "FW1", 8);
        test::Put(identify, 266, 357, 2);  // WCTEMP 84 C
        test::Put(identify, 268, 361, 2);  // CCTEMP 88 C
        std::vector<uint8_t> s(512, 0);
        s[0] = 0x05;                       // spare and reliability
        test::Put(s, 1, 310, 2);           // 37 C
        s[3] = 5, s[4] = 10, s[5] = 101;
        test::Put(s, 32, 1000, 8);         // 1000 data units read
        test::Put(s, 96, 7, 8);            // 7 minutes busy
        test::Put(s, 128, 2, 8);           // 2 power-on hours
        test::Put(s, 160, 3, 8);
        test::Put(s, 48, 1, 8);            // data units written: 2^64 + 1
        test::Put(s, 56, 1, 8);
        test::Put(s, 192, 4, 4);           // 4 minutes above warning
        test::Put(s, 202, 305, 2);         // sensor 2 at 32 C
        info.smartHealth = ParseSmartHealth(s.data());
        std::vector<uint8_t> log(564, 0);
        log[4] = 0x27;  // extended test, failed in segment 7
        test::Put(log, 8, 1234, 8);
        info.selfTestLog = ParseSelfTestLog(log.data());
        sample.device = "/dev/nvme0";
        sample.identify = identify.data();
        sample.info = &info;
        sample.healthStatus = "CRITICAL";
        sample.tempStatus = "SUSPECT";
        sample.durationSeconds = 0.25;
        sample.failed = true;
        sample.timeMilliseconds = 1700000000500;
    }
    std::vector<uint8_t> identify = std::vector<uint8_t>(4096, 0);
    InfoDocument info;
    MetricsSample sample;
};

}  // namespace

TEST_F(Metrics, NumbersInBaseUnitsFromTheStructures) {
    std::string text = PrometheusMetrics(sample);
    const std::string drive = "{device=\"/dev/nvme0\",serial=\"SN \\\"1\\\"\"";
    EXPECT_EQ(Line(text, "quellix_drive_info{"), "quellix_drive_info" + drive + ",model=\"Model\\\\X\",firmware=\"FW1\"} 1");
    EXPECT_EQ(Line(text, "quellix_temperature_celsius{"), "quellix_temperature_celsius" + drive + ",sensor=\"composite\"} 37");
    EXPECT_NE(text.find(drive + ",sensor=\"2\"} 32\n"), std::string::npos);
    EXPECT_EQ(text.find(",sensor=\"1\"}"), std::string::npos) << "a sensor the drive lacks is left out";
    EXPECT_NE(text.find("quellix_temperature_threshold_celsius" + drive + ",kind=\"critical\"} 88\n"), std::string::npos);
    EXPECT_EQ(Line(text, "quellix_available_spare_ratio{"), "quellix_available_spare_ratio" + drive + "} 0.05");
    EXPECT_EQ(Line(text, "quellix_percentage_used_ratio{"), "quellix_percentage_used_ratio" + drive + "} 1.01");
    EXPECT_NE(text.find(drive + ",bit=\"available_spare\"} 1\n"), std::string::npos);
    EXPECT_NE(text.find(drive + ",bit=\"temperature\"} 0\n"), std::string::npos);
    EXPECT_NE(text.find(drive + ",bit=\"reliability\"} 1\n"), std::string::npos);
    EXPECT_EQ(Line(text, "quellix_data_read_bytes_total{"), "quellix_data_read_bytes_total" + drive + "} 512000000");
    EXPECT_EQ(Line(text, "quellix_controller_busy_seconds_total{"), "quellix_controller_busy_seconds_total" + drive + "} 420");
    EXPECT_EQ(Line(text, "quellix_power_on_seconds_total{"), "quellix_power_on_seconds_total" + drive + "} 7200");
    EXPECT_EQ(Line(text, "quellix_media_errors_total{"), "quellix_media_errors_total" + drive + "} 3");
    EXPECT_EQ(Line(text, "quellix_warning_temperature_seconds_total{"),
              "quellix_warning_temperature_seconds_total" + drive + "} 240");
    EXPECT_EQ(Line(text, "quellix_self_test_last_result{"), "quellix_self_test_last_result" + drive + "} 7");
    EXPECT_EQ(Line(text, "quellix_self_test_last_power_on_seconds{"),
              "quellix_self_test_last_power_on_seconds" + drive + "} 4442400");
    // A grade as one number per drive, and as one series per grade.
    EXPECT_EQ(Line(text, "quellix_health_status{"), "quellix_health_status" + drive + "} 2");
    EXPECT_EQ(Line(text, "quellix_temperature_status{"), "quellix_temperature_status" + drive + "} 1");
    EXPECT_NE(text.find("quellix_health_grade" + drive + ",status=\"CRITICAL\"} 1\n"), std::string::npos);
    EXPECT_NE(text.find("quellix_health_grade" + drive + ",status=\"GOOD\"} 0\n"), std::string::npos);
    EXPECT_NE(text.find("quellix_temperature_grade" + drive + ",status=\"SUSPECT\"} 1\n"), std::string::npos);
    EXPECT_EQ(Line(text, "quellix_last_run_timestamp_seconds{"),
              "quellix_last_run_timestamp_seconds" + drive + "} 1700000000.5");
    EXPECT_EQ(Line(text, "quellix_sample_failed{"), "quellix_sample_failed" + drive + "} 1");
    EXPECT_EQ(Line(text, "quellix_last_sample_timestamp_seconds{"),
              "quellix_last_sample_timestamp_seconds" + drive + "} 1700000000.5");
    // Every series has its HELP and TYPE, counters end in _total.
    EXPECT_NE(text.find("# TYPE quellix_media_errors_total counter\n"), std::string::npos);
    EXPECT_NE(text.find("# TYPE quellix_temperature_celsius gauge\n"), std::string::npos);
}

TEST_F(Metrics, EachCriticalWarningBitHasItsOwnSeries) {
    const char* const labels[] = {"available_spare", "temperature", "reliability", "read_only",
                                  "volatile_memory_backup", "persistent_memory"};
    const std::string drive = "{device=\"/dev/nvme0\",serial=\"SN \\\"1\\\"\"";
    for (unsigned raised = 0; raised < 6; ++raised) {
        info.smartHealth->criticalWarning = static_cast<uint8_t>(1u << raised);
        const std::string text = PrometheusMetrics(sample);
        for (unsigned bit = 0; bit < 6; ++bit) {
            const std::string series = "quellix_critical_warning" + drive + ",bit=\"" + labels[bit] + "\"} ";
            EXPECT_NE(text.find(series + (bit == raised ? "1\n" : "0\n")), std::string::npos)
                << "bit " << bit << " with bit " << raised << " raised";
        }
    }
}

TEST_F(Metrics, AnUnknownGradeHasNoNumber) {
    sample.healthStatus = "Unknown";
    std::string text = PrometheusMetrics(sample);
    EXPECT_EQ(text.find("quellix_health_status{"), std::string::npos) << "no value stands for Unknown";
    EXPECT_NE(text.find(",status=\"Unknown\"} 1\n"), std::string::npos);
}

TEST_F(Metrics, CountersBeyondFloatPrecisionStayExactAndSaySo) {
    std::string text = PrometheusMetrics(sample);
    // (2^64 + 1) data units of 512,000 bytes, exactly.
    EXPECT_EQ(Line(text, "quellix_data_written_bytes_total{"),
              "quellix_data_written_bytes_total{device=\"/dev/nvme0\",serial=\"SN \\\"1\\\"\"} 9444732965739290427904000");
    EXPECT_NE(text.find("quellix_value_beyond_float_precision{device=\"/dev/nvme0\",serial=\"SN \\\"1\\\"\","
                        "series=\"quellix_data_written_bytes_total\"} 1\n"),
              std::string::npos) << text;
    EXPECT_EQ(text.find("series=\"quellix_data_read_bytes_total\""), std::string::npos);
    // A counter of 2^119 data units times its unit needs more than 128 bits.
    info.smartHealth->dataUnitsRead = uint128(1) << 119;
    text = PrometheusMetrics(sample);
    EXPECT_EQ(Line(text, "quellix_data_read_bytes_total{"),
              "quellix_data_read_bytes_total{device=\"/dev/nvme0\",serial=\"SN \\\"1\\\"\"} "
              "340282366920938463463374607431768211456000");
}

TEST_F(Metrics, ASampleWithoutItsPagesLeavesTheirSeriesOut) {
    info.smartHealth.reset();
    info.selfTestLog->results[0].status = 0x0F;  // no self-test in the log
    std::string text = PrometheusMetrics(sample);
    EXPECT_EQ(text.find("quellix_media_errors_total"), std::string::npos);
    EXPECT_EQ(text.find("quellix_self_test_last_result"), std::string::npos);
    EXPECT_NE(text.find("quellix_drive_info{"), std::string::npos);
    EXPECT_NE(text.find("quellix_sample_failed{"), std::string::npos);
    EXPECT_EQ(EscapeLabelValue("a\\b\"c\nd"), "a\\\\b\\\"c\\nd");
    // The exposition is UTF-8: a byte that is not shows as \xHH, the
    // backslash escaped as every other; UTF-8 stays as it is.
    EXPECT_EQ(EscapeLabelValue("sim:d\xff\xc3.json"), "sim:d\\\\xFF\\\\xC3.json");
    EXPECT_EQ(EscapeLabelValue("Gr\xc3\xbc\xc3\x9f"), "Gr\xc3\xbc\xc3\x9f");
}
