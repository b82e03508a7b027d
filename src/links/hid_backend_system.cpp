// HID services of a Linux machine: hidapi on hidraw for the devices, the udev
// monitor for their coming and going.
#include "links/hid_backend.h"
#include "links/hid_report_ids.h"

#include <hidapi/hidapi.h>
#include <libudev.h>

#include <QCoreApplication>
#include <QSocketNotifier>

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <fstream>
#include <iterator>
#include <mutex>
#include <string_view>
#include <sys/stat.h>
#include <unistd.h>

namespace kq::links {

namespace {

constexpr const char* kHidrawPrefix = "/dev/hidraw";
constexpr std::size_t kStringChars = 255;
// Longer descriptors than this are no meter cable's; reading stops there.
constexpr std::size_t kMaxDescriptor = 4096;
constexpr std::size_t kReportLength = 255;

bool isHidrawPath(const std::string& path) {
    const std::string_view prefix(kHidrawPrefix);
    if (path.size() <= prefix.size() || path.compare(0, prefix.size(), prefix) != 0)
        return false;
    return path.find_first_not_of("0123456789", prefix.size()) == std::string::npos;
}

std::optional<std::wstring> wideOrNone(const wchar_t* text) {
    if (!text)
        return std::nullopt;
    return std::wstring(text);
}

// What enumeration knows of a device: the numbers and strings without
// opening it, so that a device the user may not open is still listed.
struct Known {
    HidAttributes attributes;
    std::optional<std::wstring> product;
    std::optional<std::wstring> serial;
};

std::optional<Known> lookUp(const std::string& path) {
    hid_device_info* list = hid_enumerate(0, 0);
    std::optional<Known> found;
    for (hid_device_info* d = list; d; d = d->next) {
        if (d->path && path == d->path) {
            Known k;
            k.attributes = {d->vendor_id, d->product_id, d->release_number};
            k.product = wideOrNone(d->product_string);
            k.serial = wideOrNone(d->serial_number);
            found = std::move(k);
            break;
        }
    }
    hid_free_enumeration(list);
    return found;
}

class SystemHandle final : public HidHandle {
public:
    SystemHandle(std::string path, hid_device* device, Known known)
        : m_path(std::move(path)), m_device(device), m_known(std::move(known)) {}
    ~SystemHandle() override {
        if (m_device)
            hid_close(m_device);
    }

    std::optional<HidAttributes> attributes() override { return m_known.attributes; }
    std::optional<std::wstring> productString() override {
        return string(hid_get_product_string, m_known.product);
    }
    std::optional<std::wstring> serialNumberString() override {
        return string(hid_get_serial_number_string, m_known.serial);
    }
    // hidraw cannot ask a device for a string by index.
    HidIndexedAnswer indexedString(int) override { return {}; }
    bool sendFeatureReport(const std::uint8_t* report, std::size_t size) override {
        if (!m_device) {
            m_error = EBADF;
            return false;
        }
        errno = 0;
        const int sent = hid_send_feature_report(m_device, report, size);
        if (sent < 0)
            m_error = errno != 0 ? errno : EIO;
        return sent >= 0;
    }
    int read(std::uint8_t* buffer, std::size_t size, int timeoutMs) override {
        if (!m_device) {
            m_error = EBADF;
            return -1;
        }
        errno = 0;
        const int got = hid_read_timeout(m_device, buffer, size, timeoutMs);
        if (got < 0) {
            // A pulled cable shows as a hang-up on the node, which leaves no errno.
            m_error = errno != 0 ? errno : EIO;
            if (::access(m_path.c_str(), F_OK) != 0)
                m_error = ENODEV;
        }
        return got;
    }
    int lastError() const override { return m_error; }

private:
    using StringCall = int (*)(hid_device*, wchar_t*, size_t);
    std::optional<std::wstring> string(StringCall call, const std::optional<std::wstring>& known) {
        if (!m_device)
            return known;
        wchar_t text[kStringChars + 1] = {};
        if (call(m_device, text, kStringChars) != 0)
            return known;
        text[kStringChars] = 0;
        return std::wstring(text);
    }

    std::string m_path;
    hid_device* m_device; // null for a handle that only answers from enumeration
    Known m_known;
    int m_error = 0;
};

class SystemHidBackend final : public HidBackend {
public:
    SystemHidBackend() {
        hid_init();
        m_udev = udev_new();
        if (m_udev && QCoreApplication::instance())
            watch();
    }
    ~SystemHidBackend() override {
        delete m_notifier;
        if (m_monitor)
            udev_monitor_unref(m_monitor);
        if (m_udev)
            udev_unref(m_udev);
    }

    std::vector<HidInterfaceInfo> enumerate() override {
        const std::lock_guard lock(m_hidapi);
        std::vector<HidInterfaceInfo> out;
        hid_device_info* list = hid_enumerate(0, 0);
        for (hid_device_info* d = list; d; d = d->next) {
            if (!d->path || !isHidrawPath(d->path))
                continue;
            // hidapi lists a device once per top-level collection; it is one
            // node and one cable.
            if (std::any_of(out.begin(), out.end(), [&](const HidInterfaceInfo& seen) {
                    return seen.devicePath == d->path;
                }))
                continue;
            HidInterfaceInfo info;
            info.devicePath = d->path;
            info.inputReportLength = kReportLength;
            describe(info);
            out.push_back(std::move(info));
        }
        hid_free_enumeration(list);
        return out;
    }

