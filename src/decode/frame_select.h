#pragma once

#include <string_view>

namespace kq::decode {

enum class Decoder { None, D12B, D24B, D36B };

// Which decoder a frame of the USB bridge link goes to: positions 31, 32 "DA" (the
// low digits of CR LF) with position 2 "0" or "F" for the light-meter family, or
// positions 1..10 "03603FAD6B" for the two-row family. At most one test holds.
Decoder selectUsb(std::string_view frame);

// The HID link also takes position 2 "1" for the light-meter family and "2" for the
// fixed 36B display.
Decoder selectHid(std::string_view frame);

// "12B", "24B", "36B", or empty for Decoder::None.
std::string_view decoderName(Decoder decoder);

} // namespace kq::decode
