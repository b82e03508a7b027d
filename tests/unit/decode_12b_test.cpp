#include "decode/meter_decoders.h"
#include "decode_support.h"

#include <gtest/gtest.h>

#include <array>
#include <ostream>
#include <set>
#include <string>

namespace kq::decode {
namespace {

using test::builtState;
using test::frameFrom;
using test::frameWith;
using test::RecordingSink;
using test::shownAnnunciators;
using Kind = DecodeStatus::Kind;

struct FrameCase {
    std::string name;
    std::string frame;
    std::string separator;
    std::array<std::string, 4> digits;
    std::set<std::string> annunciators; // points included
    std::string unit;
    std::string valueText;
    int pointState;
    Kind kind;
    float readingValue; // checked for Kind::Reading only
};

void PrintTo(const FrameCase& c, std::ostream* os) {
    *os << c.name;
}

class Decode12BFrame : public ::testing::TestWithParam<FrameCase> {};

TEST_P(Decode12BFrame, ShowsTheMetersGlass) {
    const FrameCase& c = GetParam();
    MeterState state = builtState(c.separator);
    state.FrameText = c.frame;
    const DecodeStatus status = LcdDisplay12B(state, nullptr);

    EXPECT_EQ(status.kind, c.kind);
    EXPECT_EQ(state.display.digits, c.digits);
    std::set<std::string> expected = c.annunciators;
    if (c.kind == Kind::Reading)
        expected.insert("usb1"); // lit again at the end of every good frame
    EXPECT_EQ(shownAnnunciators(state.display), expected);
    EXPECT_EQ(state.UnitText, c.unit);
    EXPECT_EQ(state.ValueText, c.valueText);
    EXPECT_EQ(state.PointState, c.pointState);
    if (c.kind == Kind::Reading)
        EXPECT_EQ(state.ReadingValue, c.readingValue);
    else
        EXPECT_EQ(state.ReadingValue, 0.0f) << "a frame without a reading keeps the value";
    EXPECT_TRUE(state.display.isShown(Widget::conok));
    EXPECT_FALSE(state.display.isShown(Widget::conokn));
    EXPECT_TRUE(state.display.isShown(Widget::T_dPoint1));
}

INSTANTIATE_TEST_SUITE_P(Cases, Decode12BFrame,
                         ::testing::Values(FrameCase{"LuxReadingWithPointAfterSecondDigit",
                                                     frameWith({{3, 'D'},
                                                                {4, '7'},
                                                                {5, 'D'},
                                                                {6, '7'},
                                                                {7, 'D'},
                                                                {8, 'F'},
                                                                {9, '0'},
                                                                {10, '6'},
                                                                {19, '8'}}),
                                                     ".",
                                                     {"1", "9", "9", "9"},
                                                     {"LUX", "LcdP2"},
                                                     "lux",
                                                     "19.99",
                                                     2,
                                                     Kind::Reading,
                                                     1999.0f},
                                           FrameCase{"OverloadIsFullScale",
                                                     frameFrom(5, "B0B7", frameWith({{19, '4'}})),
                                                     ".",
                                                     {"", "0", "@", ""},
                                                     {"FC"},
                                                     "fc",
                                                     "0L",
                                                     0,
                                                     Kind::Reading,
                                                     2000.0f},
                                           FrameCase{"OverloadWithLitPointIsStillOverload",
                                                     frameFrom(5, "B0BF"),
                                                     ".",
                                                     {"", "0", "@", ""},
                                                     {"LcdP2"},
                                                     "",
                                                     "0.L",
                                                     2,
                                                     Kind::Reading,
                                                     2000.0f},
                                           FrameCase{"AllDigitsOffGiveNoReading",
                                                     frameWith({{20, '2'}}),
                                                     ".",
                                                     {"", "", "", ""},
                                                     {"usb1"},
                                                     "",
                                                     "",
                                                     0,
                                                     Kind::NoReading,
                                                     0.0f},
                                           FrameCase{"AllDigitsOffAndNoUsbBit",
                                                     frameWith({}),
                                                     ".",
                                                     {"", "", "", ""},
                                                     {},
                                                     "",
                                                     "",
                                                     0,
                                                     Kind::NoReading,
                                                     0.0f},
                                           FrameCase{"FirstDigitCarriesItsPoint",
                                                     frameFrom(3, "D7D7D70E"),
                                                     ".",
                                                     {"1", "9", "9", "9"},
                                                     {"LcdP1"},
                                                     "",
                                                     "1.999",
                                                     1,
                                                     Kind::Reading,
                                                     1999.0f},
                                           FrameCase{"RightmostDigitHasNoPoint",
                                                     frameFrom(3, "DFD7D706"),
                                                     ".",
                                                     {"1", "9", "9", ""},
                                                     {},
                                                     "",
                                                     "199",
                                                     0,
                                                     Kind::Reading,
                                                     199.0f},
                                           FrameCase{"LWithPointOnlyInThirdDigit",
                                                     frameFrom(5, "B8B8"),
                                                     ".",
                                                     {"", "", "@", ""},
                                                     {"LcdP2", "LcdP3"},
                                                     "",
                                                     ".L.",
                                                     3,
                                                     Kind::NoReading,
                                                     0.0f},
                                           FrameCase{"LOutsideTheOverloadIsNoReading",
                                                     frameFrom(3, "B0B7B7B7"),
                                                     ".",
                                                     {"0", "0", "0", "@"},
                                                     {},
                                                     "",
                                                     "000@",
                                                     0,
                                                     Kind::NoReading,
                                                     0.0f},
                                           FrameCase{"LastUnitBitWins",
                                                     frameWith({{19, 'A'}, {3, 'B'}, {4, '7'}}),
                                                     ".",
                                                     {"", "", "", "0"},
                                                     {"LUX", "CD"},
                                                     "cd",
                                                     "0",
                                                     0,
                                                     Kind::Reading,
                                                     0.0f},
                                           FrameCase{"TenTimesLuxBeatsEveryUnit",
                                                     frameWith({{19, 'F'}, {3, '0'}, {4, '6'}}),
                                                     ".",
                                                     {"", "", "", "1"},
                                                     {"LUX", "FC", "CD", "X10"},
                                                     "X10-lux",
                                                     "1",
                                                     0,
                                                     Kind::Reading,
                                                     1.0f},
                                           FrameCase{"ShortSerialFrameRepeatsItsLastPosition",
                                                     "12345678901234",
                                                     ".",
                                                     {"", "", "4", ""},
                                                     {"LcdP2", "FC", "FULL", "Z", "o2", "MIN"},
                                                     "fc",
                                                     ".4",
                                                     2,
                                                     Kind::Reading,
                                                     4.0f},
                                           FrameCase{"EmptyFrameReadsAsZeros",
                                                     "",
                                                     ".",
                                                     {"", "", "", ""},
                                                     {},
                                                     "",
                                                     "",
                                                     0,
                                                     Kind::NoReading,
                                                     0.0f},
                                           FrameCase{"CommaSeparator",
                                                     frameFrom(3, "D7D7DF06"),
                                                     ",",
                                                     {"1", "9", "9", "9"},
                                                     {"LcdP2"},
                                                     "",
                                                     "19,99",
                                                     2,
                                                     Kind::Reading,
                                                     1999.0f},
                                           FrameCase{"EverySeparatorOfALongLocale",
                                                     frameFrom(3, "D7DFDF0E"),
                                                     "<>",
                                                     {"1", "9", "9", "9"},
                                                     {"LcdP1", "LcdP2", "LcdP3"},
                                                     "",
                                                     "1<>9<>9<>9",
                                                     3,
                                                     Kind::Reading,
                                                     1999.0f},
                                           FrameCase{"NoSeparatorWhenTheLocaleHasNone",
                                                     frameFrom(3, "D7D7DF06"),
                                                     "",
                                                     {"1", "9", "9", "9"},
                                                     {"LcdP2"},
                                                     "",
                                                     "1999",
                                                     2,
                                                     Kind::Reading,
                                                     1999.0f},
                                           FrameCase{"LeadingZeroDigitsStillCount",
                                                     frameFrom(3, "06B7B7B7"),
                                                     ".",
                                                     {"0", "0", "0", "1"},
                                                     {},
                                                     "",
                                                     "0001",
                                                     0,
                                                     Kind::Reading,
                                                     1.0f},
                                           FrameCase{"CharactersPastPosition32AreIgnored",
                                                     frameFrom(3, "06") + "xyz",
                                                     ".",
                                                     {"", "", "", "1"},
                                                     {},
                                                     "",
                                                     "1",
                                                     0,
                                                     Kind::Reading,
                                                     1.0f}),
                         [](const ::testing::TestParamInfo<FrameCase>& info) {
                             return info.param.name;
                         });

// Each annunciator bit of the frame lights exactly its own widget.
struct BitCase {
    int position;
    char digit; // the weight as a hexadecimal digit
    std::set<std::string> lit;
    std::string unit;
};

TEST(Decode12BAnnunciators, EachBitLightsItsWidget) {
    const std::vector<BitCase> cases = {
        {19, '8', {"LUX"}, "lux"},     {19, '4', {"FC"}, "fc"},   {19, '2', {"CD"}, "cd"},
        {19, '1', {"X10"}, "X10-lux"}, {20, '8', {"loadNO"}, ""}, {20, '4', {"FULL"}, ""},
        {20, '2', {"usb1"}, ""},       {20, '1', {"power"}, ""},  {21, '8', {"t_p"}, ""},
        {21, '4', {"Z"}, ""},          {21, '2', {"auto"}, ""},   {21, '1', {"perecent"}, ""},
        {22, '8', {"o1"}, ""},         {22, '4', {"o2"}, ""},     {22, '2', {"o3"}, ""},
        {22, '1', {"o4"}, ""},         {23, '8', {}, ""},         {23, '4', {}, ""},
        {23, '2', {"p_off"}, ""},      {23, '1', {"REC"}, ""},    {24, '8', {"REL"}, ""},
        {24, '4', {"MIN"}, ""},        {24, '2', {"MAX"}, ""},    {24, '1', {"LCDHold"}, ""},
    };
    for (const BitCase& c : cases) {
        MeterState state = builtState();
        state.FrameText = frameWith({{c.position, c.digit}});
        LcdDisplay12B(state, nullptr);
        EXPECT_EQ(shownAnnunciators(state.display), c.lit)
            << "position " << c.position << " digit " << c.digit;
        EXPECT_EQ(state.UnitText, c.unit) << "position " << c.position << " digit " << c.digit;
    }
}

TEST(Decode12BAnnunciators, FrameHidesWhatTheLastFrameLit) {
    MeterState state = builtState();
    state.FrameText = frameWith({{19, 'F'},
                                 {20, 'F'},
                                 {21, 'F'},
                                 {22, 'F'},
                                 {23, 'F'},
                                 {24, 'F'},
                                 {6, '8'},
                                 {8, '8'},
                                 {10, '8'}});
    LcdDisplay12B(state, nullptr);
    // widgets no 12B bit drives, lit by another family
    for (Widget w : {Widget::AVE, Widget::z4, Widget::z11, Widget::Z1, Widget::kmh})
        state.display.setShown(w, true);
    state.FrameText = frameWith({});
    LcdDisplay12B(state, nullptr);
    EXPECT_EQ(shownAnnunciators(state.display), std::set<std::string>{});
}

TEST(Decode12BSecondRow, TakesPositions25To30AsTheyStand) {
    MeterState state = builtState();
    state.FrameText = frameFrom(25, "1F3A0C");
    LcdDisplay12B(state, nullptr);
    const std::array<std::string, 6> expected = {"1", "F", "3", "A", "0", "C"};
    EXPECT_EQ(state.display.row2, expected);

    state.FrameText = "0123456789ABCDEF0123456789"; // 26 positions: 25 and 26 are there
    LcdDisplay12B(state, nullptr);
    const std::array<std::string, 6> partial = {"8", "9", "", "", "", ""};
    EXPECT_EQ(state.display.row2, partial);
}

struct BadCase {
    std::string frame;
    char bad;
};

TEST(Decode12BBadCharacter, StopsAfterTheIndicatorWithTheRuntimeMessage) {
    const std::vector<BadCase> cases = {
        {frameFrom(5, "g"), 'g'},  {frameFrom(3, "d7"), 'd'}, // lower case is no digit of a frame
        {frameFrom(32, " "), ' '}, {frameFrom(1, "-"), '-'},  {std::string("0A\0", 3), '\0'},
        {"12345678901X", 'X'},
    };
    for (const BadCase& c : cases) {
        MeterState state = builtState();
        state.FrameText = frameWith({{3, 'D'}, {4, '7'}, {19, '8'}});
        LcdDisplay12B(state, nullptr);
        MeterState before = state;
        state.display.setShown(Widget::conok, false);
        state.display.setShown(Widget::conokn, true);
        state.IndicatorTicks = 2;

        state.FrameText = c.frame;
        const DecodeStatus status = LcdDisplay12B(state, nullptr);
        EXPECT_EQ(status.kind, Kind::BadCharacter);
        EXPECT_EQ(status.badCharacter, c.bad);
        EXPECT_EQ(status.message(), std::string("'") + c.bad + "' is not a valid integer value");
        // Only the start of the frame happened.
        before.FrameText = c.frame;
        EXPECT_EQ(state, before) << "frame " << c.frame;
    }
}

TEST(Decode12BStatus, MessageIsEmptyUnlessACharacterWasBad) {
    MeterState state = builtState();
    state.FrameText = frameFrom(3, "D7");
    EXPECT_EQ(LcdDisplay12B(state, nullptr).message(), "");
}

} // namespace
} // namespace kq::decode
