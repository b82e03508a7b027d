#pragma once

#include "decode/frame_select.h"
#include "decode/model_switch.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

namespace kq::decode {
struct MeterState;
class ReadingSink;
} // namespace kq::decode

namespace kq::links {

// What one batch of serial bytes did.
struct SerialBatchResult {
    int framesEnded = 0;    // end bytes met: FrameText was replaced this often
    int framesDecoded = 0;  // of those, valid frames handed to the decoder
    int decodeFailures = 0; // decoders or log steps that threw (the rest went on)
    std::string firstFailure;
};

// Runs right after each decoded frame, before the rest of the batch.
using SerialFrameDecoded = std::function<void(decode::Decoder)>;

// A frame that never ends collects at most this many digits; the rest of it
// is dropped up to its end byte. A valid frame is far shorter, and keeping
// the first digits keeps every test the framers make on a frame.
inline constexpr std::size_t kMaxSerialFrameDigits = 256;

// Light-meter serial frames: 14 bytes, byte k carrying k (1..9, A..E) in its
// high nibble and display bits in its low one. A byte whose high nibble is E
// ends a frame; it is valid when the high nibbles ran exactly 1..E, and then
// goes to the 12B decoder. The accumulators RxDigits / RxMarks of `state`
// carry a frame over from one batch to the next.
SerialBatchResult H12BRData(decode::MeterState& state, decode::ReadingSink* sink,
                            const std::uint8_t* data, std::size_t size,
                            const SerialFrameDecoded& onFrame = {});

// Two-row serial frames: CR (0x0D) ends a frame; it is valid when its first
// digit is A and its eleventh D (an LF, nine data bytes, a CR), and then
// goes to the 24B decoder.
SerialBatchResult H24BRData(decode::MeterState& state, decode::ReadingSink* sink,
                            const std::uint8_t* data, std::size_t size,
                            const SerialFrameDecoded& onFrame = {});

// The framer the model switch installed; none drops the bytes.
SerialBatchResult receiveSerial(decode::ReceiveHandler handler, decode::MeterState& state,
                                decode::ReadingSink* sink, const std::uint8_t* data,
                                std::size_t size, const SerialFrameDecoded& onFrame = {});

} // namespace kq::links
