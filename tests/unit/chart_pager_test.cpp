#include "record/chart_pager.h"

#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdint>
#include <limits>
#include <random>
#include <vector>

using kq::record::ChartPoints;
using kq::record::TChartControl;

namespace {

// A literal model of the pager: every point in a vector, every multi-page move done as single
// limit-checked scrolls in a loop, the page count by div and mod.
struct ReferencePager {
    std::vector<double> points;
    std::int64_t xMin = 1, xMax = 0;
    std::int32_t cur = 0, size = 0, count = 0;
    bool browsing = false;

    explicit ReferencePager(std::int32_t n) {
        setPageSize(n);
        xMin = 1;
        xMax = size;
        count = 1;
        cur = 1;
        points.push_back(0);
    }
    void scroll(std::int64_t d) {
        const auto dataMax = static_cast<std::int64_t>(points.size()) - 1;
        if ((d > 0 && dataMax > xMax) || (d < 0 && 0 < xMin)) {
            xMin += d;
            xMax += d;
        }
    }
    void recount() {
        const auto p = static_cast<std::int32_t>(points.size());
        count = p / size;
        if (p % size > 0)
            ++count;
    }
    void add(double v) {
        points.push_back(v);
        recount();
        if (!browsing) {
            scroll(size);
            cur = count;
        }
    }
    void first() {
        if (count < 2 || cur == 1)
            return;
        for (int i = 0; i < cur - 1; ++i)
            scroll(-size);
        cur = 1;
        browsing = true;
    }
    void prior() {
        if (cur < 2)
            return;
        scroll(-size);
        --cur;
        browsing = true;
    }
    void next() {
        if (count < 2 || count == cur)
            return;
        scroll(size);
        ++cur;
        browsing = cur != count;
    }
    void last() {
        if (count < 2 || count == cur)
            return;
        for (int i = 0; i < count - cur; ++i)
            scroll(size);
        cur = count;
        browsing = false;
    }
    void setPageSize(std::int32_t n) {
        if (n == size)
            return;
        size = n;
        xMin = 1;
        xMax = n;
        recount();
        for (int i = 0; i < count - 1; ++i)
            scroll(n);
        cur = count;
        browsing = false;
    }
};

void addReadings(TChartControl& c, int n) {
    for (int i = 1; i <= n; ++i)
        c.AddValue(i);
}

struct View {
    std::int32_t page, pages;
    std::int64_t xMin, xMax;
    bool browsing;
};

void expectView(const TChartControl& c, const View& v) {
    EXPECT_EQ(c.curPage(), v.page);
    EXPECT_EQ(c.pageCount(), v.pages);
    EXPECT_EQ(c.xMin(), v.xMin);
    EXPECT_EQ(c.xMax(), v.xMax);
    EXPECT_EQ(c.browsing(), v.browsing);
}

TEST(ChartPager, CreateShowsFirstPageWithTheSeedOutOfView) {
    TChartControl c(100);
    expectView(c, {1, 1, 1, 100, false});
    EXPECT_EQ(c.pageSize(), 100);
    EXPECT_EQ(c.pointCountField(), 0);
    EXPECT_EQ(c.size(), 1u);
    EXPECT_EQ(c.valueAt(0), 0.0);
    EXPECT_TRUE(c.fill());
    EXPECT_EQ(c.yAxisMin(), -2000);
    EXPECT_EQ(c.yAxisMax(), 2000);
    int visible = 0;
    c.forEachVisiblePoint([&](std::int64_t, double) { ++visible; });
    EXPECT_EQ(visible, 0);
}

TEST(ChartPager, FollowsTheNewestPageAsReadingsArrive) {
    struct Case {
        int readings;
        View view;
    };
    const Case cases[] = {
        {1, {1, 1, 1, 100, false}},     {99, {1, 1, 1, 100, false}},
        {100, {2, 2, 1, 100, false}}, // the seed counts: page 2 exists, window stays
        {101, {2, 2, 101, 200, false}}, {199, {2, 2, 101, 200, false}},
        {200, {3, 3, 101, 200, false}}, {201, {3, 3, 201, 300, false}},
    };
    for (const auto& cs : cases) {
        SCOPED_TRACE(cs.readings);
        TChartControl c(100);
        addReadings(c, cs.readings);
        expectView(c, cs.view);
        EXPECT_EQ(c.pointCountField(), cs.readings + 1);
    }
}

TEST(ChartPager, MovesAtTheEdgesChangeNothing) {
    enum Move { First, Prior, Next, Last };
    struct Case {
        const char* name;
        int readings;
        bool browseToFirstBefore;
        Move move;
    };
    const Case cases[] = {
        {"first on page 1 of 1", 50, false, First},  {"previous on page 1 of 1", 50, false, Prior},
        {"next on the only page", 50, false, Next},  {"last on the only page", 50, false, Last},
        {"first on page 1 of 3", 250, true, First},  {"previous on page 1 of 3", 250, true, Prior},
        {"next on the last page", 250, false, Next}, {"last on the last page", 250, false, Last},
    };
    for (const auto& cs : cases) {
        SCOPED_TRACE(cs.name);
        TChartControl c(100);
        addReadings(c, cs.readings);
        if (cs.browseToFirstBefore)
            c.FirstPage();
        const View before{c.curPage(), c.pageCount(), c.xMin(), c.xMax(), c.browsing()};
        const auto revision = c.revision();
        switch (cs.move) {
        case First:
            c.FirstPage();
            break;
        case Prior:
            c.PriorPage();
            break;
        case Next:
            c.NextPage();
            break;
        case Last:
            c.LastPage();
            break;
        }
        expectView(c, before);
        EXPECT_EQ(c.revision(), revision);
    }
}

TEST(ChartPager, BrowsingKeepsTheViewWhilePointsArriveUntilLast) {
    TChartControl c(100);
    addReadings(c, 450); // 451 points: 5 pages
    expectView(c, {5, 5, 401, 500, false});
    c.FirstPage();
    expectView(c, {1, 5, 1, 100, true});
    c.NextPage();
    expectView(c, {2, 5, 101, 200, true});
    addReadings(c, 200); // 651 points: 7 pages
    expectView(c, {2, 7, 101, 200, true});
    c.NextPage();
    expectView(c, {3, 7, 201, 300, true});
    c.LastPage();
    expectView(c, {7, 7, 601, 700, false});
    c.AddValue(1); // following again
    expectView(c, {7, 7, 601, 700, false});
    addReadings(c, 50);
    expectView(c, {8, 8, 701, 800, false});
}

TEST(ChartPager, NextReachingTheLastPageEndsBrowsing) {
    TChartControl c(100);
    addReadings(c, 250);
    c.PriorPage();
    expectView(c, {2, 3, 101, 200, true});
    c.NextPage();
    expectView(c, {3, 3, 201, 300, false});
    c.AddValue(1);
    c.AddValue(1);
    EXPECT_FALSE(c.browsing());
}

TEST(ChartPager, PageLengthChangeShowsTheNewestPage) {
    struct Case {
        int readings;
        int from, to;
        View view;
    };
    const Case cases[] = {
        {230, 100, 50, {5, 5, 201, 250, false}},  // P = 231
        {230, 100, 100, {3, 3, 201, 300, false}}, // same length: nothing happens
        {230, 50, 100, {3, 3, 201, 300, false}},
        {0, 100, 10, {1, 1, 1, 10, false}}, // only the seed: one page, window 1..10
        {99, 100, 1, {100, 100, 99, 99, false}},
        {5, 100, 1000, {1, 1, 1, 1000, false}},
    };
    for (const auto& cs : cases) {
        SCOPED_TRACE(std::to_string(cs.readings) + " " + std::to_string(cs.to));
        TChartControl c(cs.from);
        addReadings(c, cs.readings);
        c.FirstPage(); // browsing is left by a change of length
        EXPECT_TRUE(c.SetPageSize(cs.to));
        if (cs.from == cs.to)
            continue;
        EXPECT_EQ(c.pageSize(), cs.to);
        expectView(c, cs.view);
    }
}

TEST(ChartPager, RefusesAPageLengthBelowOne) {
    for (std::int32_t bad : {0, -1, std::numeric_limits<std::int32_t>::min()}) {
        SCOPED_TRACE(bad);
        TChartControl c(100);
        addReadings(c, 230);
        const auto revision = c.revision();
        EXPECT_FALSE(c.SetPageSize(bad));
        EXPECT_EQ(c.pageSize(), 100);
        EXPECT_EQ(c.revision(), revision);
        expectView(c, {3, 3, 201, 300, false});
        c.AddValue(1); // no division by zero later
        EXPECT_EQ(c.pageCount(), 3);

        TChartControl created(bad);
        EXPECT_EQ(created.pageSize(), 100);
    }
}

TEST(ChartPager, AxisLimitsChangeOnlyWhenDifferent) {
    TChartControl c(100);
    EXPECT_EQ(c.yMaxField(), 0);
    auto r = c.revision();
    c.SetYMax(20);
    c.SetYMin(-20);
    EXPECT_EQ(c.yAxisMax(), 20);
    EXPECT_EQ(c.yAxisMin(), -20);
    EXPECT_GT(c.revision(), r);
    r = c.revision();
    c.SetYMax(20);
    c.SetYMin(-20);
    c.SetFill(true);
    EXPECT_EQ(c.revision(), r);
    c.SetFill(false);
    EXPECT_FALSE(c.fill());
    EXPECT_GT(c.revision(), r);
}

TEST(ChartPager, RepeatedScrollEqualsSingleScrollsInALoop) {
    std::mt19937 rng(7);
    for (int round = 0; round < 2000; ++round) {
        const int readings = static_cast<int>(rng() % 600);
        const std::int32_t size = 1 + static_cast<std::int32_t>(rng() % 120);
        TChartControl fast(size);
        TChartControl slow(size);
        addReadings(fast, readings);
        addReadings(slow, readings);
        std::int64_t d = 1 + static_cast<std::int64_t>(rng() % 150);
        if (rng() % 2)
            d = -d;
        const std::int64_t times = rng() % 12;
        std::int64_t slowMoves = 0;
        for (std::int64_t i = 0; i < times; ++i)
            slowMoves += slow.scrollWithLimitCheck(d);
        EXPECT_EQ(fast.scrollWithLimitCheck(d, times), slowMoves);
        ASSERT_EQ(fast.xMin(), slow.xMin()) << readings << " " << size << " " << d << " " << times;
        ASSERT_EQ(fast.xMax(), slow.xMax());
    }
}

TEST(ChartPager, MatchesTheLiteralModelOverRandomUse) {
    std::mt19937 rng(11);
    for (int round = 0; round < 300; ++round) {
        const std::int32_t size = 1 + static_cast<std::int32_t>(rng() % 60);
        TChartControl c(size);
        ReferencePager ref(size);
        for (int step = 0; step < 400; ++step) {
            const unsigned op = rng() % 20;
            if (op < 12) {
                const double v = static_cast<double>(rng() % 4000) / 10.0;
                c.AddValue(v);
                ref.add(v);
            } else if (op == 12) {
                c.FirstPage();
                ref.first();
            } else if (op == 13) {
                c.PriorPage();
                ref.prior();
            } else if (op == 14) {
                c.NextPage();
                ref.next();
            } else if (op == 15) {
                c.LastPage();
                ref.last();
            } else if (op == 16) {
                const auto n = 1 + static_cast<std::int32_t>(rng() % 60);
                c.SetPageSize(n);
                ref.setPageSize(n);
            } else {
                // random points are read back exactly
                const auto x = rng() % ref.points.size();
                ASSERT_EQ(c.valueAt(x), ref.points[x]);
            }
            ASSERT_EQ(c.curPage(), ref.cur) << round << " " << step;
            ASSERT_EQ(c.pageCount(), ref.count);
            ASSERT_EQ(c.pageSize(), ref.size);
            ASSERT_EQ(c.browsing(), ref.browsing);
            ASSERT_EQ(c.xMin(), ref.xMin);
            ASSERT_EQ(c.xMax(), ref.xMax);
        }
        std::int64_t expectX = std::max<std::int64_t>(ref.xMin, 0);
        c.forEachVisiblePoint([&](std::int64_t x, double v) {
            ASSERT_EQ(x, expectX++);
            ASSERT_EQ(v, ref.points[static_cast<std::size_t>(x)]);
        });
        EXPECT_EQ(
            expectX,
            std::min<std::int64_t>(ref.xMax, static_cast<std::int64_t>(ref.points.size()) - 1) + 1);
    }
}

std::uint64_t bits(double v) {
    return std::bit_cast<std::uint64_t>(v);
}

TEST(ChartPoints, GiveBackExactlyTheDoubleThatWasAdded) {
    const double odd[] = {
        0.0,
        -0.0,
        0.1 + 0.2,
        1.0 / 3.0,
        1e300,
        -1e-300,
        123456789.123,
        std::numeric_limits<double>::infinity(),
        -std::numeric_limits<double>::infinity(),
        std::numeric_limits<double>::quiet_NaN(),
        std::numeric_limits<double>::denorm_min(),
        std::bit_cast<double>(0x7FF4000000000001ull), // NaN with a payload
        16777217.0,                                   // not a float
    };
    ChartPoints p;
    std::vector<double> added;
    for (double v : odd) {
        p.append(v);
        added.push_back(v);
    }
    // values as the log makes them: a float count over 1, 10, 100 or 1000
    std::mt19937 rng(3);
    for (int i = 0; i < 200000; ++i) {
        const float count = static_cast<float>(static_cast<int>(rng() % 20000) - 10000);
        const double v = static_cast<double>(count) / std::pow(10.0, static_cast<int>(rng() % 4));
        p.append(v);
        added.push_back(v);
    }
    ASSERT_EQ(p.size(), added.size());
    for (std::size_t i = 0; i < added.size(); ++i)
        ASSERT_EQ(bits(p.at(i)), bits(added[i])) << i;
    // display values need no side storage: 4.25 bytes a point slot (blocks of 65536 slots)
    const double slots = static_cast<double>((added.size() + 65535) / 65536 * 65536);
    EXPECT_LT(static_cast<double>(p.memoryBytes()) / slots, 4.26);
}

} // namespace
