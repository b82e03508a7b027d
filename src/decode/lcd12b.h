#pragma once

#include "decode/frame_nibbles.h"
#include "decode/widget_id.h"

#include <array>
#include <cstdint>
#include <string_view>

namespace kq::decode {

// What one frame of the light-meter family lights on the glass, before any of it
// reaches the display model. Digits are '0'..'9', '@' (the L shape) or '\0' (blank).
struct Lcd12BFrame {
    std::array<char, 4> digits{};            // LcdDa, LcdDb, LcdDc, LcdDd (left to right)
    bool p1 = false, p2 = false, p3 = false; // points after LcdDa, LcdDb, LcdDc
    std::uint32_t annunciators = 0;          // segment bits 73..96, bit 96 in bit 0
    std::array<char, 6> row2{};              // raw characters of positions 25..30, '\0' if missing
    std::string_view unit;                   // "lux", "fc", "cd", "X10-lux" or empty
};

// Segment bit n (73..96) of the annunciator field, and the widget it lights.
struct AnnunciatorBit {
    int bit;
    Widget widget;
};

// Bits 89 and 90 light nothing on this glass.
inline constexpr std::array<AnnunciatorBit, 22> kAnnunciators12B = {{
    {73, Widget::LUX},    {74, Widget::FC},      {75, Widget::CD},   {76, Widget::X10},
    {77, Widget::loadNO}, {78, Widget::FULL},    {79, Widget::usb1}, {80, Widget::power},
    {81, Widget::t_p},    {82, Widget::Z},       {83, Widget::Auto}, {84, Widget::perecent},
    {85, Widget::o1},     {86, Widget::o2},      {87, Widget::o3},   {88, Widget::o4},
    {91, Widget::p_off},  {92, Widget::REC},     {93, Widget::REL},  {94, Widget::MIN},
    {95, Widget::MAX},    {96, Widget::LCDHold},
}};

constexpr bool annunciatorLit12B(std::uint32_t annunciators, int bit) {
    return ((annunciators >> (96 - bit)) & 1u) != 0;
}

// Reads the digits, points, annunciators, unit and second row of one frame whose
// positions are already checked (see readFrameNibbles).
Lcd12BFrame decode12B(const FrameNibbles& nibbles, std::string_view frame);

} // namespace kq::decode
