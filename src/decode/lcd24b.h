#pragma once

#include "decode/frame_nibbles.h"
#include "decode/widget_id.h"

#include <array>
#include <cstdint>
#include <string_view>

namespace kq::decode {

// What one frame of the two-row family lights. Digits are '0'..'9', '@' (the L
// shape), 's' (LcdDb only), 'b' (LcdDc only), 'u' (LcdDa only) or '\0' (blank).
struct Lcd24BFrame {
    std::array<char, 4> digits{}; // LcdDa, LcdDb, LcdDc, LcdDd
    std::array<char, 4> row2{};   // LcdDa2, LcdDb2, LcdDc2, LcdDd2
    // Point flags, segment bits 12, 20, 28, 36, 52, 60, 68 (bit 44 is not wired).
    bool bit12 = false, bit20 = false, bit28 = false, bit36 = false;
    bool bit52 = false, bit60 = false, bit68 = false;
    std::uint64_t annunciators = 0; // segment bits 73..116, bit 116 in bit 0
    std::string_view unit;          // the highest lit unit or multiplier bit, or empty
};

struct AnnunciatorBit24B {
    int bit;
    Widget widget;
};

// Bit 91 is not wired; bit 112 (the X100 multiplier) has no widget; bit 113 (NO) is
// read only when bit 112 is clear.
inline constexpr std::array<AnnunciatorBit24B, 38> kAnnunciators24B = {{
    {73, Widget::AVE},    {74, Widget::MAX},    {75, Widget::V23},     {76, Widget::PH},
    {77, Widget::MIN},    {78, Widget::REC},    {79, Widget::READ},    {80, Widget::usb1},
    {81, Widget::ESC},    {82, Widget::VEL},    {83, Widget::NODATA},  {84, Widget::power},
    {85, Widget::frame},  {86, Widget::FLOW},   {87, Widget::LcdFH},   {88, Widget::LCDHold},
    {89, Widget::t_p},    {90, Widget::ft2},    {92, Widget::m2},      {93, Widget::c},
    {94, Widget::RH},     {95, Widget::f},      {96, Widget::KEY},     {97, Widget::TEMP},
    {98, Widget::LOAD},   {99, Widget::loadNO}, {100, Widget::time_l}, {101, Widget::TIMER},
    {102, Widget::CMM},   {103, Widget::CFM},   {104, Widget::ms},     {105, Widget::knots},
    {106, Widget::ftmin}, {107, Widget::mph},   {108, Widget::X10},    {109, Widget::kmh},
    {110, Widget::Z1},    {111, Widget::p_off},
}};

constexpr bool annunciatorLit24B(std::uint64_t annunciators, int bit) {
    return ((annunciators >> (116 - bit)) & 1u) != 0;
}

// Reads the two digit rows, point flags, annunciators and unit of one frame whose
// positions are already checked (see readFrameNibbles).
Lcd24BFrame decode24B(const FrameNibbles& nibbles);

} // namespace kq::decode
