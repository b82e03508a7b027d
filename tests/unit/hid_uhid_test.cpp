// The machine's HID backend (hidapi on hidraw, udev) against a virtual cable
// made through /dev/uhid: listing, the bit-rate report, an input report and
// the cable going away, and cables coming and going while the controller
// waits for the system to tell it. Skipped where the kernel offers no
// /dev/uhid (the device lab runs them).
#include "links/hid_backend.h"
#include "links/hid_device.h"
#include "links/hid_link.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QObject>

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
    explicit VirtualCable(int fd, std::uint16_t bus = BUS_BLUETOOTH) : m_fd(fd) {
        uhid_event ev{};
        ev.type = UHID_CREATE2;
        std::strcpy(reinterpret_cast<char*>(ev.u.create2.name), "USB to Serial");
        ev.u.create2.rd_size = static_cast<std::uint16_t>(kDescriptor.size());
        ev.u.create2.bus = bus; // Bluetooth: strings come from the HID device itself
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
    // Reports sent before the read thread has opened its handle reach nobody,
    // so the cable repeats its report, as a meter repeats its frames. The
    // kernel passes on only reports of the length the descriptor gives.
    Bytes input(64, 0);
    input[0] = 0x03;
    input[1] = 0x41;
    input[2] = 0x42;
    input[3] = 0x43;
    ASSERT_TRUE(within(5000, [&] {
        if (received.empty())
            cable.input(input);
        queue.runPending();
        return !received.empty();
    }));
    Bytes expected{0x00};
    expected.insert(expected.end(), input.begin(), input.end());
    EXPECT_EQ(received[0], expected);

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

// No refresh by hand here: the controller hears of each change from the
// system alone, as the window does (through udevd's events, or the kernel's
// where udevd does not run), and a pulled cable that is being read costs one
// error at most.
TEST(HidUhidHotPlug, CablesComingAndGoingReachTheControllerByThemselves) {
    const int fd = ::open("/dev/uhid", O_RDWR | O_CLOEXEC);
    if (fd < 0)
        GTEST_SKIP() << "/dev/uhid cannot be opened here (" << std::strerror(errno) << ")";
    int argc = 1;
    char name[] = "hid_uhid_test";
    char* argv[] = {name, nullptr};
    QCoreApplication app(argc, argv);
    QObject context;
    std::shared_ptr<HidBackend> backend = makeSystemHidBackend();
    THidDeviceController ctl(backend, qtPost(&context));
    std::vector<std::string> arrived, removed;
    const auto ours = [](THidDevice& d) {
        return d.Attributes().vendorId == 0x1209 && d.Attributes().productId == 0x7A5E;
    };
    ctl.SetOnArrival(makeHandler<THidPlugFn>([&](THidDevice& d) {
        if (ours(d))
            arrived.push_back(d.PnPInfo().DevicePath());
    }));
    ctl.SetOnRemoval(makeHandler<THidPlugFn>([&](THidDevice& d) {
        if (ours(d))
            removed.push_back(d.PnPInfo().DevicePath());
    }));
    const auto pump = [&](int ms, auto done) {
        return within(ms, [&] {
            QCoreApplication::processEvents();
            return done();
        });
    };

    auto cable = std::make_unique<VirtualCable>(fd, BUS_USB);
    ASSERT_TRUE(cable->created);
    ASSERT_TRUE(pump(5000, [&] { return !arrived.empty(); })) << "the arrival was never told";
    int index = -1;
    for (std::size_t k = 0; k < ctl.DeviceList().size(); ++k) {
        if (ctl.DeviceList()[k]->PnPInfo().DevicePath() == arrived[0])
            index = static_cast<int>(k);
    }
    auto device = ctl.CheckOutDevice(index);
    ASSERT_TRUE(device);
    int errors = 0;
    device->SetDataErrorHandler(
        makeHandler<THidDataErrorFn>([&](THidDevice&, std::uint32_t) { ++errors; }));
    device->SetDataHandler(makeHandler<THidDataFn>(
        [](THidDevice&, std::uint8_t, const std::uint8_t*, std::uint16_t) {}));

    cable.reset(); // pulled while being read
    ASSERT_TRUE(pump(5000, [&] { return !removed.empty(); })) << "the removal was never told";
    EXPECT_EQ(removed[0], arrived[0]);
    EXPECT_FALSE(device->PluggedIn());
    pump(500, [] { return false; });
    EXPECT_LE(errors, 1) << "a pulled cable keeps failing";
    device.reset();

    // Plugged back in, it gets a new node, which is listed too.
    const int again = ::open("/dev/uhid", O_RDWR | O_CLOEXEC);
    ASSERT_GE(again, 0);
    cable = std::make_unique<VirtualCable>(again, BUS_USB);
    EXPECT_TRUE(pump(5000, [&] { return arrived.size() == 2; })) << "the cable plugged back in";
    cable.reset();
    pump(5000, [&] { return removed.size() == 2; });
}
