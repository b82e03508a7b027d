#include "record/text_chars.h"

namespace kq::record {

namespace {

bool isContinuation(unsigned char b, unsigned char lo = 0x80, unsigned char hi = 0xBF) {
    return b >= lo && b <= hi;
}

} // namespace

std::size_t charBytes(std::string_view s) {
    if (s.empty())
        return 0;
    const auto b = [&](std::size_t i) { return static_cast<unsigned char>(s[i]); };
    const unsigned char lead = b(0);
    if (lead < 0x80)
        return 1;
    // Expected length and the allowed range of the second byte, which rules
    // out overlong forms, surrogates and code points beyond U+10FFFF.
    std::size_t length = 0;
    unsigned char lo = 0x80;
    unsigned char hi = 0xBF;
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        if (lead == 0xE0)
            lo = 0xA0;
        else if (lead == 0xED)
            hi = 0x9F;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        if (lead == 0xF0)
            lo = 0x90;
        else if (lead == 0xF4)
            hi = 0x8F;
    } else {
        return 1;
    }
    if (s.size() < length || !isContinuation(b(1), lo, hi))
        return 1;
    for (std::size_t i = 2; i < length; ++i)
        if (!isContinuation(b(i)))
            return 1;
    return length;
}

std::size_t charPrefixBytes(std::string_view s, std::size_t chars) {
    std::size_t pos = 0;
    for (std::size_t n = 0; n < chars && pos < s.size(); ++n)
        pos += charBytes(s.substr(pos));
    return pos;
}

std::size_t charCount(std::string_view s) {
    std::size_t n = 0;
    for (std::size_t pos = 0; pos < s.size(); ++n)
        pos += charBytes(s.substr(pos));
    return n;
}

} // namespace kq::record
