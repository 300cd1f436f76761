// Rates and projections from a run's own values.
#include "report_trend.h"

#include <cmath>

#include <fmt/format.h>

namespace report {
namespace {

// A run shorter than an hour gives its daily figures with a caution.
constexpr double kHour = 3600, kDay = 86400;

}  // namespace

double Rate::Next(double seconds, double value) {
    if (!std::isfinite(seconds) || !std::isfinite(value)) return NAN;
    if (std::isnan(value_) || value < value_) {
        seconds_ = seconds, value_ = value;
        return NAN;
    }
    if (!(seconds - seconds_ >= kShortestSpan)) return NAN;
    const double rate = (value - value_) / (seconds - seconds_);
    seconds_ = seconds, value_ = value;
    return rate;
}

void Span::Add(double seconds, double value) {
    if (!std::isfinite(seconds) || !std::isfinite(value)) return;
    if (Empty()) firstSeconds = seconds, firstValue = value;
    lastSeconds = seconds, lastValue = value;
}

void WearTrend::Add(double seconds, double percentUsed) {
    if (!std::isfinite(seconds) || !std::isfinite(percentUsed)) return;
    if (!span_.Empty() && percentUsed < span_.lastValue) wentDown_ = true;
    if (!span_.Empty() && percentUsed > span_.lastValue) {
        if (std::isnan(firstRiseSeconds_)) firstRiseSeconds_ = seconds, firstRiseValue_ = percentUsed;
        lastRiseSeconds_ = seconds, lastRiseValue_ = percentUsed;
    }
    span_.Add(seconds, percentUsed);
}

double WearTrend::DaysToEnd() const {
    if (wentDown_ || std::isnan(firstRiseSeconds_) || !(lastRiseSeconds_ > firstRiseSeconds_)) return NAN;
    const double perSecond = (lastRiseValue_ - firstRiseValue_) / (lastRiseSeconds_ - firstRiseSeconds_);
    if (!(perSecond > 0) || span_.lastValue >= 100) return NAN;
    return (100 - span_.lastValue) / perSecond / kDay;
}

std::string WearTrend::Text() const {
    if (span_.Empty()) return "The run has no Percentage Used values: no projection.";
    const double now = span_.lastValue;
    if (now >= 100)
        return fmt::format("Percentage Used is {:g} %: the drive has reached the end of its rated life.", now);
    if (wentDown_)
        return fmt::format("Percentage Used went down during the run (another drive, or a reset): no projection.");
    const std::string run = DurationWords(span_.Seconds());
    if (std::isnan(firstRiseSeconds_))
        return fmt::format("Percentage Used stayed at {:g} % for the {} of the run: too short to project when it "
                           "reaches 100 %.", now, run);
    if (!(lastRiseSeconds_ > firstRiseSeconds_))
        return fmt::format("Percentage Used rose once, to {:g} %, in the {} of the run: one step gives no rate; a "
                           "longer run is needed to project when it reaches 100 %.", now, run);
    const double days = DaysToEnd();
    const double perDay = (lastRiseValue_ - firstRiseValue_) / ((lastRiseSeconds_ - firstRiseSeconds_) / kDay);
    return fmt::format("About {} until Percentage Used reaches 100 % (now {:g} %; it rose {:g} % in {}, {:.3g} % a "
                       "day).", DurationWords(days * kDay), now, lastRiseValue_ - firstRiseValue_,
                       DurationWords(lastRiseSeconds_ - firstRiseSeconds_), perDay);
}

std::string PerDayText(const Span& bytes, const char* what) {
    if (bytes.Empty() || !(bytes.Seconds() > 0))
        return fmt::format("The run is too short to measure data {} per day.", what);
    const std::string run = DurationWords(bytes.Seconds());
    const double amount = bytes.lastValue - bytes.firstValue;
    if (amount < 0) return fmt::format("Data {} went down during the run (another drive, or a reset): no rate.", what);
    if (amount == 0) return fmt::format("No data {} in the {} of the run.", what, run);
    std::string text = fmt::format("{} {} per day ({} in {})", BytesWords(amount / bytes.Seconds() * kDay), what,
                                   BytesWords(amount), run);
    if (bytes.Seconds() < kHour) text += "; a run this short may not show a day's load";
    return text + ".";
}

std::string DurationWords(double seconds) {
    if (!std::isfinite(seconds)) return "an unknown time";
    if (seconds < 120) return fmt::format("{:.1f} s", seconds);
    if (seconds < 2 * kHour) return fmt::format("{:.0f} min", seconds / 60);
    if (seconds < 2 * kDay) return fmt::format("{:.1f} h", seconds / kHour);
    if (seconds < 1000 * kDay) return fmt::format("{:.1f} days", seconds / kDay);
    return fmt::format("{:.0f} days ({:.1f} years)", seconds / kDay, seconds / kDay / 365.25);
}

std::string BytesWords(double bytes) {
    static const char* const kUnits[] = {"B", "kB", "MB", "GB", "TB", "PB", "EB", "ZB", "YB"};
    size_t unit = 0;
    while (std::abs(bytes) >= 999.5 && unit + 1 < sizeof kUnits / sizeof kUnits[0]) bytes /= 1000, ++unit;
    return fmt::format("{:.3g} {}", bytes, kUnits[unit]);
}

}  // namespace report
