#include "links/usb_link.h"

#include "decode/meter_decoders.h"
#include "decode/meter_state.h"
#include "links/serial_messages.h"

#include <algorithm>
#include <exception>

namespace kq::links {

using decode::Widget;

std::string_view usbMessageText(UsbMessage message) {
    switch (message) {
    case UsbMessage::NotConnected:
        return "USB interface cable is not connected properly, please check and re-try.";
    case UsbMessage::OpenFailed:
        return "Open the equipments mistake";
    case UsbMessage::TimeOut:
        return "Time out";
    case UsbMessage::None:
        break;
    }
    return {};
}

std::string usbConnectText(const UsbConnectResult& result) {
    std::string text(usbMessageText(result.message));
    if (!result.advice.empty())
        text += "\n\n" + result.advice;
    return text;
}

std::string UsbLink::frameText(const std::array<std::uint8_t, 64>& buffer) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string text(kFrameBytes, '0');
    for (std::size_t k = 0; k < kFrameBytes; ++k)
        text[k] = kHex[buffer[k] & 0x0F]; // the high nibble carries nothing for us
    return text;
}

UsbLink::UsbLink(UsbBridge& bridge) : m_bridge(bridge) {}

UsbLink::~UsbLink() = default;

void UsbLink::startReading(std::function<void()> ready) {
    if (m_deviceOpen && !m_reader)
        m_reader = std::make_unique<UsbReadThread>(m_bridge, m_state.UsbHandle, kReadTimeoutMs,
                                                   kWriteTimeoutMs, std::move(ready));
}

void UsbLink::stopReading() {
    m_reader.reset();
    m_taken.clear();
    m_next = 0;
}

UsbConnectResult UsbLink::usb_dllClick() {
    stopReading();
    m_state.UsbDeviceCount = 0;
    m_state.UsbOpenTried = false;
    m_state.UsbStatus = m_bridge.UB_GetNumDevices(&m_state.UsbDeviceCount);
    // Two cables would leave it open which meter is read: only one will do.
    if (m_state.UsbDeviceCount != 1)
        return {UsbMessage::NotConnected, true, {}};

    m_state.UsbStatus = m_bridge.UB_Open(0, &m_state.UsbHandle);
    m_state.UsbOpenTried = true;
    if (m_state.UsbStatus == UB_NOT_PERMITTED)
        return {UsbMessage::OpenFailed, false,
                "This user may not open the USB cable's serial line. " +
                    std::string(kDialoutAdvice)};
    if (m_state.UsbStatus != UB_OK)
        return {UsbMessage::OpenFailed, false, {}};
    m_deviceOpen = true;

    if (m_bridge.UB_SetBaudRate(m_state.UsbHandle, kBaudRate) != UB_OK)
        return {UsbMessage::TimeOut, false, {}};

    m_state.UsbStatus = m_bridge.UB_SetTimeouts(kReadTimeoutMs, kWriteTimeoutMs);
    return {};
}

void UsbLink::buttonUp() {
    stopReading();
    if (m_state.UsbOpenTried) {
        m_bridge.UB_Close(m_state.UsbHandle);
        m_deviceOpen = false;
    }
}

UsbTickResult UsbLink::Timer1Timer(decode::MeterState& state, decode::ReadingSink* sink) {
    std::exception_ptr failure;
    UsbTickResult result;
    if (m_reader) {
        if (m_next == m_taken.size()) {
            m_taken.clear();
            m_next = 0;
            m_reader->take(m_taken);
        }
        if (m_next == m_taken.size())
            return result; // the line was quiet: nothing changes
        // A whole frame, cut from the stream by its end, or a failed read.
        const UsbReadThread::Read& read = m_taken[m_next++];
        if (read.status == UB_OK)
            std::copy_n(read.bytes.begin(), read.got, m_state.UsbReadBuffer.begin());
        m_state.UsbDeviceCount = read.devices;
        result = afterRead(read.status, state, sink, failure);
        if (read.status == UB_OK) {
            state.RxDigits.clear();
            state.RxMarks.clear();
        }
    } else {
        // The count is not used here; the call stays because the bridge
        // refreshes its device list with it.
        m_bridge.UB_GetNumDevices(&m_state.UsbDeviceCount);
        std::uint32_t got = 0;
        const UB_STATUS status =
            m_bridge.UB_Read(m_state.UsbHandle, m_state.UsbReadBuffer.data(), kFrameBytes, &got);
        result = afterRead(status, state, sink, failure);
        if (status == UB_OK) {
            // Whatever arrived beyond these 32 bytes is stale by now: the next
            // frame must be read from its first byte.
            m_bridge.UB_FlushBuffers(m_state.UsbHandle, 1, 1);
            state.RxDigits.clear();
            state.RxMarks.clear();
            m_bridge.UB_FlushBuffers(m_state.UsbHandle, 1, 1);
        }
    }
    result.deviceGone = m_state.UsbStatus == UB_IO_ERROR && m_state.UsbDeviceCount == 0;
    if (failure)
        std::rethrow_exception(failure);
    return result;
}

UsbTickResult UsbLink::afterRead(UB_STATUS status, decode::MeterState& state,
                                 decode::ReadingSink* sink, std::exception_ptr& failure) {
    UsbTickResult result;
    m_state.UsbStatus = status;
    if (status != UB_OK) {
        // A link that is down (never opened, closed, device gone) reads "not
        // connected" at once. A tick that merely found the line quiet leaves
        // the indicator to the connection timer, which turns it off 200 to
        // 300 ms after the last frame: a meter sends a few frames a second,
        // and resetting on every 10 ms tick would show a working meter as
        // "not connected" nearly all the time.
        if (status != UB_NO_DATA) {
            auto& display = state.display;
            result.changed = display.isShown(Widget::conok) || !display.isShown(Widget::conokn);
            display.setShown(Widget::conok, false);
            display.setShown(Widget::conokn, true);
        }
        return result;
    }
    result.readOk = true;

    // All 32 bytes count, whatever the read returned: bytes a short read did
    // not reach are those of earlier reads.
    state.RxMarks.clear();
    state.RxMarks = frameText(m_state.UsbReadBuffer);

    if (!state.RxMarks.empty() && !state.PrintBusy) {
        state.FrameText = state.RxMarks;
        // The tests look at the frame as it stands before any decoder runs.
        const decode::Decoder which = decode::selectUsb(state.FrameText);
        if (which != decode::Decoder::None) {
            result.decoder = which;
            result.changed = true;
            try {
                decode::dispatch(state, sink, which);
            } catch (...) {
                // The bridge is still flushed, so the next frame starts clean.
                if (!failure)
                    failure = std::current_exception();
            }
        }
    }
    return result;
}

} // namespace kq::links
