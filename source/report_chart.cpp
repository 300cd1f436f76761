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
    if (!(high > low)) high = low + 1;
    double raw = (high - low) / std::max(count, 1);
    double magnitude = std::pow(10.0, std::floor(std::log10(raw)));
    double step = magnitude;
    for (double factor : {1.0, 2.0, 2.5, 5.0, 10.0})
        if (factor * magnitude >= raw) {
            step = factor * magnitude;
            break;
        }
    std::vector<double> ticks;
    const double last = std::ceil(high / step - 1e-9) * step;
    for (double tick = std::floor(low / step) * step; tick <= last + step * 1e-9; tick += step)
        ticks.push_back(std::abs(tick) < step * 1e-9 ? 0.0 : tick);
    return ticks;
}

std::string TimeLabel(double seconds, double step) {
    struct Unit {
        double seconds;
        const char* name;
    };
    static const Unit kUnits[] = {{86400, "d"}, {3600, "h"}, {60, "min"}, {1, "s"}, {0.001, "ms"}};
    for (const Unit& unit : kUnits)
        if (step >= unit.seconds || unit.seconds == 0.001)
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

// A value axis label: large numbers with k, M, G, T.
std::string TickText(double value) {
    static const std::pair<double, const char*> kScales[] = {{1e12, " T"}, {1e9, " G"}, {1e6, " M"}, {1e3, " k"}};
    for (const auto& [scale, suffix] : kScales)
        if (std::abs(value) >= scale) return fmt::format("{:g}{}", value / scale, suffix);
    return fmt::format("{:g}", value);
}

}  // namespace

