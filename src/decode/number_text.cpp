#include "decode/number_text.h"

#include <array>
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

constexpr std::uint64_t kExactMantissaLimit = std::uint64_t{1} << 53;

// Powers of ten that a double holds exactly.
constexpr std::array<double, 23> kPowersOfTen = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,
                                                 1e8,  1e9,  1e10, 1e11, 1e12, 1e13, 1e14, 1e15,
                                                 1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22};

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
    std::size_t i = 0;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
        negative = text[i] == '-';
        ++i;
    }
    const std::size_t mantissaStart = i;
    std::size_t mantissaDigits = 0;
    std::size_t fractionDigits = 0;
    bool separatorSeen = false;
    // Exact while it stays below 2^53.
    std::uint64_t mantissa = 0;
    bool mantissaExact = true;
    while (i < text.size()) {
        const unsigned digit = static_cast<unsigned char>(text[i]) - unsigned{'0'};
        if (digit <= 9) {
            ++mantissaDigits;
            fractionDigits += separatorSeen ? 1 : 0;
            if (mantissaExact) {
                mantissa = mantissa * 10 + digit;
                mantissaExact = mantissa <= kExactMantissaLimit;
            }
            ++i;
        } else if (!separatorSeen && !decimalSeparator.empty() &&
                   text.size() - i >= decimalSeparator.size() &&
                   text.compare(i, decimalSeparator.size(), decimalSeparator) == 0) {
            separatorSeen = true;
            i += decimalSeparator.size();
        } else {
            break;
        }
    }
    if (mantissaDigits == 0)
        return kNotANumber;
    const std::size_t mantissaEnd = i;
    long exponent = 0;
    const bool hasExponent = i < text.size() && (text[i] == 'e' || text[i] == 'E');
    if (hasExponent) {
        ++i;
        bool negativeExponent = false;
        if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
            negativeExponent = text[i] == '-';
            ++i;
        }
        std::size_t exponentDigits = 0;
        while (i < text.size() && isDigit(text[i])) {
            if (exponent < 1'000'000'000L)
                exponent = exponent * 10 + (text[i] - '0');
            ++i;
            ++exponentDigits;
        }
        if (exponentDigits == 0)
            return kNotANumber;
        if (negativeExponent)
            exponent = -exponent;
    }
    if (i != text.size())
        return kNotANumber;

    // Both operands are exact doubles and the division rounds once, so this is the
    // nearest double, as the general conversion below would give.
    if (!hasExponent && mantissaExact && fractionDigits < kPowersOfTen.size()) {
        const double value = static_cast<double>(mantissa) / kPowersOfTen[fractionDigits];
        return negative ? -value : value;
    }

    // The text is rewritten with '.' as the separator so the conversion does not
    // depend on the process locale. `magnitude` is the decimal order of the mantissa,
    // to tell overflow from underflow when the value leaves the double range.
    std::string plain;
    plain.reserve(text.size() + 1);
    if (negative)
        plain.push_back('-');
    long magnitude = 0;
    bool nonZeroSeen = false;
    bool inFraction = false;
    for (std::size_t k = mantissaStart; k < mantissaEnd;) {
        if (isDigit(text[k])) {
            nonZeroSeen = nonZeroSeen || text[k] != '0';
            if (!inFraction && nonZeroSeen)
                ++magnitude;
            else if (inFraction && !nonZeroSeen)
                --magnitude;
            plain.push_back(text[k++]);
        } else {
            inFraction = true;
            plain.push_back('.');
            k += decimalSeparator.size();
        }
    }
    plain.append(text.substr(mantissaEnd));

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
