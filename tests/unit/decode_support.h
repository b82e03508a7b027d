#pragma once

// Frames and states the decoder tests build on.

#include "decode/meter_state.h"
#include "decode/model_switch.h"
#include "decode/reading_sink.h"
#include "decode/widget_id.h"

#include <initializer_list>
#include <set>
#include <string>
#include <utility>
#include <vector>

namespace kq::decode::test {

// A 32-position frame of "0" with the given positions (1-based) set, ending in "DA"
// unless a position overrides it.
inline std::string frameWith(std::initializer_list<std::pair<int, char>> positions) {
    std::string frame(32, '0');
    frame[30] = 'D';
    frame[31] = 'A';
    for (const auto& [position, c] : positions)
        frame[static_cast<std::size_t>(position - 1)] = c;
    return frame;
}

// Positions written as a string starting at `first` (1-based) into a frame.
inline std::string frameFrom(int first, const std::string& digits, std::string frame = "") {
    if (frame.empty())
        frame = frameWith({});
    frame.replace(static_cast<std::size_t>(first - 1), digits.size(), digits);
    return frame;
}

// The light meter as built, with the given decimal separator.
inline MeterState builtState(const std::string& separator = ".") {
    MeterState state;
    ModelSwitchSet switches;
    switches.setChecked(ModelSwitch::ifkq510, true);
    applyStartup(state, switches, separator);
    return state;
}

inline std::set<std::string> shownNames(const DisplayModel& d) {
    std::set<std::string> names;
    for (std::size_t i = 0; i < kWidgetCount; ++i)
        if (d.shown.test(i))
            names.emplace(kWidgetNames[i]);
    return names;
}

// Names shown among the annunciators a 12B frame drives (the full blank list, REL,
// the points), so a test can state every annunciator it expects in one set.
inline std::set<std::string> shownAnnunciators(const DisplayModel& d) {
    std::set<std::string> all = shownNames(d);
    for (const char* keep :
         {"LcdDa", "LcdDb", "LcdDc", "LcdDd", "PBar2", "LcdDa2", "LcdDb2", "LcdDc2", "LcdDd2",
          "LCDDE2", "LCDDF2", "conok", "conokn", "T_dPoint1", "T_dPoint2"})
        all.erase(keep);
    return all;
}

class RecordingSink : public ReadingSink {
public:
    void INDataToTable(const MeterState& state) override { values.push_back(state.ValueText); }
    std::vector<std::string> values;
};

} // namespace kq::decode::test
