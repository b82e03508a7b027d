#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <limits>
#include <map>
#include <optional>
#include <string>
#include <string_view>

namespace kq::record {

class LogTable;
class TChartControl;

// Count, mean, sample standard deviation, minimum and maximum of a stream of
// numbers, in one pass (Welford's update, which stays exact where a sum of
// squares would cancel: readings near 10^6 that differ in the last digit).
class RunningStats {
public:
    void add(double x);
    std::uint64_t count() const { return m_count; }
    // None without numbers.
    std::optional<double> mean() const;
    // The sample standard deviation (n - 1); none below two numbers.
    std::optional<double> stddev() const;
    std::optional<double> min() const;
    std::optional<double> max() const;

private:
    std::uint64_t m_count = 0;
    double m_mean = 0;
    double m_m2 = 0; // sum of squared distances from the running mean
    double m_min = std::numeric_limits<double>::infinity();
    double m_max = -std::numeric_limits<double>::infinity();
};

// The number a value text shows ("12.5", "12,5", "-0.050"); none for the
// overload "0L" and other texts that are no number.
std::optional<double> readingNumber(std::string_view valueText);

// Statistics of the numeric readings of a log, kept per unit as rows are
// added, so that a growing log is summed up once per row.
class LogStatistics {
public:
    struct Summary {
        std::string unit;   // the unit with the most numeric readings (the first on a tie)
        RunningStats stats; // of that unit's numeric readings
        // Rows of every other unit, by unit (numeric or not).
        std::map<std::string, std::uint64_t, std::less<>> otherUnits;
    };

    LogStatistics() = default;
    LogStatistics(const LogStatistics&) = delete;
    LogStatistics& operator=(const LogStatistics&) = delete;

    void add(std::string_view unit, std::optional<double> value);
    // Adds rows [from, to) of the table.
    void addRows(const LogTable& table, std::size_t from, std::size_t to);
    void clear();
    Summary summary() const;

    // Follows a table that grows and is sometimes emptied: adds the rows that
    // came since the last call, or starts afresh when rows were taken away.
    // Returns true when anything changed.
    bool follow(const LogTable& table);

private:
    struct PerUnit {
        RunningStats stats;
        std::uint64_t rows = 0;
        std::uint64_t order = 0; // when the unit first appeared
    };
    std::map<std::string, PerUnit, std::less<>> m_units;
    std::string m_lastUnit;
    PerUnit* m_last = nullptr;
    std::size_t m_followed = 0;
    std::uint64_t m_generation = 0;
    bool m_following = false;
};

// The points of the chart page on screen as plotted (they carry no unit),
// without the seed point and without those `isNumber(x)` rejects (an
// overload, drawn at full scale, is no reading to average).
RunningStats chartPageStatistics(const TChartControl& chart,
                                 const std::function<bool(std::size_t x)>& isNumber = {});

// The summary as one JSON object:
// {"count":N,"mean":M,"stddev":S,"min":A,"max":B,"unit":"lux","other_units":{"fc":3}}
// with null for what does not exist (no numbers; one number has no stddev).
std::string statisticsJson(const LogStatistics::Summary& s);

} // namespace kq::record
