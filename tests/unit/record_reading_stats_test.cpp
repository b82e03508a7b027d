#include "record/chart_pager.h"
#include "record/log_table.h"
#include "record/reading_stats.h"
#include "record/recorder.h"

#include <gtest/gtest.h>

#include <cmath>
#include <map>
#include <optional>
#include <random>
#include <string>
#include <vector>

using kq::record::LogStatistics;
using kq::record::LogTable;
using kq::record::readingNumber;

namespace {

// The slow model: every number of every unit kept, then two passes over them.
struct TwoPassModel {
    std::map<std::string, std::vector<long double>> numbers;
    std::map<std::string, std::uint64_t> rows;
    std::vector<std::string> order;

    void add(const std::string& unit, std::optional<double> v) {
        if (!rows.count(unit))
            order.push_back(unit);
        ++rows[unit];
        if (v)
            numbers[unit].push_back(*v);
    }
    std::string mainUnit() const {
        std::string best;
        std::size_t most = 0;
        bool any = false;
        for (const auto& u : order) {
            const auto it = numbers.find(u);
            const std::size_t n = it == numbers.end() ? 0 : it->second.size();
            if (!any || n > most) {
                best = u;
                most = n;
                any = true;
            }
        }
        return best;
    }
};

TEST(ReadingNumber, TextsOfTheGlass) {
    struct Case {
        const char* text;
        std::optional<double> number;
    };
    const Case cases[] = {
        {"12.5", 12.5},
        {"12,5", 12.5},
        {" -0.050 ", -0.05},
        {"+3", 3.0},
        {".5", 0.5},
        {"5.", 5.0},
        {"1999", 1999.0},
        {"0L", std::nullopt},
        {"", std::nullopt},
        {"-", std::nullopt},
        {"1.2.3", std::nullopt},
        {"1 234", std::nullopt},
        {"NULL", std::nullopt},
        {"1e3", std::nullopt},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(readingNumber(c.text), c.number);
    }
}

TEST(LogStatistics, MatchesTheTwoPassModelOnRandomLogs) {
    std::mt19937_64 rng(24);
    const char* units[] = {"lux", "fc", "X10-lux", ""};
    for (int round = 0; round < 40; ++round) {
        SCOPED_TRACE(round);
        LogTable table;
        TwoPassModel model;
        const int rows = static_cast<int>(rng() % 3000);
        // Around a large level with small spread, where a sum of squares loses every digit.
        const double level = (round % 3 == 0) ? 1e6 : 0.0;
        for (int i = 0; i < rows; ++i) {
            const std::string unit = units[rng() % (round % 4 + 1)];
            std::string text;
            if (rng() % 17 == 0) {
                text = "0L";
            } else {
                const long long count = static_cast<long long>(rng() % 40000) - 20000;
                const int decimals = static_cast<int>(rng() % 4);
                char buf[48];
                std::snprintf(buf, sizeof buf, "%.*f", decimals,
                              level + static_cast<double>(count) / std::pow(10.0, decimals));
                text = buf;
                if (rng() % 5 == 0)
                    for (char& c : text)
                        if (c == '.')
                            c = ','; // a comma locale
            }
            table.append(i + 1, "12:00:00", text, unit);
            model.add(unit, readingNumber(text));
        }
        LogStatistics stats;
        stats.follow(table);
        const auto s = stats.summary();
        const std::string unit = model.mainUnit();
        EXPECT_EQ(s.unit, unit);
        const auto& xs = model.numbers[unit];
        ASSERT_EQ(s.stats.count(), xs.size());
        for (const auto& [u, n] : model.rows) {
            if (u != unit) {
                EXPECT_EQ(s.otherUnits.at(u), n) << u;
            }
        }
        EXPECT_EQ(s.otherUnits.size(), model.rows.size() - (rows > 0 ? 1 : 0));
        if (xs.empty()) {
            EXPECT_FALSE(s.stats.mean());
            continue;
        }
        long double sum = 0, lo = xs[0], hi = xs[0];
        for (long double x : xs) {
            sum += x;
            lo = std::min(lo, x);
            hi = std::max(hi, x);
        }
        const long double mean = sum / xs.size();
        EXPECT_NEAR(*s.stats.mean(), static_cast<double>(mean), 1e-9 * (1 + std::fabs(mean)));
        EXPECT_EQ(*s.stats.min(), static_cast<double>(lo));
        EXPECT_EQ(*s.stats.max(), static_cast<double>(hi));
        if (xs.size() < 2) {
            EXPECT_FALSE(s.stats.stddev());
            continue;
        }
        long double sq = 0;
        for (long double x : xs)
            sq += (x - mean) * (x - mean);
        const double sd = static_cast<double>(std::sqrt(sq / (xs.size() - 1)));
        EXPECT_NEAR(*s.stats.stddev(), sd, 1e-7 * sd);
    }
}

TEST(LogStatistics, FollowsAGrowingTableAndStartsAfreshWhenItIsEmptied) {
    LogTable t;
    LogStatistics stats;
    t.append(1, "t", "10", "lux");
    t.append(2, "t", "20", "lux");
    EXPECT_TRUE(stats.follow(t));
    EXPECT_FALSE(stats.follow(t)); // nothing new
    t.append(3, "t", "30", "lux");
    EXPECT_TRUE(stats.follow(t));
    EXPECT_EQ(stats.summary().stats.count(), 3u);
    EXPECT_DOUBLE_EQ(*stats.summary().stats.mean(), 20.0);
    // Emptied and refilled to the same length: the old rows must not count.
    t.clear();
    for (int i = 0; i < 3; ++i)
        t.append(i + 1, "t", "1", "fc");
    EXPECT_TRUE(stats.follow(t));
    const auto s = stats.summary();
    EXPECT_EQ(s.unit, "fc");
    EXPECT_EQ(s.stats.count(), 3u);
    EXPECT_TRUE(s.otherUnits.empty());
}

TEST(LogStatistics, ChartPageIsThePointsOnScreenWithoutTheSeed) {
    kq::record::TChartControl chart(3);
    EXPECT_EQ(kq::record::chartPageStatistics(chart).count(), 0u); // only the seed
    for (double v : {10.0, 20.0, 30.0, 40.0, 50.0})
        chart.AddValue(v);
    auto s = kq::record::chartPageStatistics(chart); // page 2: the 4th and 5th readings
    EXPECT_EQ(s.count(), 2u);
    EXPECT_DOUBLE_EQ(*s.mean(), 45.0);
    chart.FirstPage();
    s = kq::record::chartPageStatistics(chart);
    EXPECT_EQ(s.count(), 3u);
    EXPECT_DOUBLE_EQ(*s.min(), 10.0);
    EXPECT_DOUBLE_EQ(*s.max(), 30.0);
    EXPECT_DOUBLE_EQ(*s.stddev(), 10.0);
}

TEST(LogStatistics, ChartPageLeavesOutOverloadsTheChartDrawsAtFullScale) {
    kq::record::Recorder rec([] { return kq::record::LogMoment{0, 0}; });
    struct Reading {
        const char* text;
        float count;
    };
    for (const Reading& r : {Reading{"5", 5}, Reading{"0L", 2000}, Reading{"7", 7}}) {
        kq::record::LogReading reading;
        reading.ValueText = r.text;
        reading.UnitText = "lux";
        reading.ReadingValue = r.count;
        rec.offer(reading);
    }
    const auto s = kq::record::chartPageStatistics(
        rec.ChartPager, [&](std::size_t x) { return rec.chartPointIsNumber(x); });
    EXPECT_EQ(s.count(), 2u);
    EXPECT_DOUBLE_EQ(*s.mean(), 6.0);
    EXPECT_DOUBLE_EQ(*s.max(), 7.0);
}

TEST(LogStatistics, JsonOfEdgeCases) {
    struct Case {
        const char* name;
        std::vector<std::pair<const char*, const char*>> rows; // value, unit
        const char* json;
    };
    const Case cases[] = {
        {"empty log",
         {},
         R"({"count":0,"mean":null,"stddev":null,"min":null,"max":null,"unit":null,"other_units":{}})"},
        {"one reading has no stddev",
         {{"12.5", "lux"}},
         R"({"count":1,"mean":12.5,"stddev":null,"min":12.5,"max":12.5,"unit":"lux","other_units":{}})"},
        {"other units counted apart, overload not a number",
         {{"1", "lux"}, {"3", "lux"}, {"0L", "lux"}, {"7", "fc"}, {"0L", "cd"}},
         R"({"count":2,"mean":2,"stddev":1.4142135623730951,"min":1,"max":3,"unit":"lux","other_units":{"cd":1,"fc":1}})"},
        {"the unit with most numbers wins",
         {{"0L", "lux"}, {"0L", "lux"}, {"0L", "lux"}, {"2", "fc"}},
         R"({"count":1,"mean":2,"stddev":null,"min":2,"max":2,"unit":"fc","other_units":{"lux":3}})"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        LogTable t;
        for (const auto& [v, u] : c.rows)
            t.append(1, "t", v, u);
        LogStatistics stats;
        stats.follow(t);
        EXPECT_EQ(kq::record::statisticsJson(stats.summary()), c.json);
    }
}

} // namespace
