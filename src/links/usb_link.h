#pragma once

#include "decode/frame_select.h"
#include "links/usbbridge.h"

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

namespace kq::decode {
struct MeterState;
class ReadingSink;
} // namespace kq::decode

namespace kq::links {

// The link's own state, kept between the connect step, the polls and the
// button going up.
struct UsbLinkState {
    UB_HANDLE UsbHandle = 0;
    std::uint32_t UsbDeviceCount = 0;
    bool UsbOpenTried = false;
    UB_STATUS UsbStatus = UB_OK;
    // Each read fills it from the start; only the first 32 bytes count, and
    // what a short read did not overwrite stays from earlier reads.
    std::array<std::uint8_t, 64> UsbReadBuffer{};
};

// The messages of the connect step, as the user reads them.
enum class UsbMessage { None, NotConnected, OpenFailed, TimeOut };
std::string_view usbMessageText(UsbMessage message);

struct UsbConnectResult {
    UsbMessage message = UsbMessage::None;
    // The toggle button is to come up again (without its click handling).
    bool releaseButton = false;
};

struct UsbTickResult {
    bool readOk = false; // the read succeeded, FrameText was rebuilt (unless PrintBusy)
    decode::Decoder decoder = decode::Decoder::None; // the decoder that ran
    bool changed = false;                            // anything the window shows may have changed
};

// The USB bridge link: the connect step, the 10 ms poll and the close, over
// any bridge. It runs on one thread and never blocks longer than one read.
class UsbLink {
public:
    static constexpr std::uint32_t kBaudRate = 19200;
    static constexpr std::uint32_t kReadTimeoutMs = 10;
    static constexpr std::uint32_t kWriteTimeoutMs = 10;
    static constexpr std::uint32_t kFrameBytes = 32;

    explicit UsbLink(UsbBridge& bridge) : m_bridge(bridge) {}

    // The connect step of the toggle button going down. Needs exactly one
    // attached bridge; opens it at 19200 bit/s with 10 ms time-outs.
    UsbConnectResult usb_dllClick();
    // The toggle button going up: closes the device if the last connect step
    // tried to open it.
    void buttonUp();
    // One poll: indicator to "not connected", read 32 bytes, turn their low
    // nibbles into FrameText and call the decoder the frame's form selects,
    // then throw away whatever else the bridge holds.
    UsbTickResult Timer1Timer(decode::MeterState& state, decode::ReadingSink* sink);

    const UsbLinkState& state() const { return m_state; }

    // The 32 hexadecimal digits of the low nibbles of the buffer's first 32 bytes.
    static std::string frameText(const std::array<std::uint8_t, 64>& buffer);

private:
    UsbBridge& m_bridge;
    UsbLinkState m_state;
};

} // namespace kq::links