std::string RenderChart(const Chart& chart) {
    const double width = 880, height = 260, left = 64, right = 16, top = 34, bottom = 40;
    const double plotWidth = width - left - right, plotHeight = height - top - bottom;
    double yLow = std::numeric_limits<double>::max(), yHigh = std::numeric_limits<double>::lowest(), xEnd = chart.xEnd;
    std::vector<std::vector<std::pair<double, double>>> drawn;
    for (const ChartSeries& series : chart.series) {
        drawn.push_back(series.values.Points());
        for (const auto& [x, y] : drawn.back()) {
            yLow = std::min(yLow, y), yHigh = std::max(yHigh, y);
            xEnd = std::max(xEnd, x);
        }
    }
    for (const ChartLine& line : chart.lines) yLow = std::min(yLow, line.value), yHigh = std::max(yHigh, line.value);
    if (yLow > yHigh) yLow = 0, yHigh = 1;
    std::vector<double> yTicks = Ticks(yLow, yHigh, 5);
    yLow = std::min(yLow, yTicks.front());
    yHigh = std::max(yHigh, yTicks.back());
    if (yHigh <= yLow) yHigh = yLow + 1;
    if (xEnd <= 0) xEnd = 1;
    std::vector<double> xTicks = TimeTicks(xEnd);
    xEnd = std::max(xEnd, xTicks.back());
    auto X = [&](double x) { return left + x / xEnd * plotWidth; };
    auto Y = [&](double y) { return top + (yHigh - y) / (yHigh - yLow) * plotHeight; };

    std::string svg = fmt::format(
        "<svg class=\"chart\" id=\"{}\" viewBox=\"0 0 {} {}\" width=\"{}\" height=\"{}\" role=\"img\" "
        "aria-label=\"{}\" data-y-min=\"{}\" data-y-max=\"{}\" data-plot-top=\"{}\" data-plot-height=\"{}\">\n",
        chart.id, width, height, width, height, Html(chart.title), yLow, yHigh, top, plotHeight);
    svg += fmt::format("<text class=\"title\" x=\"{}\" y=\"18\">{}</text>\n", left, Html(chart.title));
    double legend = left + 16 + 8.5 * chart.title.size();
    for (const ChartSeries& series : chart.series) {
        svg += fmt::format("<rect x=\"{:.1f}\" y=\"9\" width=\"12\" height=\"4\" fill=\"{}\"/>"
                           "<text class=\"legend\" x=\"{:.1f}\" y=\"16\">{}</text>\n",
                           legend, series.colour, legend + 16, Html(series.name));
        legend += 30 + 6.5 * series.name.size();
    }
    for (double tick : yTicks) {
        svg += fmt::format("<line class=\"grid\" x1=\"{}\" x2=\"{}\" y1=\"{:.2f}\" y2=\"{:.2f}\"/>"
                           "<text class=\"tick\" x=\"{}\" y=\"{:.2f}\" text-anchor=\"end\">{}</text>\n",
                           left, left + plotWidth, Y(tick), Y(tick), left - 6, Y(tick) + 4, TickText(tick));
    }
    double xStep = xTicks.size() > 1 ? xTicks[1] - xTicks[0] : 1;
    for (double tick : xTicks)
        svg += fmt::format("<text class=\"tick\" x=\"{:.2f}\" y=\"{}\" text-anchor=\"middle\">{}</text>\n", X(tick),
                           top + plotHeight + 16, TimeLabel(tick, xStep));
    svg += fmt::format("<text class=\"axis\" x=\"{}\" y=\"{}\" text-anchor=\"middle\">time since the run began</text>\n",
                       left + plotWidth / 2, height - 4);
    svg += fmt::format("<text class=\"axis\" x=\"12\" y=\"{}\" transform=\"rotate(-90 12 {})\" "
                       "text-anchor=\"middle\">{}</text>\n",
                       top + plotHeight / 2, top + plotHeight / 2, Html(chart.unit));
    svg += fmt::format("<rect class=\"frame\" x=\"{}\" y=\"{}\" width=\"{}\" height=\"{}\"/>\n", left, top, plotWidth,
                       plotHeight);
    for (size_t i = 0; i < chart.lines.size(); ++i) {
        // Labels of neighbouring lines stand side by side, above their line.
        const ChartLine& line = chart.lines[i];
        double labelX = left + plotWidth - 4 - 160.0 * static_cast<double>(i), labelY = Y(line.value) - 4;
        svg += fmt::format("<line class=\"threshold\" data-threshold=\"{}\" data-value=\"{:g}\" x1=\"{}\" x2=\"{}\" "
                           "y1=\"{:.2f}\" y2=\"{:.2f}\" stroke=\"{}\"/><text class=\"tick\" x=\"{}\" y=\"{:.2f}\" "
                           "text-anchor=\"end\" fill=\"{}\">{} {:g} {}</text>\n",
                           Html(line.name), line.value, left, left + plotWidth, Y(line.value), Y(line.value),
                           line.colour, labelX, labelY, line.colour, Html(line.name), line.value,
                           Html(chart.unit));
    }
    for (size_t i = 0; i < chart.series.size(); ++i) {
        std::string points;
        for (const auto& [x, y] : drawn[i]) points += fmt::format("{:.2f},{:.2f} ", X(x), Y(y));
        if (!points.empty()) points.pop_back();
        svg += fmt::format("<polyline class=\"series\" data-series=\"{}\" data-points=\"{}\" data-samples=\"{}\" "
                           "stroke=\"{}\" points=\"{}\"/>\n",
                           Html(chart.series[i].name), drawn[i].size(), chart.series[i].values.Count(),
                           chart.series[i].colour, points);
        if (drawn[i].size() == 1)  // one point draws no line: a dot instead
            svg += fmt::format("<circle cx=\"{:.2f}\" cy=\"{:.2f}\" r=\"3\" fill=\"{}\"/>\n", X(drawn[i][0].first),
                               Y(drawn[i][0].second), chart.series[i].colour);
    }
    for (const ChartMarker& marker : chart.markers)
        svg += fmt::format("<circle class=\"failure\" cx=\"{:.2f}\" cy=\"{:.2f}\" r=\"4\"><title>{}</title></circle>\n",
                           X(marker.x), Y(std::clamp(marker.y, yLow, yHigh)), Html(marker.title));
    svg += "</svg>\n";
    return svg;
}
