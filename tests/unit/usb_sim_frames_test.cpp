// The virtual meter encodes with tables of its own; these tests hold them
// against the documented frames and against the program's decoders.
#include "sim/meter_frames.h"

#include "decode/meter_decoders.h"
#include "decode/meter_state.h"

#include <gtest/gtest.h>

#include <random>
#include <set>
#include <string>

using namespace kq::sim;
using kq::decode::MeterState;
using kq::decode::Widget;

namespace {

std::string lowNibbles(const std::vector<std::uint8_t>& bytes) {
    std::string s;
    for (auto b : bytes)
        s += "0123456789ABCDEF"[b & 0x0F];
    return s;
}

MeterState lightMeter() {
    MeterState s;
    s.LocaleDecimalSeparator = ".";
    s.range.FullScale = 2000;
    return s;
}

// What the glass should show for a glyph: the decoder writes the L shape as '@'.
std::string shown(char glyph) {
    if (glyph == ' ')
        return "";
    if (glyph == 'L')
        return "@";
    return std::string(1, glyph);
}

TEST(SimGlass, ParsesValuesAsAMeterShowsThem) {
    struct Case {
        std::string text;
        bool ok;
        std::string glyphs;
        int point;
    };
    const Case cases[] = {
        {"19.99", true, "1999", 2}, {"1999", true, "1999", 0}, {"1.999", true, "1999", 1},
        {"5.0", true, "  50", 3},   {"7", true, "   7", 0},    {"0L", true, " 0L ", 0},
        {"OL", true, " 0L ", 0},    {"L", true, "   L", 0},    {"20,00", true, "2000", 2},
        {"", false, "", 0},         {".5", false, "", 0},      {"5.", false, "", 0},
        {"12345", false, "", 0},    {"1.2.3", false, "", 0},   {"-5", false, "", 0},
        {"1a", false, "", 0},       {" 5", false, "", 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        const auto g = parseGlass(c.text);
        ASSERT_EQ(g.has_value(), c.ok);
        if (!c.ok)
            continue;
        EXPECT_EQ(std::string(g->glyphs.begin(), g->glyphs.end()), c.glyphs);
        EXPECT_EQ(g->point, c.point);
    }
}

TEST(SimFrames, LightMeterFramesMatchTheDocumentedExamples) {
    std::mt19937 rng(7);
    struct Case {
        std::string value;
        Unit unit;
        std::string nibbles;
    };
    const Case cases[] = {
        {"19.99", Unit::Lux,
         "00D7D7DF06"
         "00000000"
         "820000"
         "000000"
         "DA"},
        {"0L", Unit::Fc,
         "0000B0B700"
         "00000000"
         "420000"
         "000000"
         "DA"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.value);
        const auto bytes = encodeFrame(Form::Usb12B, *parseGlass(c.value), c.unit, rng);
        ASSERT_EQ(bytes.size(), 32u);
        EXPECT_EQ(lowNibbles(bytes), c.nibbles);
        EXPECT_EQ(bytes[30], 0x0D);
        EXPECT_EQ(bytes[31], 0x0A);
    }
}

TEST(SimFrames, HighNibblesVaryButFramingBytesStayExact) {
    std::mt19937 rng(3);
    const Glass g = *parseGlass("12.34");
    std::set<int> highs;
    for (int i = 0; i < 50; ++i) {
        const auto usb = encodeFrame(Form::Usb12B, g, Unit::Lux, rng);
        for (std::size_t k = 0; k < 30; ++k)
            highs.insert(usb[k] >> 4);
        EXPECT_EQ(lowNibbles(usb), lowNibbles(encodeFrame(Form::Usb12B, g, Unit::Lux, rng)));

        const auto s12 = encodeFrame(Form::Serial12B, g, Unit::Lux, rng);
        ASSERT_EQ(s12.size(), 14u);
        for (std::size_t k = 0; k < 14; ++k)
            EXPECT_EQ(s12[k] >> 4, static_cast<int>(k + 1));

        const auto s24 = encodeFrame(Form::Serial24B, g, Unit::Ms, rng);
        ASSERT_EQ(s24.size(), 11u);
        EXPECT_EQ(s24.front(), 0x0A);
        EXPECT_EQ(s24.back(), 0x0D);
        for (std::size_t k = 1; k + 1 < s24.size(); ++k)
            EXPECT_NE(s24[k], 0x0D) << "a data byte would end the frame early";
    }
    EXPECT_GT(highs.size(), 8u);
}

// Every count the light meter can show, at every point position, through
// the cable's frame and the program's decoder.
TEST(SimFrames, EveryLightMeterDisplayDecodesToWhatWasSent) {
    std::mt19937 rng(11);
    const Unit units[] = {Unit::Lux, Unit::Fc, Unit::Cd, Unit::X10Lux};
    const char* unitTexts[] = {"lux", "fc", "cd", "X10-lux"};
    int checked = 0;
    for (int count = 0; count <= 9999; count += 7) {
        for (int point = 0; point <= 3; ++point) {
            std::string digits = std::to_string(count);
            if (point && static_cast<int>(digits.size()) < 4)
                digits.insert(0, 4 - digits.size(), '0');
            std::string text = digits;
            if (point)
                text.insert(static_cast<std::size_t>(point), ".");
            const auto g = parseGlass(text);
            ASSERT_TRUE(g) << text;
            const int u = (count + point) % 4;
            MeterState s = lightMeter();
            s.FrameText = lowNibbles(encodeFrame(Form::Usb12B, *g, units[u], rng));
            ASSERT_EQ(kq::decode::selectUsb(s.FrameText), kq::decode::Decoder::D12B);
            kq::decode::LcdDisplay12B(s, nullptr);
            for (std::size_t i = 0; i < 4; ++i)
                ASSERT_EQ(s.display.digits[i], shown(g->glyphs[i])) << text << " digit " << i;
            ASSERT_EQ(s.PointState, g->point) << text;
            ASSERT_EQ(s.ValueText, text);
            ASSERT_EQ(s.UnitText, unitTexts[u]);
            ASSERT_EQ(s.ReadingValue, static_cast<float>(std::stoi(digits)));
            ASSERT_TRUE(s.display.isShown(Widget::usb1));
            ++checked;
        }
    }
    EXPECT_GT(checked, 5000);
}

TEST(SimFrames, OverloadAndLShapesDecodeAsTheGlassShowsThem) {
    std::mt19937 rng(5);
    struct Case {
        std::string text;
        std::string valueText;
        float reading; // -1: no reading
    };
    const Case cases[] = {
        {"0L", "0L", 2000.0f},
        {"L", "@", -1.0f},
        {"1L", "1@", -1.0f}, // an L in the last digit stays the glyph
        {"L0", "L0", -1.0f}, // in the third digit it reads as the letter
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        MeterState s = lightMeter();
        s.ReadingValue = -1.0f;
        s.FrameText = lowNibbles(encodeFrame(Form::Usb12B, *parseGlass(c.text), Unit::Lux, rng));
        kq::decode::LcdDisplay12B(s, nullptr);
        EXPECT_EQ(s.ValueText, c.valueText);
        EXPECT_EQ(s.ReadingValue, c.reading);
    }
}

TEST(SimFrames, SerialLightMeterFrameCarriesDigitsAndUnit) {
    std::mt19937 rng(1);
    struct Case {
        std::string text;
        Unit unit;
        std::string unitText;
    };
    for (const Case& c : {Case{"19.99", Unit::Lux, "lux"}, Case{"0.123", Unit::Fc, "fc"},
                          Case{"850", Unit::Cd, "cd"}, Case{"0L", Unit::X10Lux, "X10-lux"}}) {
        SCOPED_TRACE(c.text);
        MeterState s = lightMeter();
        s.FrameText = lowNibbles(encodeFrame(Form::Serial12B, *parseGlass(c.text), c.unit, rng));
        ASSERT_EQ(s.FrameText.size(), 14u);
        kq::decode::LcdDisplay12B(s, nullptr);
        EXPECT_EQ(s.ValueText, c.text);
        EXPECT_EQ(s.UnitText, c.unitText);
    }
}

TEST(SimFrames, TwoRowFramesDecodeOnTheRowTheirFormUses) {
    std::mt19937 rng(9);
    struct Case {
        std::string text;
        Unit unit;
        std::string unitText;
    };
    const Case cases[] = {
        {"12.34", Unit::Ms, "m|s"}, {"0.567", Unit::FtMin, "ft|min"}, {"890.1", Unit::Kmh, "Km|h"},
        {"2468", Unit::Mph, "MPH"}, {"13.57", Unit::Knots, "Knots"},  {"9.0", Unit::Cfm, "CFM"},
        {"L", Unit::Cmm, "CMM"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        const Glass g = *parseGlass(c.text);

        // The cable's form: head "usb.1" on the main row, the reading on the second.
        MeterState usb = lightMeter();
        usb.FrameText = lowNibbles(encodeFrame(Form::Usb24B, g, c.unit, rng));
        ASSERT_EQ(kq::decode::selectUsb(usb.FrameText), kq::decode::Decoder::D24B);
        kq::decode::LcdDisplay24B(usb);
        for (std::size_t i = 0; i < 4; ++i)
            EXPECT_EQ(usb.display.row2[i], shown(g.glyphs[i])) << i;
        EXPECT_EQ(usb.display.isShown(Widget::LcdP12), g.point == 1);
        EXPECT_EQ(usb.display.isShown(Widget::LcdP22), g.point == 2);
        EXPECT_EQ(usb.display.isShown(Widget::LcdP32), g.point == 3);
        EXPECT_EQ(usb.UnitText, c.unitText);
        EXPECT_TRUE(usb.display.isShown(Widget::VEL));

        // The serial form: the reading on the main row.
        MeterState serial = lightMeter();
        const auto bytes = encodeFrame(Form::Serial24B, g, c.unit, rng);
        serial.FrameText = lowNibbles(bytes);
        ASSERT_EQ(serial.FrameText.size(), 11u);
        EXPECT_EQ(serial.FrameText.front(), 'A');
        EXPECT_EQ(serial.FrameText.back(), 'D');
        kq::decode::LcdDisplay24B(serial);
        for (std::size_t i = 0; i < 4; ++i) {
            // The second digit draws a 5 as the letter s.
            const std::string want = i == 1 && g.glyphs[i] == '5' ? "s" : shown(g.glyphs[i]);
            EXPECT_EQ(serial.display.digits[i], want) << i;
        }
        EXPECT_EQ(serial.PointState, g.point);
    }
}

} // namespace
