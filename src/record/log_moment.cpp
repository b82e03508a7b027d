#include "record/log_moment.h"

#include <chrono>
#include <ctime>

namespace kq::record {

namespace {

constexpr std::int64_t kMsPerDay = 86'400'000;
constexpr int kMaxOffsetMinutes = 18 * 60;
// Far beyond any year that is written (about 31,000 years), so that applying an
// offset can never overflow.
constexpr std::int64_t kMaxMs = 1'000'000'000'000'000;

bool inRange(const LogMoment& m) {
    return m.utcMs >= -kMaxMs && m.utcMs <= kMaxMs;
}

std::int64_t floorDiv(std::int64_t a, std::int64_t b) {
    const std::int64_t q = a / b;
    return (a % b != 0 && (a < 0) != (b < 0)) ? q - 1 : q;
}

void putDigits(char*& p, unsigned value, int digits) {
    for (int i = digits - 1; i >= 0; --i) {
        p[i] = static_cast<char>('0' + value % 10);
        value /= 10;
    }
    p += digits;
}

// Reads exactly `digits` decimal digits at `pos`.
bool takeDigits(std::string_view s, std::size_t& pos, int digits, int& value) {
    if (pos + static_cast<std::size_t>(digits) > s.size())
        return false;
    value = 0;
    for (int i = 0; i < digits; ++i) {
        const char c = s[pos + static_cast<std::size_t>(i)];
        if (c < '0' || c > '9')
            return false;
        value = value * 10 + (c - '0');
    }
    pos += static_cast<std::size_t>(digits);
    return true;
}

bool take(std::string_view s, std::size_t& pos, char c) {
    if (pos >= s.size() || s[pos] != c)
        return false;
    ++pos;
    return true;
}

} // namespace

LogMoment systemMoment() {
    using namespace std::chrono;
    const auto now = time_point_cast<milliseconds>(system_clock::now());
    LogMoment m;
    m.utcMs = now.time_since_epoch().count();
    const std::time_t seconds = static_cast<std::time_t>(floorDiv(m.utcMs, 1000));
    std::tm local{};
    if (localtime_r(&seconds, &local) != nullptr) {
        const long minutes = local.tm_gmtoff / 60;
        if (minutes >= -kMaxOffsetMinutes && minutes <= kMaxOffsetMinutes)
            m.offsetMinutes = static_cast<std::int16_t>(minutes);
    }
    return m;
}

TimeOfDay localTimeOfDay(const LogMoment& m) {
    if (!inRange(m))
        return {};
    const std::int64_t local = m.utcMs + std::int64_t{m.offsetMinutes} * 60'000;
    const auto secondOfDay =
        static_cast<int>((local - floorDiv(local, kMsPerDay) * kMsPerDay) / 1000);
    return {secondOfDay / 3600, secondOfDay / 60 % 60, secondOfDay % 60};
}

TimeOfDay systemTimeOfDay() {
    return localTimeOfDay(systemMoment());
}

std::size_t IsoDateTimeWriter::write(const LogMoment& m, char* out) {
    using namespace std::chrono;
    if (!inRange(m))
        return 0;
    const std::int64_t local = m.utcMs + std::int64_t{m.offsetMinutes} * 60'000;
    const std::int64_t day = floorDiv(local, kMsPerDay);
    const std::int64_t msOfDay = local - day * kMsPerDay;
    // Days of 0000-01-01 and 9999-12-31 from the epoch.
    if (day < -719'528 || day > 2'932'896)
        return 0;
    if (!m_haveDay || day != m_day) {
        const year_month_day date{sys_days{days{day}}};
        char* d = m_date;
        putDigits(d, static_cast<unsigned>(static_cast<int>(date.year())), 4);
        *d++ = '-';
        putDigits(d, static_cast<unsigned>(date.month()), 2);
        *d++ = '-';
        putDigits(d, static_cast<unsigned>(date.day()), 2);
        *d++ = 'T';
        m_day = day;
        m_haveDay = true;
    }
    char* p = out;
    for (char c : m_date)
        *p++ = c;
    const auto ms = static_cast<unsigned>(msOfDay);
    putDigits(p, ms / 3'600'000, 2);
    *p++ = ':';
    putDigits(p, ms / 60'000 % 60, 2);
    *p++ = ':';
    putDigits(p, ms / 1000 % 60, 2);
    *p++ = '.';
    putDigits(p, ms % 1000, 3);
    const int offset = m.offsetMinutes;
    *p++ = offset < 0 ? '-' : '+';
    const auto size = static_cast<unsigned>(offset < 0 ? -offset : offset);
    putDigits(p, size / 60, 2);
    *p++ = ':';
    putDigits(p, size % 60, 2);
    return static_cast<std::size_t>(p - out);
}

std::size_t isoDateTime(const LogMoment& m, char* out) {
    IsoDateTimeWriter w;
    return w.write(m, out);
}

std::string isoDateTime(const LogMoment& m) {
    char buf[kIsoDateTimeBytes];
    return std::string(buf, isoDateTime(m, buf));
}

std::optional<LogMoment> parseIsoDateTime(std::string_view s) {
    using namespace std::chrono;
    std::size_t pos = 0;
    int y = 0, mo = 0, d = 0, h = 0, mi = 0, sec = 0, ms = 0;
    if (!takeDigits(s, pos, 4, y) || !take(s, pos, '-') || !takeDigits(s, pos, 2, mo) ||
        !take(s, pos, '-') || !takeDigits(s, pos, 2, d) || !take(s, pos, 'T') ||
        !takeDigits(s, pos, 2, h) || !take(s, pos, ':') || !takeDigits(s, pos, 2, mi) ||
        !take(s, pos, ':') || !takeDigits(s, pos, 2, sec))
        return std::nullopt;
    if (take(s, pos, '.')) {
        int digits = 0;
        while (pos < s.size() && s[pos] >= '0' && s[pos] <= '9' && digits < 3) {
            ms = ms * 10 + (s[pos++] - '0');
            ++digits;
        }
        if (digits == 0)
            return std::nullopt;
        for (; digits < 3; ++digits)
            ms *= 10;
    }
    int offset = 0;
    if (take(s, pos, 'Z')) {
        offset = 0;
    } else {
        const bool negative = pos < s.size() && s[pos] == '-';
        int oh = 0, om = 0;
        if (!(take(s, pos, '+') || take(s, pos, '-')) || !takeDigits(s, pos, 2, oh) ||
            !take(s, pos, ':') || !takeDigits(s, pos, 2, om) || om > 59)
            return std::nullopt;
        offset = (oh * 60 + om) * (negative ? -1 : 1);
        if (offset < -kMaxOffsetMinutes || offset > kMaxOffsetMinutes)
            return std::nullopt;
    }
    if (pos != s.size() || h > 23 || mi > 59 || sec > 59)
        return std::nullopt;
    const year_month_day date{year{y}, month{static_cast<unsigned>(mo)},
                              day{static_cast<unsigned>(d)}};
    if (!date.ok())
        return std::nullopt;
    const std::int64_t days = sys_days{date}.time_since_epoch().count();
    const std::int64_t local = days * kMsPerDay + ((h * 60 + mi) * 60 + sec) * 1000 + ms;
    LogMoment m;
    m.utcMs = local - std::int64_t{offset} * 60'000;
    m.offsetMinutes = static_cast<std::int16_t>(offset);
    return m;
}

} // namespace kq::record
