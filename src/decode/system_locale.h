#pragma once

#include <string>
#include <string_view>

namespace kq::decode {

// The separators of the system's locale (the environment's LC_ALL, LC_NUMERIC or
// LC_TIME, LANG), read without changing the process locale, at most 10 characters
// each. A locale the machine does not have (a LANG copied from another system is
// common) reads as the C locale: "." and ":". An empty separator would turn "19.99"
// into 1999 and run the hours, minutes and seconds together.
std::string systemDecimalSeparator();
std::string systemTimeSeparator();

// The separator a strftime time format puts between hours and minutes and between
// minutes and seconds ("%H.%M.%S" gives "."). "%T", "%R" and "%r" stand for their
// expansions, "%r" for `ampmFormat`. Empty when the format shows no hh SEP mm SEP ss
// with one separator, so the caller keeps its default.
std::string timeSeparatorOfFormat(std::string_view format, std::string_view ampmFormat);

} // namespace kq::decode
