#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace kq::decode {

// Every decoder reads the first 32 hexadecimal characters of a frame text, one
// 4-bit group of the meter's segment stream each (position 1 at index 0).
inline constexpr std::size_t kFramePositions = 32;
using FrameNibbles = std::array<std::uint8_t, kFramePositions>;

// Value of an upper-case hexadecimal digit, or -1. The links only ever write
// "0".."9" and "A".."F"; anything else, lower case included, is a corrupted frame.
constexpr int hexDigitValue(char c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

// Fills positions 1..32 from the frame. A position past the end of a shorter
// frame repeats the last one present (a 14-character serial frame repeats its
// 14th digit up to position 32); an empty frame reads as all zeros. Returns the
// first character among positions 1..32 that is not a hexadecimal digit, in which
// case `out` is unspecified.
std::optional<char> readFrameNibbles(std::string_view frame, FrameNibbles& out);

// The message for a frame character that is not a hexadecimal digit:
// "'X' is not a valid integer value" (the decode command reports it).
std::string invalidIntegerMessage(char bad);

} // namespace kq::decode
