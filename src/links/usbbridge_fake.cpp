#include "links/usbbridge_fake.h"

#include <algorithm>
#include <cstring>

namespace kq::links {

using Lock = std::lock_guard<std::recursive_mutex>;

void FakeUsbBridge::setDeviceCount(std::uint32_t count) {
    const Lock lock(m_mutex);
    m_deviceCount = count;
}

std::size_t FakeUsbBridge::pendingReads() const {
    const Lock lock(m_mutex);
    return m_reads.size();
}

std::vector<FakeUsbBridge::Record> FakeUsbBridge::calls() const {
    const Lock lock(m_mutex);
    return m_calls;
}

void FakeUsbBridge::clearCalls() {
    const Lock lock(m_mutex);
    m_calls.clear();
}

bool FakeUsbBridge::isOpen(UB_HANDLE handle) const {
    const Lock lock(m_mutex);
    return m_open.count(handle) != 0;
}

std::size_t FakeUsbBridge::openCount() const {
    const Lock lock(m_mutex);
    return m_open.size();
}

std::uint32_t FakeUsbBridge::readTimeoutMs() const {
    const Lock lock(m_mutex);
    return m_readMs;
}

void FakeUsbBridge::setStatus(Call call, UB_STATUS status) {
    const Lock lock(m_mutex);
    auto it = std::find_if(m_forced.begin(), m_forced.end(),
                           [call](const auto& f) { return f.first == call; });
    if (it != m_forced.end())
        it->second = status;
    else
        m_forced.emplace_back(call, status);
}

UB_STATUS FakeUsbBridge::forced(Call call) const {
    for (const auto& [c, s] : m_forced)
        if (c == call)
            return s;
    return UB_OK;
}

void FakeUsbBridge::queueRead(std::vector<std::uint8_t> bytes, UB_STATUS status) {
    const Lock lock(m_mutex);
    m_reads.push_back(ScriptedRead{status, std::move(bytes)});
}

std::size_t FakeUsbBridge::count(Call call) const {
    const Lock lock(m_mutex);
    return static_cast<std::size_t>(std::count_if(
        m_calls.begin(), m_calls.end(), [call](const Record& r) { return r.call == call; }));
}

UB_STATUS FakeUsbBridge::log(Record r) {
    m_calls.push_back(r);
    return r.status;
}

UB_STATUS FakeUsbBridge::UB_GetNumDevices(std::uint32_t* count) {
    const Lock lock(m_mutex);
    if (!count)
        return log({Call::GetNumDevices, 0, 0, 0, UB_INVALID_PARAMETER});
    *count = m_deviceCount;
    return log({Call::GetNumDevices, 0, m_deviceCount, 0, forced(Call::GetNumDevices)});
}

UB_STATUS FakeUsbBridge::UB_Open(int index, UB_HANDLE* handle) {
    const Lock lock(m_mutex);
    const auto idx = static_cast<std::uint32_t>(index);
    if (!handle)
        return log({Call::Open, 0, idx, 0, UB_INVALID_PARAMETER});
    if (index < 0 || static_cast<std::uint32_t>(index) >= m_deviceCount)
        return log({Call::Open, 0, idx, 0, UB_DEVICE_NOT_FOUND});
    if (const auto s = forced(Call::Open))
        return log({Call::Open, 0, idx, 0, s});
    const UB_HANDLE h = m_nextHandle++;
    m_open.insert(h);
    *handle = h;
    return log({Call::Open, h, idx, 0, UB_OK});
}

UB_STATUS FakeUsbBridge::UB_SetBaudRate(UB_HANDLE handle, std::uint32_t baud) {
    const Lock lock(m_mutex);
    const UB_STATUS s = !isOpen(handle) ? UB_INVALID_HANDLE : forced(Call::SetBaudRate);
    return log({Call::SetBaudRate, handle, baud, 0, s});
}

UB_STATUS FakeUsbBridge::UB_SetTimeouts(std::uint32_t readMs, std::uint32_t writeMs) {
    const Lock lock(m_mutex);
    const UB_STATUS s = forced(Call::SetTimeouts);
    if (s == UB_OK)
        m_readMs = readMs;
    return log({Call::SetTimeouts, 0, readMs, writeMs, s});
}

UB_STATUS FakeUsbBridge::UB_Read(UB_HANDLE handle, void* buffer, std::uint32_t toRead,
                                 std::uint32_t* got) {
    const Lock lock(m_mutex);
    if (got)
        *got = 0;
    if (!buffer || !got)
        return log({Call::Read, handle, toRead, 0, UB_INVALID_PARAMETER});
    if (!isOpen(handle))
        return log({Call::Read, handle, toRead, 0, UB_INVALID_HANDLE});
    if (m_reads.empty())
        return log({Call::Read, handle, toRead, 0, UB_NO_DATA});
    ScriptedRead r = std::move(m_reads.front());
    m_reads.pop_front();
    std::uint32_t n = 0;
    if (r.status == UB_OK) {
        n = static_cast<std::uint32_t>(std::min<std::size_t>(r.bytes.size(), toRead));
        if (n)
            std::memcpy(buffer, r.bytes.data(), n);
        *got = n;
        if (n < r.bytes.size())
            m_reads.push_front(ScriptedRead{UB_OK, {r.bytes.begin() + n, r.bytes.end()}, true});
    }
    return log({Call::Read, handle, toRead, n, r.status});
}

UB_STATUS FakeUsbBridge::UB_FlushBuffers(UB_HANDLE handle, int purgeTx, int purgeRx) {
    const Lock lock(m_mutex);
    const UB_STATUS s = !isOpen(handle) ? UB_INVALID_HANDLE : forced(Call::FlushBuffers);
    if (s == UB_OK && purgeRx)
        while (!m_reads.empty() && m_reads.front().received)
            m_reads.pop_front();
    return log({Call::FlushBuffers, handle, static_cast<std::uint32_t>(purgeTx),
                static_cast<std::uint32_t>(purgeRx), s});
}

UB_STATUS FakeUsbBridge::UB_Close(UB_HANDLE handle) {
    const Lock lock(m_mutex);
    if (m_open.erase(handle) == 0)
        return log({Call::Close, handle, 0, 0, UB_INVALID_HANDLE});
    return log({Call::Close, handle, 0, 0, forced(Call::Close)});
}

} // namespace kq::links
