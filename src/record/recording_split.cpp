#include "record/recording_split.h"

#include <charconv>
#include <cstdio>

namespace kq::record {

namespace {

constexpr std::int64_t kHourMs = 3'600'000;
constexpr std::int64_t kDayMs = 24 * kHourMs;

// Division that rounds towards minus infinity, so times before 1970 fall into
// their own hour and day too.
std::int64_t floorDiv(std::int64_t a, std::int64_t b) {
    const std::int64_t q = a / b;
    return (a % b != 0 && (a < 0) != (b < 0)) ? q - 1 : q;
}

} // namespace

std::optional<SplitRule> parseSplitRule(std::string_view text) {
    if (text == "hourly")
        return SplitRule{SplitRule::Kind::Hourly, 0};
    if (text == "daily")
        return SplitRule{SplitRule::Kind::Daily, 0};
    std::size_t rows = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), rows);
    if (text.empty() || ec != std::errc{} || end != text.data() + text.size() || rows < 1 ||
        rows > 10'000'000)
        return std::nullopt;
    return SplitRule{SplitRule::Kind::Rows, rows};
}

std::optional<std::chrono::seconds> parseDuration(std::string_view text) {
    long long n = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), n);
    if (text.empty() || ec != std::errc{} || n < 1)
        return std::nullopt;
    const std::string_view unit(end, static_cast<std::size_t>(text.data() + text.size() - end));
    long long scale = 0;
    if (unit.empty() || unit == "s")
        scale = 1;
    else if (unit == "m")
        scale = 60;
    else if (unit == "h")
        scale = 3600;
    else if (unit == "d")
        scale = 86400;
    else
        return std::nullopt;
    constexpr long long kTenYears = 3653LL * 86400;
    if (n > kTenYears / scale)
        return std::nullopt;
    return std::chrono::seconds(n * scale);
}

std::int64_t PieceSplitter::period(std::int64_t localMs) const {
    return floorDiv(localMs, m_rule.kind == SplitRule::Kind::Daily ? kDayMs : kHourMs);
}

bool PieceSplitter::beginsNextPiece(std::int64_t utcMs, int offsetMinutes,
                                    std::size_t rowsInPiece) const {
    if (rowsInPiece == 0)
        return false;
    if (m_rule.kind == SplitRule::Kind::Rows)
        return rowsInPiece >= m_rule.rows;
    return offsetMinutes != m_offset || period(utcMs + offsetMinutes * 60'000LL) != m_period;
}

void PieceSplitter::pieceBegan(std::int64_t utcMs, int offsetMinutes) {
    m_period = period(utcMs + offsetMinutes * 60'000LL);
    m_offset = offsetMinutes;
}

std::string pieceFileName(std::string_view out, std::int64_t utcMs, int offsetMinutes, int serial) {
    using namespace std::chrono;
    const std::int64_t localMs = utcMs + offsetMinutes * 60'000LL;
    const std::int64_t days = floorDiv(localMs, kDayMs);
    const std::int64_t minuteOfDay = (localMs - days * kDayMs) / 60'000;
    const year_month_day date{sys_days{std::chrono::days{days}}};
    char stamp[48];
    std::snprintf(stamp, sizeof stamp, "-%04d%02u%02u-%02d%02d", int(date.year()),
                  unsigned(date.month()), unsigned(date.day()), int(minuteOfDay / 60),
                  int(minuteOfDay % 60));
    std::string suffix = stamp;
    if (serial > 1)
        suffix += "-" + std::to_string(serial);
    // The extension is the last dot's in the file's own name, not in a folder's.
    const std::size_t slash = out.rfind('/');
    const std::size_t nameStart = slash == std::string_view::npos ? 0 : slash + 1;
    std::size_t dot = out.rfind('.');
    if (dot == std::string_view::npos || dot <= nameStart)
        dot = out.size();
    std::string name(out.substr(0, dot));
    name += suffix;
    name.append(out.substr(dot));
    return name;
}

} // namespace kq::record
