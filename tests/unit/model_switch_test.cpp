#include "decode/model_switch.h"
#include "decode/widget_id.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <iterator>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

namespace kq::decode {
namespace {

ModelSwitchSet switchesOf(std::initializer_list<ModelSwitch> checked) {
    ModelSwitchSet set;
    for (ModelSwitch s : checked)
        set.setChecked(s, true);
    return set;
}

struct ParseCase {
    std::string list;
    bool ok;
    std::vector<ModelSwitch> checked;
    std::string unknown;
};

TEST(ModelSwitchList, ReadsTheBuildTimeList) {
    const std::vector<ParseCase> cases = {
        {"ifkq510", true, {ModelSwitch::ifkq510}, ""},
        {"IFKQ12E;KQ530", true, {ModelSwitch::IFKQ12E, ModelSwitch::KQ530}, ""},
        {" IFRV4400 , ifkq13c ;", true, {ModelSwitch::IFRV4400, ModelSwitch::IFKQ13C}, ""},
        {"IFKQ510", true, {ModelSwitch::ifkq510}, ""},
        {"", true, {}, ""},
        {";;", true, {}, ""},
        {"ifkq510;KQ999", false, {ModelSwitch::ifkq510}, "KQ999"},
        {"ifkq 510", false, {}, "ifkq 510"},
    };
    for (const ParseCase& c : cases) {
        const ModelSwitchParse parsed = parseModelSwitches(c.list);
        EXPECT_EQ(parsed.ok, c.ok) << c.list;
        EXPECT_EQ(parsed.unknown, c.unknown) << c.list;
        ModelSwitchSet expected;
        for (ModelSwitch s : c.checked)
            expected.setChecked(s, true);
        EXPECT_EQ(parsed.set, expected) << c.list;
    }
    static_assert(parseModelSwitches("IFKQ24B;IFKQ810").set.isChecked(ModelSwitch::IFKQ810));
}

// What each build the test command makes must start as: typed from the model table,
// not from the code. A build whose list is missing here fails, so a new build in CI
// comes with its expectations.
struct BuildCase {
    std::string_view list;
    std::string_view title;
    ReceiveHandler handler;
    int speed;
    std::int32_t fullScale;
    std::string_view high, low;
};

TEST(ModelSwitchList, TheBuiltProgramStartsAsItsModel) {
    const BuildCase builds[] = {
        {"ifkq510", "KQ510 Interface Program Ver:2.00", ReceiveHandler::H12BRData, 2400, 2000,
         "2000", "-2000"},
        {"IFKQ24B;IFKQ12D", "KQ12D Interface Program _Ver: 2.06", ReceiveHandler::H24BRData, 2400,
         3400, "3400", "-3400"},
    };
    const std::string_view built = KQ_MODEL_SWITCHES;
    const auto it = std::find_if(std::begin(builds), std::end(builds), [&](const BuildCase& b) {
        return parseModelSwitches(b.list).set == parseModelSwitches(built).set;
    });
    ASSERT_NE(it, std::end(builds)) << "no expectations for the build \"" << built << '"';
    MeterState s;
    const StartupResult r = applyStartup(s, builtModelSwitches(), ".");
    EXPECT_EQ(r.title, it->title);
    EXPECT_EQ(r.handler, it->handler);
    EXPECT_EQ(r.serialSpeed, it->speed);
    EXPECT_EQ(s.range.FullScale, it->fullScale);
    EXPECT_EQ(s.T1HI, it->high);
    EXPECT_EQ(s.T1LO, it->low);
}

struct StartupCase {
    std::string name;
    ModelSwitchSet switches;
    std::string title;
    ReceiveHandler handler;
    int speed;
    std::string firstDigit;
    std::string scaleCode;
    int fullScale;
    float maxStart;
    std::string high, low, minText, maxText;
};

void PrintTo(const StartupCase& c, std::ostream* os) {
    *os << c.name;
}

class Startup : public ::testing::TestWithParam<StartupCase> {};

TEST_P(Startup, AppliesTheSwitchesInTableOrderThenTheRange) {
    const StartupCase& c = GetParam();
    MeterState s;
    s.ValueText = "left over";
    const StartupResult r = applyStartup(s, c.switches, ".");
    EXPECT_EQ(r.title, c.title);
    EXPECT_EQ(r.handler, c.handler);
    EXPECT_EQ(r.serialSpeed, c.speed);
    EXPECT_EQ(s.display.digits[0], c.firstDigit);
    EXPECT_EQ(s.range.ScaleCode, c.scaleCode);
    EXPECT_EQ(s.range.FullScale, c.fullScale);
    EXPECT_EQ(s.range.FullScaleDiv100, c.fullScale / 100);
    EXPECT_EQ(s.MaxValue, c.maxStart);
    EXPECT_EQ(s.MinValue, -c.maxStart);
    EXPECT_EQ(s.T1HI, c.high);
    EXPECT_EQ(s.T1LO, c.low);
    // only a range row writes the edits, which accept what it writes
    const bool rangeRow = c.scaleCode != "4";
    EXPECT_EQ(s.HiLimitText, rangeRow ? c.high : "");
    EXPECT_EQ(s.LoLimitText, rangeRow ? c.low : "");
    EXPECT_EQ(s.display.MinText, c.minText);
    EXPECT_EQ(s.display.MaxText, c.maxText);
    EXPECT_EQ(s.ValueText, "");
}

using MS = ModelSwitch;
using RH = ReceiveHandler;

INSTANTIATE_TEST_SUITE_P(
    Cases, Startup,
    ::testing::Values(StartupCase{"AsBuilt", switchesOf({MS::ifkq510}),
                                  "KQ510 Interface Program Ver:2.00", RH::H12BRData, 2400, "2", "2",
                                  2000, -2001.0f, "2000", "-2000", "-2001", "2001"},
                      StartupCase{"NoSwitch", switchesOf({}), "", RH::None, 2400, "2", "4", 4000,
                                  -40.0f, "6000", "-6000", "2001", "-2001"},
                      StartupCase{"KQ12EAloneKeepsTheDefaultRange", switchesOf({MS::IFKQ12E}),
                                  "KQ12E Interface Program _Ver: 1.00", RH::H12BRData, 2400, "2",
                                  "4", 4000, -40.0f, "6000", "-6000", "2001", "-2001"},
                      StartupCase{"KQ530SetsTheFirstDigit", switchesOf({MS::KQ530}),
                                  "KQ530 Interface Program _Ver: 1.00", RH::H12BRData, 2400, "3",
                                  "4", 4000, -40.0f, "6000", "-6000", "2001", "-2001"},
                      StartupCase{"KQ24BAlone", switchesOf({MS::IFKQ24B}),
                                  "KQ24B USB Interface Program _Ver: 1.00", RH::H24BRData, 2400,
                                  "2", "4", 4000, -40.0f, "6000", "-6000", "2001", "-2001"},
                      StartupCase{"KQ12DRange34", switchesOf({MS::IFKQ12D}),
                                  "KQ12D Interface Program _Ver: 2.06", RH::H24BRData, 2400, "2",
                                  "34", 3400, -3401.0f, "3400", "-3400", "3401", "-3401"},
                      StartupCase{"KQ13CRange6", switchesOf({MS::IFKQ13C}),
                                  "KQ13C Interface Program _Ver: 1.00", RH::H24BRData, 2400, "2",
                                  "6", 6000, -6001.0f, "6000", "-6000", "6001", "-6001"},
                      StartupCase{"KQ810Fast", switchesOf({MS::IFKQ810}),
                                  "KQ810 USB Interface Program _Ver: 1.00", RH::H24BRData, 19200,
                                  "2", "4", 4000, -40.0f, "6000", "-6000", "2001", "-2001"},
                      StartupCase{"LastRowWinsTitleHandlerAndRange",
                                  switchesOf({MS::ifkq510, MS::KQ530, MS::IFKQ12D}),
                                  "KQ12D Interface Program _Ver: 2.06", RH::H24BRData, 2400, "3",
                                  "34", 3400, -3401.0f, "3400", "-3400", "3401", "-3401"},
                      StartupCase{"LaterRowWithoutRangeKeepsTheEarlierOne",
                                  switchesOf({MS::ifkq510, MS::IFKQ24B}),
                                  "KQ24B USB Interface Program _Ver: 1.00", RH::H24BRData, 2400,
                                  "2", "2", 2000, -2001.0f, "2000", "-2000", "-2001", "2001"},
                      StartupCase{"FastSpeedSticks", switchesOf({MS::IFRV4400, MS::IFKQ13C}),
                                  "KQ13C Interface Program _Ver: 1.00", RH::H24BRData, 19200, "2",
                                  "6", 6000, -6001.0f, "6000", "-6000", "6001", "-6001"},
                      StartupCase{"FirstDigitFromTheLastOfTheFirstThreeRows",
                                  switchesOf({MS::KQ530, MS::IFKQ810, MS::ifkq510}),
                                  "KQ810 USB Interface Program _Ver: 1.00", RH::H24BRData, 19200,
                                  "3", "4", 4000, -40.0f, "6000", "-6000", "2001", "-2001"}),
    [](const ::testing::TestParamInfo<StartupCase>& info) { return info.param.name; });

TEST(Startup, DesignStateOfTheGlassAndThePanels) {
    MeterState s;
    s.display.setShown(Widget::AVE, true);
    s.IndicatorTicks = 2;
    s.HidStallCount = 7;
    s.PrintBusy = true;
    applyStartup(s, switchesOf({MS::ifkq510}), ",");
    std::vector<std::string> shown;
    for (std::size_t i = 0; i < kWidgetCount; ++i)
        if (s.display.shown.test(i))
            shown.emplace_back(kWidgetNames[i]);
    const std::vector<std::string> expected = {"LcdDa",  "LcdDb",  "LcdDc",  "LcdDd",
                                               "PBar2",  "LcdDa2", "LcdDb2", "LcdDc2",
                                               "LcdDd2", "LCDDE2", "LCDDF2", "conokn"};
    EXPECT_EQ(shown, expected);
    const std::array<std::string, 4> digits = {"2", "0", "0", "0"};
    const std::array<std::string, 6> row2 = {"2", "3", "5", "9", "5", "9"};
    EXPECT_EQ(s.display.digits, digits);
    EXPECT_EQ(s.display.row2, row2);
    EXPECT_EQ(s.display.MinTextU, "lux");
    EXPECT_EQ(s.display.MaxTextU, "lux");
    EXPECT_EQ(s.display.T1VALUE, "0");
    EXPECT_EQ(s.display.judge, "");
    EXPECT_EQ(s.display.verdict, DisplayModel::Verdict::None);
    EXPECT_EQ(s.display.PBar2, 30);
    EXPECT_EQ(s.LastUnitText, "113");
    EXPECT_EQ(s.LastPointState, 0);
    EXPECT_EQ(s.MaxValueText, "");
    EXPECT_EQ(s.MinValueText, "");
    EXPECT_EQ(s.ReadingValue, 0.0f);
    EXPECT_EQ(s.IndicatorTicks, 0);
    EXPECT_EQ(s.HidStallCount, 0);
    EXPECT_FALSE(s.PrintBusy);
    EXPECT_EQ(s.FrameText, "");
    EXPECT_EQ(s.LocaleDecimalSeparator, ",");
}

TEST(Startup, SeparatorIsCutToTenCharacters) {
    MeterState s;
    applyStartup(s, {}, "0123456789ABC");
    EXPECT_EQ(s.LocaleDecimalSeparator, "0123456789");
}

} // namespace
} // namespace kq::decode
