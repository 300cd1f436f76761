#pragma once
// The health and temperature grades of a sample, from the SMART / health
// log, each with the reasons that set it.
#include <string>
#include <vector>

#include "decode/health_log.h"

namespace kavo {

struct Grade {
    std::string status = "Unknown";   // "GOOD", "SUSPECT", "CRITICAL" or "Unknown"
    std::vector<std::string> reasons;  // empty when GOOD or Unknown
};

// Health: CRITICAL at 100 % used or more, less than 1 % spare, more than 10
// media errors or any critical warning bit; SUSPECT at 90 % used, less than
// 10 % spare or any media error.
Grade HealthGrade(const SmartHealth& health);
// Temperature: CRITICAL after any minute above the critical composite
// temperature; SUSPECT after any time above the warning temperature or, when
// the controller has host controlled thermal management, in it.
Grade TemperatureGrade(const SmartHealth& health, bool thermalManagement);

// Grades from best to worst, 0 for Unknown: GOOD 1, SUSPECT 2, CRITICAL 3.
int GradeRank(const std::string& status);
// What a critical warning bit (0 to 7) of the SMART / health log says:
// "available spare below threshold", ...
const char* CriticalWarningMeaning(unsigned bit);

}  // namespace kavo
