#include "decode/meter_state.h"
#include "record/limit_input.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using kq::decode::MeterState;
using kq::record::Limit;
using kq::record::LimitChange;
using Outcome = LimitChange::Outcome;

namespace {

// Types keys into a limit edit as the window does: the key filter, then the change check on the
// new text, restoring the edit after an error. Records the messages a user would have seen.
struct Typist {
    MeterState state;
    std::vector<std::string> messages;

    explicit Typist(std::string sep = ".") { state.LocaleDecimalSeparator = std::move(sep); }

    std::string& text(Limit which) { return which == Limit::High ? state.T1HI : state.T1LO; }

    void type(Limit which, std::u32string_view keys) {
        for (char32_t k : keys) {
            if (!kq::record::limitKeyAccepted(k, text(which), state.LocaleDecimalSeparator))
                continue;
            std::string next = text(which);
            if (k == 8) {
                if (!next.empty())
                    next.pop_back();
            } else {
                next += toUtf8(k);
            }
            change(which, next);
        }
    }
    void change(Limit which, const std::string& next) {
        const LimitChange r = kq::record::limitTextChanged(state, which, next);
        if (r.outcome == Outcome::Error)
            messages.push_back("Numerical input errors");
    }
    static std::string toUtf8(char32_t c) {
        std::string s;
        if (c < 0x80) {
            s += static_cast<char>(c);
        } else if (c < 0x800) {
            s += static_cast<char>(0xC0 | (c >> 6));
            s += static_cast<char>(0x80 | (c & 0x3F));
        } else {
            s += static_cast<char>(0xE0 | (c >> 12));
            s += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            s += static_cast<char>(0x80 | (c & 0x3F));
        }
        return s;
    }
};

TEST(LimitInput, KeyFilter) {
    struct Case {
        char32_t key;
        const char* text;
        const char* sep;
        bool passes;
    };
    const Case cases[] = {
        {U'0', "", ".", true},     {U'9', "12", ".", true},   {8, "12", ".", true},
        {39, "12", ".", true},     {96, "12", ".", true},     {U'+', "", ".", true},
        {U'-', "5", ".", true},    {U'.', "", ".", true},     {U'.', "12.5", ".", false},
        {U'.', "12.5", ",", true}, // '.' always passes when it is not the separator
        {U',', "12", ",", true},   {U',', "1,5", ",", false}, {U',', "12", ".", false},
        {U'a', "", ".", false},    {U'e', "1", ".", false},   {U' ', "", ".", false},
        {13, "", ".", false},      {U'٫', "1", "٫", true},    {U'٫', "1٫5", "٫", false},
        {U'.', "1", "", true},     {U'x', "1", "", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::to_string(static_cast<int>(c.key)) + " '" + c.text + "' '" + c.sep + "'");
        EXPECT_EQ(kq::record::limitKeyAccepted(c.key, c.text, c.sep), c.passes);
    }
}

TEST(LimitInput, ChangeCheck) {
    struct Case {
        const char* text;
        const char* lastBefore;
        const char* sep;
        Outcome outcome;
        const char* lastAfter;
    };
    const Case cases[] = {
        {"-", "2000", ".", Outcome::Ignored, "2000"},
        {"+", "2000", ".", Outcome::Ignored, "2000"},
        {"", "2000", ".", Outcome::Ignored, "2000"},
        {"   ", "2000", ".", Outcome::Ignored, "2000"},
        {"-5", "2000", ".", Outcome::Accepted, "-5"},
        {"12.5", "1", ".", Outcome::Accepted, "12.5"},
        {"12'", "12", ".", Outcome::Error, "12"},
        {"1`", "1", ".", Outcome::Error, "1"},
        {"1-2", "1", ".", Outcome::Error, "1"},
        {"1.5", "1", ",", Outcome::Error, "1"},
        {"1,5", "1", ",", Outcome::Accepted, "1,5"},
        {"-999999", "5", ".", Outcome::Error, "5"}, // the not-a-number mark
        {"-999999.0", "5", ".", Outcome::Error, "5"},
        {"-999998", "5", ".", Outcome::Accepted, "-999998"},
        {"'", "", ".", Outcome::Error, ""}, // nothing accepted yet: the edit empties
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        std::string last = c.lastBefore;
        const LimitChange r = kq::record::checkLimitChange(c.text, last, c.sep);
        EXPECT_EQ(r.outcome, c.outcome);
        EXPECT_EQ(last, c.lastAfter);
        if (r.outcome == Outcome::Error) {
            EXPECT_EQ(r.restoreText, c.lastBefore);
        }
    }
}

TEST(LimitInput, TypingAMinusIntoAnEmptiedEditThenADigit) {
    Typist t;
    t.change(Limit::High, "2000");
    t.change(Limit::High, "");
    t.type(Limit::High, U"-");
    EXPECT_TRUE(t.messages.empty());
    EXPECT_EQ(t.state.HiLimitText, "2000");
    t.type(Limit::High, U"5");
    EXPECT_EQ(t.state.T1HI, "-5");
    EXPECT_EQ(t.state.HiLimitText, "-5");
    EXPECT_TRUE(t.messages.empty());
}

TEST(LimitInput, AnApostropheAfterDigitsIsRefusedAndTheNumberComesBack) {
    Typist t;
    t.change(Limit::High, "");
    t.type(Limit::High, U"12'");
    EXPECT_EQ(t.messages, (std::vector<std::string>{"Numerical input errors"}));
    EXPECT_EQ(t.state.T1HI, "12");
    EXPECT_EQ(t.state.HiLimitText, "12");
}

TEST(LimitInput, ASecondDecimalSeparatorCannotBeTyped) {
    struct Case {
        const char* sep;
        std::u32string keys;
        const char* text;
        int messages;
    };
    const Case cases[] = {
        {".", U"12.5.", "12.5", 0},
        {",", U"12,5,", "12,5", 0},
        {",", U"12.", "12", 1}, // '.' passes the filter but is no number with ','
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.sep);
        Typist t(c.sep);
        t.change(Limit::Low, "");
        t.type(Limit::Low, c.keys);
        EXPECT_EQ(t.state.T1LO, c.text);
        EXPECT_EQ(static_cast<int>(t.messages.size()), c.messages);
    }
}

