#pragma once

#include <cstdint>
#include <memory>
#include <string_view>

namespace kq::links {

// Device handle of the bridge layer. 0 is "no device"; a bridge never hands
// out 0 and never reuses a handle it has closed, so a stale handle fails
// instead of reaching another device.
using UB_HANDLE = std::uintptr_t;
using UB_STATUS = std::uint32_t;

// Status codes of every bridge call: 0 is success, everything else a failure.
enum UbStatusCode : UB_STATUS {
    UB_OK = 0,
    UB_INVALID_HANDLE = 1,    // never opened, already closed, or not from this bridge
    UB_DEVICE_NOT_FOUND = 2,  // the index lies beyond the device list
    UB_DEVICE_NOT_OPENED = 3, // the device file could not be opened or is no serial line
    UB_IO_ERROR = 4,          // the line failed or hung up (cable pulled, meter gone)
    UB_INVALID_PARAMETER = 5, // a null pointer where a result is to be written
    UB_INVALID_BAUD_RATE = 6, // a speed the line cannot run at
    UB_NO_DATA = 7,           // no whole burst to hand out within the read time-out
    UB_SET_FAILED = 8,        // the line refused a setting
    UB_NOT_PERMITTED = 9,     // this user may not open the device file
};

// A short English name of a status, for diagnostics ("UB_IO_ERROR").
std::string_view ubStatusName(UB_STATUS status);

// The USB-to-UART bridge layer. One object is one instance of the bridge
// library: it owns the devices it opened and its time-outs; nothing is shared
// between objects.
class UsbBridge {
public:
    virtual ~UsbBridge() = default;

    // The number of bridge devices attached now.
    virtual UB_STATUS UB_GetNumDevices(std::uint32_t* count) = 0;
    // Opens device `index` (0-based) in raw mode and fills *handle; *handle
    // is left unchanged when the open fails.
    virtual UB_STATUS UB_Open(int index, UB_HANDLE* handle) = 0;
    virtual UB_STATUS UB_SetBaudRate(UB_HANDLE handle, std::uint32_t baud) = 0;
    // Applies to every read and write of this bridge from now on, also on
    // devices opened later. Until it is called a read waits at most
    // kDefaultReadTimeoutMs: no read blocks for ever.
    virtual UB_STATUS UB_SetTimeouts(std::uint32_t readMs, std::uint32_t writeMs) = 0;
    // Returns a burst of bytes: `toRead` of them, or fewer once the line has
    // been quiet for the read time-out after them, so a frame sent as one
    // burst arrives whole. No call takes longer than the read time-out: a
    // burst still arriving when the time is up is kept for the next read,
    // which goes on collecting it (a flush of the receive side drops it).
    // *got receives the number of bytes stored (0 on failure). A read that
    // has no whole burst to hand out fails with UB_NO_DATA; a read that got
    // some bytes before the line failed succeeds with those bytes and the next
    // read reports the failure.
    virtual UB_STATUS UB_Read(UB_HANDLE handle, void* buffer, std::uint32_t toRead,
                              std::uint32_t* got) = 0;
    // Discards what waits to be sent (purgeTx != 0) and what was received
    // (purgeRx != 0).
    virtual UB_STATUS UB_FlushBuffers(UB_HANDLE handle, int purgeTx, int purgeRx) = 0;
    virtual UB_STATUS UB_Close(UB_HANDLE handle) = 0;

    static constexpr std::uint32_t kDefaultReadTimeoutMs = 10;
    static constexpr std::uint32_t kDefaultWriteTimeoutMs = 10;
};

// Environment variable that replaces device discovery: paths of serial lines
// separated by colons, each counting as one attached bridge while it exists.
// This is how a virtual meter on a pseudo-terminal is attached.
inline constexpr const char* kBridgeDevicesEnv = "KQMETER_BRIDGE_DEVICES";

// The bridge of this machine: the kernel's USB-serial tty devices, or the
// devices named by KQMETER_BRIDGE_DEVICES when it is set (read once, here).
std::unique_ptr<UsbBridge> makeSystemBridge();

} // namespace kq::links
