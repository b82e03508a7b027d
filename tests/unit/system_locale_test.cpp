// The separators read from the system's locale, and the time separator of a locale's
// time format.
#include "decode/system_locale.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <optional>
#include <string>
#include <vector>

namespace kq::decode {
namespace {

// Sets one environment variable for the life of the object, then puts it back.
class ScopedEnv {
public:
    ScopedEnv(const char* name, const char* value) : m_name(name) {
        if (const char* old = std::getenv(name))
            m_saved = old;
        if (value)
            setenv(name, value, 1);
        else
            unsetenv(name);
    }
    ~ScopedEnv() {
        if (m_saved)
            setenv(m_name, m_saved->c_str(), 1);
        else
            unsetenv(m_name);
    }
    ScopedEnv(const ScopedEnv&) = delete;
    ScopedEnv& operator=(const ScopedEnv&) = delete;

private:
    const char* m_name;
    std::optional<std::string> m_saved;
};

struct LocaleCase {
    const char* what;
    const char* lcAll;   // null: unset
    const char* lang;    // null: unset
    const char* decimal; // expected separators
    const char* time;
};

// No machine has the locale "xx_NOWHERE"; "C", "POSIX" and "C.UTF-8" are always there.
const std::vector<LocaleCase> kLocales = {
    {"C", "C", nullptr, ".", ":"},
    {"POSIX", "POSIX", nullptr, ".", ":"},
    {"C.UTF-8", "C.UTF-8", nullptr, ".", ":"},
    {"LC_ALL names a missing locale", "xx_NOWHERE.UTF-8", nullptr, ".", ":"},
    {"LANG names a missing locale", nullptr, "xx_NOWHERE.UTF-8", ".", ":"},
    {"LANG names a locale with no such encoding", nullptr, "C.NO-SUCH-CODESET", ".", ":"},
    {"nothing set", nullptr, nullptr, ".", ":"},
};

TEST(SystemLocale, SeparatorsOfTheEnvironmentsLocaleWithTheCLocaleAsFallback) {
    for (const LocaleCase& c : kLocales) {
        SCOPED_TRACE(c.what);
        const ScopedEnv all("LC_ALL", c.lcAll);
        const ScopedEnv numeric("LC_NUMERIC", nullptr);
        const ScopedEnv time("LC_TIME", nullptr);
        const ScopedEnv lang("LANG", c.lang);
        EXPECT_EQ(systemDecimalSeparator(), c.decimal);
        EXPECT_EQ(systemTimeSeparator(), c.time);
    }
}

struct FormatCase {
    const char* format;
    const char* ampm;
    const char* separator; // empty: the format gives none
};

// Time formats of the kinds locales use: "%T" and "%r" shorthands, dots and other
// separators, padding flags, and formats without hh SEP mm SEP ss.
const std::vector<FormatCase> kFormats = {
    {"%H:%M:%S", "", ":"},
    {"%T", "", ":"},
    {"%r", "%I:%M:%S %p", ":"},
    {"%r", "%I.%M.%S %p", "."},
    {"%H.%M.%S", "", "."},
    {"%k.%M.%S", "", "."},
    {"%-H:%M:%S", "", ":"},
    {"%OH:%OM:%OS", "", ":"},
    {"%p %I:%M:%S", "", ":"},
    {"%H h %M min %S s", "", ""}, // two different separators
    {"%Hh%Mm%Ss", "", ""},
    {"%H%M%S", "", ""},    // no separator at all
    {"%H:%M", "", ""},     // no seconds
    {"%r", "", ""},        // an empty am/pm format
    {"%%H:%M:%S", "", ""}, // a literal "%H"
    {"%H:%M:%S %Z", "", ":"},
    {"", "", ""},
    {"%", "", ""},
    {"%r", "%r", ""}, // a format that names itself does not loop
};

TEST(SystemLocale, TimeSeparatorOfAFormat) {
    for (const FormatCase& c : kFormats) {
        SCOPED_TRACE(std::string(c.format) + " / " + c.ampm);
        EXPECT_EQ(timeSeparatorOfFormat(c.format, c.ampm), c.separator);
    }
}

} // namespace
} // namespace kq::decode
