#pragma once

// The frames a meter sends, built from the meter's own view of its glass:
// which segments of which digit are lit. Written from the frame layouts, with
// tables of its own, so that the virtual meter checks the program's decoders
// instead of echoing them.

#include <array>
#include <cstdint>
#include <optional>
#include <random>
#include <string>
#include <string_view>
#include <vector>

namespace kq::sim {

enum class Form { Usb12B, Usb24B, Serial12B, Serial24B };

// Units a meter can light. The first four belong to the light meter (12B
// frames), the others to the air-velocity family (24B frames).
enum class Unit { Lux, Fc, Cd, X10Lux, Ms, FtMin, Kmh, Mph, Knots, Cfm, Cmm };

inline bool is12B(Form f) {
    return f == Form::Usb12B || f == Form::Serial12B;
}
inline bool isLightUnit(Unit u) {
    return u <= Unit::X10Lux;
}

// What one row of the glass shows: four glyphs, left to right, each ' '
// (dark), '0'..'9' or 'L', and the lit decimal point: 0 none, 1 after the
// first digit, 2 after the second, 3 after the third.
struct Glass {
    std::array<char, 4> glyphs{' ', ' ', ' ', ' '};
    int point = 0;
};

// Parses a displayed value as a user would type it: "19.99", "1999", "5.0",
// "0L" (the overload display, 0 and L in the middle digits), "L". Digits are
// right-aligned; one point, never after the last digit. Nothing else.
inline std::optional<Glass> parseGlass(std::string_view text) {
    if (text == "0L" || text == "OL") {
        Glass g;
        g.glyphs = {' ', '0', 'L', ' '};
        return g;
    }
    std::string glyphs;
    int pointAfter = -1; // number of glyphs before the point
    for (char c : text) {
        if (c == '.' || c == ',') {
            if (pointAfter >= 0 || glyphs.empty())
                return std::nullopt;
            pointAfter = static_cast<int>(glyphs.size());
        } else if ((c >= '0' && c <= '9') || c == 'L') {
            glyphs += c;
        } else {
            return std::nullopt;
        }
    }
    if (glyphs.empty() || glyphs.size() > 4 || pointAfter == static_cast<int>(glyphs.size()))
        return std::nullopt;
    Glass g;
    const std::size_t offset = 4 - glyphs.size();
    for (std::size_t i = 0; i < glyphs.size(); ++i)
        g.glyphs[offset + i] = glyphs[i];
    if (pointAfter > 0)
        g.point = static_cast<int>(offset) + pointAfter; // 1..3
    return g;
}

// Seven segments: a top, b upper right, c lower right, d bottom, e lower
// left, f upper left, g middle.
namespace seg {
inline constexpr std::uint8_t a = 1, b = 2, c = 4, d = 8, e = 16, f = 32, g = 64;
}

// Lit segments of each glyph the meters draw.
inline std::uint8_t segmentsOf(char glyph) {
    using namespace seg;
    switch (glyph) {
    case '0':
        return a | b | c | d | e | f;
    case '1':
        return b | c;
    case '2':
        return a | b | d | e | g;
    case '3':
        return a | b | c | d | g;
    case '4':
        return b | c | f | g;
    case '5':
        return a | c | d | f | g;
    case '6':
        return a | c | d | e | f | g;
    case '7':
        return a | b | c;
    case '8':
        return a | b | c | d | e | f | g;
    case '9':
        return a | b | c | d | f | g;
    case 'L':
        return d | e | f;
    default:
        return 0;
    }
}

inline bool lit(std::uint8_t segments, std::uint8_t s) {
    return (segments & s) != 0;
}

// Light-meter digit as two nibbles: the first carries bottom 8, middle 4,
// lower left 2, upper left 1; the second the point 8, upper right 4, lower
// right 2, top 1.
inline std::array<std::uint8_t, 2> nibbles12B(char glyph, bool point) {
    const auto s = segmentsOf(glyph);
    using namespace seg;
    const int first = lit(s, d) * 8 + lit(s, g) * 4 + lit(s, e) * 2 + lit(s, f);
    const int second = point * 8 + lit(s, b) * 4 + lit(s, c) * 2 + lit(s, a);
    return {static_cast<std::uint8_t>(first), static_cast<std::uint8_t>(second)};
}

// Two-row digit as two nibbles: the first carries top 8, upper right 4, lower
// right 2, the point 1; the second upper left 8, middle 4, lower left 2,
// bottom 1.
inline std::array<std::uint8_t, 2> nibbles24B(char glyph, bool point) {
    const auto s = segmentsOf(glyph);
    using namespace seg;
    const int first = lit(s, a) * 8 + lit(s, b) * 4 + lit(s, c) * 2 + point;
    const int second = lit(s, f) * 8 + lit(s, g) * 4 + lit(s, e) * 2 + lit(s, d);
    return {static_cast<std::uint8_t>(first), static_cast<std::uint8_t>(second)};
}

// The unit's bit in a light-meter frame: nibble 19 of the frame.
inline std::uint8_t unitNibble12B(Unit u) {
    switch (u) {
    case Unit::Lux:
        return 8;
    case Unit::Fc:
        return 4;
    case Unit::Cd:
        return 2;
    case Unit::X10Lux:
        return 1;
    default:
        return 0;
    }
}

// The unit's bit in a two-row frame: frame position (1-based) and weight.
struct UnitBit {
    int position;
    std::uint8_t weight;
};
inline std::optional<UnitBit> unitBit24B(Unit u) {
    switch (u) {
    case Unit::Cmm:
        return UnitBit{26, 4};
    case Unit::Cfm:
        return UnitBit{26, 2};
    case Unit::Ms:
        return UnitBit{26, 1};
    case Unit::Knots:
        return UnitBit{27, 8};
    case Unit::FtMin:
        return UnitBit{27, 4};
    case Unit::Mph:
        return UnitBit{27, 2};
    case Unit::Kmh:
        return UnitBit{28, 8};
    default:
        return std::nullopt;
    }
}

// The 32 nibbles of a light-meter frame, position 1 first. Digits are sent
// rightmost first, each followed by the point that stands before it on the
// glass; the USB symbol is lit, since the cable is attached.
inline std::array<std::uint8_t, 32> nibbles12BFrame(const Glass& g, Unit u, bool usbSymbol) {
    std::array<std::uint8_t, 32> n{};
    // digit index on the glass (0 = leftmost) for positions 3-4, 5-6, 7-8, 9-10
    constexpr int kDigitAt[4] = {3, 2, 1, 0};
    for (int slot = 0; slot < 4; ++slot) {
        const int digit = kDigitAt[slot];
        // the point after the digit: 3 after the third, 2 after the second, 1 after the first
        const bool point = digit < 3 && g.point == digit + 1;
        const auto pair = nibbles12B(g.glyphs[static_cast<std::size_t>(digit)], point);
        n[static_cast<std::size_t>(2 + 2 * slot)] = pair[0];
        n[static_cast<std::size_t>(3 + 2 * slot)] = pair[1];
    }
    n[18] = unitNibble12B(u);
    n[19] = usbSymbol ? 2 : 0;
    n[30] = 0x0D;
    n[31] = 0x0A;
    return n;
}

// The head of a two-row frame on the USB cable: its main row reads "usb.1".
inline constexpr std::array<std::uint8_t, 10> kHead24B = {0x0, 0x3, 0x6, 0x0, 0x3,
                                                          0xF, 0xA, 0xD, 0x6, 0xB};

// Puts a row of four digits, rightmost first, into nibbles starting at
// `first` (0-based), the point flags in the first nibble of each pair.
inline void put24BRow(std::uint8_t* n, const Glass& g) {
    constexpr int kDigitAt[4] = {3, 2, 1, 0};
    for (int slot = 0; slot < 4; ++slot) {
        const int digit = kDigitAt[slot];
        const bool point = digit < 3 && g.point == digit + 1;
        const auto pair = nibbles24B(g.glyphs[static_cast<std::size_t>(digit)], point);
        n[2 * slot] = pair[0];
        n[2 * slot + 1] = pair[1];
    }
}

// The 32 nibbles of a two-row frame on the USB cable: the fixed head, the
// reading on the second row, the unit, and CR LF.
inline std::array<std::uint8_t, 32> nibbles24BUsbFrame(const Glass& g, Unit u) {
    std::array<std::uint8_t, 32> n{};
    for (std::size_t i = 0; i < kHead24B.size(); ++i)
        n[i] = kHead24B[i];
    put24BRow(n.data() + 10, g);
    if (auto bit = unitBit24B(u))
        n[static_cast<std::size_t>(bit->position - 1)] |= bit->weight;
    n[20] |= 4; // VEL: the meter measures air velocity
    n[30] = 0x0D;
    n[31] = 0x0A;
    return n;
}

// Bytes of one frame in the chosen form. High nibbles that carry nothing are
// random, as on a real meter; those that frame the data are exact.
template <class Rng>
std::vector<std::uint8_t> encodeFrame(Form form, const Glass& g, Unit u, Rng& rng) {
    std::uniform_int_distribution<int> nibble(0, 15);
    std::uniform_int_distribution<int> nonZero(1, 15);
    std::vector<std::uint8_t> out;
    switch (form) {
    case Form::Usb12B:
    case Form::Usb24B: {
        const auto n =
            form == Form::Usb12B ? nibbles12BFrame(g, u, true) : nibbles24BUsbFrame(g, u);
        for (std::size_t k = 0; k < 30; ++k)
            out.push_back(static_cast<std::uint8_t>((nibble(rng) << 4) | n[k]));
        out.push_back(0x0D); // the meter ends each frame with CR LF
        out.push_back(0x0A);
        break;
    }
    case Form::Serial12B: {
        // 14 bytes; byte k carries k in its high nibble. Positions 15 on are
        // not sent: the decoder repeats position 14 there, so the unit bit
        // goes into position 14.
        auto n = nibbles12BFrame(g, u, false);
        n[13] = unitNibble12B(u);
        for (std::size_t k = 0; k < 14; ++k)
            out.push_back(static_cast<std::uint8_t>(((k + 1) << 4) | n[k]));
        break;
    }
    case Form::Serial24B: {
        // LF, nine data bytes (a free one, then the main row), CR. No data
        // byte may read as CR, so their high nibbles are never 0.
        std::array<std::uint8_t, 9> n{};
        n[0] = static_cast<std::uint8_t>(nibble(rng));
        put24BRow(n.data() + 1, g);
        out.push_back(0x0A);
        for (auto v : n)
            out.push_back(static_cast<std::uint8_t>((nonZero(rng) << 4) | v));
        out.push_back(0x0D);
        break;
    }
    }
    return out;
}

} // namespace kq::sim
