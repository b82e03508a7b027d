#include "decode/meter_decoders.h"
#include "decode/reading_steps.h"
#include "decode_support.h"

#include <gtest/gtest.h>

#include <ostream>
#include <string>
#include <vector>

namespace kq::decode {
namespace {

using test::builtState;
using test::frameFrom;
using test::frameWith;
using test::RecordingSink;
using Verdict = DisplayModel::Verdict;

// Main-row digits as frame positions 3..10 (Dd first), by the light meter's patterns.
std::string digitsFrame(const std::string& da, const std::string& db, const std::string& dc,
                        const std::string& dd, char unitDigit = '8') {
    const auto pattern = [](const std::string& d) -> std::string {
        static const char* const table[] = {"B7", "06", "E5", "C7", "56",
                                            "D3", "F3", "07", "F7", "D7"};
        if (d.empty())
            return "00";
        if (d == "@")
            return "B0";
        return table[d[0] - '0'];
    };
    return frameFrom(3, pattern(dd) + pattern(dc) + pattern(db) + pattern(da),
                     frameWith({{19, unitDigit}}));
}

TEST(MinMaxTracking, FirstFrameRestartsSecondFrameEntersBothExtremes) {
    MeterState state = builtState();
    state.FrameText = frameFrom(3, "D7D7DF06", frameWith({{19, '8'}}));
    LcdDisplay12B(state, nullptr);
    EXPECT_EQ(state.display.MinText, "");
    EXPECT_EQ(state.display.MaxText, "");
    EXPECT_EQ(state.display.MinTextU, "lux");
    EXPECT_EQ(state.display.MaxTextU, "lux");
    EXPECT_EQ(state.MaxValue, -2000.0f);
    EXPECT_EQ(state.MinValue, 2000.0f);
    EXPECT_EQ(state.LastUnitText, "lux");
    EXPECT_EQ(state.LastPointState, 2);

    LcdDisplay12B(state, nullptr);
    EXPECT_EQ(state.display.MinText, "19.99");
    EXPECT_EQ(state.display.MaxText, "19.99");
    EXPECT_EQ(state.MaxValue, 1999.0f);
    EXPECT_EQ(state.MinValue, 1999.0f);
}

struct Step {
    std::string frame;
    std::string minText, maxText, unit;
};

TEST(MinMaxTracking, FollowsReadingsAndRestartsOnANewUnitOrPoint) {
    const std::vector<Step> steps = {
        {digitsFrame("", "1", "0", "0"), "", "", "lux"},
        {digitsFrame("", "1", "0", "0"), "100", "100", "lux"},
        {digitsFrame("", "", "5", "0"), "50", "100", "lux"},
        {digitsFrame("", "2", "0", "0"), "50", "200", "lux"},
        // fc: the extremes restart, the line shows the old texts with the new unit
        {digitsFrame("", "", "7", "0", '4'), "50", "200", "fc"},
        {digitsFrame("", "", "7", "0", '4'), "70", "70", "fc"},
        // an equal reading takes over the stored text
        {digitsFrame("", "0", "7", "0", '4'), "070", "070", "fc"},
        // a lit point is a new range
        {frameFrom(3, "D7D7DF06", frameWith({{19, '4'}})), "070", "070", "fc"},
        {frameFrom(3, "D7D7DF06", frameWith({{19, '4'}})), "19.99", "19.99", "fc"},
        // frames without a reading change nothing of the tracking
        {frameWith({{19, '8'}}), "19.99", "19.99", "fc"},
    };
    MeterState state = builtState();
    for (std::size_t i = 0; i < steps.size(); ++i) {
        state.FrameText = steps[i].frame;
        LcdDisplay12B(state, nullptr);
        EXPECT_EQ(state.display.MinText, steps[i].minText) << "step " << i;
        EXPECT_EQ(state.display.MaxText, steps[i].maxText) << "step " << i;
        EXPECT_EQ(state.display.MinTextU, steps[i].unit) << "step " << i;
        EXPECT_EQ(state.display.MaxTextU, steps[i].unit) << "step " << i;
    }
    EXPECT_EQ(state.MaxValue, 1999.0f);
    EXPECT_EQ(state.MinValue, 1999.0f);
}

TEST(MinMaxTracking, UnitChangeRestartsAtFullScaleWithoutTouchingTexts) {
    MeterState state = builtState();
    state.UnitText = "fc";
    state.LastUnitText = "lux";
    state.MaxValueText = "max";
    state.MinValueText = "min";
    state.ReadingValue = 5;
    trackMinMax(state);
    EXPECT_EQ(state.MaxValue, -2000.0f);
    EXPECT_EQ(state.MinValue, 2000.0f);
    EXPECT_EQ(state.MaxValueText, "max");
    EXPECT_EQ(state.MinValueText, "min");
    EXPECT_EQ(state.LastUnitText, "fc");
}

struct JudgeCase {
    std::string name;
    std::string high, low;
    std::string frame;
    std::string separator;
    Verdict verdict;
    std::string caption;
};

void PrintTo(const JudgeCase& c, std::ostream* os) {
    *os << c.name;
}

class Judgement : public ::testing::TestWithParam<JudgeCase> {};

TEST_P(Judgement, JudgesTheReadingAgainstTheLimitTexts) {
    const JudgeCase& c = GetParam();
    MeterState state = builtState(c.separator);
    state.T1HI = c.high;
    state.T1LO = c.low;
    RecordingSink sink;
    state.FrameText = c.frame;
    LcdDisplay12B(state, &sink);
    EXPECT_EQ(state.display.verdict, c.verdict);
    EXPECT_EQ(state.display.judge, c.caption);
    EXPECT_EQ(state.display.T1VALUE, state.ValueText);
    // what this frame decided, None where the panel kept its verdict
    EXPECT_EQ(judgement(state), c.verdict);
    // the log step runs whether or not a judgement was made
    EXPECT_EQ(sink.values, std::vector<std::string>{state.ValueText});
}

INSTANTIATE_TEST_SUITE_P(
    Cases, Judgement,
    ::testing::Values(
        JudgeCase{"InsideLimits", "2000", "-2000", digitsFrame("", "", "5", "0"), ".",
                  Verdict::Pass, "Pass"},
        JudgeCase{"OverloadFails", "2000", "-2000", digitsFrame("", "0", "@", ""), ".",
                  Verdict::Fail, "Fail"},
        JudgeCase{"LimitsThemselvesPass", "100", "100", digitsFrame("", "1", "0", "0"), ".",
                  Verdict::Pass, "Pass"},
        JudgeCase{"AboveHigh", "100", "0", digitsFrame("", "1", "0", "1"), ".", Verdict::Fail,
                  "Fail"},
        JudgeCase{"BelowLow", "2000", "200", digitsFrame("", "1", "9", "9"), ".", Verdict::Fail,
                  "Fail"},
        JudgeCase{"LowAboveHighFailsEverything", "10", "20", digitsFrame("", "", "1", "5"), ".",
                  Verdict::Fail, "Fail"},
        JudgeCase{"LettersInLowLimitJudgeNothing", "2000", "abc", digitsFrame("", "", "5", "0"),
                  ".", Verdict::None, ""},
        JudgeCase{"EmptyHighLimitJudgesNothing", "", "0", digitsFrame("", "", "5", "0"), ".",
                  Verdict::None, ""},
        JudgeCase{"MinusNineNineNineNineNineNineIsNoLimit", "-999999", "0",
                  digitsFrame("", "", "5", "0"), ".", Verdict::None, ""},
        JudgeCase{"DecimalLimitsWithThePoint", "20.5", "19.99",
                  frameFrom(3, "D7D7DF06", frameWith({{19, '8'}})), ".", Verdict::Pass, "Pass"},
        JudgeCase{"DecimalLimitsWithTheComma", "20,5", "19,995",
                  frameFrom(3, "D7D7DF06", frameWith({{19, '8'}})), ",", Verdict::Fail, "Fail"},
        JudgeCase{"PointIsNoSeparatorInACommaLocale", "20.5", "0",
                  frameFrom(3, "D7D7DF06", frameWith({{19, '8'}})), ",", Verdict::None, ""}),
    [](const ::testing::TestParamInfo<JudgeCase>& info) { return info.param.name; });

TEST(Judgement, NoJudgementKeepsTheLastVerdictAndColour) {
    MeterState state = builtState();
    state.FrameText = digitsFrame("", "", "5", "0");
    LcdDisplay12B(state, nullptr);
    ASSERT_EQ(state.display.verdict, Verdict::Pass);
    state.T1LO = "x";
    state.FrameText = digitsFrame("", "0", "@", "");
    LcdDisplay12B(state, nullptr);
    EXPECT_EQ(state.display.verdict, Verdict::Pass);
    EXPECT_EQ(state.display.judge, "Pass");
    EXPECT_EQ(state.display.T1VALUE, "0L");
}

struct BarCase {
    std::string frame;
    int position;
};

TEST(BarGraph, FollowsTheCountWithOneAsTheLeastAndFullScaleForOverload) {
    const std::vector<BarCase> cases = {
        {digitsFrame("", "", "", "1"), 1},       {digitsFrame("", "", "", "5"), 5},
        {digitsFrame("", "", "", "0"), 1},       {digitsFrame("", "", "", "2"), 2},
        {digitsFrame("1", "9", "9", "9"), 1999}, {digitsFrame("9", "9", "9", "9"), 9999},
        {digitsFrame("", "0", "@", ""), 20},     {frameFrom(3, "D7D7DF06"), 1999},
    };
    for (const BarCase& c : cases) {
        MeterState state = builtState();
        state.FrameText = c.frame;
        LcdDisplay12B(state, nullptr);
        EXPECT_EQ(state.display.PBar2, c.position) << c.frame;
    }
}

TEST(ReadingSteps, FrameWithoutAReadingLeavesEveryStepAsItWas) {
    MeterState state = builtState();
    RecordingSink sink;
    state.FrameText = digitsFrame("", "", "5", "0");
    LcdDisplay12B(state, &sink);
    LcdDisplay12B(state, &sink);
    const MeterState before = state;

    state.FrameText = frameWith({{19, '4'}}); // blank digits, fc lit
    EXPECT_EQ(LcdDisplay12B(state, &sink).kind, DecodeStatus::Kind::NoReading);
    EXPECT_EQ(sink.values.size(), 2u);
    EXPECT_EQ(state.ReadingValue, before.ReadingValue);
    EXPECT_EQ(state.MaxValue, before.MaxValue);
    EXPECT_EQ(state.MinValue, before.MinValue);
    EXPECT_EQ(state.LastUnitText, before.LastUnitText);
    EXPECT_EQ(state.display.MinText, before.display.MinText);
    EXPECT_EQ(state.display.MinTextU, "lux");
    EXPECT_EQ(state.display.verdict, before.display.verdict);
    EXPECT_EQ(state.display.T1VALUE, "50");
    EXPECT_EQ(state.display.PBar2, 50);
    EXPECT_FALSE(state.display.isShown(Widget::usb1));
    EXPECT_EQ(state.ValueText, "");
    EXPECT_EQ(state.UnitText, "fc");
}

} // namespace
} // namespace kq::decode
