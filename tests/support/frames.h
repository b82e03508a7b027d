#pragma once

#include <cstdint>
#include <initializer_list>
#include <string>
#include <utility>
#include <vector>

namespace kq::test {

// A 32-character frame as the decoders take it: every position (1-based) not
// named is '0'.
std::string frameText(std::initializer_list<std::pair<int, char>> positions);

// 19.99 lux from the light meter: the digits 1, 9 with the point after it, 9,
// 9 at positions 3..10 (rightmost first), the lux bit, "DA" at the end.
std::string lux1999Frame();

// The bytes of a bridge read: one hexadecimal character of the frame per
// byte, in its low four bits.
std::vector<std::uint8_t> bridgeBytes(const std::string& text);

// The 32 bytes a bridge read returns for a four-digit count shown in lux,
// without a point.
std::vector<std::uint8_t> luxFrame(int count);

} // namespace kq::test
