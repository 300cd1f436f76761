// SVG line charts.
#include "report_chart.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include <fmt/format.h>

void MinMaxSeries::Add(double x, double y) {
    if (!std::isfinite(x) || !std::isfinite(y)) return;
    ++count_;
    if (buckets_.empty() || buckets_.back().samples >= perBucket_) {
        buckets_.push_back({x, y, x, y, 1});
        if (buckets_.size() > 2 * maxBuckets_) Merge();
        return;
    }
    Bucket& bucket = buckets_.back();
    if (y < bucket.yMin) bucket.xMin = x, bucket.yMin = y;
    if (y > bucket.yMax) bucket.xMax = x, bucket.yMax = y;
    ++bucket.samples;
}

void MinMaxSeries::Merge() {
    std::vector<Bucket> merged;
    for (size_t i = 0; i < buckets_.size(); i += 2) {
        Bucket bucket = buckets_[i];
        if (i + 1 < buckets_.size()) {
            const Bucket& next = buckets_[i + 1];
            if (next.yMin < bucket.yMin) bucket.xMin = next.xMin, bucket.yMin = next.yMin;
            if (next.yMax > bucket.yMax) bucket.xMax = next.xMax, bucket.yMax = next.yMax;
            bucket.samples += next.samples;
        }
        merged.push_back(bucket);
    }
    buckets_.swap(merged);
    perBucket_ *= 2;
}

std::vector<std::pair<double, double>> MinMaxSeries::Points() const {
    std::vector<std::pair<double, double>> points;
    for (const Bucket& b : buckets_) {
        if (b.xMin == b.xMax && b.yMin == b.yMax) {
            points.emplace_back(b.xMin, b.yMin);
        } else if (b.xMin <= b.xMax) {
            points.emplace_back(b.xMin, b.yMin);
            points.emplace_back(b.xMax, b.yMax);
        } else {
            points.emplace_back(b.xMax, b.yMax);
            points.emplace_back(b.xMin, b.yMin);
        }
    }
    return points;
}

std::vector<double> Ticks(double low, double high, int count) {
    if (!std::isfinite(low) || !std::isfinite(high)) low = 0, high = 1;
    if (low > high) std::swap(low, high);
    count = std::clamp(count, 1, 10);
    // The span must be one a double can step through: a flat series gets at
    // least 1 (a tenth of its value when that is more, so that its labels
    // differ), and any span at least a millionth of a millionth of the
    // values, which near 2^60 are 256 apart.
    const double magnitude = std::max(std::abs(low), std::abs(high));
    if (high == low) high = low + std::max(1.0, magnitude / 10);
    if (high - low < magnitude * 1e-12) high = low + magnitude * 1e-12;
    const double raw = (high - low) / count;
    if (!std::isfinite(raw)) return {low, high};  // values near the largest double
    const double power = std::pow(10.0, std::floor(std::log10(raw)));
    double step = 10 * power;
    for (double factor : {1.0, 2.0, 2.5, 5.0, 10.0})
        if (factor * power >= raw) {
            step = factor * power;
            break;
        }
    // Ticks by index, so that no step is lost to rounding however large
    // the values.
    const double first = std::floor(low / step) * step;
    const int steps = static_cast<int>(std::ceil((high - first) / step - 1e-9));
    std::vector<double> ticks;
    for (int i = 0; i <= std::max(steps, 1); ++i) {
        const double tick = first + i * step;
        ticks.push_back(std::abs(tick) < step * 1e-9 ? 0.0 : tick);
    }
    return ticks;
}

std::string TimeLabel(double seconds, double step) {
    struct Unit {
        double seconds;
        const char* name;
    };
    static const Unit kUnits[] = {{86400, "d"}, {3600, "h"}, {60, "min"}, {1, "s"}, {0.001, "ms"}};
    for (const Unit& unit : kUnits)
        // Seconds from a tenth of one: "2.5 s" reads better than "2500 ms".
        if (step >= unit.seconds || (unit.seconds == 1 && step >= 0.1) || unit.seconds == 0.001)
            return fmt::format("{:g} {}", std::round(seconds / unit.seconds * 100) / 100, unit.name);
    return "";
}

std::string Html(const std::string& text) {
    std::string out;
    for (char c : text) {
        switch (c) {
            case '&': out += "&amp;"; break;
            case '<': out += "&lt;"; break;
            case '>': out += "&gt;"; break;
            case '"': out += "&quot;"; break;
            default: out += c;
        }
    }
    return out;
}

