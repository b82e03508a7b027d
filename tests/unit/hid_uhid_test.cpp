// The machine's HID backend (hidapi on hidraw, udev) against a virtual cable
// made through /dev/uhid: listing, the bit-rate report, an input report and
// the cable going away. Skipped where the kernel offers no /dev/uhid.
#include "links/hid_backend.h"
#include "links/hid_device.h"
#include "links/hid_link.h"

#include <gtest/gtest.h>

#include <linux/uhid.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <fcntl.h>
#include <mutex>
#include <poll.h>
#include <thread>
#include <unistd.h>
#include <vector>

using namespace kq::links;
using Bytes = std::vector<std::uint8_t>;

namespace {

// Vendor page, no report IDs: 64-byte input reports, a 9-byte feature report.
const Bytes kDescriptor{0x06, 0x00, 0xFF, 0x09, 0x01, 0xA1, 0x01, 0x15, 0x00,
                        0x26, 0xFF, 0x00, 0x75, 0x08, 0x95, 0x40, 0x09, 0x01,
                        0x81, 0x02, 0x95, 0x09, 0x09, 0x01, 0xB1, 0x02, 0xC0};

// A virtual cable: answers the kernel's feature requests from its own thread.
class VirtualCable {
public:
    explicit VirtualCable(int fd) : m_fd(fd) {
        uhid_event ev{};
        ev.type = UHID_CREATE2;
        std::strcpy(reinterpret_cast<char*>(ev.u.create2.name), "USB to Serial");
        ev.u.create2.rd_size = static_cast<std::uint16_t>(kDescriptor.size());
        ev.u.create2.bus = BUS_BLUETOOTH; // strings come from the HID device itself
        ev.u.create2.vendor = 0x1209;
        ev.u.create2.product = 0x7A5E;
        std::memcpy(ev.u.create2.rd_data, kDescriptor.data(), kDescriptor.size());
        created = ::write(m_fd, &ev, sizeof ev) == static_cast<ssize_t>(sizeof ev);
        m_thread = std::thread([this] { answer(); });
    }
    ~VirtualCable() {
        destroy();
        m_stop = true;
        m_thread.join();
        ::close(m_fd);
    }
    void input(const Bytes& report) {
        uhid_event ev{};
        ev.type = UHID_INPUT2;
        ev.u.input2.size = static_cast<std::uint16_t>(report.size());
        std::memcpy(ev.u.input2.data, report.data(), report.size());
        ASSERT_EQ(::write(m_fd, &ev, sizeof ev), static_cast<ssize_t>(sizeof ev));
    }
    void destroy() {
        if (m_destroyed)
            return;
        uhid_event ev{};
        ev.type = UHID_DESTROY;
        m_destroyed = ::write(m_fd, &ev, sizeof ev) == static_cast<ssize_t>(sizeof ev);
    }
    std::vector<Bytes> features() {
        const std::lock_guard lock(m_mutex);
        return m_features;
    }

    bool created = false;

private:
    void answer() {
        while (!m_stop) {
            pollfd p{m_fd, POLLIN, 0};
            if (::poll(&p, 1, 50) <= 0)
                continue;
            uhid_event ev{};
            if (::read(m_fd, &ev, sizeof ev) <= 0)
                continue;
            uhid_event reply{};
            if (ev.type == UHID_SET_REPORT) {
                {
                    const std::lock_guard lock(m_mutex);
                    const std::uint8_t* data = &ev.u.set_report.data[0];
                    const std::size_t size =
                        std::min<std::size_t>(ev.u.set_report.size, UHID_DATA_MAX);
                    m_features.emplace_back(data, data + size);
                }
                reply.type = UHID_SET_REPORT_REPLY;
                reply.u.set_report_reply.id = ev.u.set_report.id;
                reply.u.set_report_reply.err = 0;
            } else if (ev.type == UHID_GET_REPORT) {
                reply.type = UHID_GET_REPORT_REPLY;
                reply.u.get_report_reply.id = ev.u.get_report.id;
                reply.u.get_report_reply.err = EIO;
            } else {
                continue;
            }
            (void)::write(m_fd, &reply, sizeof reply);
        }
    }

    int m_fd;
    std::atomic<bool> m_stop{false};
    bool m_destroyed = false;
    std::mutex m_mutex;
    std::vector<Bytes> m_features;
    std::thread m_thread;
};

template <class F> bool within(int ms, F done) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    while (!done()) {
        if (std::chrono::steady_clock::now() > end)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return true;
}

} // namespace

TEST(HidUhid, SystemBackendReadsAVirtualCable) {
    const int fd = ::open("/dev/uhid", O_RDWR | O_CLOEXEC);
    if (fd < 0)
        GTEST_SKIP() << "/dev/uhid cannot be opened here (" << std::strerror(errno)
                     << "): the hidraw backend is not exercised on this machine";
    VirtualCable cable(fd);
    ASSERT_TRUE(cable.created);

    std::shared_ptr<HidBackend> backend = makeSystemHidBackend();
    if (!backend->devicesReachable())
        GTEST_SKIP() << "the kernel offers no hidraw nodes here";
    HidCallQueue queue;
    THidDeviceController ctl(backend, queue.poster());
    int index = -1;
    ASSERT_TRUE(within(5000, [&] {
        ctl.DeviceChange();
        for (std::size_t k = 0; k < ctl.DeviceList().size(); ++k) {
            const auto& a = ctl.DeviceList()[k]->Attributes();
            if (a.vendorId == 0x1209 && a.productId == 0x7A5E)
                index = static_cast<int>(k);
        }
        return index >= 0;
    })) << "the virtual cable never showed up";

    auto device = ctl.CheckOutDevice(index);
    ASSERT_TRUE(device);
    EXPECT_TRUE(device->ReadWriteAccess());
    EXPECT_FALSE(device->PnPInfo().Interface.numberedReports);
    EXPECT_EQ(
        HidDeviceDescription(device->ReadProductName(), 0x1209, 0x7A5E, device->ReadSerialNumber()),
        "USB to Serial");

    const HidFeatureReport report = hidFeatureReport(kq::decode::builtModelSwitches());
    EXPECT_TRUE(device->SendFeatureReport(report.data(), report.size()));
    const auto sent = cable.features();
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ(sent[0], Bytes(report.begin(), report.end()));

    std::vector<Bytes> received;
    device->SetDataHandler(makeHandler<THidDataFn>(
        [&](THidDevice&, std::uint8_t id, const std::uint8_t* data, std::uint16_t size) {
            Bytes r{id};
            r.insert(r.end(), data, data + size);
            received.push_back(r);
        }));
    cable.input({0x03, 0x41, 0x42, 0x43});
    ASSERT_TRUE(within(5000, [&] {
        queue.runPending();
        return !received.empty();
    }));
    EXPECT_EQ(received[0], (Bytes{0x00, 0x03, 0x41, 0x42, 0x43}));

    std::vector<std::string> removed;
    ctl.SetOnRemoval(makeHandler<THidPlugFn>(
        [&](THidDevice& d) { removed.push_back(d.PnPInfo().DevicePath()); }));
    cable.destroy();
    ASSERT_TRUE(within(5000, [&] {
        queue.runPending();
        ctl.DeviceChange();
        return !removed.empty();
    }));
    EXPECT_EQ(removed[0], device->PnPInfo().DevicePath());
    EXPECT_FALSE(device->PluggedIn());
    device.reset();
    queue.runPending();
}
