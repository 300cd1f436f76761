// Health and temperature grades at each threshold, one below and one above,
// with the reasons that set them.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <tuple>
#include <vector>

#include "info/grades.h"

using namespace kavo;

namespace {

// A drive in good health: every value away from its thresholds.
SmartHealth Healthy() {
    SmartHealth h;
    h.availableSpare = 100;
    h.availableSpareThreshold = 10;
    h.percentageUsed = 3;
    return h;
}

struct Case {
    const char* what;
    std::function<void(SmartHealth&)> set;
    const char* status;
    const char* reason;  // the one reason, "" for none
};

void Expect(const Grade& grade, const Case& c) {
    EXPECT_EQ(grade.status, c.status) << c.what;
    if (std::string(c.reason).empty()) {
        EXPECT_TRUE(grade.reasons.empty()) << c.what;
    } else {
        ASSERT_EQ(grade.reasons.size(), 1u) << c.what;
        EXPECT_EQ(grade.reasons[0], c.reason) << c.what;
    }
}

}  // namespace

TEST(HealthGrade, EachThresholdAtBelowAndAbove) {
    const Case kCases[] = {
        {"used 89", [](SmartHealth& h) { h.percentageUsed = 89; }, "GOOD", ""},
        {"used 90", [](SmartHealth& h) { h.percentageUsed = 90; }, "SUSPECT", "Percentage Used 90 % is at or above 90 %"},
        {"used 99", [](SmartHealth& h) { h.percentageUsed = 99; }, "SUSPECT", "Percentage Used 99 % is at or above 90 %"},
        {"used 100", [](SmartHealth& h) { h.percentageUsed = 100; }, "CRITICAL", "Percentage Used 100 % is at or above 100 %"},
        {"used 255", [](SmartHealth& h) { h.percentageUsed = 255; }, "CRITICAL", "Percentage Used 255 % is at or above 100 %"},
        {"spare 10", [](SmartHealth& h) { h.availableSpare = 10; }, "GOOD", ""},
        {"spare 9", [](SmartHealth& h) { h.availableSpare = 9; }, "SUSPECT", "Available Spare 9 % is below 10 %"},
        {"spare 1", [](SmartHealth& h) { h.availableSpare = 1; }, "SUSPECT", "Available Spare 1 % is below 10 %"},
        {"spare 0", [](SmartHealth& h) { h.availableSpare = 0; }, "CRITICAL", "Available Spare 0 % is below 1 %"},
        {"media 0", [](SmartHealth& h) { h.mediaErrors = 0; }, "GOOD", ""},
        {"media 1", [](SmartHealth& h) { h.mediaErrors = 1; }, "SUSPECT", "Media and Data Integrity Errors 1 is above 0"},
        {"media 10", [](SmartHealth& h) { h.mediaErrors = 10; }, "SUSPECT", "Media and Data Integrity Errors 10 is above 0"},
        {"media 11", [](SmartHealth& h) { h.mediaErrors = 11; }, "CRITICAL", "Media and Data Integrity Errors 11 is above 10"},
        {"media 2^64", [](SmartHealth& h) { h.mediaErrors = uint128(1) << 64; }, "CRITICAL",
         "Media and Data Integrity Errors 18,446,744,073,709,551,616 is above 10"},
        {"warning bit 0", [](SmartHealth& h) { h.criticalWarning = 0x01; }, "CRITICAL",
         "Critical Warning bit 0: available spare below threshold"},
        {"warning bit 1", [](SmartHealth& h) { h.criticalWarning = 0x02; }, "CRITICAL",
         "Critical Warning bit 1: temperature outside a threshold"},
        {"warning bit 2", [](SmartHealth& h) { h.criticalWarning = 0x04; }, "CRITICAL",
         "Critical Warning bit 2: reliability degraded"},
        {"warning bit 3", [](SmartHealth& h) { h.criticalWarning = 0x08; }, "CRITICAL",
         "Critical Warning bit 3: media in read only mode"},
        {"warning bit 4", [](SmartHealth& h) { h.criticalWarning = 0x10; }, "CRITICAL",
         "Critical Warning bit 4: volatile memory backup failed"},
        {"warning bit 5", [](SmartHealth& h) { h.criticalWarning = 0x20; }, "CRITICAL",
         "Critical Warning bit 5: persistent memory unreliable"},
        {"warning bit 6", [](SmartHealth& h) { h.criticalWarning = 0x40; }, "CRITICAL", "Critical Warning bit 6: reserved bit 6 set"},
        {"warning bit 7", [](SmartHealth& h) { h.criticalWarning = 0x80; }, "CRITICAL", "Critical Warning bit 7: reserved bit 7 set"},
    };
    for (const Case& c : kCases) {
        SmartHealth h = Healthy();
        c.set(h);
        Expect(HealthGrade(h), c);
    }
}

