#include "decode/lcd12b.h"

namespace kq::decode {
namespace {

// A digit pattern as a byte, first segment in the top bit. The segments are, from the
// top bit down: bottom, middle, lower left, upper left, point, upper right, lower
// right, top; so the first position of a digit is the high nibble.
constexpr std::uint8_t patternByte(std::string_view bits) {
    std::uint8_t b = 0;
    for (char c : bits)
        b = static_cast<std::uint8_t>((b << 1) | (c == '1' ? 1 : 0));
    return b;
}

// Columns: digit text, pattern with the point bit clear, pattern with the point bit set.
struct SegmentPattern {
    char text;
    std::string_view pointClear;
    std::string_view pointSet;
};

constexpr std::array<SegmentPattern, 11> kPatterns = {{
    {'0', "10110111", "10111111"},
    {'1', "00000110", "00001110"},
    {'2', "11100101", "11101101"},
    {'3', "11000111", "11001111"},
    {'4', "01010110", "01011110"},
    {'5', "11010011", "11011011"},
    {'6', "11110011", "11111011"},
    {'7', "00000111", "00001111"},
    {'8', "11110111", "11111111"},
    {'9', "11010111", "11011111"},
    {'@', "10110000", "10111000"},
}};

// The rightmost digit has no point; LcdDc takes every pattern; the two left digits
// take the L shape only without the point.
enum class Accepts { PointClear, Both, BothButLWithPoint };

constexpr std::array<char, 256> buildTable(Accepts accepts) {
    std::array<char, 256> table{};
    for (const SegmentPattern& p : kPatterns) {
        table[patternByte(p.pointClear)] = p.text;
        const bool withPoint =
            accepts == Accepts::Both || (accepts == Accepts::BothButLWithPoint && p.text != '@');
        if (withPoint)
            table[patternByte(p.pointSet)] = p.text;
    }
    return table;
}

constexpr std::array<char, 256> kDigitDd = buildTable(Accepts::PointClear);
constexpr std::array<char, 256> kDigitDc = buildTable(Accepts::Both);
constexpr std::array<char, 256> kDigitDab = buildTable(Accepts::BothButLWithPoint);

constexpr std::uint8_t pairByte(const FrameNibbles& n, std::size_t firstPosition) {
    return static_cast<std::uint8_t>((n[firstPosition - 1] << 4) | n[firstPosition]);
}

} // namespace

Lcd12BFrame decode12B(const FrameNibbles& n, std::string_view frame) {
    Lcd12BFrame out;
    out.digits[3] = kDigitDd[pairByte(n, 3)];
    out.digits[2] = kDigitDc[pairByte(n, 5)];
    out.digits[1] = kDigitDab[pairByte(n, 7)];
    out.digits[0] = kDigitDab[pairByte(n, 9)];
    // The point of a digit is the 8-bit of its second position.
    out.p3 = (n[5] & 8) != 0;
    out.p2 = (n[7] & 8) != 0;
    out.p1 = (n[9] & 8) != 0;

    std::uint32_t word = 0;
    for (std::size_t k = 18; k < 24; ++k)
        word = (word << 4) | n[k];
    out.annunciators = word;

    // Unit bits in the order lux, fc, cd, X10: the last one lit wins.
    if (annunciatorLit12B(word, 76))
        out.unit = "X10-lux";
    else if (annunciatorLit12B(word, 75))
        out.unit = "cd";
    else if (annunciatorLit12B(word, 74))
        out.unit = "fc";
    else if (annunciatorLit12B(word, 73))
        out.unit = "lux";

    for (std::size_t i = 0; i < out.row2.size(); ++i)
        out.row2[i] = 24 + i < frame.size() ? frame[24 + i] : '\0';
    return out;
}

} // namespace kq::decode
