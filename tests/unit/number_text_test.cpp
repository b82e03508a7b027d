#include "decode/number_text.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <limits>
#include <optional>
#include <ostream>
#include <random>
#include <string>

namespace {

using kq::decode::kNotANumber;
using kq::decode::textToInt32;
using kq::decode::textToNumber;

struct NumberCase {
    std::string text;
    std::string separator;
    double expected;
};

void PrintTo(const NumberCase& c, std::ostream* os) {
    *os << "'" << c.text << "' with '" << c.separator << "'";
}

class TextToNumber : public ::testing::TestWithParam<NumberCase> {};

TEST_P(TextToNumber, ReadsLikeTheRuntime) {
    const NumberCase& c = GetParam();
    EXPECT_DOUBLE_EQ(textToNumber(c.text, c.separator), c.expected)
        << "text '" << c.text << "' separator '" << c.separator << "'";
}

INSTANTIATE_TEST_SUITE_P(
    Cases, TextToNumber,
    ::testing::Values(
        // plain numbers and the display's texts
        NumberCase{"0", ".", 0.0}, NumberCase{"2000", ".", 2000.0},
        NumberCase{"-2000", ".", -2000.0}, NumberCase{"+15", ".", 15.0},
        NumberCase{"19.99", ".", 19.99}, NumberCase{"0019.99", ".", 19.99},
        NumberCase{".4", ".", 0.4}, NumberCase{"4.", ".", 4.0}, NumberCase{"-.5", ".", -0.5},
        NumberCase{"-999999", ".", kNotANumber}, NumberCase{"100", ",", 100.0},
        // blanks around the number only
        NumberCase{"  12  ", ".", 12.0}, NumberCase{"1 2", ".", kNotANumber},
        NumberCase{"- 1", ".", kNotANumber}, NumberCase{"\t1", ".", kNotANumber},
        // the separator is the locale's, and only one of it
        NumberCase{"19,99", ",", 19.99}, NumberCase{"19.99", ",", kNotANumber},
        NumberCase{"19,99", ".", kNotANumber}, NumberCase{"1.2.3", ".", kNotANumber},
        NumberCase{"1", "", 1.0}, NumberCase{"1.5", "", kNotANumber},
        NumberCase{"3dec25", "dec", 3.25}, NumberCase{"3de25", "dec", kNotANumber},
        // exponents
        NumberCase{"1e3", ".", 1000.0}, NumberCase{"1E3", ".", 1000.0},
        NumberCase{"2.5e-2", ".", 0.025}, NumberCase{"2,5E+2", ",", 250.0},
        NumberCase{"1e", ".", kNotANumber}, NumberCase{"1e+", ".", kNotANumber},
        NumberCase{"e5", ".", kNotANumber}, NumberCase{"1e5.5", ".", kNotANumber},
        NumberCase{"1e400", ".", kNotANumber}, NumberCase{"-1e400", ".", kNotANumber},
        NumberCase{"1e-400", ".", 0.0}, NumberCase{"0e99999999999", ".", 0.0},
        NumberCase{"0.000001e-400", ".", 0.0}, NumberCase{"100000e-310", ".", 1e-305},
        // not numbers at all
        NumberCase{"", ".", kNotANumber}, NumberCase{"   ", ".", kNotANumber},
        NumberCase{"-", ".", kNotANumber}, NumberCase{"+", ".", kNotANumber},
        NumberCase{".", ".", kNotANumber}, NumberCase{"-.", ".", kNotANumber},
        NumberCase{"0L", ".", kNotANumber}, NumberCase{"0.L", ".", kNotANumber},
        NumberCase{"@99", ".", kNotANumber}, NumberCase{"usb.1", ".", kNotANumber},
        NumberCase{"inf", ".", kNotANumber}, NumberCase{"nan", ".", kNotANumber},
        NumberCase{"0x10", ".", kNotANumber}, NumberCase{"--1", ".", kNotANumber},
        NumberCase{std::string("1\0", 2), ".", kNotANumber}));

TEST(TextToNumberLong, ManyDigitsStillConvertToTheNearestDouble) {
    EXPECT_DOUBLE_EQ(textToNumber(std::string(400, '0') + "7", "."), 7.0);
    EXPECT_DOUBLE_EQ(textToNumber("0." + std::string(300, '0') + "1e300", "."), 0.1);
    EXPECT_EQ(textToNumber(std::string(400, '9'), "."), kNotANumber);
}

// Short plain texts take a shortcut; with an exponent they take the general
// conversion. Both must give the same double for every text.
TEST(TextToNumberShortcut, AgreesWithTheGeneralConversion) {
    std::mt19937 random(2024);
    const auto below = [&](int n) { return std::uniform_int_distribution<int>(0, n - 1)(random); };
    for (int i = 0; i < 20000; ++i) {
        std::string text;
        if (below(3) == 0)
            text.push_back(below(2) ? '-' : '+');
        const int intDigits = below(12);
        const int fracDigits = below(3) == 0 ? 0 : below(25);
        for (int d = 0; d < intDigits; ++d)
            text.push_back(static_cast<char>('0' + below(10)));
        if (fracDigits > 0 || intDigits == 0) {
            text += ",";
            for (int d = 0; d < std::max(fracDigits, 1); ++d)
                text.push_back(static_cast<char>('0' + below(10)));
        }
        const double shortcut = textToNumber(text, ",");
        const double general = textToNumber(text + "e0", ",");
        ASSERT_NE(shortcut, kNotANumber) << text;
        ASSERT_EQ(shortcut, general) << text;
    }
}

struct IntCase {
    std::string text;
    std::optional<std::int32_t> expected;
};

void PrintTo(const IntCase& c, std::ostream* os) {
    *os << "'" << c.text << "'";
}

class TextToInt32 : public ::testing::TestWithParam<IntCase> {};

TEST_P(TextToInt32, ReadsDecimalIntegersAndRejectsTheRest) {
    const IntCase& c = GetParam();
    EXPECT_EQ(textToInt32(c.text), c.expected) << "text '" << c.text << "'";
}

INSTANTIATE_TEST_SUITE_P(
    Cases, TextToInt32,
    ::testing::Values(IntCase{"0", 0}, IntCase{"100", 100}, IntCase{"-100", -100}, IntCase{"+7", 7},
                      IntCase{" 42 ", 42}, IntCase{"007", 7},
                      IntCase{"2147483647", std::numeric_limits<std::int32_t>::max()},
                      IntCase{"-2147483648", std::numeric_limits<std::int32_t>::min()},
                      IntCase{"2147483648", std::nullopt}, IntCase{"-2147483649", std::nullopt},
                      IntCase{"99999999999999999999", std::nullopt}, IntCase{"", std::nullopt},
                      IntCase{" ", std::nullopt}, IntCase{"-", std::nullopt},
                      IntCase{"+", std::nullopt}, IntCase{"1 0", std::nullopt},
                      IntCase{"- 1", std::nullopt}, IntCase{"1.0", std::nullopt},
                      IntCase{"1e3", std::nullopt}, IntCase{"0x1F", std::nullopt},
                      IntCase{"$1F", std::nullopt}, IntCase{"12a", std::nullopt}));

} // namespace