// The worst level sets the grade, and every reason of that level is given.
TEST(HealthGrade, ReasonsOfTheWorstLevelOnly) {
    SmartHealth h = Healthy();
    h.percentageUsed = 95;
    h.mediaErrors = 3;
    Grade suspect = HealthGrade(h);
    EXPECT_EQ(suspect.status, "SUSPECT");
    EXPECT_EQ(suspect.reasons.size(), 2u);
    h.criticalWarning = 0x05;
    Grade critical = HealthGrade(h);
    EXPECT_EQ(critical.status, "CRITICAL");
    EXPECT_EQ(critical.reasons, (std::vector<std::string>{"Critical Warning bit 0: available spare below threshold",
                                                          "Critical Warning bit 2: reliability degraded"}));
}

TEST(TemperatureGrade, EachTimeAtZeroAndOne) {
    const Case kCases[] = {
        {"no time", [](SmartHealth&) {}, "GOOD", ""},
        {"warning 1", [](SmartHealth& h) { h.warningTemperatureMinutes = 1; }, "SUSPECT",
         "Warning Composite Temperature Time 1 Min is above 0 Min"},
        {"critical 1", [](SmartHealth& h) { h.criticalTemperatureMinutes = 1; }, "CRITICAL",
         "Critical Composite Temperature Time 1 Min is above 0 Min"},
        {"thermal 1 one second", [](SmartHealth& h) { h.thermalSeconds[0] = 1; }, "SUSPECT",
         "Thermal Management Temperature 1 Time 1 Sec is above 0 Sec"},
        {"thermal 2 one second", [](SmartHealth& h) { h.thermalSeconds[1] = 1; }, "SUSPECT",
         "Thermal Management Temperature 2 Time 1 Sec is above 0 Sec"},
        {"critical over warning", [](SmartHealth& h) { h.criticalTemperatureMinutes = 1, h.warningTemperatureMinutes = 9; },
         "CRITICAL", "Critical Composite Temperature Time 1 Min is above 0 Min"},
        {"largest times", [](SmartHealth& h) { h.warningTemperatureMinutes = 4294967295u; }, "SUSPECT",
         "Warning Composite Temperature Time 4,294,967,295 Min is above 0 Min"},
    };
    for (const Case& c : kCases) {
        SmartHealth h = Healthy();
        c.set(h);
        Expect(TemperatureGrade(h, true), c);
    }
    // Without host controlled thermal management those bytes are reserved.
    SmartHealth h = Healthy();
    h.thermalSeconds = {5, 5};
    EXPECT_EQ(TemperatureGrade(h, false).status, "GOOD");
}

TEST(GradeRanks, FromUnknownToCritical) {
    EXPECT_EQ(GradeRank("Unknown"), 0);
    EXPECT_EQ(GradeRank("GOOD"), 1);
    EXPECT_EQ(GradeRank("SUSPECT"), 2);
    EXPECT_EQ(GradeRank("CRITICAL"), 3);
    EXPECT_EQ(GradeRank("good"), 0);
}
