#pragma once

#include "links/usbbridge.h"

#include <cstddef>
#include <cstdint>
#include <deque>
#include <mutex>
#include <set>
#include <vector>

namespace kq::links {

// An in-process bridge for tests: a scripted device count, scripted reads
// (whole, short, failing), failures of single calls, and a record of every
// call with its arguments. A test may script it while the link's reading
// thread calls it.
class FakeUsbBridge final : public UsbBridge {
public:
    enum class Call { GetNumDevices, Open, SetBaudRate, SetTimeouts, Read, FlushBuffers, Close };

    // One call as it was made. `a` and `b` are the call's numbers: the index
    // for Open, the speed for SetBaudRate, read and write time-outs, the
    // requested count for Read, the two purge flags for FlushBuffers.
    struct Record {
        Call call;
        UB_HANDLE handle = 0;
        std::uint32_t a = 0;
        std::uint32_t b = 0;
        UB_STATUS status = UB_OK;
    };

    struct ScriptedRead {
        UB_STATUS status = UB_OK;
        std::vector<std::uint8_t> bytes; // stored from the buffer's start when status is 0
        bool received = false;           // the rest of a read that asked for fewer
    };

    void setDeviceCount(std::uint32_t count);
    // Every later call of this kind returns `status` (0 restores success);
    // a failing Open leaves the handle alone, a failing GetNumDevices still
    // fills the count. Reads take their status from the script instead.
    void setStatus(Call call, UB_STATUS status);
    void queueRead(std::vector<std::uint8_t> bytes, UB_STATUS status = UB_OK);
    void queueReadFailure(UB_STATUS status) { queueRead({}, status); }
    std::size_t pendingReads() const;

    std::vector<Record> calls() const;
    std::size_t count(Call call) const;
    void clearCalls();
    bool isOpen(UB_HANDLE handle) const;
    std::size_t openCount() const;
    std::uint32_t readTimeoutMs() const;

    UB_STATUS UB_GetNumDevices(std::uint32_t* count) override;
    UB_STATUS UB_Open(int index, UB_HANDLE* handle) override;
    UB_STATUS UB_SetBaudRate(UB_HANDLE handle, std::uint32_t baud) override;
    UB_STATUS UB_SetTimeouts(std::uint32_t readMs, std::uint32_t writeMs) override;
    // An open handle takes the next scripted read (UB_NO_DATA when the script
    // is empty); any other handle fails with UB_INVALID_HANDLE and leaves the
    // script alone. Bytes beyond the count asked for are the next read's, as
    // on a line: received already, so that a flush of the receive side drops
    // them.
    UB_STATUS UB_Read(UB_HANDLE handle, void* buffer, std::uint32_t toRead,
                      std::uint32_t* got) override;
    UB_STATUS UB_FlushBuffers(UB_HANDLE handle, int purgeTx, int purgeRx) override;
    UB_STATUS UB_Close(UB_HANDLE handle) override;

private:
    UB_STATUS forced(Call call) const;
    UB_STATUS log(Record r);

    mutable std::recursive_mutex m_mutex;
    std::uint32_t m_deviceCount = 0;
    std::vector<std::pair<Call, UB_STATUS>> m_forced;
    std::deque<ScriptedRead> m_reads;
    std::vector<Record> m_calls;
    std::set<UB_HANDLE> m_open;
    UB_HANDLE m_nextHandle = 1;
    std::uint32_t m_readMs = kDefaultReadTimeoutMs;
};

} // namespace kq::links
