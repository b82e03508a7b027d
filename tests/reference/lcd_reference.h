#pragma once

// A slow, literal rendering of the 12B and 24B decoders: the frame is expanded into a
// text of "0"/"1", digits are found by comparing 8- and 7-character slices with
// pattern texts built from the segments each glyph lights (not from the decoders'
// tables), widgets are named by their design names, and the MIN/MAX line is followed
// from what it is to show rather than step by step. The unit tests compare the fast
// decoders with it frame by frame, and the benchmark measures both.

#include "decode/meter_decoders.h"
#include "decode/meter_state.h"
#include "decode/number_text.h"
#include "decode/reading_sink.h"
#include "decode/widget_id.h"

#include <algorithm>
#include <bitset>
#include <cctype>
#include <map>
#include <stdexcept>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

namespace kq::reference {

using decode::DecodeStatus;
using decode::DisplayModel;
using decode::MeterState;

inline decode::Widget widgetByName(const std::string& name) {
    static const std::map<std::string, decode::Widget> byName = [] {
        std::map<std::string, decode::Widget> m;
        for (std::size_t i = 0; i < decode::kWidgetCount; ++i)
            m.emplace(std::string(decode::kWidgetNames[i]), static_cast<decode::Widget>(i));
        return m;
    }();
    const auto it = byName.find(name);
    if (it == byName.end())
        throw std::logic_error("no widget " + name);
    return it->second;
}

inline void show(MeterState& s, const std::string& name, bool on) {
    s.display.setShown(widgetByName(name), on);
}

inline bool shown(const MeterState& s, const std::string& name) {
    return s.display.isShown(widgetByName(name));
}

inline const std::vector<std::string>& shortBlankList() {
    static const std::vector<std::string> list = {
        "AVE",   "MAX",   "PH",    "MIN",    "READ",    "REC",   "NO",  "usb1", "ESC", "NODATA",
        "power", "VEL",   "frame", "FLOW",   "t_p",     "ft2",   "m2",  "c",    "f",   "RH",
        "KEY",   "TEMP",  "LOAD",  "time_l", "TIMER",   "p_off", "CFM", "CMM",  "ms",  "knots",
        "mph",   "ftmin", "X10",   "kmh",    "LCDHold", "V23",   "Z1"};
    return list;
}

inline const std::vector<std::string>& fullBlankList() {
    static const std::vector<std::string> list = [] {
        std::vector<std::string> l = shortBlankList();
        for (const char* n : {"perecent", "auto", "Z", "o1", "o2", "o3", "o4", "z4", "z3", "z2",
                              "z11", "FC", "LUX", "CD", "FULL", "loadNO"})
            l.push_back(n);
        return l;
    }();
    return list;
}

// A light-meter digit as the segments it lights. The eight characters of a
// digit's pattern are, in order: bottom, middle, lower left, upper left, the
// point, upper right, lower right, top.
enum class Seg12 { Bottom, Middle, LowerLeft, UpperLeft, Point, UpperRight, LowerRight, Top };

struct Glyph12 {
    std::string text;
    std::vector<Seg12> lit;
};

inline const std::vector<Glyph12>& glyphs12() {
    using S = Seg12;
    static const std::vector<Glyph12> glyphs = {
        {"0", {S::Top, S::UpperRight, S::LowerRight, S::Bottom, S::LowerLeft, S::UpperLeft}},
        {"1", {S::UpperRight, S::LowerRight}},
        {"2", {S::Top, S::UpperRight, S::Middle, S::LowerLeft, S::Bottom}},
        {"3", {S::Top, S::UpperRight, S::Middle, S::LowerRight, S::Bottom}},
        {"4", {S::UpperLeft, S::Middle, S::UpperRight, S::LowerRight}},
        {"5", {S::Top, S::UpperLeft, S::Middle, S::LowerRight, S::Bottom}},
        {"6", {S::Top, S::UpperLeft, S::Middle, S::LowerLeft, S::LowerRight, S::Bottom}},
        {"7", {S::Top, S::UpperRight, S::LowerRight}},
        {"8",
         {S::Top, S::UpperRight, S::LowerRight, S::Bottom, S::LowerLeft, S::UpperLeft, S::Middle}},
        {"9", {S::Top, S::UpperLeft, S::UpperRight, S::Middle, S::LowerRight, S::Bottom}},
        {"@", {S::Bottom, S::LowerLeft, S::UpperLeft}}, // the L shape
    };
    return glyphs;
}

inline std::string pattern12(const Glyph12& glyph, bool point) {
    std::string p(8, '0');
    for (Seg12 s : glyph.lit)
        p[static_cast<std::size_t>(s)] = '1';
    if (point)
        p[static_cast<std::size_t>(Seg12::Point)] = '1';
    return p;
}

// The seven-character code of a two-row-family digit from the letters of the
// segments it lights (a top, b upper right, c lower right, d bottom, e lower
// left, f upper left, g middle); the code lists them as a b c f g e d.
inline std::string segmentCode24(const std::string& lit) {
    std::string code;
    for (char segment : std::string("abcfged"))
        code += lit.find(segment) == std::string::npos ? '0' : '1';
    return code;
}

// Positions 1..32 as "0"/"1", a missing position repeating the one before. Returns
// false with the offending character when a position is no hexadecimal digit.
inline bool segmentBits(const std::string& frame, std::string& bits, char& bad) {
    const std::string hex = "0123456789ABCDEF";
    bits.clear();
    int value = 0;
    for (std::size_t k = 1; k <= 32; ++k) {
        if (k <= frame.size()) {
            const std::size_t v = hex.find(frame[k - 1]);
            if (v == std::string::npos) {
                bad = frame[k - 1];
                return false;
            }
            value = static_cast<int>(v);
        }
        bits += std::bitset<4>(static_cast<unsigned long>(value)).to_string();
    }
    return true;
}

inline char bit(const std::string& bits, int n) {
    return bits[static_cast<std::size_t>(n - 1)];
}

// A whole number: decimal digits only, at least one.
inline bool isWholeNumber(const std::string& text) {
    if (text.empty())
        return false;
    for (char c : text)
        if (!std::isdigit(static_cast<unsigned char>(c)))
            return false;
    return true;
}

// The MIN/MAX line holds the highest and the lowest reading since the unit or the lit decimal
// point last changed. A reading whose unit or point differs from those of the reading before it
// starts the tracking afresh, from minus and plus the full scale, and is not entered itself; the
// texts on the line stay until a reading reaches them. A reading as high as the highest so far
// (as low as the lowest) is the newest there and gives the line its text.
inline void referenceMinMax(MeterState& s) {
    const bool sameRange = s.UnitText == s.LastUnitText && s.PointState == s.LastPointState;
    s.LastUnitText = s.UnitText;
    s.LastPointState = s.PointState;
    if (!sameRange) {
        s.MaxValue = static_cast<float>(-s.range.FullScale);
        s.MinValue = static_cast<float>(s.range.FullScale);
    } else {
        s.MaxValue = std::max(s.MaxValue, s.ReadingValue);
        s.MinValue = std::min(s.MinValue, s.ReadingValue);
        if (s.ReadingValue == s.MaxValue)
            s.MaxValueText = s.ValueText;
        if (s.ReadingValue == s.MinValue)
            s.MinValueText = s.ValueText;
    }
    s.display.MaxText = s.MaxValueText;
    s.display.MinText = s.MinValueText;
    s.display.MaxTextU = s.UnitText;
    s.display.MinTextU = s.UnitText;
}

inline int referencePointState(const MeterState& s) {
    int p = 0;
    if (shown(s, "LcdP1"))
        p = 1;
    if (shown(s, "LcdP2"))
        p = 2;
    if (shown(s, "LcdP3"))
        p = 3;
    return p;
}

// Every frame lights the connection indicator before its positions are read, so a
// frame stopped by a bad character has still shown the meter as connected.
inline bool frameArrives(MeterState& s, std::string& bits, char& bad) {
    show(s, "conok", true);
    show(s, "conokn", false);
    s.IndicatorTicks = 0;
    return segmentBits(s.FrameText, bits, bad);
}

inline DecodeStatus referenceLcdDisplay12B(MeterState& s, decode::ReadingSink* sink) {
    std::string bits;
    char bad = 0;
    if (!frameArrives(s, bits, bad))
        return {DecodeStatus::Kind::BadCharacter, bad};

    // The window draws the glass of the family that spoke last.
    s.display.family = decode::DisplayModel::Family::Lcd12B;
    for (const std::string& name : fullBlankList())
        show(s, name, false);
    show(s, "T_dPoint1", true);
    show(s, "T_dPoint2", true);

    const auto lookup = [&](int first, bool pointColumn, bool lWithPoint) {
        const std::string slice = bits.substr(static_cast<std::size_t>(first - 1), 8);
        for (const auto& glyph : glyphs12()) {
            if (slice == pattern12(glyph, false))
                return glyph.text;
            if (pointColumn && slice == pattern12(glyph, true) && (glyph.text != "@" || lWithPoint))
                return glyph.text;
        }
        return std::string();
    };
    const std::string dd = lookup(9, false, false);
    const std::string dc = lookup(17, true, true);
    const std::string db = lookup(25, true, false);
    const std::string da = lookup(33, true, false);

    std::vector<std::string> row2;
    for (std::size_t k = 25; k <= 30; ++k)
        row2.push_back(k <= s.FrameText.size() ? s.FrameText.substr(k - 1, 1) : std::string());

    s.UnitText = "";
    std::string sep3, sep2, sep1;
    show(s, "LcdP3", bit(bits, 21) == '1');
    if (bit(bits, 21) == '1')
        sep3 = s.LocaleDecimalSeparator;
    show(s, "LcdP2", bit(bits, 29) == '1');
    if (bit(bits, 29) == '1')
        sep2 = s.LocaleDecimalSeparator;
    show(s, "LcdP1", bit(bits, 37) == '1');
    if (bit(bits, 37) == '1')
        sep1 = s.LocaleDecimalSeparator;

    static const std::vector<std::pair<int, std::string>> annunciators = {
        {73, "LUX"},  {74, "FC"},    {75, "CD"},  {76, "X10"},    {77, "loadNO"}, {78, "FULL"},
        {79, "usb1"}, {80, "power"}, {81, "t_p"}, {82, "Z"},      {83, "auto"},   {84, "perecent"},
        {85, "o1"},   {86, "o2"},    {87, "o3"},  {88, "o4"},     {91, "p_off"},  {92, "REC"},
        {93, "REL"},  {94, "MIN"},   {95, "MAX"}, {96, "LCDHold"}};
    for (const auto& [n, name] : annunciators) {
        show(s, name, bit(bits, n) == '1');
        if (bit(bits, n) == '1') {
            if (n == 73)
                s.UnitText = "lux";
            if (n == 74)
                s.UnitText = "fc";
            if (n == 75)
                s.UnitText = "cd";
            if (n == 76)
                s.UnitText = "X10-lux";
        }
    }

    s.display.digits = {da, db, dc, dd};
    for (std::size_t i = 0; i < 6; ++i)
        s.display.row2[i] = row2[i];
    s.PointState = referencePointState(s);
    s.ValueText = da + sep1 + db + sep2 + (dc == "@" ? std::string("L") : dc) + sep3 + dd;

    if (dc + db == "@0") {
        s.ReadingValue = static_cast<float>(s.range.FullScale);
    } else if (isWholeNumber(da + db + dc + dd)) {
        s.ReadingValue = static_cast<float>(std::stoi(da + db + dc + dd));
    } else {
        return {DecodeStatus::Kind::NoReading};
    }

    referenceMinMax(s);

    s.display.T1VALUE = s.ValueText;
    const double hi = decode::textToNumber(s.T1HI, s.LocaleDecimalSeparator);
    const double lo = decode::textToNumber(s.T1LO, s.LocaleDecimalSeparator);
    if (hi != -999999 && lo != -999999) {
        const double v = decode::textToNumber(s.ValueText, s.LocaleDecimalSeparator);
        bool fail = true;
        if (v != -999999)
            fail = lo > v || v > hi;
        s.display.verdict = fail ? DisplayModel::Verdict::Fail : DisplayModel::Verdict::Pass;
        s.display.judge = fail ? "Fail" : "Pass";
    }

    if (sink != nullptr)
        sink->INDataToTable(s);

    if (dc + db == "@0") {
        s.display.PBar2 = s.range.FullScaleDiv100;
    } else {
        const int n = std::stoi(da + db + dc + dd);
        s.display.PBar2 = n >= 2 ? n : 1;
    }

    show(s, "usb1", true);
    show(s, "T_dPoint1", true);
    show(s, "T_dPoint2", true);
    return {DecodeStatus::Kind::Reading};
}

inline DecodeStatus referenceLcdDisplay24B(MeterState& s) {
    std::string bits;
    char bad = 0;
    if (!frameArrives(s, bits, bad))
        return {DecodeStatus::Kind::BadCharacter, bad};

    s.display.family = decode::DisplayModel::Family::Lcd24B;
    for (const std::string& name : shortBlankList())
        show(s, name, false);

    // text, segments lit, where ("all", or the one digit)
    static const std::vector<std::vector<std::string>> codes = {{"0", "abcdef", "all"},
                                                                {"1", "bc", "all"},
                                                                {"2", "abged", "all"},
                                                                {"3", "abcgd", "all"},
                                                                {"4", "bcfg", "all"},
                                                                {"s", "acdfg", "LcdDb"},
                                                                {"5", "acdfg", "other than LcdDb"},
                                                                {"6", "acdefg", "all"},
                                                                {"7", "abc", "all"},
                                                                {"8", "abcdefg", "all"},
                                                                {"9", "abcdfg", "all"},
                                                                {"@", "def", "all"},
                                                                {"b", "cdefg", "LcdDc"},
                                                                {"u", "bcdef", "LcdDa"}};
    const auto decodeBlock = [&](int first, const std::string& label) {
        std::string code;
        for (int offset : {0, 1, 2, 4, 5, 6, 7})
            code += bit(bits, first + offset);
        for (const auto& row : codes) {
            if (segmentCode24(row[1]) != code)
                continue;
            if (row[2] == "all" || row[2] == label ||
                (row[2] == "other than LcdDb" && label != "LcdDb"))
                return row[0];
        }
        return std::string();
    };
    const std::string dd = decodeBlock(9, "LcdDd");
    const std::string dc = decodeBlock(17, "LcdDc");
    const std::string db = decodeBlock(25, "LcdDb");
    const std::string da = decodeBlock(33, "LcdDa");
    const std::string dd2 = decodeBlock(41, "LcdDd2");
    const std::string dc2 = decodeBlock(49, "LcdDc2");
    const std::string db2 = decodeBlock(57, "LcdDb2");
    const std::string da2 = decodeBlock(65, "LcdDa2");

    s.UnitText = "";
    std::string sepA, sepB, sepC;
    static const std::vector<std::pair<int, std::string>> points = {
        {12, "LcdP1"},  {20, "LcdP3"},  {28, "LcdP2"}, {36, "LcdP1"},
        {52, "LcdP32"}, {60, "LcdP22"}, {68, "LcdP12"}};
    for (const auto& [n, name] : points) {
        show(s, name, bit(bits, n) == '1');
        if (bit(bits, n) == '1') {
            if (n == 12 || n == 36)
                sepA = s.LocaleDecimalSeparator;
            if (n == 28)
                sepB = s.LocaleDecimalSeparator;
            if (n == 20)
                sepC = s.LocaleDecimalSeparator;
        }
    }

    static const std::vector<std::tuple<int, std::string, std::string>> annunciators = {
        {73, "AVE", ""},          {74, "MAX", ""},     {75, "V23", ""},     {76, "PH", ""},
        {77, "MIN", ""},          {78, "REC", ""},     {79, "READ", ""},    {80, "usb1", ""},
        {81, "ESC", ""},          {82, "VEL", ""},     {83, "NODATA", ""},  {84, "power", ""},
        {85, "frame", ""},        {86, "FLOW", ""},    {87, "LcdFH", ""},   {88, "LCDHold", ""},
        {89, "t_p", ""},          {90, "ft2", ""},     {92, "m2", ""},      {93, "c", ""},
        {94, "RH", ""},           {95, "f", ""},       {96, "KEY", ""},     {97, "TEMP", ""},
        {98, "LOAD", ""},         {99, "loadNO", ""},  {100, "time_l", ""}, {101, "TIMER", ""},
        {102, "CMM", "CMM"},      {103, "CFM", "CFM"}, {104, "ms", "m|s"},  {105, "knots", "Knots"},
        {106, "ftmin", "ft|min"}, {107, "mph", "MPH"}, {108, "X10", "x1"},  {109, "kmh", "Km|h"},
        {110, "Z1", "X10"},       {111, "p_off", ""},  {112, "", "X100"},   {113, "NO", ""}};
    for (const auto& [n, name, unit] : annunciators) {
        if (n == 113 && bit(bits, 112) == '1')
            continue;
        if (!name.empty())
            show(s, name, bit(bits, n) == '1');
        if (!unit.empty() && bit(bits, n) == '1')
            s.UnitText = unit;
    }

    s.ValueText = da + sepA + db + sepB + (dc == "@" ? std::string("L") : dc) + sepC + dd;
    s.PointState = referencePointState(s);

    // The reading this program derives for the two-row family: the light meter's rule,
    // negative under the minus sign.
    const float sign = bit(bits, 87) == '1' ? -1.0f : 1.0f;
    if (dc + db == "@0")
        s.ReadingValue = sign * static_cast<float>(s.range.FullScale);
    else if (isWholeNumber(da + db + dc + dd))
        s.ReadingValue = sign * static_cast<float>(std::stoi(da + db + dc + dd));
    bool reading = dc + db == "@0" || isWholeNumber(da + db + dc + dd);
    // No number on the main row ("usb.1" on the cable): the second row's reading,
    // with its own points, is the one MIN/MAX follows.
    if (!reading && (dc2 + db2 == "@0" || isWholeNumber(da2 + db2 + dc2 + dd2))) {
        reading = true;
        s.ReadingValue =
            sign * static_cast<float>(dc2 + db2 == "@0" ? s.range.FullScale
                                                        : std::stoi(da2 + db2 + dc2 + dd2));
        const auto sep = [&](int n) {
            return bit(bits, n) == '1' ? s.LocaleDecimalSeparator : std::string();
        };
        s.ValueText =
            da2 + sep(68) + db2 + sep(60) + (dc2 == "@" ? std::string("L") : dc2) + sep(52) + dd2;
        s.PointState = 0;
        if (bit(bits, 68) == '1')
            s.PointState = 1;
        if (bit(bits, 60) == '1')
            s.PointState = 2;
        if (bit(bits, 52) == '1')
            s.PointState = 3;
    }

    referenceMinMax(s);

    s.display.digits = {da, db, dc, dd};
    s.display.row2[0] = da2;
    s.display.row2[1] = db2;
    s.display.row2[2] = dc2;
    s.display.row2[3] = dd2;
    return {reading ? DecodeStatus::Kind::Reading : DecodeStatus::Kind::NoReading};
}

} // namespace kq::reference
