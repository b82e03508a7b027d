#include "decode/model_switch.h"

#include <optional>

#ifndef KQ_MODEL_SWITCHES
#define KQ_MODEL_SWITCHES "ifkq510"
#endif

namespace kq::decode {
namespace {

constexpr ModelSwitchParse kBuilt = parseModelSwitches(KQ_MODEL_SWITCHES);
static_assert(kBuilt.ok, "KQ_MODEL_SWITCHES names a model switch that does not exist");

constexpr std::size_t kMaxSeparatorLength = 10;

// Columns: receive handler, 19200 bit/s or unchanged, window title, LcdDa caption
// (empty: unchanged), ScaleCode (empty: unchanged). Indexed by ModelSwitch.
struct SwitchRow {
    ReceiveHandler handler;
    bool fastSerial;
    std::string_view title;
    std::string_view firstDigit;
    std::string_view scaleCode;
};

constexpr std::array<SwitchRow, kModelSwitchCount> kSwitchRows = {{
    {ReceiveHandler::H12BRData, false, "KQ12E Interface Program _Ver: 1.00", "2", ""},
    {ReceiveHandler::H12BRData, false, "KQ510 Interface Program Ver:2.00", "2", "2"},
    {ReceiveHandler::H12BRData, false, "KQ530 Interface Program _Ver: 1.00", "3", ""},
    {ReceiveHandler::H24BRData, false, "KQ24B USB Interface Program _Ver: 1.00", "", ""},
    {ReceiveHandler::H24BRData, false, "KQ12D Interface Program _Ver: 2.06", "", "34"},
    {ReceiveHandler::H24BRData, true, "KQ810 USB Interface Program _Ver: 1.00", "", "4"},
    {ReceiveHandler::H24BRData, true, "RV4400 USB Interface Program _Ver: 1.00", "", "4"},
    {ReceiveHandler::H24BRData, false, "KQ13C Interface Program _Ver: 1.00", "", "6"},
}};

// Columns: ScaleCode, FullScale, MaxValue and MinValue start values, T1HI, T1LO,
// MinText, MaxText. The default row "4" changes no text, so it is not listed.
struct RangeRow {
    std::string_view scaleCode;
    std::int32_t fullScale;
    float maxStart;
    float minStart;
    std::string_view high, low, minText, maxText;
};

// The "2" row puts the negative number into MinText, the others the positive one.
constexpr std::array<RangeRow, 3> kRangeRows = {{
    {"2", 2000, -2001.0f, 2001.0f, "2000", "-2000", "-2001", "2001"},
    {"6", 6000, -6001.0f, 6001.0f, "6000", "-6000", "6001", "-6001"},
    {"34", 3400, -3401.0f, 3401.0f, "3400", "-3400", "3401", "-3401"},
}};

// What every widget and value holds before start-up runs and before any frame.
void setDesignState(MeterState& state) {
    state = MeterState{};
    DisplayModel& d = state.display;
    d.shown.reset();
    for (Widget w : {Widget::LcdDa, Widget::LcdDb, Widget::LcdDc, Widget::LcdDd, Widget::PBar2,
                     Widget::LcdDa2, Widget::LcdDb2, Widget::LcdDc2, Widget::LcdDd2, Widget::LCDDE2,
                     Widget::LCDDF2, Widget::conokn})
        d.setShown(w, true);
    d.digits = {"2", "0", "0", "0"};
    d.row2 = {"2", "3", "5", "9", "5", "9"};
    d.MinText = "2001";
    d.MaxText = "-2001";
    d.MinTextU = "lux";
    d.MaxTextU = "lux";
    d.T1VALUE = "0";
    d.judge.clear();
    d.verdict = DisplayModel::Verdict::None;
    d.PBar2 = 30;
    // The limit edits' first texts, which nobody typed: no text is accepted yet.
    state.T1HI = "6000";
    state.T1LO = "-6000";
    state.HiLimitText.clear();
    state.LoLimitText.clear();
}

} // namespace

ModelSwitchSet builtModelSwitches() {
    return kBuilt.set;
}

StartupResult applyStartup(MeterState& state, const ModelSwitchSet& switches,
                           std::string localeDecimalSeparator) {
    setDesignState(state);
    if (localeDecimalSeparator.size() > kMaxSeparatorLength)
        localeDecimalSeparator.resize(kMaxSeparatorLength);
    state.LocaleDecimalSeparator = std::move(localeDecimalSeparator);

    state.range = RangeValues{"4", 4000, 40};
    state.MaxValue = -40.0f;
    state.MinValue = 40.0f;
    state.LastUnitText = "113";

    StartupResult result;
    for (std::size_t i = 0; i < kModelSwitchCount; ++i) {
        if (!switches.isChecked(static_cast<ModelSwitch>(i)))
            continue;
        const SwitchRow& row = kSwitchRows[i];
        result.handler = row.handler;
        // Once a row has set 19200 bit/s, no later row sets the speed back.
        if (row.fastSerial)
            result.serialSpeed = 19200;
        result.title = row.title;
        if (!row.firstDigit.empty())
            state.display.digits[0] = row.firstDigit;
        if (!row.scaleCode.empty())
            state.range.ScaleCode = row.scaleCode;
    }

    for (const RangeRow& row : kRangeRows) {
        if (state.range.ScaleCode != row.scaleCode)
            continue;
        state.range.FullScale = row.fullScale;
        state.range.FullScaleDiv100 = row.fullScale / 100;
        state.MaxValue = row.maxStart;
        state.MinValue = row.minStart;
        // The limit edits accept these texts as typed, so they are also the texts a
        // rejected edit goes back to.
        state.T1HI = row.high;
        state.T1LO = row.low;
        state.HiLimitText = state.T1HI;
        state.LoLimitText = state.T1LO;
        state.display.MinText = row.minText;
        state.display.MaxText = row.maxText;
        break;
    }
    return result;
}

} // namespace kq::decode
