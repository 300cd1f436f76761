#pragma once
// What a run's own values say about the drive's future: rates between
// samples, days until Percentage Used reaches 100 %, and data per day. A run
// too short to tell (or one in which nothing changed) says so instead of
// guessing.
#include <cmath>
#include <string>

namespace report {

// The rate of a counter per second between samples that lie apart in time.
// Sample times have milliseconds, so a rate is measured over 20 ms at least:
// closer samples wait for a later one. A counter that goes back (another
// drive, a reset) starts afresh.
class Rate {
public:
    // The rate since the last sample it was measured from, or NAN.
    double Next(double seconds, double value);

private:
    static constexpr double kShortestSpan = 0.02;
    double seconds_ = NAN, value_ = NAN;
};

// The first and the last value of a counter and when they were read.
struct Span {
    double firstSeconds = NAN, firstValue = NAN, lastSeconds = NAN, lastValue = NAN;
    void Add(double seconds, double value);
    double Seconds() const { return lastSeconds - firstSeconds; }
    bool Empty() const { return std::isnan(firstValue); }
};

// Percentage Used over a run. Its steps are whole percents, so its rate is
// measured between the samples where it first reached a new value: from the
// first rise to the last, which takes two rises at least.
class WearTrend {
public:
    void Add(double seconds, double percentUsed);
    // Days until 100 %, or NAN when the run cannot tell.
    double DaysToEnd() const;
    // The projection in words.
    std::string Text() const;

private:
    Span span_;
    double firstRiseSeconds_ = NAN, firstRiseValue_ = NAN, lastRiseSeconds_ = NAN, lastRiseValue_ = NAN;
    bool wentDown_ = false;
};

// Bytes a day from a counter of bytes over a run, in words ("what" is
// "written" or "read").
std::string PerDayText(const Span& bytes, const char* what);

// "2.0 s", "45 min", "5.2 h", "10.5 days".
std::string DurationWords(double seconds);
// "256 MB", "12.3 TB": bytes in powers of 1000.
std::string BytesWords(double bytes);

}  // namespace report
