#include "decode/meter_decoders.h"
#include "decode_support.h"

#include <gtest/gtest.h>

#include <array>
#include <map>
#include <ostream>
#include <set>
#include <string>
#include <vector>

namespace kq::decode {
namespace {

using test::builtState;
using test::RecordingSink;
using test::shownNames;
using Kind = DecodeStatus::Kind;

constexpr char kHex[] = "0123456789ABCDEF";

// Segment code "abcfged" and point flag as the two frame positions of a block.
std::string block(const std::string& code, bool point = false) {
    const auto b = [&](std::size_t i) { return code[i] == '1' ? 1 : 0; };
    const int first = b(0) << 3 | b(1) << 2 | b(2) << 1 | (point ? 1 : 0);
    const int second = b(3) << 3 | b(4) << 2 | b(5) << 1 | b(6);
    return {kHex[first], kHex[second]};
}

const std::map<char, std::string> kCodes = {{'0', "1111011"}, {'1', "0110000"}, {'2', "1100111"},
                                            {'3', "1110101"}, {'4', "0111100"}, {'5', "1011101"},
                                            {'6', "1011111"}, {'7', "1110000"}, {'8', "1111111"},
                                            {'9', "1111101"}, {'@', "0001011"}, {' ', "0000000"}};

// First frame position of the block of each digit label.
constexpr int kDd = 3, kDc = 5, kDb = 7, kDa = 9, kDd2 = 11, kDc2 = 13, kDb2 = 15, kDa2 = 17;

void put(std::string& frame, int position, const std::string& text) {
    frame.replace(static_cast<std::size_t>(position - 1), text.size(), text);
}

void setBit(std::string& frame, int n) {
    const std::size_t position = static_cast<std::size_t>((n - 1) / 4);
    const int weight = 8 >> ((n - 1) % 4);
    const char c = frame[position];
    const int old = c <= '9' ? c - '0' : c - 'A' + 10;
    frame[position] = kHex[old | weight];
}

// A frame of the two-row family: main row Da..Dd from `row1` (' ' blank), bits set.
std::string frame24(const std::string& row1, std::initializer_list<int> bits = {}) {
    std::string frame(32, '0');
    const int positions[] = {kDa, kDb, kDc, kDd};
    for (std::size_t i = 0; i < row1.size() && i < 4; ++i)
        put(frame, positions[i], block(kCodes.at(row1[i])));
    for (int n : bits)
        setBit(frame, n);
    return frame;
}

MeterState decoded(const std::string& frame, const std::string& separator = ".") {
    MeterState state = builtState(separator);
    state.FrameText = frame;
    LcdDisplay24B(state);
    return state;
}

TEST(Decode24B, SelectionPrefixReadsUsbPointOne) {
    const MeterState s = decoded("03603FAD6B" + std::string(22, '0'));
    const std::array<std::string, 4> digits = {"u", "s", "b", "1"};
    EXPECT_EQ(s.display.digits, digits);
    EXPECT_TRUE(s.display.isShown(Widget::LcdP3));
    EXPECT_FALSE(s.display.isShown(Widget::LcdP1));
    EXPECT_FALSE(s.display.isShown(Widget::LcdP2));
    EXPECT_EQ(s.ValueText, "usb.1");
    EXPECT_EQ(s.PointState, 3);
}

struct PlacedCode {
    std::string code;
    int position;
    int digitIndex; // 0..3 main row Da..Dd, 4..7 second row Da2..Dd2
    std::string text;
};

TEST(Decode24B, LettersOnlyInTheirOwnDigit) {
    const std::vector<PlacedCode> cases = {
        {"1011101", kDb, 1, "s"},  {"1011101", kDa, 0, "5"},  {"1011101", kDc, 2, "5"},
        {"1011101", kDd, 3, "5"},  {"1011101", kDb2, 5, "5"}, {"0011111", kDc, 2, "b"},
        {"0011111", kDb, 1, ""},   {"0011111", kDc2, 6, ""},  {"0011111", kDd, 3, ""},
        {"0111011", kDa, 0, "u"},  {"0111011", kDa2, 4, ""},  {"0111011", kDb, 1, ""},
        {"0001011", kDd2, 7, "@"}, {"1111011", kDa2, 4, "0"}, {"0110000", kDb2, 5, "1"},
        {"1111111", kDc2, 6, "8"}, {"0000100", kDa, 0, ""},   {"1111110", kDd, 3, ""},
    };
    for (const PlacedCode& c : cases) {
        std::string frame(32, '0');
        put(frame, c.position, block(c.code));
        const MeterState s = decoded(frame);
        const std::string& shown = c.digitIndex < 4
                                       ? s.display.digits[static_cast<std::size_t>(c.digitIndex)]
                                       : s.display.row2[static_cast<std::size_t>(c.digitIndex - 4)];
        EXPECT_EQ(shown, c.text) << c.code << " at position " << c.position;
    }
}

struct ValueCase {
    std::string name;
    std::string frame;
    std::array<std::string, 4> digits;
    std::string valueText;
    int pointState;
};

void PrintTo(const ValueCase& c, std::ostream* os) {
    *os << c.name;
}

class Decode24BValue : public ::testing::TestWithParam<ValueCase> {};

TEST_P(Decode24BValue, BuildsTheValueTextFromTheMainRow) {
    const ValueCase& c = GetParam();
    const MeterState s = decoded(c.frame);
    EXPECT_EQ(s.display.digits, c.digits);
    EXPECT_EQ(s.ValueText, c.valueText);
    EXPECT_EQ(s.PointState, c.pointState);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, Decode24BValue,
    ::testing::Values(
        ValueCase{"LShapeInThirdDigitIsL", frame24(" 0@ "), {"", "0", "@", ""}, "0L", 0},
        ValueCase{"LShapeElsewhereStaysAt", frame24("@1 @"), {"@", "1", "", "@"}, "@1@", 0},
        ValueCase{
            "AllDigitBitsOffGiveOnlySeparators", frame24("", {20, 28}), {"", "", "", ""}, "..", 3},
        ValueCase{"FirstBlockPointGivesTextButNoShape",
                  frame24("1234", {12}),
                  {"1", "2", "3", "4"},
                  "1.234",
                  0},
        ValueCase{
            "FourthBlockPointGivesBoth", frame24("1234", {36}), {"1", "2", "3", "4"}, "1.234", 1},
        ValueCase{"SecondPointAfterDb", frame24("1234", {28}), {"1", "2", "3", "4"}, "12.34", 2},
        ValueCase{
            "MinusSignEntersNoText", frame24("1234", {87, 20}), {"1", "2", "3", "4"}, "123.4", 3}),
    [](const ::testing::TestParamInfo<ValueCase>& info) { return info.param.name; });

TEST(Decode24B, SecondRowHasShapesButNoText) {
    std::string frame = frame24("1234");
    put(frame, kDa2, block(kCodes.at('5')));
    put(frame, kDd2, block(kCodes.at('9')));
    for (int n : {52, 60, 68, 44})
        setBit(frame, n);
    const MeterState s = decoded(frame);
    EXPECT_TRUE(s.display.isShown(Widget::LcdP12));
    EXPECT_TRUE(s.display.isShown(Widget::LcdP22));
    EXPECT_TRUE(s.display.isShown(Widget::LcdP32));
    EXPECT_EQ(s.ValueText, "1234");
    EXPECT_EQ(s.display.row2[0], "5");
    EXPECT_EQ(s.display.row2[3], "9");
    // the two extra second-row captions belong to the light meter and stay
    EXPECT_EQ(s.display.row2[4], "5");
    EXPECT_EQ(s.display.row2[5], "9");
}

struct BitCase {
    int bit;
    std::set<std::string> lit;
    std::string unit;
};

TEST(Decode24BAnnunciators, EachBitLightsItsWidgetAndUnit) {
    const std::vector<BitCase> cases = {
        {73, {"AVE"}, ""},
        {74, {"MAX"}, ""},
        {75, {"V23"}, ""},
        {76, {"PH"}, ""},
        {77, {"MIN"}, ""},
        {78, {"REC"}, ""},
        {79, {"READ"}, ""},
        {80, {"usb1"}, ""},
        {81, {"ESC"}, ""},
        {82, {"VEL"}, ""},
        {83, {"NODATA"}, ""},
        {84, {"power"}, ""},
        {85, {"frame"}, ""},
        {86, {"FLOW"}, ""},
        {87, {"LcdFH"}, ""},
        {88, {"LCDHold"}, ""},
        {89, {"t_p"}, ""},
        {90, {"ft2"}, ""},
        {91, {}, ""},
        {92, {"m2"}, ""},
        {93, {"c"}, ""},
        {94, {"RH"}, ""},
        {95, {"f"}, ""},
        {96, {"KEY"}, ""},
        {97, {"TEMP"}, ""},
        {98, {"LOAD"}, ""},
        {99, {"loadNO"}, ""},
        {100, {"time_l"}, ""},
        {101, {"TIMER"}, ""},
        {102, {"CMM"}, "CMM"},
        {103, {"CFM"}, "CFM"},
        {104, {"ms"}, "m|s"},
        {105, {"knots"}, "Knots"},
        {106, {"ftmin"}, "ft|min"},
        {107, {"mph"}, "MPH"},
        {108, {"X10"}, "x1"},
        {109, {"kmh"}, "Km|h"},
        {110, {"Z1"}, "X10"},
        {111, {"p_off"}, ""},
        {112, {}, "X100"},
        {113, {"NO"}, ""},
        {114, {}, ""},
    };
    const std::set<std::string> always = {"LcdDa",  "LcdDb",  "LcdDc",  "LcdDd",
                                          "PBar2",  "LcdDa2", "LcdDb2", "LcdDc2",
                                          "LcdDd2", "LCDDE2", "LCDDF2", "conok"};
    for (const BitCase& c : cases) {
        const MeterState s = decoded(frame24("", {c.bit}));
        std::set<std::string> expected = always;
        expected.insert(c.lit.begin(), c.lit.end());
        EXPECT_EQ(shownNames(s.display), expected) << "bit " << c.bit;
        EXPECT_EQ(s.UnitText, c.unit) << "bit " << c.bit;
        EXPECT_EQ(s.display.MinTextU, c.unit) << "bit " << c.bit;
        EXPECT_EQ(s.display.MaxTextU, c.unit) << "bit " << c.bit;
    }
}

struct UnitCase {
    std::vector<int> bits;
    std::string unit;
    std::set<Widget> lit;
};

TEST(Decode24BAnnunciators, HighestUnitOrMultiplierBitWins) {
    const std::vector<UnitCase> cases = {
        {{104, 108}, "x1", {Widget::ms, Widget::X10}},
        {{102, 103, 104, 105, 106, 107}, "MPH", {}},
        {{108, 109}, "Km|h", {}},
        {{112, 113}, "X100", {}},
        {{110, 112}, "X100", {Widget::Z1}},
        {{102, 110}, "X10", {Widget::CMM, Widget::Z1}},
    };
    for (const UnitCase& c : cases) {
        std::string frame = frame24("");
        for (int n : c.bits)
            setBit(frame, n);
        const MeterState s = decoded(frame);
        EXPECT_EQ(s.UnitText, c.unit);
        for (Widget w : c.lit)
            EXPECT_TRUE(s.display.isShown(w)) << widgetName(w);
        EXPECT_FALSE(s.display.isShown(Widget::NO)) << "NO follows bit 113 only without X100";
    }
}

TEST(Decode24B, LeavesTheLightMeterAnnunciatorsAndJudgementAlone) {
    MeterState s = builtState();
    for (Widget w : {Widget::LUX, Widget::FC, Widget::REL, Widget::perecent, Widget::z4,
                     Widget::T_dPoint1, Widget::FULL})
        s.display.setShown(w, true);
    s.display.verdict = DisplayModel::Verdict::Pass;
    s.display.judge = "Pass";
    s.display.T1VALUE = "12";
    s.display.PBar2 = 77;
    const MeterState before = s;
    s.FrameText = frame24("1234", {80});
    EXPECT_EQ(LcdDisplay24B(s).kind, Kind::Reading);
    for (Widget w : {Widget::LUX, Widget::FC, Widget::REL, Widget::perecent, Widget::z4,
                     Widget::T_dPoint1, Widget::FULL})
        EXPECT_TRUE(s.display.isShown(w)) << widgetName(w);
    EXPECT_EQ(s.display.verdict, before.display.verdict);
    EXPECT_EQ(s.display.judge, "Pass");
    EXPECT_EQ(s.display.T1VALUE, "12");
    EXPECT_EQ(s.display.PBar2, 77);
}

struct TrackStep {
    std::string frame;
    float reading;
    std::string minText, maxText;
};

// The two-row family takes its reading from the main row, so MIN/MAX follows it.
TEST(Decode24BMinMax, TracksTheMainRowReading) {
    const std::vector<TrackStep> steps = {
        {frame24("  12", {102}), 12.0f, "", ""},
        {frame24("  12", {102}), 12.0f, "12", "12"},
        {frame24(" 150", {102}), 150.0f, "12", "150"},
        {frame24("   5", {102}), 5.0f, "5", "150"},
        // under the minus sign the reading is negative, the text has no sign
        {frame24("  30", {102, 87}), -30.0f, "30", "150"},
        // a main row that is no number keeps the reading
        {frame24("@   ", {102}), -30.0f, "@", "150"},
        {frame24(" 0@ ", {102}), 2000.0f, "@", "0L"},
        // a new unit restarts the extremes and keeps the texts
        {frame24("  40", {103}), 40.0f, "@", "0L"},
    };
    MeterState s = builtState();
    for (std::size_t i = 0; i < steps.size(); ++i) {
        s.FrameText = steps[i].frame;
        LcdDisplay24B(s);
        EXPECT_EQ(s.ReadingValue, steps[i].reading) << "step " << i;
        EXPECT_EQ(s.display.MinText, steps[i].minText) << "step " << i;
        EXPECT_EQ(s.display.MaxText, steps[i].maxText) << "step " << i;
    }
    EXPECT_EQ(s.MaxValue, -2000.0f);
    EXPECT_EQ(s.MinValue, 2000.0f);
    EXPECT_EQ(s.LastUnitText, "CFM");
}

TEST(Decode24B, BadCharacterStopsAfterTheIndicator) {
    MeterState s = builtState();
    s.FrameText = frame24("1234");
    LcdDisplay24B(s);
    MeterState before = s;
    s.display.setShown(Widget::conok, false);
    s.IndicatorTicks = 1;
    s.FrameText = "03603FAD6Bz";
    const DecodeStatus status = LcdDisplay24B(s);
    EXPECT_EQ(status.kind, Kind::BadCharacter);
    EXPECT_EQ(status.message(), "'z' is not a valid integer value");
    before.FrameText = s.FrameText;
    EXPECT_EQ(s, before);
}

TEST(Decode24B, ShortFrameRepeatsItsLastPosition) {
    // "A" then ten characters: positions 12..32 all repeat position 11's "D".
    const MeterState s = decoded("A0000000000D");
    const MeterState full = decoded("A0000000000" + std::string(21, 'D'));
    EXPECT_EQ(s.display, full.display);
    EXPECT_EQ(s.UnitText, "X100");
}

} // namespace
} // namespace kq::decode
