#include "decode/frame_select.h"

namespace kq::decode {
namespace {

constexpr std::string_view k24BHead = "03603FAD6B";

bool hasCrLfTail(std::string_view frame) {
    return frame.size() >= 32 && frame[30] == 'D' && frame[31] == 'A';
}

} // namespace

Decoder selectUsb(std::string_view frame) {
    if (hasCrLfTail(frame) && (frame[1] == '0' || frame[1] == 'F'))
        return Decoder::D12B;
    if (frame.starts_with(k24BHead))
        return Decoder::D24B;
    return Decoder::None;
}

Decoder selectHid(std::string_view frame) {
    if (hasCrLfTail(frame)) {
        switch (frame[1]) {
        case '0':
        case '1':
        case 'F':
            return Decoder::D12B;
        case '2':
            return Decoder::D36B;
        default:
            break;
        }
    }
    if (frame.starts_with(k24BHead))
        return Decoder::D24B;
    return Decoder::None;
}

std::string_view decoderName(Decoder decoder) {
    switch (decoder) {
    case Decoder::D12B:
        return "12B";
    case Decoder::D24B:
        return "24B";
    case Decoder::D36B:
        return "36B";
    case Decoder::None:
        break;
    }
    return {};
}

} // namespace kq::decode
