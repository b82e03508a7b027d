#pragma once

#include <cstdint>
#include <string>

namespace kq::mqtt {

// One logged reading as the CSV form holds it: the value is a plain number with
// '.' (empty when the glass showed no number, e.g. an overload), the datetime
// ISO 8601 with milliseconds and offset (empty when unknown), the verdict
// "Pass", "Fail" or empty, the text as the meter showed it.
struct ReadingFields {
    std::int64_t no = 0;
    std::string datetime;
    std::string value;
    std::string unit;
    std::string verdict;
    std::string text;
};

// The message published for a reading, one JSON object:
// {"no":..,"datetime":..,"value":..,"unit":..,"verdict":..,"text":..}; an empty
// datetime, value or verdict is null, the value otherwise a JSON number.
std::string readingMessage(const ReadingFields& reading);

// The message that tells how many readings were dropped while the broker was
// away: {"dropped":N}.
std::string droppedMessage(std::uint64_t dropped);

} // namespace kq::mqtt
