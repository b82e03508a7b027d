#include "links/usb_read_thread.h"

#include <algorithm>
#include <chrono>

namespace kq::links {

UsbReadThread::UsbReadThread(UsbBridge& bridge, UB_HANDLE handle, std::uint32_t readTimeoutMs,
                             std::uint32_t writeTimeoutMs, std::function<void()> ready)
    : m_bridge(bridge), m_handle(handle), m_readTimeoutMs(readTimeoutMs),
      m_writeTimeoutMs(writeTimeoutMs), m_ready(std::move(ready)), m_thread([this] { run(); }) {}

UsbReadThread::~UsbReadThread() {
    {
        std::lock_guard lock(m_mutex);
        m_stop = true;
    }
    m_wake.notify_all();
    m_thread.join();
}

void UsbReadThread::take(std::vector<Read>& out) {
    std::lock_guard lock(m_mutex);
    out.insert(out.end(), m_queue.begin(), m_queue.end());
    m_queue.clear();
}

void UsbReadThread::push(const Read& read) {
    bool wasEmpty = false;
    {
        std::lock_guard lock(m_mutex);
        if (m_queue.size() >= kMaxQueued)
            m_queue.pop_front();
        wasEmpty = m_queue.empty();
        m_queue.push_back(read);
    }
    // Outside the lock: the taker may take at once.
    if (wasEmpty && m_ready)
        m_ready();
}

bool UsbReadThread::stopping() {
    std::lock_guard lock(m_mutex);
    return m_stop;
}

bool UsbReadThread::pause(std::uint32_t ms) {
    std::unique_lock lock(m_mutex);
    m_wake.wait_for(lock, std::chrono::milliseconds(ms), [this] { return m_stop; });
    return !m_stop;
}

void UsbReadThread::run() {
    using Clock = std::chrono::steady_clock;
    m_bridge.UB_SetTimeouts(kWaitMs, m_writeTimeoutMs);
    std::array<std::uint8_t, 64> buffer{};
    UsbFrameAssembler frames;
    while (!stopping()) {
        // The count tells a read that failed because the cable was pulled
        // (none attached any more) from a failure of a line still there; a
        // bridge also refreshes its device list with it.
        std::uint32_t devices = 0;
        m_bridge.UB_GetNumDevices(&devices);
        const auto started = Clock::now();
        // No more than the frame begun still needs: the read ends at the
        // frame's end instead of a time-out or a frame later.
        const auto wanted = static_cast<std::uint32_t>(frames.wanted());
        std::uint32_t got = 0;
        const UB_STATUS status = m_bridge.UB_Read(m_handle, buffer.data(), wanted, &got);
        if (status == UB_OK) {
            got = std::min(got, wanted);
            frames.feed(buffer.data(), got, [this, devices](const UsbFrameAssembler::Frame& frame) {
                Read read;
                read.devices = devices;
                read.got = static_cast<std::uint32_t>(frame.size());
                read.bytes = frame;
                push(read);
            });
            if (got > 0)
                continue;
        } else if (status != UB_NO_DATA) {
            // The bytes before a failure and those after it are no one frame.
            frames.clear();
            Read read;
            read.devices = devices;
            read.status = status;
            push(read); // the poll shows "not connected" for it
        }
        // A bridge that fails or finds the line quiet at once (a cable pulled,
        // a scripted bridge) is asked again no sooner than a read would end.
        const auto spent =
            std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - started);
        if (spent.count() < kWaitMs && !pause(kWaitMs - static_cast<std::uint32_t>(spent.count())))
            break;
    }
    m_bridge.UB_SetTimeouts(m_readTimeoutMs, m_writeTimeoutMs);
}

} // namespace kq::links
