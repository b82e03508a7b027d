#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

namespace kq::links {

// Cuts the bytes of the bridge into the meter's frames: 32 bytes, the last
// two a carriage return and a line feed, told (as the poll tells them) by
// their low four bits "D" and "A", since the high ones carry nothing. A meter
// sending 60 frames a second leaves no gap between them, so a frame cannot be
// told by a pause; and a stream joined in the middle of a frame, a byte lost
// on the line or noise on it leaves bytes before a frame's first one. A frame
// is therefore found by its end, and is the 32 bytes that end there.
//
// A CR LF fewer than 32 bytes after the last frame's end is not one: it is
// data (segment bytes can read "D" then "A"), or the tail of a frame whose
// head was lost. Either way the next end 32 bytes or more on closes the
// frame, whole.
class UsbFrameAssembler {
public:
    static constexpr std::size_t kFrameBytes = 32;
    using Frame = std::array<std::uint8_t, kFrameBytes>;

    // Takes `size` bytes and calls `whole(const Frame&)` for every frame they
    // complete, in order.
    template <class Whole> void feed(const std::uint8_t* data, std::size_t size, Whole&& whole) {
        for (std::size_t i = 0; i < size; ++i)
            if (take(data[i]))
                whole(m_frame);
    }

    // The fewest bytes that can complete the next frame: a read asking for no
    // more stops at a frame's end and keeps a stream in step. Once a frame's
    // length came without an end, the end may be the next CR LF.
    std::size_t wanted() const {
        if (m_since < kFrameBytes)
            return kFrameBytes - m_since;
        return m_afterCr ? 1 : 2;
    }

    // Forgets a frame begun: the next bytes start afresh.
    void clear();

private:
    // True when `byte` ends a frame, which is then in m_frame.
    bool take(std::uint8_t byte);

    // The last 32 bytes, the oldest at m_at.
    std::array<std::uint8_t, kFrameBytes> m_ring{};
    std::size_t m_at = 0;
    std::size_t m_since = 0; // bytes since the last frame's end, up to 32
    bool m_afterCr = false;  // the last byte was a carriage return
    Frame m_frame{};
};

} // namespace kq::links
