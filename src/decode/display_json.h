#pragma once

#include "decode/frame_select.h"
#include "decode/json_line.h"
#include "decode/meter_state.h"

#include <string_view>

namespace kq::decode {

// What the glass and its panels show after a frame, as the members of one JSON line:
// frame, decoder, digits, row2, shown, unit, value, reading, pointState, minText,
// maxText, minUnit, maxUnit, measure, verdict, bar, connected. Callers append their
// own members (the reading log's, for instance) before taking the text.
void appendDisplayMembers(JsonLine& line, const MeterState& state, std::string_view frame,
                          Decoder decoder);

} // namespace kq::decode
