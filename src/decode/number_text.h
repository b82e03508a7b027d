#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

namespace kq::decode {

// The mark of a text that is not a number wherever readings and limits are compared.
inline constexpr double kNotANumber = -999999.0;

// Reads a number the way the user typed or the display shows it: blanks around it
// allowed, an optional sign, decimal digits with at most one decimal separator (only
// the given one: with "," a '.' is not a number), and an optional exponent (e or E,
// optional sign, digits). At least one digit is needed before or after the separator.
// Returns kNotANumber for anything else, and for values too large for a double.
double textToNumber(std::string_view text, std::string_view decimalSeparator);

// A decimal 32-bit integer: blanks around it allowed, an optional sign directly in
// front of the digits, no blanks inside. Out of range or not a number gives nullopt.
std::optional<std::int32_t> textToInt32(std::string_view text);

} // namespace kq::decode
