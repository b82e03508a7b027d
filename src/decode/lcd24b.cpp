#include "decode/lcd24b.h"

namespace kq::decode {
namespace {

// A block of 8 bits covers two frame positions: a b c point from the first, f g e d
// from the second. The segment code leaves the point out: a b c f g e d, a in the
// top bit of 7.
constexpr std::uint8_t codeByte(std::string_view bits) {
    std::uint8_t b = 0;
    for (char c : bits)
        b = static_cast<std::uint8_t>((b << 1) | (c == '1' ? 1 : 0));
    return b;
}

// Where a digit sits decides the few letters it may show.
enum Place : std::uint8_t { PlaceDa, PlaceDb, PlaceDc, PlaceOther, PlaceCount };

// Columns: segment code (a b c f g e d), text in LcdDa, LcdDb, LcdDc, every other digit.
struct SegmentCode {
    std::string_view code;
    std::array<char, PlaceCount> text;
};

constexpr std::array<SegmentCode, 13> kCodes = {{
    {"1111011", {'0', '0', '0', '0'}},
    {"0110000", {'1', '1', '1', '1'}},
    {"1100111", {'2', '2', '2', '2'}},
    {"1110101", {'3', '3', '3', '3'}},
    {"0111100", {'4', '4', '4', '4'}},
    {"1011101", {'5', 's', '5', '5'}},
    {"1011111", {'6', '6', '6', '6'}},
    {"1110000", {'7', '7', '7', '7'}},
    {"1111111", {'8', '8', '8', '8'}},
    {"1111101", {'9', '9', '9', '9'}},
    {"0001011", {'@', '@', '@', '@'}},
    {"0011111", {'\0', '\0', 'b', '\0'}},
    {"0111011", {'u', '\0', '\0', '\0'}},
}};

constexpr std::array<char, 128> buildTable(Place place) {
    std::array<char, 128> table{};
    for (const SegmentCode& c : kCodes)
        table[codeByte(c.code)] = c.text[place];
    return table;
}

constexpr std::array<char, 128> kTableDa = buildTable(PlaceDa);
constexpr std::array<char, 128> kTableDb = buildTable(PlaceDb);
constexpr std::array<char, 128> kTableDc = buildTable(PlaceDc);
constexpr std::array<char, 128> kTableOther = buildTable(PlaceOther);

// Segment code of the block whose first position is `firstPosition` (1-based).
constexpr std::uint8_t blockCode(const FrameNibbles& n, std::size_t firstPosition) {
    return static_cast<std::uint8_t>(((n[firstPosition - 1] >> 1) << 4) | n[firstPosition]);
}

constexpr bool blockPoint(const FrameNibbles& n, std::size_t firstPosition) {
    return (n[firstPosition - 1] & 1) != 0;
}

// Unit texts from the highest lit bit down; a multiplier bit replaces a unit below it.
// The bar stands where a unit has a slash, and is kept so in every text.
struct UnitBit {
    int bit;
    std::string_view text;
};
constexpr std::array<UnitBit, 10> kUnitsHighFirst = {{
    {112, "X100"},
    {110, "X10"},
    {109, "Km|h"},
    {108, "x1"},
    {107, "MPH"},
    {106, "ft|min"},
    {105, "Knots"},
    {104, "m|s"},
    {103, "CFM"},
    {102, "CMM"},
}};

} // namespace

Lcd24BFrame decode24B(const FrameNibbles& n) {
    Lcd24BFrame out;
    // Each row arrives rightmost digit first.
    out.digits[3] = kTableOther[blockCode(n, 3)];
    out.digits[2] = kTableDc[blockCode(n, 5)];
    out.digits[1] = kTableDb[blockCode(n, 7)];
    out.digits[0] = kTableDa[blockCode(n, 9)];
    out.row2[3] = kTableOther[blockCode(n, 11)];
    out.row2[2] = kTableOther[blockCode(n, 13)];
    out.row2[1] = kTableOther[blockCode(n, 15)];
    out.row2[0] = kTableOther[blockCode(n, 17)];

    out.bit12 = blockPoint(n, 3);
    out.bit20 = blockPoint(n, 5);
    out.bit28 = blockPoint(n, 7);
    out.bit36 = blockPoint(n, 9);
    out.bit52 = blockPoint(n, 13);
    out.bit60 = blockPoint(n, 15);
    out.bit68 = blockPoint(n, 17);

    std::uint64_t word = 0;
    for (std::size_t k = 18; k < 29; ++k)
        word = (word << 4) | n[k];
    out.annunciators = word;

    for (const UnitBit& u : kUnitsHighFirst) {
        if (annunciatorLit24B(word, u.bit)) {
            out.unit = u.text;
            break;
        }
    }
    return out;
}

} // namespace kq::decode
