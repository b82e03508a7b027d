#pragma once

#include "decode/meter_state.h"

#include <cstdio>
#include <ctime>
#include <string>

namespace kq::cli {

// One decoded frame as a monitor prints it: time of day, the value as the
// meter shows it, the unit, the verdict, separated by tabs.
inline void printReadingLine(const decode::MeterState& state) {
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    char time[16];
    std::strftime(time, sizeof time, "%H:%M:%S", &local);
    std::printf("%s\t%s\t%s\t%s\n", time, state.ValueText.c_str(), state.UnitText.c_str(),
                state.display.judge.c_str());
    std::fflush(stdout);
}

} // namespace kq::cli
