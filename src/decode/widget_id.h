#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string_view>

namespace kq::decode {

// Every element of the glass, the MIN/MAX strip and the limit panel that a
// decoder shows or hides. A decode line's "shown" field lists them by these names.
// Laid out by hand in groups, so each element stands where its name stands
// in kWidgetNames.
// clang-format off
enum class Widget : std::uint8_t {
    // main row and its points
    LcdDa, LcdDb, LcdDc, LcdDd, LcdP1, LcdP2, LcdP3,
    // annunciators inside the visible glass
    LCDHold, p_off, MAX, MIN, REL, perecent, Auto, Z, o1, o2, o3, o4, FC, LUX, X10, CD, t_p,
    power, FULL, loadNO, REC, z4, z3, z2, z11, usb1, PBar2,
    // second row and the clipped part of the panel
    LcdDa2, LcdDb2, LcdDc2, LcdDd2, LCDDE2, LCDDF2, LcdP12, LcdP22, LcdP32, LcdFH, T_dPoint1,
    T_dPoint2, AVE, PH, NO, ESC, NODATA, VEL, FLOW, KEY, TEMP, LOAD, TIMER, CFM, CMM, knots, mph,
    c, f, READ, ms, ftmin, kmh, m2, ft2, RH, time_l, V23, frame, Z1,
    // connection indicator of the limit panel
    conok, conokn,
    Count
};

inline constexpr std::size_t kWidgetCount = static_cast<std::size_t>(Widget::Count);

// The elements' names, indexed by Widget.
inline constexpr std::array<std::string_view, kWidgetCount> kWidgetNames = {
    "LcdDa", "LcdDb", "LcdDc", "LcdDd", "LcdP1", "LcdP2", "LcdP3",
    "LCDHold", "p_off", "MAX", "MIN", "REL", "perecent", "auto", "Z", "o1", "o2", "o3", "o4",
    "FC", "LUX", "X10", "CD", "t_p", "power", "FULL", "loadNO", "REC", "z4", "z3", "z2", "z11",
    "usb1", "PBar2",
    "LcdDa2", "LcdDb2", "LcdDc2", "LcdDd2", "LCDDE2", "LCDDF2", "LcdP12", "LcdP22", "LcdP32",
    "LcdFH", "T_dPoint1", "T_dPoint2", "AVE", "PH", "NO", "ESC", "NODATA", "VEL", "FLOW", "KEY",
    "TEMP", "LOAD", "TIMER", "CFM", "CMM", "knots", "mph", "c", "f", "READ", "ms", "ftmin", "kmh",
    "m2", "ft2", "RH", "time_l", "V23", "frame", "Z1",
    "conok", "conokn",
};
// clang-format on

constexpr std::string_view widgetName(Widget w) {
    return kWidgetNames[static_cast<std::size_t>(w)];
}

} // namespace kq::decode
