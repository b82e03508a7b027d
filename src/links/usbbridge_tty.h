#pragma once

#include "links/usbbridge.h"

#include <chrono>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace kq::links {

// The bridge over the kernel's USB-serial tty devices: each bridge cable is a
// /dev/ttyUSB<n> line, listed in sysfs under the usb-serial bus. A device
// list given by the caller (from KQMETER_BRIDGE_DEVICES) replaces discovery.
class TtyUsbBridge final : public UsbBridge {
public:
    struct Discovery {
        // When set, exactly these paths are the devices (those that exist now,
        // in this order); sysfs is not looked at.
        std::optional<std::vector<std::string>> paths;
        std::string sysfsDir = "/sys/bus/usb-serial/devices";
        std::string devDir = "/dev";
    };

    explicit TtyUsbBridge(Discovery discovery);
    ~TtyUsbBridge() override;
    TtyUsbBridge(const TtyUsbBridge&) = delete;
    TtyUsbBridge& operator=(const TtyUsbBridge&) = delete;

    UB_STATUS UB_GetNumDevices(std::uint32_t* count) override;
    UB_STATUS UB_Open(int index, UB_HANDLE* handle) override;
    UB_STATUS UB_SetBaudRate(UB_HANDLE handle, std::uint32_t baud) override;
    UB_STATUS UB_SetTimeouts(std::uint32_t readMs, std::uint32_t writeMs) override;
    UB_STATUS UB_Read(UB_HANDLE handle, void* buffer, std::uint32_t toRead,
                      std::uint32_t* got) override;
    UB_STATUS UB_FlushBuffers(UB_HANDLE handle, int purgeTx, int purgeRx) override;
    UB_STATUS UB_Close(UB_HANDLE handle) override;

    // The device paths as they stand now, index 0 first.
    std::vector<std::string> devicePaths() const;

    // Splits a colon-separated device list; empty parts are dropped.
    static std::vector<std::string> splitDeviceList(std::string_view list);

private:
    struct Line {
        int fd = -1;
        std::uint32_t baud = 9600;
        // Bytes of a burst that was still arriving when the last read's time
        // was up, and when the last of them came.
        std::vector<std::uint8_t> pending;
        std::chrono::steady_clock::time_point lastByte;
    };
    Line* find(UB_HANDLE handle);

    Discovery m_discovery;
    std::map<UB_HANDLE, Line> m_open;
    UB_HANDLE m_nextHandle = 1;
    std::uint32_t m_readMs = kDefaultReadTimeoutMs;
    std::uint32_t m_writeMs = kDefaultWriteTimeoutMs;
};

} // namespace kq::links
