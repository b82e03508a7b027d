#include "record/reading_stats.h"

#include "decode/json_line.h"
#include "record/chart_pager.h"
#include "record/log_table.h"

#include <charconv>
#include <cmath>

namespace kq::record {

namespace {

bool isDigit(char c) {
    return c >= '0' && c <= '9';
}

} // namespace

void RunningStats::add(double x) {
    ++m_count;
    const double delta = x - m_mean;
    m_mean += delta / static_cast<double>(m_count);
    m_m2 += delta * (x - m_mean);
    if (x < m_min)
        m_min = x;
    if (x > m_max)
        m_max = x;
}

std::optional<double> RunningStats::mean() const {
    if (m_count == 0)
        return std::nullopt;
    return m_mean;
}

std::optional<double> RunningStats::stddev() const {
    if (m_count < 2)
        return std::nullopt;
    return std::sqrt(m_m2 / static_cast<double>(m_count - 1));
}

std::optional<double> RunningStats::min() const {
    if (m_count == 0)
        return std::nullopt;
    return m_min;
}

std::optional<double> RunningStats::max() const {
    if (m_count == 0)
        return std::nullopt;
    return m_max;
}

std::optional<double> readingNumber(std::string_view s) {
    while (!s.empty() && static_cast<unsigned char>(s.front()) <= 32)
        s.remove_prefix(1);
    while (!s.empty() && static_cast<unsigned char>(s.back()) <= 32)
        s.remove_suffix(1);
    // Digits with at most one decimal separator, which the locale may make a comma.
    char buf[64];
    std::size_t n = 0;
    std::size_t i = 0;
    if (!s.empty() && (s[0] == '-' || s[0] == '+')) {
        if (s[0] == '-')
            buf[n++] = '-';
        i = 1;
    }
    bool digits = false, point = false;
    for (; i < s.size() && n < sizeof buf; ++i) {
        const char c = s[i];
        if (isDigit(c)) {
            digits = true;
            buf[n++] = c;
        } else if ((c == '.' || c == ',') && !point) {
            point = true;
            buf[n++] = '.';
        } else {
            return std::nullopt;
        }
    }
    if (!digits || i != s.size())
        return std::nullopt;
    double v = 0;
    const auto r = std::from_chars(buf, buf + n, v);
    if (r.ec != std::errc() || r.ptr != buf + n || !std::isfinite(v))
        return std::nullopt;
    return v;
}

void LogStatistics::add(std::string_view unit, std::optional<double> value) {
    if (!m_last || unit != m_lastUnit) {
        auto it = m_units.find(unit);
        if (it == m_units.end()) {
            PerUnit fresh;
            fresh.order = m_units.size();
            it = m_units.emplace(std::string(unit), fresh).first;
        }
        m_last = &it->second;
        m_lastUnit.assign(unit);
    }
    ++m_last->rows;
    if (value)
        m_last->stats.add(*value);
}

void LogStatistics::addRows(const LogTable& table, std::size_t from, std::size_t to) {
    LogTable::Text value, unit;
    for (std::size_t i = from; i < to; ++i) {
        const bool hasUnit = table.text(i, LogTable::Field::Unit, unit);
        const bool hasValue = table.text(i, LogTable::Field::Value, value);
        add(hasUnit ? unit.view() : std::string_view(),
            hasValue ? readingNumber(value.view()) : std::nullopt);
    }
}

void LogStatistics::clear() {
    m_units.clear();
    m_last = nullptr;
    m_lastUnit.clear();
    m_followed = 0;
    m_following = false;
}

bool LogStatistics::follow(const LogTable& table) {
    if (m_following && table.generation() == m_generation && table.rowCount() == m_followed)
        return false;
    if (!m_following || table.generation() != m_generation || table.rowCount() < m_followed)
        clear();
    addRows(table, m_followed, table.rowCount());
    m_following = true;
    m_generation = table.generation();
    m_followed = table.rowCount();
    return true;
}

LogStatistics::Summary LogStatistics::summary() const {
    Summary s;
    const PerUnit* best = nullptr;
    const std::string* bestName = nullptr;
    for (const auto& [name, u] : m_units) {
        if (!best || u.stats.count() > best->stats.count() ||
            (u.stats.count() == best->stats.count() && u.order < best->order)) {
            best = &u;
            bestName = &name;
        }
    }
    if (!best)
        return s;
    s.unit = *bestName;
    s.stats = best->stats;
    for (const auto& [name, u] : m_units)
        if (&u != best)
            s.otherUnits.emplace(name, u.rows);
    return s;
}

RunningStats chartPageStatistics(const TChartControl& chart,
                                 const std::function<bool(std::size_t x)>& isNumber) {
    RunningStats s;
    chart.forEachVisiblePoint([&](std::int64_t x, double v) {
        if (x > 0 && (!isNumber || isNumber(static_cast<std::size_t>(x))))
            s.add(v);
    });
    return s;
}

std::string statisticsJson(const LogStatistics::Summary& s) {
    decode::JsonLine j;
    j.integer("count", static_cast<long long>(s.stats.count()));
    auto number = [&](const char* key, std::optional<double> v) {
        if (v)
            j.number(key, *v);
        else
            j.null(key);
    };
    number("mean", s.stats.mean());
    number("stddev", s.stats.stddev());
    number("min", s.stats.min());
    number("max", s.stats.max());
    if (s.unit.empty() && s.stats.count() == 0 && s.otherUnits.empty())
        j.null("unit");
    else
        j.string("unit", s.unit);
    decode::JsonLine others;
    for (const auto& [name, rows] : s.otherUnits)
        others.integer(name, static_cast<long long>(rows));
    j.object("other_units", others);
    return j.text();
}

} // namespace kq::record
