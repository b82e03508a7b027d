#include "record/chart_thinning.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <random>
#include <set>
#include <string>
#include <vector>

using kq::record::ChartPoints;
using kq::record::FedPoint;
using kq::record::thinnedPoints;

namespace {

ChartPoints stored(const std::vector<double>& values) {
    ChartPoints points;
    for (double v : values)
        points.append(v);
    return points;
}

// The rule taken word by word: pick the stored points inside the window; few enough go as they
// are; otherwise number them 0, 1, ... in the window, put each into the last slice whose start
// floor(s * count / n) is not after it, and keep of every slice the first lowest and the first
// highest point, each x once, in x order.
std::vector<FedPoint> slowThinned(const std::vector<double>& values, std::int64_t from,
                                  std::int64_t to, std::int64_t maxPoints) {
    std::vector<FedPoint> window;
    for (std::size_t i = 0; i < values.size(); ++i) {
        const auto x = static_cast<std::int64_t>(i);
        if (x >= from && x <= to)
            window.push_back({x, values[i]});
    }
    const auto count = static_cast<std::int64_t>(window.size());
    if (count <= maxPoints)
        return window;

    const std::int64_t n = maxPoints / 2;
    std::vector<std::int64_t> starts;
    for (std::int64_t s = 0; s < n; ++s)
        starts.push_back(s * count / n);
    std::vector<std::vector<FedPoint>> slices(static_cast<std::size_t>(n));
    for (std::int64_t k = 0; k < count; ++k) {
        const auto after = std::upper_bound(starts.begin(), starts.end(), k);
        slices[static_cast<std::size_t>(after - starts.begin() - 1)].push_back(window[k]);
    }
    const auto byValue = [](const FedPoint& a, const FedPoint& b) { return a.value < b.value; };
    std::set<std::int64_t> kept;
    for (const auto& slice : slices) {
        kept.insert(std::min_element(slice.begin(), slice.end(), byValue)->x);
        kept.insert(std::max_element(slice.begin(), slice.end(), byValue)->x);
    }
    std::vector<FedPoint> fed;
    for (std::int64_t x : kept)
        fed.push_back({x, values[static_cast<std::size_t>(x)]});
    return fed;
}

std::vector<double> randomValues(std::size_t count, unsigned seed, int distinct) {
    std::mt19937 gen(seed);
    std::uniform_int_distribution<int> pick(-distinct, distinct);
    std::vector<double> values;
    for (std::size_t i = 0; i < count; ++i)
        values.push_back(pick(gen) / 10.0);
    return values;
}

std::string shown(const std::vector<FedPoint>& points) {
    std::string s;
    for (const FedPoint& p : points)
        s += "(" + std::to_string(p.x) + "," + std::to_string(p.value) + ")";
    return s;
}

// Worked by hand from the rule, so that the slow version is checked too.
TEST(ChartThinning, SmallWindowsWorkedByHand) {
    struct Case {
        const char* name;
        std::vector<double> values;
        std::int64_t from, to, maxPoints;
        std::vector<FedPoint> fed;
    };
    const Case cases[] = {
        // thinned, the last of the two slices would lose its last point
        {"as many points as allowed go as they are",
         {3, 1, 2, 5, 4},
         0,
         4,
         5,
         {{0, 3}, {1, 1}, {2, 2}, {3, 5}, {4, 4}}},
        // 12 points, 3 slices of 4: a rising, a tied and a flat slice
        {"lowest and highest of each slice, the first of equal ones",
         {5, 1, 9, 3, 2, 8, 2, 8, 4, 4, 4, 4},
         0,
         11,
         6,
         {{1, 1}, {2, 9}, {4, 2}, {5, 8}, {8, 4}}},
        // the highest before the lowest still goes in x order
        {"a falling slice in x order", {0, 9, 1, -4, 2}, 0, 4, 2, {{1, 9}, {3, -4}}},
        // 10 points, 3 slices: starts 0, 3, 6, so the last slice is the longest
        {"slices of unequal length",
         {1, 2, 7, 9, 0, 9, 6, 6, 6, -1},
         0,
         9,
         7,
         {{0, 1}, {2, 7}, {3, 9}, {4, 0}, {6, 6}, {9, -1}}},
        // the window's own points are numbered from its first x, not from 0
        {"a window inside the points",
         {100, 100, 5, 3, 4, 8, 6, 100},
         2,
         6,
         4,
         {{2, 5}, {3, 3}, {4, 4}, {5, 8}}},
        {"a window reaching past both ends", {2, 1}, -3, 40, 4, {{0, 2}, {1, 1}}},
        {"a window past the last point", {2, 1}, 2, 9, 4, {}},
        {"a window ending before it starts", {2, 1, 3}, 2, 1, 4, {}},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(shown(thinnedPoints(stored(c.values), c.from, c.to, c.maxPoints)), shown(c.fed))
            << c.name;
        EXPECT_EQ(shown(slowThinned(c.values, c.from, c.to, c.maxPoints)), shown(c.fed)) << c.name;
    }
}

TEST(ChartThinning, AgreesWithTheSlowRule) {
    struct Case {
        std::size_t count;
        std::int64_t from, to, maxPoints;
        int distinct; // few distinct values make many ties
    };
    const std::int64_t all = 1 << 30;
    const Case cases[] = {
        {4096, 0, all, 4096, 1000},    {4097, 0, all, 4096, 1000}, {50000, 1, all, 4096, 3},
        {50000, 7, 46001, 4096, 2000}, {1000, 0, all, 7, 2},       {1000, 100, 899, 300, 0},
        {333, 0, all, 2, 50},          {10, 0, all, 3, 1},         {65537 + 9, 65530, all, 8, 9},
    };
    unsigned seed = 1;
    for (const Case& c : cases) {
        const std::vector<double> values = randomValues(c.count, seed++, c.distinct);
        const std::vector<FedPoint> fed = thinnedPoints(stored(values), c.from, c.to, c.maxPoints);
        EXPECT_LE(static_cast<std::int64_t>(fed.size()), c.maxPoints);
        EXPECT_EQ(fed, slowThinned(values, c.from, c.to, c.maxPoints))
            << c.count << " points, window " << c.from << ".." << c.to << ", at most "
            << c.maxPoints;
    }
}

} // namespace
