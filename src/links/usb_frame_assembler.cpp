#include "links/usb_frame_assembler.h"

namespace kq::links {

namespace {
// Only the low four bits of a byte carry the meter's data, and the poll tells
// a frame by them: CR gives "D", LF "A".
constexpr std::uint8_t kCr = 0x0D;
constexpr std::uint8_t kLf = 0x0A;
constexpr bool is(std::uint8_t byte, std::uint8_t low) {
    return (byte & 0x0F) == low;
}
} // namespace

void UsbFrameAssembler::clear() {
    m_since = 0;
    m_afterCr = false;
}

bool UsbFrameAssembler::take(std::uint8_t byte) {
    m_ring[m_at] = byte;
    m_at = (m_at + 1) % kFrameBytes;
    if (m_since < kFrameBytes)
        ++m_since;
    const bool end = m_afterCr && is(byte, kLf) && m_since == kFrameBytes;
    m_afterCr = is(byte, kCr);
    if (!end)
        return false;
    // m_at is the oldest of the last 32 bytes, the frame's first.
    for (std::size_t k = 0; k < kFrameBytes; ++k)
        m_frame[k] = m_ring[(m_at + k) % kFrameBytes];
    m_since = 0;
    m_afterCr = false;
    return true;
}

} // namespace kq::links
