#pragma once

#include "decode/meter_state.h"
#include "decode/number_text.h"
#include "mqtt/reading_message.h"

#include <charconv>
#include <cstdint>
#include <string>

namespace kq::cli {

inline const char* verdictText(decode::DisplayModel::Verdict v) {
    switch (v) {
    case decode::DisplayModel::Verdict::Pass:
        return "Pass";
    case decode::DisplayModel::Verdict::Fail:
        return "Fail";
    case decode::DisplayModel::Verdict::None:
        break;
    }
    return "";
}

// A reading as the broker and monitor's JSON lines get it: the value as a plain
// number with '.', whatever the system's separator, or none when the glass
// shows no number (an overload, blanks).
inline mqtt::ReadingFields readingFields(std::int64_t no, const decode::MeterState& state,
                                         decode::DisplayModel::Verdict verdict,
                                         std::string datetime) {
    mqtt::ReadingFields r;
    r.no = no;
    r.datetime = std::move(datetime);
    const double v = decode::textToNumber(state.ValueText, state.LocaleDecimalSeparator);
    if (v != decode::kNotANumber) {
        char buffer[32];
        const auto [end, ec] = std::to_chars(buffer, buffer + sizeof buffer, v);
        if (ec == std::errc{})
            r.value.assign(buffer, end);
    }
    r.unit = state.UnitText;
    r.verdict = verdictText(verdict);
    r.text = state.ValueText;
    return r;
}

} // namespace kq::cli
