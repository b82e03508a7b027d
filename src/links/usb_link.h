#pragma once

#include "decode/frame_select.h"
#include "links/usb_read_thread.h"
#include "links/usbbridge.h"

#include <array>
#include <cstdint>
#include <exception>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

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
    // Why the device could not be opened and what to do, when the bridge
    // knows more than the message says (empty otherwise).
    std::string advice;
};

// The message of a connect step followed by its advice, if any.
std::string usbConnectText(const UsbConnectResult& result);

struct UsbTickResult {
    bool readOk = false; // the read succeeded, FrameText was rebuilt (unless PrintBusy)
    decode::Decoder decoder = decode::Decoder::None; // the decoder that ran
    bool changed = false;                            // anything the window shows may have changed
    // The line failed and no bridge device is attached any more: the cable
    // was pulled, and this handle will never read again.
    bool deviceGone = false;
};

// The USB bridge link: the connect step, the 10 ms poll and the close, over
// any bridge. It runs on one thread and never blocks longer than one read.
class UsbLink {
public:
    static constexpr std::uint32_t kBaudRate = 19200;
    static constexpr std::uint32_t kReadTimeoutMs = 10;
    static constexpr std::uint32_t kWriteTimeoutMs = 10;
    static constexpr std::uint32_t kFrameBytes = 32;

    explicit UsbLink(UsbBridge& bridge);
    ~UsbLink();
    UsbLink(const UsbLink&) = delete;
    UsbLink& operator=(const UsbLink&) = delete;

    // The connect step of the toggle button going down. Needs exactly one
    // attached bridge; opens it at 19200 bit/s with 10 ms time-outs.
    UsbConnectResult usb_dllClick();
    // The toggle button going up: closes the device if the last connect step
    // tried to open it.
    void buttonUp();
    // One poll: indicator to "not connected", read 32 bytes, turn their low
    // nibbles into FrameText and call the decoder the frame's form selects,
    // then throw away whatever else the bridge holds. While reading() it
    // does the same with the next frame or failure the reading thread handed
    // over, and never waits on the line.
    UsbTickResult Timer1Timer(decode::MeterState& state, decode::ReadingSink* sink);

    // From now until the device is closed or the next connect step, a thread
    // of its own reads the open device (see UsbReadThread), and nothing else
    // calls the bridge; each poll then takes one whole frame it cut from the
    // line, or one failed read. `ready` is called on that thread when a frame
    // or a failure waits where none waited: the time to poll. Does nothing
    // while no device is open.
    void startReading(std::function<void()> ready = {});
    void stopReading();
    bool reading() const { return m_reader != nullptr; }
    // While reading(), a poll takes one read; true when more reads wait, so
    // that the caller polls again at once and each read is its own tick.
    bool readWaiting() const { return m_next < m_taken.size(); }

    const UsbLinkState& state() const { return m_state; }
    // UsbHandle names a device that an open gave and no close took back. While
    // it does not, every read fails at once and a poll changes nothing but the
    // indicator, which then already reads "not connected".
    bool deviceOpen() const { return m_deviceOpen; }

    // The 32 hexadecimal digits of the low nibbles of the buffer's first 32 bytes.
    static std::string frameText(const std::array<std::uint8_t, 64>& buffer);

private:
    // Steps 4 to 6 of a poll for a read with `status` whose bytes are in
    // UsbReadBuffer; a failure of the log is kept in `failure`.
    UsbTickResult afterRead(UB_STATUS status, decode::MeterState& state, decode::ReadingSink* sink,
                            std::exception_ptr& failure);

    UsbBridge& m_bridge;
    UsbLinkState m_state;
    bool m_deviceOpen = false;
    std::unique_ptr<UsbReadThread> m_reader;
    std::vector<UsbReadThread::Read> m_taken;
    std::size_t m_next = 0; // the next of m_taken to poll
};

} // namespace kq::links
