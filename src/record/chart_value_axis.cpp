#include "record/chart_value_axis.h"

#include "record/chart_pager.h"

#include <algorithm>
#include <cmath>

namespace kq::record {

namespace {

// A step of 1, 2, 2.5 or 5 times a power of ten that cuts `span` into about five pieces.
double roundStep(double span) {
    const double raw = span / 5;
    const double power = std::pow(10.0, std::floor(std::log10(raw)));
    const double f = raw / power;
    return (f <= 1 ? 1 : f <= 2 ? 2 : f <= 2.5 ? 2.5 : f <= 5 ? 5 : 10) * power;
}

} // namespace

ValueSpan valueAxisForPage(bool livePage, ValueSpan newest, std::optional<ValueSpan> pagePoints) {
    if (livePage || !pagePoints || !std::isfinite(pagePoints->min) ||
        !std::isfinite(pagePoints->max) || pagePoints->min > pagePoints->max)
        return newest;
    double lo = pagePoints->min;
    double hi = pagePoints->max;
    if (hi == lo) {
        // A flat page gets room around its line, so that the line is not drawn on the frame.
        const double pad = std::max(std::abs(hi) * 0.05, 1.0);
        lo -= pad;
        hi += pad;
    }
    const double step = roundStep(hi - lo);
    return {std::floor(lo / step) * step, std::ceil(hi / step) * step};
}

std::optional<ValueSpan> pointsSpan(const TChartControl& chart, long long xFrom, long long xTo) {
    std::optional<ValueSpan> span;
    chart.forEachPoint(xFrom, xTo, [&span](std::int64_t, double v) {
        if (!span)
            span = ValueSpan{v, v};
        span->min = std::min(span->min, v);
        span->max = std::max(span->max, v);
    });
    return span;
}

} // namespace kq::record