namespace {

// Time ticks in whole seconds, minutes, hours or days.
std::vector<double> TimeTicks(double end) {
    static const double kSteps[] = {0.001, 0.002, 0.005, 0.01, 0.02, 0.05, 0.1, 0.2, 0.5, 1, 2, 5, 10, 15, 30, 60,
                                    120, 300, 600, 900, 1800, 3600, 7200, 10800, 21600, 43200, 86400, 172800, 604800};
    double step = kSteps[sizeof kSteps / sizeof kSteps[0] - 1];
    for (double candidate : kSteps)
        if (end / candidate <= 8) {
            step = candidate;
            break;
        }
    std::vector<double> ticks;
    for (int i = 0; i * step <= end + step * 1e-9; ++i) ticks.push_back(i * step);
    return ticks;
}

// The decimals that show a step exactly: 2.5 has 1, 0.25 2, 200 none.
int StepDecimals(double step) {
    for (int decimals = 0; decimals < 15; ++decimals) {
        const double scaled = step * std::pow(10.0, decimals);
        if (std::abs(scaled - std::round(scaled)) <= 1e-6 * scaled) return decimals;
    }
    return 15;
}

// A value axis label with as many digits as tell neighbouring ticks apart:
// large numbers with k, M, G, T, and beyond that in powers of ten.
std::string TickText(double value, double step) {
    if (std::abs(value) >= 1e15) {
        const double power = std::floor(std::log10(step));
        const int digits = static_cast<int>(std::floor(std::log10(std::abs(value))) - power) +
                           StepDecimals(step / std::pow(10.0, power));
        return fmt::format("{:.{}e}", value, std::clamp(digits, 0, 16));
    }
    static const std::pair<double, const char*> kScales[] = {{1e12, " T"}, {1e9, " G"}, {1e6, " M"}, {1e3, " k"}};
    double scale = 1;
    const char* suffix = "";
    for (const auto& [size, name] : kScales)
        if (std::abs(value) >= size) {
            scale = size, suffix = name;
            break;
        }
    return fmt::format("{:.{}f}{}", value / scale, StepDecimals(step / scale), suffix);
}

}  // namespace

namespace {

// The value range to draw: the values', the thresholds' and the chart's own,
// widened to round ticks.
struct ValueAxis {
    double low, high;
    std::vector<double> ticks;
};

ValueAxis AxisOf(const Chart& chart, const std::vector<std::vector<std::pair<double, double>>>& drawn) {
    double low = std::numeric_limits<double>::max(), high = std::numeric_limits<double>::lowest();
    auto take = [&](double y) {
        if (std::isfinite(y)) low = std::min(low, y), high = std::max(high, y);
    };
    for (const auto& points : drawn)
        for (const auto& point : points) take(point.second);
    for (const ChartLine& line : chart.lines) take(line.value);
    take(chart.yFrom), take(chart.yTo);
    if (low > high) low = 0, high = 1;
    ValueAxis axis{low, high, Ticks(low, high, 5)};
    axis.low = std::min(axis.low, axis.ticks.front());
    axis.high = std::max(axis.high, axis.ticks.back());
    if (!(axis.high > axis.low)) axis.high = axis.low + std::max(1.0, std::abs(axis.low));
    return axis;
}

}  // namespace

