#include "links/usb_read_thread.h"

#include <algorithm>
#include <chrono>

namespace kq::links {

UsbReadThread::UsbReadThread(UsbBridge& bridge, UB_HANDLE handle, std::uint32_t readTimeoutMs)
    : m_bridge(bridge), m_handle(handle),
      m_readTimeoutMs(std::max<std::uint32_t>(readTimeoutMs, 1)), m_thread([this] { run(); }) {}

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
    std::lock_guard lock(m_mutex);
    if (m_queue.size() >= kMaxQueued)
        m_queue.pop_front();
    m_queue.push_back(read);
}

bool UsbReadThread::pause(std::uint32_t ms) {
    std::unique_lock lock(m_mutex);
    m_wake.wait_for(lock, std::chrono::milliseconds(ms), [this] { return m_stop; });
    return !m_stop;
}

void UsbReadThread::run() {
    using Clock = std::chrono::steady_clock;
    std::array<std::uint8_t, 64> buffer{};
    for (;;) {
        {
            std::lock_guard lock(m_mutex);
            if (m_stop)
                return;
        }
        // The count is not used; the call stays because a bridge refreshes
        // its device list with it.
        std::uint32_t devices = 0;
        m_bridge.UB_GetNumDevices(&devices);
        const auto started = Clock::now();
        Read read;
        read.status = m_bridge.UB_Read(m_handle, buffer.data(),
                                       static_cast<std::uint32_t>(read.bytes.size()), &read.got);
        if (read.status == UB_OK) {
            m_bridge.UB_FlushBuffers(m_handle, 1, 1);
            m_bridge.UB_FlushBuffers(m_handle, 1, 1);
            read.got =
                std::min<std::uint32_t>(read.got, static_cast<std::uint32_t>(read.bytes.size()));
            std::copy_n(buffer.begin(), read.got, read.bytes.begin());
            push(read);
            continue;
        }
        if (read.status != UB_NO_DATA)
            push(read); // the poll shows "not connected" for it
        // A bridge that fails or finds the line quiet at once (a cable pulled,
        // a scripted bridge) is asked again no sooner than a read would end.
        const auto spent =
            std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - started);
        if (spent.count() < m_readTimeoutMs &&
            !pause(m_readTimeoutMs - static_cast<std::uint32_t>(spent.count())))
            return;
    }
}

} // namespace kq::links
