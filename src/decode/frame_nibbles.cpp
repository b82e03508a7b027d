#include "decode/frame_nibbles.h"

#include <algorithm>

namespace kq::decode {
namespace {

// 0..15 for "0".."9" and "A".."F", 0xFF for every other byte.
constexpr std::array<std::uint8_t, 256> kHexTable = [] {
    std::array<std::uint8_t, 256> table{};
    for (int c = 0; c < 256; ++c) {
        const int v = hexDigitValue(static_cast<char>(c));
        table[static_cast<std::size_t>(c)] = v < 0 ? 0xFF : static_cast<std::uint8_t>(v);
    }
    return table;
}();

} // namespace

std::optional<char> readFrameNibbles(std::string_view frame, FrameNibbles& out) {
    const std::size_t present = std::min(frame.size(), kFramePositions);
    if (present == kFramePositions) {
        // The usual whole frame: arithmetic without branches on the data, which the
        // compiler turns into a few vector operations.
        std::array<unsigned char, kFramePositions> chars;
        std::copy_n(frame.data(), kFramePositions, chars.begin());
        unsigned invalid = 0;
        for (std::size_t k = 0; k < kFramePositions; ++k) {
            const auto digit = static_cast<unsigned char>(chars[k] - '0');
            const auto letter = static_cast<unsigned char>(chars[k] - 'A');
            const bool isDigit = digit < 10;
            const bool isLetter = letter < 6;
            out[k] = static_cast<std::uint8_t>(isDigit ? digit : letter + 10);
            invalid |= static_cast<unsigned>(!isDigit && !isLetter);
        }
        if (invalid == 0)
            return std::nullopt;
    }
    std::uint8_t last = 0;
    for (std::size_t k = 0; k < present; ++k) {
        const std::uint8_t v = kHexTable[static_cast<unsigned char>(frame[k])];
        if (v == 0xFF)
            return frame[k];
        out[k] = last = v;
    }
    for (std::size_t k = present; k < kFramePositions; ++k)
        out[k] = last;
    return std::nullopt;
}

std::string invalidIntegerMessage(char bad) {
    std::string message = "'";
    message.push_back(bad);
    message += "' is not a valid integer value";
    return message;
}

} // namespace kq::decode
