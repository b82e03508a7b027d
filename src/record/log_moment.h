#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace kq::record {

struct TimeOfDay {
    int hour = 0;
    int minute = 0;
    int second = 0;
};

// The moment a row was logged: UTC milliseconds since the epoch and the
// local offset from UTC in minutes at that moment (east positive), so that a
// recording over midnight, over days or over a clock change stays unambiguous.
struct LogMoment {
    std::int64_t utcMs = 0;
    std::int16_t offsetMinutes = 0;
    friend bool operator==(const LogMoment&, const LogMoment&) = default;
};

// Now, from the system clock and its time zone.
LogMoment systemMoment();
// The local time of day of a moment (its offset applied).
TimeOfDay localTimeOfDay(const LogMoment& m);
// The local time of day from the system clock.
TimeOfDay systemTimeOfDay();

// ISO 8601 local time with milliseconds and offset: "2026-12-10T14:03:07.250+01:00".
// Moments outside the years 0000..9999 give an empty text.
std::string isoDateTime(const LogMoment& m);
// The same into `out` (at least kIsoDateTimeBytes); returns the bytes written.
inline constexpr std::size_t kIsoDateTimeBytes = 29;
std::size_t isoDateTime(const LogMoment& m, char* out);

// The same for many moments in a row (a save of millions): the date of the
// last day is kept instead of worked out again.
class IsoDateTimeWriter {
public:
    std::size_t write(const LogMoment& m, char* out);

private:
    std::int64_t m_day = 0;
    bool m_haveDay = false;
    char m_date[11] = {}; // "YYYY-MM-DDT"
};
// The form isoDateTime writes (also "Z" for +00:00, and no milliseconds or
// up to three digits of them); anything else, an offset beyond ±18:00 or a
// date that does not exist is no moment.
std::optional<LogMoment> parseIsoDateTime(std::string_view text);

} // namespace kq::record
