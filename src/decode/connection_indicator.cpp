#include "decode/connection_indicator.h"

namespace kq::decode {

bool ConTimerTimer(MeterState& state, const std::function<void()>& onStall) {
    if (state.IndicatorTicks != 2) {
        ++state.IndicatorTicks;
        return false;
    }
    const bool stalled = state.HidStallCount >= kHidStallLimit;
    if (stalled) {
        state.HidStallCount = 0;
        if (onStall)
            onStall();
    }
    state.display.setShown(Widget::conok, false);
    state.display.setShown(Widget::conokn, true);
    state.IndicatorTicks = 0;
    return stalled;
}

} // namespace kq::decode
