#include "decode/display_json.h"
#include "decode/json_line.h"
#include "decode/meter_decoders.h"
#include "decode_support.h"

#include <gtest/gtest.h>

#include <limits>
#include <ostream>
#include <string>
#include <vector>

namespace kq::decode {
namespace {

struct EscapeCase {
    std::string name;
    std::string value;
    std::string json;
};

void PrintTo(const EscapeCase& c, std::ostream* os) {
    *os << c.name;
}

class JsonEscaping : public ::testing::TestWithParam<EscapeCase> {};

TEST_P(JsonEscaping, KeepsEveryLineValidJson) {
    const EscapeCase& c = GetParam();
    JsonLine line;
    line.string("k", c.value);
    EXPECT_EQ(line.text(), "{\"k\":" + c.json + "}");
}

INSTANTIATE_TEST_SUITE_P(
    Cases, JsonEscaping,
    ::testing::Values(EscapeCase{"Plain", "19.99", "\"19.99\""}, EscapeCase{"Empty", "", "\"\""},
                      EscapeCase{"QuoteAndBackslash", "a\"b\\c", "\"a\\\"b\\\\c\""},
                      EscapeCase{"LineEnds", "a\r\n\tb", "\"a\\r\\n\\tb\""},
                      EscapeCase{"ControlCharacters", std::string("\0\x01\x1f\x7f", 4),
                                 "\"\\u0000\\u0001\\u001f\\u007f\""},
                      EscapeCase{"ValidUtf8StaysAsItIs",
                                 "\xC2\xB0"
                                 "C \xE2\x82\xAC \xF0\x9F\x98\x80",
                                 "\"\xC2\xB0"
                                 "C \xE2\x82\xAC \xF0\x9F\x98\x80\""},
                      EscapeCase{"LoneHighByte",
                                 "a\xFF"
                                 "b",
                                 "\"a\\u00ffb\""},
                      EscapeCase{"CutSequence", "\xE2\x82", "\"\\u00e2\\u0082\""},
                      EscapeCase{"Overlong", "\xC0\xAF", "\"\\u00c0\\u00af\""},
                      EscapeCase{"OverlongThreeBytes", "\xE0\x80\xAF", "\"\\u00e0\\u0080\\u00af\""},
                      EscapeCase{"Surrogate", "\xED\xA0\x80", "\"\\u00ed\\u00a0\\u0080\""},
                      EscapeCase{"BeyondUnicode", "\xF4\x90\x80\x80",
                                 "\"\\u00f4\\u0090\\u0080\\u0080\""},
                      EscapeCase{"ContinuationAlone", "\x80", "\"\\u0080\""}),
    [](const ::testing::TestParamInfo<EscapeCase>& info) { return info.param.name; });

TEST(JsonLine, MembersInOrderWithNumbersThatReadBack) {
    JsonLine line;
    line.null("d")
        .boolean("t", true)
        .boolean("f", false)
        .integer("i", -42)
        .number("r", 1999.0f)
        .number("x", 0.1f)
        .number("big", 2000.0f)
        .number("inf", std::numeric_limits<float>::infinity())
        .strings("a", {"x", "y\""})
        .strings("e", {});
    EXPECT_EQ(line.text(), "{\"d\":null,\"t\":true,\"f\":false,\"i\":-42,\"r\":1999,\"x\":0.1,"
                           "\"big\":2000,\"inf\":null,\"a\":[\"x\",\"y\\\"\"],\"e\":[]}");
}

TEST(DisplayJson, ReportsTheGlassAfterAFrame) {
    MeterState s = test::builtState();
    s.FrameText = test::frameFrom(3, "D7D7DF06", test::frameWith({{19, '8'}}));
    LcdDisplay12B(s, nullptr);
    JsonLine line;
    appendDisplayMembers(line, s, s.FrameText, Decoder::D12B);
    EXPECT_EQ(line.text(),
              "{\"frame\":\"00D7D7DF0600000000800000000000DA\",\"decoder\":\"12B\","
              "\"digits\":[\"1\",\"9\",\"9\",\"9\"],\"row2\":[\"0\",\"0\",\"0\",\"0\",\"0\",\"0\"],"
              "\"shown\":[\"LUX\",\"LcdP2\",\"T_dPoint1\",\"T_dPoint2\",\"usb1\"],"
              "\"unit\":\"lux\",\"value\":\"19.99\",\"reading\":1999,\"pointState\":2,"
              "\"minText\":\"\",\"maxText\":\"\",\"minUnit\":\"lux\",\"maxUnit\":\"lux\","
              "\"measure\":\"19.99\",\"verdict\":\"Pass\",\"bar\":1999,\"connected\":true}");
}

struct BarCase {
    int position;
    int shown;
};

TEST(DisplayJson, BarIsClampedToItsRangeAndEveryReportedWidgetIsNamed) {
    for (const BarCase& c : std::vector<BarCase>{{9999, 2000}, {2000, 2000}, {-5, 0}, {1, 1}}) {
        MeterState s = test::builtState();
        s.display.PBar2 = c.position;
        JsonLine line;
        appendDisplayMembers(line, s, "", Decoder::None);
        EXPECT_NE(line.text().find("\"bar\":" + std::to_string(c.shown) + ","), std::string::npos)
            << c.position;
    }
    // With every widget shown, the list holds the 63 annunciators and points, sorted, and
    // none of the digits, rows or indicator pictures.
    MeterState s = test::builtState();
    s.display.shown.set();
    JsonLine line;
    appendDisplayMembers(line, s, "", Decoder::None);
    const std::string text = line.text();
    const std::size_t from = text.find("\"shown\":[");
    const std::size_t to = text.find(']', from);
    const std::string list = text.substr(from, to - from);
    std::size_t names = 0;
    for (char ch : list)
        names += ch == ',' ? 1 : 0;
    EXPECT_EQ(names + 1, 63u);
    for (const char* absent : {"\"LcdDa\"", "\"LcdDa2\"", "\"conok\"", "\"PBar2\""})
        EXPECT_EQ(list.find(absent), std::string::npos) << absent;
    EXPECT_LT(list.find("\"AVE\""), list.find("\"CD\"")) << "sorted by byte value";
    EXPECT_LT(list.find("\"Z1\""), list.find("\"auto\""));
}

} // namespace
} // namespace kq::decode