TEST(LimitInput, LeavingWithOnlyASignRestoresTheLastAcceptedText) {
    struct Case {
        const char* text;
        bool restored;
        const char* after;
    };
    const Case cases[] = {
        {"-", true, "-2000"},  {"+", true, "-2000"}, {"", true, "-2000"},
        {"  ", true, "-2000"}, {"-5", false, "-5"},  {"--", false, "--"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        MeterState s;
        s.LocaleDecimalSeparator = ".";
        kq::record::limitTextChanged(s, Limit::Low, "-2000");
        s.T1LO = c.text;
        EXPECT_EQ(kq::record::limitEditLeft(s, Limit::Low), c.restored);
        EXPECT_EQ(s.T1LO, c.after);
        EXPECT_EQ(s.T1HI, "6000"); // the other edit is untouched
    }
}

TEST(LimitInput, TheTwoEditsKeepTheirOwnLastAcceptedText) {
    Typist t;
    t.change(Limit::High, "2000");
    t.change(Limit::Low, "-2000");
    t.change(Limit::High, "abc");
    EXPECT_EQ(t.state.T1HI, "2000");
    EXPECT_EQ(t.state.T1LO, "-2000");
    EXPECT_EQ(t.state.HiLimitText, "2000");
    EXPECT_EQ(t.state.LoLimitText, "-2000");
    // a low limit above the high one is accepted
    t.change(Limit::Low, "10");
    t.change(Limit::High, "5");
    EXPECT_EQ(t.state.LoLimitText, "10");
    EXPECT_EQ(t.state.HiLimitText, "5");
    EXPECT_EQ(t.messages.size(), 1u);
}

} // namespace
