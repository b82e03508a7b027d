#include "support/frames.h"

#include <cstdio>

namespace kq::test {

std::string frameText(std::initializer_list<std::pair<int, char>> positions) {
    std::string text(32, '0');
    for (auto [pos, c] : positions)
        text[static_cast<std::size_t>(pos - 1)] = c;
    return text;
}

std::string lux1999Frame() {
    return "00D7D7DF0600000000800000000000DA";
}

std::vector<std::uint8_t> bridgeBytes(const std::string& text) {
    std::vector<std::uint8_t> bytes;
    for (char c : text)
        bytes.push_back(static_cast<std::uint8_t>(0x30 | (c <= '9' ? c - '0' : c - 'A' + 10)));
    return bytes;
}

std::vector<std::uint8_t> luxFrame(int count) {
    // The light meter's segment patterns (point bit clear) for 0..9, as the two
    // hexadecimal positions of a digit: bottom, middle, lower left, upper left;
    // point, upper right, lower right, top.
    static constexpr const char* kDigitPositions[10] = {"B7", "06", "E5", "C7", "56",
                                                        "D3", "F3", "07", "F7", "D7"};
    std::string text = frameText({{19, '8'}, {31, 'D'}, {32, 'A'}});
    char digits[8];
    std::snprintf(digits, sizeof digits, "%04d", count % 10000); // leftmost first
    for (int i = 0; i < 4; ++i) {
        const char* pair = kDigitPositions[digits[3 - i] - '0'];
        text[static_cast<std::size_t>(2 + 2 * i)] = pair[0];
        text[static_cast<std::size_t>(3 + 2 * i)] = pair[1];
    }
    return bridgeBytes(text);
}

} // namespace kq::test
