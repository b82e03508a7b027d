#pragma once

#include "links/usbbridge.h"

#include <array>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>
#include <thread>
#include <vector>

namespace kq::links {

// Reads one open bridge device on a thread of its own, so that the window's
// poll never waits on the line. A read that returned bytes is followed at once
// by the poll's two flushes: at 60 frames a second the next frame starts one
// byte time after this one ends, and a flush made a tick later would throw its
// first bytes away with whatever stale bytes it was meant for.
//
// While it runs, nothing else may call the bridge.
class UsbReadThread {
public:
    struct Read {
        UB_STATUS status = UB_OK;
        std::uint32_t got = 0; // bytes the read stored, from the buffer's start
        std::array<std::uint8_t, 32> bytes{};
    };

    // Beyond this many reads nobody has taken (four seconds at 60 frames a
    // second), the oldest are dropped: the window's thread is stuck, and the
    // memory must not grow for it.
    static constexpr std::size_t kMaxQueued = 256;

    UsbReadThread(UsbBridge& bridge, UB_HANDLE handle, std::uint32_t readTimeoutMs);
    // Stops after the read in progress, which ends within the read time-out.
    ~UsbReadThread();
    UsbReadThread(const UsbReadThread&) = delete;
    UsbReadThread& operator=(const UsbReadThread&) = delete;

    // Appends the reads made since the last call to `out`, oldest first. Reads
    // that found the line quiet are not kept: they change nothing.
    void take(std::vector<Read>& out);

private:
    void run();
    void push(const Read& read);
    // Sleeps up to `ms` unless told to stop; false once stopping.
    bool pause(std::uint32_t ms);

    UsbBridge& m_bridge;
    const UB_HANDLE m_handle;
    const std::uint32_t m_readTimeoutMs;
    std::mutex m_mutex;
    std::condition_variable m_wake;
    std::deque<Read> m_queue;
    bool m_stop = false;
    std::thread m_thread;
};

} // namespace kq::links
