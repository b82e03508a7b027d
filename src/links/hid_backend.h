#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace kq::links {

// One HID interface as enumeration finds it.
struct HidInterfaceInfo {
    std::string devicePath; // what every open uses (/dev/hidrawN)
    // Stays the same for as long as the device stays plugged in (the sysfs
    // path of its USB interface): two entries with the same key are one device.
    std::string instanceId;
    // The device numbers its reports, so each input report starts with its ID.
    bool numberedReports = false;
    // Bytes of the longest input report, without the report ID.
    std::size_t inputReportLength = 64;
    // What udev rules can match: the USB device's idVendor, idProduct and
    // product attributes as sysfs spells them (empty for a cable that is no
    // USB device), and the kernel's name of the HID device.
    std::string usbVendorId;
    std::string usbProductId;
    std::string usbProductName;
    std::string hidName;
};

struct HidAttributes {
    std::uint16_t vendorId = 0;
    std::uint16_t productId = 0;
    std::uint16_t versionNumber = 0;
};

// The answer to a request for the string at index 0 (the language list on
// most devices).
struct HidIndexedAnswer {
    enum class Kind {
        Text,        // the device answered with `text`
        Failed,      // the request failed: nothing was written
        Unsupported, // the platform has no way to ask
    };
    Kind kind = Kind::Unsupported;
    std::wstring text;
};

// An open device. A handle is used by one thread at a time: the read thread
// owns the handle it reads from, the window thread the one for strings and
// feature reports.
class HidHandle {
public:
    virtual ~HidHandle() = default;

    virtual std::optional<HidAttributes> attributes() = 0;
    virtual std::optional<std::wstring> productString() = 0;
    virtual std::optional<std::wstring> serialNumberString() = 0;
    virtual HidIndexedAnswer indexedString(int index) = 0;
    // `report[0]` is the report ID (0 for a device without numbered reports).
    virtual bool sendFeatureReport(const std::uint8_t* report, std::size_t size) = 0;
    // Waits up to `timeoutMs` for one input report, as the platform delivers it
    // (with the report ID first only for numbered reports). Returns its byte
    // count, 0 when the time ran out, -1 on failure (see lastError()).
    virtual int read(std::uint8_t* buffer, std::size_t size, int timeoutMs) = 0;
    // The system error code (errno) of the last failed call.
    virtual int lastError() const = 0;
};

// The HID services of the platform.
class HidBackend {
public:
    virtual ~HidBackend() = default;

    virtual std::vector<HidInterfaceInfo> enumerate() = 0;
    // `readWrite` false asks for a handle that only answers attributes and
    // strings. On failure returns null and sets `error` to the system error code.
    virtual std::unique_ptr<HidHandle> open(const HidInterfaceInfo& info, bool readWrite,
                                            int& error) = 0;
    // `changed` runs on the thread that set it whenever HID devices come or go.
    virtual void setChangeHandler(std::function<void()> changed) = 0;
    // False when the system offers no HID device nodes at all (an empty list
    // then says nothing about what is plugged in).
    virtual bool devicesReachable() const = 0;
};

// The HID services of this machine: hidraw through hidapi, with device changes
// from the udev monitor (delivered through the Qt event loop when one runs).
std::unique_ptr<HidBackend> makeSystemHidBackend();

// Where a copy of the rules that give the logged-in user access to the HID
// cable goes when it is installed by hand.
inline constexpr const char* kHidRulesFile = "/etc/udev/rules.d/60-kqmeter.rules";

} // namespace kq::links
