#pragma once

#include "decode/meter_state.h"

#include <functional>

namespace kq::decode {

// A HID bridge that keeps sending reports without meter data is released after
// this many such reports, at the next pause in decoded frames.
inline constexpr int kHidStallLimit = 1900;

// One 100 ms tick of the connection timer. On the third tick since a decoder last
// saw a frame the indicator falls back to "not connected". That tick is also the
// only one that checks for a stalled HID link: when it has stalled, the count
// restarts at 0 first, then `onStall` runs (the window releases the HID button,
// stops the device's reading and shows its modal message), and only after it has
// returned does the indicator turn off. Ticks that arrive while the message is open
// therefore find the count at 0 and do not show it again.
// Returns whether the link had stalled.
bool ConTimerTimer(MeterState& state, const std::function<void()>& onStall = {});

} // namespace kq::decode
