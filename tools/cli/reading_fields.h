#pragma once

#include "decode/meter_state.h"
#include "files/csv_fields.h"
#include "mqtt/reading_message.h"

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

// A reading as the broker and monitor's JSON and CSV lines get it, the fields
// of a CSV log: the value as a plain number with '.', whatever the system's
// separator, or none when the glass shows no number (an overload, blanks).
inline mqtt::ReadingFields readingFields(std::int64_t no, const decode::MeterState& state,
                                         decode::DisplayModel::Verdict verdict,
                                         std::string datetime) {
    mqtt::ReadingFields r;
    r.no = no;
    r.datetime = std::move(datetime);
    r.value = files::plainNumber(state.ValueText);
    r.unit = state.UnitText;
    r.verdict = verdictText(verdict);
    r.text = state.ValueText;
    return r;
}

} // namespace kq::cli