std::string RenderChart(const Chart& chart) {
    const double width = 640, height = 250, left = 64, right = 18, top = 34, bottom = 40;
    const double plotWidth = width - left - right, plotHeight = height - top - bottom;
    double xEnd = std::isfinite(chart.xEnd) ? chart.xEnd : 0;
    std::vector<std::vector<std::pair<double, double>>> drawn;
    size_t points = 0;
    for (const ChartSeries& series : chart.series) {
        drawn.push_back(series.values.Points());
        points += drawn.back().size();
        for (const auto& point : drawn.back()) xEnd = std::max(xEnd, point.first);
    }
    const ValueAxis axis = AxisOf(chart, drawn);
    const double yLow = axis.low, yHigh = axis.high;
    if (xEnd <= 0) xEnd = 1;
    std::vector<double> xTicks = TimeTicks(xEnd);
    xEnd = std::max(xEnd, xTicks.back());
    auto X = [&](double x) { return left + x / xEnd * plotWidth; };
    auto Y = [&](double y) { return top + (yHigh - y) / (yHigh - yLow) * plotHeight; };

    std::string svg = fmt::format(
        "<svg class=\"chart\" id=\"{}\" viewBox=\"0 0 {} {}\" width=\"{}\" height=\"{}\" role=\"img\" "
        "aria-label=\"{}\" data-y-min=\"{}\" data-y-max=\"{}\" data-plot-top=\"{}\" data-plot-height=\"{}\">\n",
        chart.id, width, height, width, height, Html(chart.title), yLow, yHigh, top, plotHeight);
    svg += fmt::format("<text class=\"title\" x=\"{}\" y=\"16\">{}</text>\n", left, Html(chart.title));
    double legend = left;
    for (const ChartSeries& series : chart.series) {
        svg += fmt::format("<rect x=\"{:.1f}\" y=\"22\" width=\"12\" height=\"4\" fill=\"{}\"/>"
                           "<text class=\"legend\" x=\"{:.1f}\" y=\"28\">{}</text>\n",
                           legend, series.colour, legend + 16, Html(series.name));
        legend += 30 + 6.2 * series.name.size();
    }
    if (!chart.note.empty())
        svg += fmt::format("<text class=\"note\" x=\"{}\" y=\"28\" text-anchor=\"end\">{}</text>\n", left + plotWidth,
                           Html(chart.note));
    const double yStep = axis.ticks.size() > 1 ? axis.ticks[1] - axis.ticks[0] : 1;
    for (double tick : axis.ticks) {
        svg += fmt::format("<line class=\"grid\" x1=\"{}\" x2=\"{}\" y1=\"{:.2f}\" y2=\"{:.2f}\"/>"
                           "<text class=\"tick\" x=\"{}\" y=\"{:.2f}\" text-anchor=\"end\">{}</text>\n",
                           left, left + plotWidth, Y(tick), Y(tick), left - 6, Y(tick) + 4, TickText(tick, yStep));
    }
    const double xStep = xTicks.size() > 1 ? xTicks[1] - xTicks[0] : 1;
    for (double tick : xTicks) {
        // A label that would stand out of the picture ends at its edge.
        const std::string label = TimeLabel(tick, xStep);
        const double at = X(tick), half = 3.3 * static_cast<double>(label.size());
        const bool last = at + half > width - 2;
        svg += fmt::format("<text class=\"tick\" x=\"{:.2f}\" y=\"{}\" text-anchor=\"{}\">{}</text>\n",
                           last ? width - 2 : at, top + plotHeight + 16, last ? "end" : "middle", label);
    }
    svg += fmt::format("<text class=\"axis\" x=\"{}\" y=\"{}\" text-anchor=\"middle\">time since the run began</text>\n",
                       left + plotWidth / 2, height - 6);
    svg += fmt::format("<text class=\"axis\" x=\"12\" y=\"{}\" transform=\"rotate(-90 12 {})\" "
                       "text-anchor=\"middle\">{}</text>\n",
                       top + plotHeight / 2, top + plotHeight / 2, Html(chart.unit));
    svg += fmt::format("<rect class=\"frame\" x=\"{}\" y=\"{}\" width=\"{}\" height=\"{}\"/>\n", left, top, plotWidth,
                       plotHeight);
    if (points == 0)
        svg += fmt::format("<text class=\"empty\" x=\"{}\" y=\"{}\" text-anchor=\"middle\">no values in this run</text>\n",
                           left + plotWidth / 2, top + plotHeight / 2);
    for (size_t i = 0; i < chart.lines.size(); ++i) {
        // Labels of neighbouring lines stand side by side, above their line,
        // or below it when another line runs just above.
        const ChartLine& line = chart.lines[i];
        if (!std::isfinite(line.value)) continue;
        bool crowded = false;
        for (const ChartLine& other : chart.lines)
            crowded |= other.value > line.value && Y(line.value) - Y(other.value) < 14;
        double labelX = left + plotWidth - 4 - 150.0 * static_cast<double>(i);
        double labelY = crowded ? Y(line.value) + 12 : Y(line.value) - 4;
        svg += fmt::format("<line class=\"threshold\" data-threshold=\"{}\" data-value=\"{:g}\" x1=\"{}\" x2=\"{}\" "
                           "y1=\"{:.2f}\" y2=\"{:.2f}\" stroke=\"{}\"/><text class=\"tick\" x=\"{}\" y=\"{:.2f}\" "
                           "text-anchor=\"end\" fill=\"{}\">{} {:g} {}</text>\n",
                           Html(line.name), line.value, left, left + plotWidth, Y(line.value), Y(line.value),
                           line.colour, labelX, labelY, line.colour, Html(line.name), line.value,
                           Html(chart.unit));
    }
    for (size_t i = 0; i < chart.series.size(); ++i) {
        std::string coordinates;
        for (const auto& [x, y] : drawn[i]) coordinates += fmt::format("{:.2f},{:.2f} ", X(x), Y(y));
        if (!coordinates.empty()) coordinates.pop_back();
        svg += fmt::format("<polyline class=\"series\" data-series=\"{}\" data-points=\"{}\" data-samples=\"{}\" "
                           "stroke=\"{}\" points=\"{}\"/>\n",
                           Html(chart.series[i].name), drawn[i].size(), chart.series[i].values.Count(),
                           chart.series[i].colour, coordinates);
        if (drawn[i].size() == 1)  // one point draws no line: a dot instead
            svg += fmt::format("<circle cx=\"{:.2f}\" cy=\"{:.2f}\" r=\"3\" fill=\"{}\"/>\n", X(drawn[i][0].first),
                               Y(drawn[i][0].second), chart.series[i].colour);
    }
    for (const ChartMarker& marker : chart.markers) {
        const double y = std::isfinite(marker.y) ? std::clamp(marker.y, yLow, yHigh) : yLow;
        svg += fmt::format("<circle class=\"failure\" cx=\"{:.2f}\" cy=\"{:.2f}\" r=\"4\"><title>{}</title></circle>\n",
                           X(marker.x), Y(y), Html(marker.title));
    }
    svg += "</svg>\n";
    return svg;
}
