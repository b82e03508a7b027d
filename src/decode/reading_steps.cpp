#include "decode/reading_steps.h"

#include "decode/number_text.h"
#include "decode/reading_sink.h"

#include <bitset>
#include <initializer_list>

namespace kq::decode {
namespace {

using Mask = std::bitset<kWidgetCount>;

Mask maskOf(std::initializer_list<Widget> widgets) {
    Mask mask;
    for (Widget w : widgets)
        mask.set(static_cast<std::size_t>(w));
    return mask;
}

// What the two-row family lights; the light-meter family lights these and more.
const Mask kShortBlankList = maskOf({
    Widget::AVE,   Widget::MAX,   Widget::PH,  Widget::MIN,    Widget::READ,    Widget::REC,
    Widget::NO,    Widget::usb1,  Widget::ESC, Widget::NODATA, Widget::power,   Widget::VEL,
    Widget::frame, Widget::FLOW,  Widget::t_p, Widget::ft2,    Widget::m2,      Widget::c,
    Widget::f,     Widget::RH,    Widget::KEY, Widget::TEMP,   Widget::LOAD,    Widget::time_l,
    Widget::TIMER, Widget::p_off, Widget::CFM, Widget::CMM,    Widget::ms,      Widget::knots,
    Widget::mph,   Widget::ftmin, Widget::X10, Widget::kmh,    Widget::LCDHold, Widget::V23,
    Widget::Z1,
});

const Mask kFullBlankList = kShortBlankList | maskOf({
                                                  Widget::perecent,
                                                  Widget::Auto,
                                                  Widget::Z,
                                                  Widget::o1,
                                                  Widget::o2,
                                                  Widget::o3,
                                                  Widget::o4,
                                                  Widget::z4,
                                                  Widget::z3,
                                                  Widget::z2,
                                                  Widget::z11,
                                                  Widget::FC,
                                                  Widget::LUX,
                                                  Widget::CD,
                                                  Widget::FULL,
                                                  Widget::loadNO,
                                              });

int digitValue(const std::string& digit) {
    return digit.size() == 1 && digit[0] >= '0' && digit[0] <= '9' ? digit[0] - '0' : -1;
}

} // namespace

void startOfFrame(MeterState& state) {
    state.display.setShown(Widget::conok, true);
    state.display.setShown(Widget::conokn, false);
    state.IndicatorTicks = 0;
}

void blankShortList(DisplayModel& display) {
    display.shown &= ~kShortBlankList;
}

void blankFullList(DisplayModel& display) {
    display.shown &= ~kFullBlankList;
}

void trackMinMax(MeterState& state) {
    if (state.UnitText != state.LastUnitText || state.PointState != state.LastPointState) {
        // A new unit or range: this reading only restarts the tracking, and the line
        // keeps the old texts until the next reading.
        state.LastUnitText = state.UnitText;
        state.MaxValue = -static_cast<float>(state.range.FullScale);
        state.MinValue = static_cast<float>(state.range.FullScale);
    } else {
        // Equality counts, so an equal reading takes over the stored text.
        if (state.ReadingValue >= state.MaxValue) {
            state.MaxValueText = state.ValueText;
            state.MaxValue = state.ReadingValue;
        }
        if (state.ReadingValue <= state.MinValue) {
            state.MinValueText = state.ValueText;
            state.MinValue = state.ReadingValue;
        }
    }
    state.LastPointState = state.PointState;
}

void showMinMaxLine(MeterState& state) {
    DisplayModel& d = state.display;
    d.MaxText = state.MaxValueText;
    d.MinText = state.MinValueText;
    d.MaxTextU = state.UnitText;
    d.MinTextU = state.UnitText;
}

DisplayModel::Verdict judgement(const MeterState& state) {
    const std::string& sep = state.LocaleDecimalSeparator;
    const double hi = textToNumber(state.T1HI, sep);
    const double lo = textToNumber(state.T1LO, sep);
    // A limit that is no number switches the judgement off.
    if (hi == kNotANumber || lo == kNotANumber)
        return DisplayModel::Verdict::None;
    const double v = textToNumber(state.ValueText, sep);
    // The overload text "0L" is no number and fails; the limits themselves pass.
    const bool pass = v != kNotANumber && !(lo > v) && !(v > hi);
    return pass ? DisplayModel::Verdict::Pass : DisplayModel::Verdict::Fail;
}

void judgeReading(MeterState& state) {
    DisplayModel& d = state.display;
    d.T1VALUE = state.ValueText;
    const DisplayModel::Verdict verdict = judgement(state);
    // Without a judgement the verdict on the panel stays as it was.
    if (verdict == DisplayModel::Verdict::None)
        return;
    d.verdict = verdict;
    d.judge = verdict == DisplayModel::Verdict::Pass ? "Pass" : "Fail";
}

void logReading(const MeterState& state, ReadingSink* sink) {
    if (sink != nullptr)
        sink->INDataToTable(state);
}

void setBarGraph(MeterState& state) {
    DisplayModel& d = state.display;
    if (d.digits[2] == "@" && d.digits[1] == "0") {
        d.PBar2 = state.range.FullScaleDiv100;
        return;
    }
    // The count of the digits shown, points ignored; blanks add nothing.
    int n = 0;
    for (const std::string& digit : d.digits) {
        const int v = digitValue(digit);
        if (v >= 0)
            n = n * 10 + v;
    }
    d.PBar2 = n >= 2 ? n : 1;
}

void showEndOfFrameIndicators(DisplayModel& display) {
    display.setShown(Widget::usb1, true);
    display.setShown(Widget::T_dPoint1, true);
    display.setShown(Widget::T_dPoint2, true);
}

} // namespace kq::decode
