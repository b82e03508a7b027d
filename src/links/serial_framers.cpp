#include "links/serial_framers.h"

#include "decode/meter_decoders.h"
#include "decode/meter_state.h"

#include <exception>

namespace kq::links {

namespace {

constexpr char kHex[] = "0123456789ABCDEF";

// The end of a frame: FrameText takes the digits whatever they are, a valid
// frame is decoded, and both accumulators start again.
void endFrame(decode::MeterState& state, decode::ReadingSink* sink, bool valid,
              decode::Decoder which, const SerialFrameDecoded& onFrame, SerialBatchResult& result) {
    state.FrameText = state.RxDigits;
    ++result.framesEnded;
    // The accumulators are emptied before the decoder runs: it never reads
    // them, and a decoder that throws must not leave a frame half kept.
    state.RxDigits.clear();
    state.RxMarks.clear();
    if (!valid)
        return;
    ++result.framesDecoded;
    try {
        decode::dispatch(state, sink, which);
    } catch (const std::exception& e) {
        // A reading the log could not take must not cost the frames behind it.
        if (result.decodeFailures++ == 0)
            result.firstFailure = e.what();
    }
    if (onFrame)
        onFrame(which);
}

void append(decode::MeterState& state, std::uint8_t byte) {
    if (state.RxDigits.size() >= kMaxSerialFrameDigits)
        return;
    state.RxDigits.push_back(kHex[byte & 0x0F]);
    state.RxMarks.push_back(kHex[byte >> 4]);
}

} // namespace

SerialBatchResult H12BRData(decode::MeterState& state, decode::ReadingSink* sink,
                            const std::uint8_t* data, std::size_t size,
                            const SerialFrameDecoded& onFrame) {
    SerialBatchResult result;
    for (std::size_t i = 0; i < size; ++i) {
        append(state, data[i]);
        if ((data[i] >> 4) == 0xE)
            endFrame(state, sink, state.RxMarks == "123456789ABCDE", decode::Decoder::D12B, onFrame,
                     result);
    }
    return result;
}

SerialBatchResult H24BRData(decode::MeterState& state, decode::ReadingSink* sink,
                            const std::uint8_t* data, std::size_t size,
                            const SerialFrameDecoded& onFrame) {
    SerialBatchResult result;
    for (std::size_t i = 0; i < size; ++i) {
        append(state, data[i]);
        if (data[i] == 0x0D) {
            const std::string& d = state.RxDigits;
            const bool valid = d.size() >= 11 && d[0] == 'A' && d[10] == 'D';
            endFrame(state, sink, valid, decode::Decoder::D24B, onFrame, result);
        }
    }
    return result;
}

SerialBatchResult receiveSerial(decode::ReceiveHandler handler, decode::MeterState& state,
                                decode::ReadingSink* sink, const std::uint8_t* data,
                                std::size_t size, const SerialFrameDecoded& onFrame) {
    switch (handler) {
    case decode::ReceiveHandler::H12BRData:
        return H12BRData(state, sink, data, size, onFrame);
    case decode::ReceiveHandler::H24BRData:
        return H24BRData(state, sink, data, size, onFrame);
    case decode::ReceiveHandler::None:
        break;
    }
    return {};
}

} // namespace kq::links
