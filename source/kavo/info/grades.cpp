// Health and temperature grades with their reasons.
#include "info/grades.h"

#include "base/kavo_text.h"

namespace kavo {
namespace {

// What each critical warning bit of the SMART / health log says.
const char* const kWarningBits[8] = {"available spare below threshold", "temperature outside a threshold",
                                     "reliability degraded", "media in read only mode",
                                     "volatile memory backup failed", "persistent memory unreliable",
                                     "reserved bit 6 set", "reserved bit 7 set"};

struct Judge {
    Grade grade;
    int rank = 1;
    void Raise(int level, std::string reason) {
        if (level > rank) {
            rank = level;
            grade.reasons.clear();
        }
        if (level == rank) grade.reasons.push_back(std::move(reason));
    }
    Grade Done() {
        static const char* const kStatus[] = {"Unknown", "GOOD", "SUSPECT", "CRITICAL"};
        grade.status = kStatus[rank];
        return grade;
    }
};

constexpr int kSuspect = 2, kCritical = 3;

}  // namespace

Grade HealthGrade(const SmartHealth& h) {
    Judge judge;
    const std::string used = "Percentage Used " + std::to_string(h.percentageUsed) + " %";
    if (h.percentageUsed >= 100) judge.Raise(kCritical, used + " is at or above 100 %");
    else if (h.percentageUsed >= 90) judge.Raise(kSuspect, used + " is at or above 90 %");
    const std::string spare = "Available Spare " + std::to_string(h.availableSpare) + " %";
    if (h.availableSpare < 1) judge.Raise(kCritical, spare + " is below 1 %");
    else if (h.availableSpare < 10) judge.Raise(kSuspect, spare + " is below 10 %");
    const std::string errors = "Media and Data Integrity Errors " + GroupedDecimal128(h.mediaErrors);
    if (h.mediaErrors > 10) judge.Raise(kCritical, errors + " is above 10");
    else if (h.mediaErrors > 0) judge.Raise(kSuspect, errors + " is above 0");
    for (unsigned bit = 0; bit < 8; ++bit)
        if (h.criticalWarning & (1u << bit))
            judge.Raise(kCritical, "Critical Warning bit " + std::to_string(bit) + ": " + kWarningBits[bit]);
    return judge.Done();
}

Grade TemperatureGrade(const SmartHealth& h, bool thermalManagement) {
    Judge judge;
    if (h.criticalTemperatureMinutes > 0)
        judge.Raise(kCritical, "Critical Composite Temperature Time " + GroupedDecimal64(h.criticalTemperatureMinutes) +
                                   " Min is above 0 Min");
    if (h.warningTemperatureMinutes > 0)
        judge.Raise(kSuspect, "Warning Composite Temperature Time " + GroupedDecimal64(h.warningTemperatureMinutes) +
                                  " Min is above 0 Min");
    for (unsigned n = 0; thermalManagement && n < 2; ++n)
        if (h.thermalSeconds[n] > 0)
            judge.Raise(kSuspect, "Thermal Management Temperature " + std::to_string(n + 1) + " Time " +
                                      GroupedDecimal64(h.thermalSeconds[n]) + " Sec is above 0 Sec");
    return judge.Done();
}

const char* CriticalWarningMeaning(unsigned bit) { return bit < 8 ? kWarningBits[bit] : "no such bit"; }

int GradeRank(const std::string& status) {
    if (status == "GOOD") return 1;
    if (status == "SUSPECT") return 2;
    if (status == "CRITICAL") return 3;
    return 0;
}

}  // namespace kavo
