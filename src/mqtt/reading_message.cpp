#include "mqtt/reading_message.h"

#include "decode/json_line.h"

#include <charconv>
#include <cmath>

namespace kq::mqtt {

std::string readingMessage(const ReadingFields& r) {
    decode::JsonLine j;
    j.integer("no", r.no);
    if (r.datetime.empty())
        j.null("datetime");
    else
        j.string("datetime", r.datetime);
    double v = 0.0;
    const auto [end, ec] = std::from_chars(r.value.data(), r.value.data() + r.value.size(), v);
    if (!r.value.empty() && ec == std::errc{} && end == r.value.data() + r.value.size() &&
        std::isfinite(v))
        j.number("value", v);
    else
        j.null("value");
    j.string("unit", r.unit);
    if (r.verdict.empty())
        j.null("verdict");
    else
        j.string("verdict", r.verdict);
    j.string("text", r.text);
    return j.text();
}

std::string droppedMessage(std::uint64_t dropped) {
    decode::JsonLine j;
    j.integer("dropped", static_cast<long long>(dropped));
    return j.text();
}

} // namespace kq::mqtt
