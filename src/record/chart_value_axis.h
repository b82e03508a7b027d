#pragma once

#include <optional>

namespace kq::record {

class TChartControl;

// A closed range of the chart's value axis.
struct ValueSpan {
    double min = 0;
    double max = 0;
    bool operator==(const ValueSpan&) const = default;
};

// The value axis for the page in view. The live page (the one that holds the newest point)
// keeps the axis the newest reading chose (`newest`, set through SetYMax / SetYMin). An older
// page is fitted to its own points, with ends on round steps, so that its curve stays inside
// the plot and the axis holds still while new readings arrive. A page without points, or with
// values that are no numbers, keeps `newest`.
ValueSpan valueAxisForPage(bool livePage, ValueSpan newest, std::optional<ValueSpan> pagePoints);

// The lowest and highest value of the points at x in [xFrom, xTo]; none when there are none.
std::optional<ValueSpan> pointsSpan(const TChartControl& chart, long long xFrom, long long xTo);

} // namespace kq::record
