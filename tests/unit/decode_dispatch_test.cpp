#include "decode/connection_indicator.h"
#include "decode/frame_select.h"
#include "decode/meter_decoders.h"
#include "decode_support.h"

#include <gtest/gtest.h>

#include <array>
#include <ostream>
#include <string>
#include <vector>

namespace kq::decode {
namespace {

using test::builtState;
using test::frameFrom;
using test::frameWith;
using test::RecordingSink;

struct SelectCase {
    std::string name;
    std::string frame;
    Decoder usb;
    Decoder hid;
};

void PrintTo(const SelectCase& c, std::ostream* os) {
    *os << c.name;
}

class FrameSelection : public ::testing::TestWithParam<SelectCase> {};

TEST_P(FrameSelection, PicksTheDecoderOfTheFramesForm) {
    const SelectCase& c = GetParam();
    EXPECT_EQ(selectUsb(c.frame), c.usb);
    EXPECT_EQ(selectHid(c.frame), c.hid);
}

const std::string k24BHead = "03603FAD6B";

INSTANTIATE_TEST_SUITE_P(
    Cases, FrameSelection,
    ::testing::Values(
        SelectCase{"CrLfTailAndZero", frameWith({{2, '0'}}), Decoder::D12B, Decoder::D12B},
        SelectCase{"CrLfTailAndF", frameWith({{2, 'F'}}), Decoder::D12B, Decoder::D12B},
        SelectCase{"OneOnlyOverHid", frameWith({{2, '1'}}), Decoder::None, Decoder::D12B},
        SelectCase{"TwoIsTheFixedDisplayOverHid", frameWith({{2, '2'}}), Decoder::None,
                   Decoder::D36B},
        SelectCase{"OtherSecondPosition", frameWith({{2, 'E'}}), Decoder::None, Decoder::None},
        SelectCase{"LowerCaseTail", frameWith({{31, 'd'}, {32, 'a'}}), Decoder::None,
                   Decoder::None},
        SelectCase{"TailSwapped", frameWith({{31, 'A'}, {32, 'D'}}), Decoder::None, Decoder::None},
        SelectCase{"TwoRowHeadWithAnyTail", frameFrom(1, k24BHead, frameWith({{32, '7'}})),
                   Decoder::D24B, Decoder::D24B},
        SelectCase{"TwoRowHeadWithTail", frameFrom(1, k24BHead), Decoder::D24B, Decoder::D24B},
        SelectCase{"TwoRowHeadAlone", k24BHead, Decoder::D24B, Decoder::D24B},
        SelectCase{"HeadCutShort", "03603FAD6", Decoder::None, Decoder::None},
        SelectCase{"HeadWithOneWrongCharacter", frameFrom(1, "03603FAD6C"), Decoder::None,
                   Decoder::None},
        SelectCase{"ThirtyOneCharacters", frameWith({}).substr(0, 31), Decoder::None,
                   Decoder::None},
        SelectCase{"TailOnlyAtThirtyOneAndThirtyTwo", frameWith({}) + "00", Decoder::D12B,
                   Decoder::D12B},
        SelectCase{"LongerFrameWithoutTailThere", std::string(30, '0') + "0DA", Decoder::None,
                   Decoder::None},
        SelectCase{"Empty", "", Decoder::None, Decoder::None}),
    [](const ::testing::TestParamInfo<SelectCase>& info) { return info.param.name; });

TEST(Dispatch, CallsTheChosenDecoderAndNothingForNone) {
    MeterState s = builtState();
    RecordingSink sink;
    s.FrameText = frameFrom(3, "06");
    const MeterState start = s;
    EXPECT_EQ(dispatch(s, &sink, Decoder::None).kind, DecodeStatus::Kind::NoReading);
    EXPECT_EQ(s, start);

    EXPECT_EQ(dispatch(s, &sink, Decoder::D12B).kind, DecodeStatus::Kind::Reading);
    EXPECT_EQ(sink.values, std::vector<std::string>{"1"});
    EXPECT_EQ(s.display.digits[3], "1");

    s.FrameText = k24BHead;
    dispatch(s, &sink, Decoder::D24B);
    EXPECT_EQ(s.ValueText, "usb.1");
    EXPECT_EQ(sink.values.size(), 1u) << "the two-row family is not logged";

    dispatch(s, &sink, Decoder::D36B);
    EXPECT_EQ(s.display.digits[0], "u");
    EXPECT_EQ(sink.values.size(), 1u);
}

TEST(FixedDisplay, ShowsUsbPointOneWhateverTheFrameHolds) {
    for (const std::string& frame :
         {frameWith({{2, '2'}}), std::string(32, 'F'), std::string("zz"), std::string()}) {
        MeterState s = builtState();
        s.FrameText = frameFrom(3, "D7D7DF0E", frameWith({{19, 'F'}, {24, 'F'}}));
        LcdDisplay12B(s, nullptr);
        s.display.setShown(Widget::conok, false);
        s.display.setShown(Widget::conokn, true);
        s.IndicatorTicks = 2;
        const MeterState before = s;

        s.FrameText = frame;
        EXPECT_EQ(LcdDisplay36B(s).kind, DecodeStatus::Kind::NoReading);
        const std::array<std::string, 4> digits = {"u", "s", "b", "1"};
        EXPECT_EQ(s.display.digits, digits);
        const std::array<std::string, 6> blank{};
        EXPECT_EQ(s.display.row2, blank);
        EXPECT_TRUE(s.display.isShown(Widget::LcdP3));
        EXPECT_FALSE(s.display.isShown(Widget::LcdP2));
        EXPECT_TRUE(s.display.isShown(Widget::LcdP1)) << "the point after LcdDa is kept";
        for (Widget w : {Widget::T_dPoint1, Widget::T_dPoint2, Widget::LUX, Widget::X10,
                         Widget::MAX, Widget::usb1, Widget::LCDHold})
            EXPECT_FALSE(s.display.isShown(w)) << widgetName(w);
        EXPECT_TRUE(s.display.isShown(Widget::REL)) << "not in the blank list";
        // no reading and no sign of a connected meter
        EXPECT_EQ(s.ValueText, before.ValueText);
        EXPECT_EQ(s.UnitText, before.UnitText);
        EXPECT_EQ(s.ReadingValue, before.ReadingValue);
        EXPECT_EQ(s.display.MinText, before.display.MinText);
        EXPECT_EQ(s.display.PBar2, before.display.PBar2);
        EXPECT_EQ(s.IndicatorTicks, 2);
        EXPECT_FALSE(s.display.isShown(Widget::conok));
        EXPECT_TRUE(s.display.isShown(Widget::conokn));
    }
}

// What the indicator shows after each event: 'f' a decoded frame, 't' a timer tick.
struct IndicatorCase {
    std::string events;
    bool connected;
    int ticks;
};

TEST(ConnectionIndicator, FallsBackOnTheThirdTickWithoutAFrame) {
    const std::vector<IndicatorCase> cases = {
        {"", false, 0},        {"f", true, 0},      {"ft", true, 1},    {"ftt", true, 2},
        {"fttt", false, 0},    {"ftttt", false, 1}, {"fttft", true, 1}, {"fttftt", true, 2},
        {"fttfttt", false, 0}, {"ttt", false, 0},   {"tttf", true, 0},
    };
    for (const IndicatorCase& c : cases) {
        MeterState s = builtState();
        for (char e : c.events) {
            if (e == 'f') {
                s.FrameText = frameFrom(3, "06");
                LcdDisplay12B(s, nullptr);
            } else {
                EXPECT_FALSE(ConTimerTimer(s));
            }
        }
        EXPECT_EQ(s.display.isShown(Widget::conok), c.connected) << c.events;
        EXPECT_EQ(s.display.isShown(Widget::conokn), !c.connected) << c.events;
        EXPECT_EQ(s.IndicatorTicks, c.ticks) << c.events;
    }
}

TEST(ConnectionIndicator, FixedDisplayFramesDoNotKeepItConnected) {
    MeterState s = builtState();
    s.FrameText = frameFrom(3, "06");
    LcdDisplay12B(s, nullptr);
    for (int i = 0; i < 3; ++i) {
        LcdDisplay36B(s);
        ConTimerTimer(s);
    }
    EXPECT_FALSE(s.display.isShown(Widget::conok));
}

struct StallCase {
    int count;
    int ticksBefore;
    bool stalled;
    int countAfter;
};

TEST(ConnectionIndicator, StallCheckRunsOnlyOnTheFallBackTick) {
    const std::vector<StallCase> cases = {
        {1899, 2, false, 1899}, {1900, 2, true, 0},     {5000, 2, true, 0},
        {1900, 0, false, 1900}, {1900, 1, false, 1900}, {0, 2, false, 0},
    };
    for (const StallCase& c : cases) {
        MeterState s = builtState();
        s.HidStallCount = c.count;
        s.IndicatorTicks = c.ticksBefore;
        int calls = 0;
        const bool stalled = ConTimerTimer(s, [&] {
            ++calls;
            // while the message is open the count has restarted and the indicator
            // has not turned off yet
            EXPECT_EQ(s.HidStallCount, 0);
            EXPECT_EQ(s.IndicatorTicks, 2);
            EXPECT_FALSE(ConTimerTimer(s)) << "a tick during the message shows it again";
        });
        EXPECT_EQ(stalled, c.stalled) << c.count << "/" << c.ticksBefore;
        EXPECT_EQ(calls, c.stalled ? 1 : 0);
        EXPECT_EQ(s.HidStallCount, c.countAfter);
        EXPECT_EQ(s.IndicatorTicks, c.ticksBefore == 2 ? 0 : c.ticksBefore + 1);
    }
}

TEST(ConnectionIndicator, StallIsReportedWithoutAHandlerToo) {
    MeterState s = builtState();
    s.HidStallCount = 1900;
    s.IndicatorTicks = 2;
    EXPECT_TRUE(ConTimerTimer(s));
    EXPECT_EQ(s.HidStallCount, 0);
    s.IndicatorTicks = 2;
    EXPECT_FALSE(ConTimerTimer(s)) << "once only";
}

} // namespace
} // namespace kq::decode
