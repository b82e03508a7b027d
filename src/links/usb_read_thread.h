#pragma once

#include "links/usb_frame_assembler.h"
#include "links/usbbridge.h"

#include <array>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

namespace kq::links {

// Reads one open bridge device on a thread of its own and hands the poll
// whole frames, so that the window's thread never waits on the line and no
// frame is lost at the meter's full speed. The bytes are cut into frames by
// their end (UsbFrameAssembler), never flushed: at 60 frames a second the next
// frame starts one byte time after this one ends, and a flush would throw its
// head away, and with it every frame after, since the stream stays out of step.
//
// While it runs, it waits on the line with a read time-out of its own
// (kWaitMs) and nothing else may call the bridge; when it ends it gives the
// bridge back the time-outs it found.
class UsbReadThread {
public:
    struct Read {
        UB_STATUS status = UB_OK;
        std::uint32_t got = 0;     // bytes of `bytes` that count: a whole frame, or 0
        std::uint32_t devices = 0; // bridge devices attached just before the read
        std::array<std::uint8_t, 32> bytes{};
    };

    // Beyond this many reads nobody has taken (four seconds at 60 frames a
    // second), the oldest are dropped: the window's thread is stuck, and the
    // memory must not grow for it.
    static constexpr std::size_t kMaxQueued = 256;
    // How long a read waits for the line: a quiet line wakes the thread ten
    // times a second, and stopping waits no longer than this.
    static constexpr std::uint32_t kWaitMs = 100;

    // `readTimeoutMs` and `writeTimeoutMs` are the bridge's time-outs, given
    // back when the thread ends. `ready` is called on the reading thread when
    // a read waits to be taken where none waited: once per frame while the
    // taker keeps up.
    UsbReadThread(UsbBridge& bridge, UB_HANDLE handle, std::uint32_t readTimeoutMs,
                  std::uint32_t writeTimeoutMs, std::function<void()> ready = {});
    // Stops after the read in progress, which ends within kWaitMs.
    ~UsbReadThread();
    UsbReadThread(const UsbReadThread&) = delete;
    UsbReadThread& operator=(const UsbReadThread&) = delete;

    // Appends the reads made since the last call to `out`, oldest first: the
    // whole frames and the failed reads. A line that was quiet or sent bytes
    // that make no whole frame leaves nothing.
    void take(std::vector<Read>& out);

private:
    void run();
    void push(const Read& read);
    bool stopping();
    // Sleeps up to `ms` unless told to stop; false once stopping.
    bool pause(std::uint32_t ms);

    UsbBridge& m_bridge;
    const UB_HANDLE m_handle;
    const std::uint32_t m_readTimeoutMs;
    const std::uint32_t m_writeTimeoutMs;
    const std::function<void()> m_ready;
    std::mutex m_mutex;
    std::condition_variable m_wake;
    std::deque<Read> m_queue;
    bool m_stop = false;
    std::thread m_thread;
};

} // namespace kq::links
