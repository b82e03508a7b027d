#pragma once

#include "decode/widget_id.h"

#include <array>
#include <bitset>
#include <cstdint>
#include <string>

namespace kq::decode {

// What the glass, the MIN/MAX strip and the limit panel show. The window only
// renders this; decoders and reading steps only write it.
struct DisplayModel {
    std::bitset<kWidgetCount> shown;
    // captions of LcdDa, LcdDb, LcdDc, LcdDd ("0".."9", "@" for the L shape, letters, or empty)
    std::array<std::string, 4> digits;
    // captions of LcdDa2, LcdDb2, LcdDc2, LcdDd2, LCDDE2, LCDDF2
    std::array<std::string, 6> row2;

    // MIN/MAX strip
    std::string MinText, MaxText, MinTextU, MaxTextU;

    // limit panel: the measured value, the verdict and its colour
    std::string T1VALUE = "0";
    std::string judge;
    enum class Verdict : std::uint8_t { None, Pass, Fail };
    Verdict verdict = Verdict::None; // colours of T1VALUE, Shape1 and judge

    int PBar2 = 30; // bar graph position as set; the bar shows at most its range (2000)

    // The frame family that last reached the glass. The two families light different widgets
    // (the two-row family has no bar, no verdict and its reading often on the second row), so
    // the window draws the glass and the limit panel for the family it has.
    enum class Family : std::uint8_t { None, Lcd12B, Lcd24B, Fixed36B };
    Family family = Family::None;

    bool isShown(Widget w) const { return shown.test(static_cast<std::size_t>(w)); }
    void setShown(Widget w, bool on) { shown.set(static_cast<std::size_t>(w), on); }

    bool operator==(const DisplayModel&) const = default;
};

// Range values chosen by the model switch.
struct RangeValues {
    std::string ScaleCode = "4";
    std::int32_t FullScale = 4000;
    std::int32_t FullScaleDiv100 = 40;

    bool operator==(const RangeValues&) const = default;
};

// The module-level values of the decoding subsystem, owned by the window (or
// the command-line tool) and passed to the decoders and links.
struct MeterState {
    DisplayModel display;
    RangeValues range;

    std::string FrameText;
    std::string LocaleDecimalSeparator;
    bool PrintBusy = false;

    // decoded reading
    std::string UnitText;
    std::string ValueText;
    float ReadingValue = 0.0f;
    int PointState = 0;

    // MIN/MAX tracking
    float MaxValue = -40.0f;
    float MinValue = 40.0f;
    std::string MaxValueText, MinValueText;
    std::string LastUnitText = "113";
    int LastPointState = 0;

    // connection indicator: ticks of the 100 ms timer since the last decoded frame
    int IndicatorTicks = 0;

    // limit edits: their texts as they stand, and the last accepted texts
    std::string T1HI = "6000";
    std::string T1LO = "-6000";
    std::string HiLimitText, LoLimitText;

    // serial framer accumulators, also emptied by the USB bridge poll
    std::string RxDigits, RxMarks;

    // HID link state read by the stall check
    int HidStallCount = 0;

    bool operator==(const MeterState&) const = default;
};

} // namespace kq::decode
