#include "decode/number_text.h"

#include <charconv>
#include <cmath>
#include <cstddef>
#include <limits>
#include <string>

namespace kq::decode {
namespace {

bool isDigit(char c) {
    return c >= '0' && c <= '9';
}

std::string_view trimBlanks(std::string_view text) {
    while (!text.empty() && text.front() == ' ')
        text.remove_prefix(1);
    while (!text.empty() && text.back() == ' ')
        text.remove_suffix(1);
    return text;
}

} // namespace

double textToNumber(std::string_view text, std::string_view decimalSeparator) {
    text = trimBlanks(text);
    // The text is rewritten with '.' as the separator so the conversion below does not
    // depend on the process locale. Digits are copied as they stand: a long run of
    // digits must still convert exactly as the nearest double.
    std::string plain;
    plain.reserve(text.size());
    std::size_t i = 0;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
        if (text[i] == '-')
            plain.push_back('-');
        ++i;
    }
    std::size_t mantissaDigits = 0;
    bool separatorSeen = false;
    // Decimal order of magnitude of the mantissa, to tell overflow from underflow.
    long magnitude = 0;
    bool nonZeroSeen = false;
    while (i < text.size()) {
        if (isDigit(text[i])) {
            plain.push_back(text[i]);
            ++mantissaDigits;
            if (text[i] != '0')
                nonZeroSeen = true;
            if (!separatorSeen && nonZeroSeen)
                ++magnitude;
            else if (separatorSeen && !nonZeroSeen)
                --magnitude;
            ++i;
        } else if (!separatorSeen && !decimalSeparator.empty() &&
                   text.substr(i).starts_with(decimalSeparator)) {
            separatorSeen = true;
            plain.push_back('.');
            i += decimalSeparator.size();
        } else {
            break;
        }
    }
    if (mantissaDigits == 0)
        return kNotANumber;
    long exponent = 0;
    if (i < text.size() && (text[i] == 'e' || text[i] == 'E')) {
        plain.push_back('e');
        ++i;
        bool negativeExponent = false;
        if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
            negativeExponent = text[i] == '-';
            plain.push_back(text[i++]);
        }
        std::size_t exponentDigits = 0;
        while (i < text.size() && isDigit(text[i])) {
            if (exponent < 1'000'000'000L)
                exponent = exponent * 10 + (text[i] - '0');
            plain.push_back(text[i++]);
            ++exponentDigits;
        }
        if (exponentDigits == 0)
            return kNotANumber;
        if (negativeExponent)
            exponent = -exponent;
    }
    if (i != text.size())
        return kNotANumber;

    double value = 0.0;
    const char* first = plain.data();
    const char* last = plain.data() + plain.size();
    const auto [end, ec] = std::from_chars(first, last, value);
    if (end != last)
        return kNotANumber;
    if (ec == std::errc::result_out_of_range) {
        // Too small for a double is still a value (zero); too large is no number the
        // program could display or compare.
        if (magnitude + exponent > 0)
            return kNotANumber;
        return 0.0;
    }
    if (ec != std::errc() || !std::isfinite(value))
        return kNotANumber;
    return value;
}

std::optional<std::int32_t> textToInt32(std::string_view text) {
    text = trimBlanks(text);
    if (text.empty())
        return std::nullopt;
    bool negative = false;
    if (text.front() == '+' || text.front() == '-') {
        negative = text.front() == '-';
        text.remove_prefix(1);
    }
    if (text.empty())
        return std::nullopt;
    // Accumulated as a negative number so INT32_MIN is reachable.
    std::int64_t value = 0;
    for (char c : text) {
        if (!isDigit(c))
            return std::nullopt;
        value = value * 10 - (c - '0');
        if (value < std::numeric_limits<std::int32_t>::min())
            return std::nullopt;
    }
    if (!negative) {
        value = -value;
        if (value > std::numeric_limits<std::int32_t>::max())
            return std::nullopt;
    }
    return static_cast<std::int32_t>(value);
}

} // namespace kq::decode
