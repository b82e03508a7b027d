#pragma once

#include <cstddef>
#include <string_view>

namespace kq::record {

// Texts of the log are UTF-8, and their widths count characters: a
// well-formed UTF-8 sequence is one character, and so is each byte that is not
// part of one (a byte of a file in another code page), so no byte is ever
// dropped or merged with its neighbours.

// The bytes of a character starting at s[0] (1 to 4; 0 for an empty text).
std::size_t charBytes(std::string_view s);

// The number of bytes of the first `chars` characters of `s` (all of it when it
// has fewer). Never splits a character.
std::size_t charPrefixBytes(std::string_view s, std::size_t chars);

// The number of characters of `s`.
std::size_t charCount(std::string_view s);

} // namespace kq::record