    std::unique_ptr<HidHandle> open(const HidInterfaceInfo& info, bool readWrite,
                                    int& error) override {
        // hidapi takes any path; only hidraw nodes are devices here.
        if (!isHidrawPath(info.devicePath)) {
            error = ENODEV;
            return nullptr;
        }
        // Read threads open their handles too: hidapi keeps its last error
        // in one place for the whole program, so its calls take turns.
        const std::lock_guard lock(m_hidapi);
        auto known = lookUp(info.devicePath);
        if (!known) {
            error = ENODEV;
            return nullptr;
        }
        if (!readWrite) {
            struct stat st {};
            if (::stat(info.devicePath.c_str(), &st) != 0) {
                error = errno;
                return nullptr;
            }
            error = 0;
            return std::make_unique<SystemHandle>(info.devicePath, nullptr, std::move(*known));
        }
        // The system's reason for a refusal (a missing permission above all)
        // is what the user needs to hear; hidapi keeps only a text.
        const int probe = ::open(info.devicePath.c_str(), O_RDWR | O_CLOEXEC | O_NONBLOCK);
        if (probe < 0) {
            error = errno;
            return nullptr;
        }
        ::close(probe);
        hid_device* device = hid_open_path(info.devicePath.c_str());
        if (!device) {
            error = errno != 0 ? errno : EIO;
            return nullptr;
        }
        error = 0;
        return std::make_unique<SystemHandle>(info.devicePath, device, std::move(*known));
    }

    void setChangeHandler(std::function<void()> changed) override {
        m_changed = std::move(changed);
    }

    bool devicesReachable() const override { return ::access("/sys/class/hidraw", F_OK) == 0; }

private:
    void watch() {
        // udevd passes each event on once it has set the node up (its
        // permissions above all); without udevd only the kernel's own events
        // come, and devtmpfs has made the node by the time they do.
        const bool udevdRuns = ::access("/run/udev/control", F_OK) == 0;
        m_monitor = udev_monitor_new_from_netlink(m_udev, udevdRuns ? "udev" : "kernel");
        if (!m_monitor)
            return;
        if (udev_monitor_filter_add_match_subsystem_devtype(m_monitor, "hidraw", nullptr) < 0 ||
            udev_monitor_enable_receiving(m_monitor) < 0) {
            udev_monitor_unref(m_monitor);
            m_monitor = nullptr;
            return;
        }
        const int fd = udev_monitor_get_fd(m_monitor);
        if (fd < 0)
            return;
        m_notifier = new QSocketNotifier(fd, QSocketNotifier::Read);
        QObject::connect(m_notifier, &QSocketNotifier::activated, m_notifier, [this] {
            // One refresh for a burst of events.
            bool any = false;
            while (udev_device* device = udev_monitor_receive_device(m_monitor)) {
                udev_device_unref(device);
                any = true;
            }
            if (any && m_changed)
                m_changed();
        });
    }

    // The key of the device for as long as it stays plugged in, and whether
    // its reports carry IDs, from the HID device above the hidraw node.
    void describe(HidInterfaceInfo& info) {
        info.instanceId = info.devicePath;
        if (!m_udev)
            return;
        const std::string sysname = info.devicePath.substr(5); // "hidrawN"
        udev_device* raw =
            udev_device_new_from_subsystem_sysname(m_udev, "hidraw", sysname.c_str());
        if (!raw)
            return;
        if (udev_device* usb =
                udev_device_get_parent_with_subsystem_devtype(raw, "usb", "usb_device")) {
            const auto attribute = [usb](const char* name) {
                const char* value = udev_device_get_sysattr_value(usb, name);
                return std::string(value ? value : "");
            };
            info.usbVendorId = attribute("idVendor");
            info.usbProductId = attribute("idProduct");
            info.usbProductName = attribute("product");
        }
        if (udev_device* hid = udev_device_get_parent_with_subsystem_devtype(raw, "hid", nullptr)) {
            if (const char* name = udev_device_get_sysname(hid))
                info.hidName = name;
            // Its name ends in a number the kernel counts up on every plug-in.
            if (const char* path = udev_device_get_syspath(hid)) {
                info.instanceId = path;
                std::ifstream file(std::string(path) + "/report_descriptor", std::ios::binary);
                std::vector<std::uint8_t> bytes;
                char c;
                while (bytes.size() < kMaxDescriptor && file.get(c))
                    bytes.push_back(static_cast<std::uint8_t>(c));
                info.numberedReports = descriptorUsesReportIds(bytes.data(), bytes.size());
            }
        }
        udev_device_unref(raw);
    }

    std::mutex m_hidapi;
    udev* m_udev = nullptr;
    udev_monitor* m_monitor = nullptr;
    QSocketNotifier* m_notifier = nullptr;
    std::function<void()> m_changed;
};

} // namespace

std::unique_ptr<HidBackend> makeSystemHidBackend() {
    return std::make_unique<SystemHidBackend>();
}

} // namespace kq::links
