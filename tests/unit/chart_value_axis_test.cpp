#include "record/chart_pager.h"
#include "record/chart_value_axis.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <optional>
#include <vector>

using kq::record::TChartControl;
using kq::record::valueAxisForPage;
using kq::record::ValueSpan;

namespace {

struct AxisCase {
    const char* name;
    bool live;
    std::optional<ValueSpan> points;
    ValueSpan expected;
};

} // namespace

// The live page keeps the axis of the newest reading (here -2000 ... 2000); an older page is
// fitted to its own points, its ends on steps of 1, 2, 2.5 or 5 times a power of ten.
TEST(ChartValueAxis, LivePageKeepsTheRuleOlderPageFitsItsPoints) {
    const ValueSpan newest{-2000, 2000};
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const std::vector<AxisCase> cases = {
        {"live page with small values keeps the rule", true, ValueSpan{150, 159}, newest},
        {"live page without points", true, std::nullopt, newest},
        {"older page without points keeps the rule", false, std::nullopt, newest},
        {"older page 150..159 on steps of 2", false, ValueSpan{150, 159}, {150, 160}},
        {"older page of the full range", false, ValueSpan{0, 1999}, {0, 2000}},
        {"older page above the rule's range is not clipped",
         false,
         ValueSpan{1900, 9999},
         {0, 10000}},
        {"older negative page on steps of 2.5", false, ValueSpan{-15.5, -3.2}, {-17.5, -2.5}},
        {"older flat page gets room around its line", false, ValueSpan{1234, 1234}, {1150, 1300}},
        {"older flat page at zero", false, ValueSpan{0, 0}, {-1, 1}},
        {"values that are no numbers keep the rule", false, ValueSpan{nan, 5}, newest},
    };
    for (const AxisCase& c : cases) {
        SCOPED_TRACE(c.name);
        const ValueSpan got = valueAxisForPage(c.live, newest, c.points);
        EXPECT_DOUBLE_EQ(got.min, c.expected.min);
        EXPECT_DOUBLE_EQ(got.max, c.expected.max);
        if (c.points && !c.live && std::isfinite(c.points->min)) {
            EXPECT_LE(got.min, c.points->min);
            EXPECT_GE(got.max, c.points->max);
        }
    }
}

// The extremes are those of the x window asked for only: the seed at x = 0 and the points of the
// next page do not count.
TEST(ChartValueAxis, PointsSpanCoversTheWindowOnly) {
    TChartControl chart(3);
    for (double v : {5.0, -2.0, 7.0, 100.0, -50.0})
        chart.AddValue(v);
    const auto page1 = kq::record::pointsSpan(chart, 1, 3);
    ASSERT_TRUE(page1);
    EXPECT_EQ(*page1, (ValueSpan{-2, 7}));
    EXPECT_EQ(kq::record::pointsSpan(chart, 4, 6), (ValueSpan{-50, 100}));
    EXPECT_FALSE(kq::record::pointsSpan(chart, 7, 9));
}
