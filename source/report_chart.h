#pragma once
// Line charts of a run as inline SVG: a time axis, a value axis with units,
// series drawn from at most a fixed number of points (every bucket of
// samples keeps its minimum and maximum, so no peak is lost however long the
// run), threshold lines and marked samples.
#include <cmath>
#include <cstddef>
#include <string>
#include <utility>
#include <vector>

// Keeps the shape of a series of any length in a bounded number of points:
// consecutive samples share a bucket, and a bucket draws its minimum and its
// maximum. Buckets merge in pairs when there are too many.
class MinMaxSeries {
public:
    explicit MinMaxSeries(size_t maxBuckets = 500) : maxBuckets_(maxBuckets) {}
    void Add(double x, double y);
    // The points to draw, in time order.
    std::vector<std::pair<double, double>> Points() const;
    size_t Count() const { return count_; }

private:
    struct Bucket {
        double xMin, yMin, xMax, yMax;
        size_t samples;
    };
    void Merge();
    size_t maxBuckets_, perBucket_ = 1, count_ = 0;
    std::vector<Bucket> buckets_;
};

struct ChartSeries {
    std::string name, colour;
    MinMaxSeries values;
};

struct ChartLine {  // a horizontal line: a threshold
    std::string name, colour;
    double value;
};

struct ChartMarker {  // a marked sample: a failure
    double x, y;
    std::string title;
};

struct Chart {
    std::string id, title, unit;  // unit of the value axis ("C", "GB", "%")
    std::vector<ChartSeries> series;
    std::vector<ChartLine> lines;
    std::vector<ChartMarker> markers;
    double xEnd = 0;  // seconds the run lasted, at least
    // A value range the axis always shows (0 to 100 for a percentage); the
    // values widen it when they leave it. NAN: the values' range.
    double yFrom = NAN, yTo = NAN;
    std::string note;  // a line under the title: what the chart leaves out
};

// The chart as an <svg> element with data- attributes that say what it
// draws (data-series, data-points, data-threshold, data-value, the value
// range), for readers and tests.
std::string RenderChart(const Chart& chart);
// Round tick values covering [low, high], about `count` of them.
std::vector<double> Ticks(double low, double high, int count);
// "0 s", "90 s", "15 min", "2 h", "3 d": a time axis label.
std::string TimeLabel(double seconds, double step);
// Text made safe for HTML.
std::string Html(const std::string& text);
