// The HID controller over the fake backend: the device list across device
// changes, check-out and check-in, the handlers, and the read threads that
// hand reports to the owning thread (a call queue stands in for the window).
#include "links/hid_backend_fake.h"
#include "links/hid_device.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <string>
#include <vector>

using namespace kq::links;
using Bytes = std::vector<std::uint8_t>;

namespace {

// Generous: only a broken thread ever waits this long.
constexpr int kPatienceMs = 10000;

FakeHidBackend::Device bridge(const std::string& n, bool numbered = false) {
    FakeHidBackend::Device d;
    d.info.devicePath = "/dev/hidraw" + n;
    d.info.instanceId = "/sys/devices/usb1/1-" + n + ":1.0/0003:10C4:EA80.000" + n;
    d.info.numberedReports = numbered;
    d.info.inputReportLength = 64;
    d.attributes = {0x10C4, 0xEA80, 0x0100};
    d.product = L"USB to Serial";
    return d;
}

struct Rig {
    std::shared_ptr<FakeHidBackend> fake = std::make_shared<FakeHidBackend>();
    HidCallQueue queue;
    std::unique_ptr<THidDeviceController> ctl;
    std::vector<std::string> events;

    void start() {
        ctl = std::make_unique<THidDeviceController>(fake, queue.poster());
        ctl->SetOnArrival(makeHandler<THidPlugFn>(
            [this](THidDevice& d) { events.push_back("arrival " + d.PnPInfo().DevicePath()); }));
        ctl->SetOnRemoval(makeHandler<THidPlugFn>(
            [this](THidDevice& d) { events.push_back("removal " + d.PnPInfo().DevicePath()); }));
    }
    void plug(FakeHidBackend::Device d) {
        fake->arrive(std::move(d));
        fake->notifyChange();
    }
    void pull(const std::string& path) {
        fake->leave(path);
        fake->notifyChange();
    }
    std::vector<std::string> paths() const {
        std::vector<std::string> out;
        for (THidDevice* d : ctl->DeviceList())
            out.push_back(d->PnPInfo().DevicePath() + (d->PluggedIn() ? "" : " gone") +
                          (d->CheckedOut() ? " out" : ""));
        return out;
    }
};

struct Received {
    std::uint8_t id;
    Bytes data;
};

} // namespace

TEST(HidController, OnlyOneControllerPerProgram) {
    auto fake = std::make_shared<FakeHidBackend>();
    HidCallQueue queue;
    {
        THidDeviceController first(fake, queue.poster());
        try {
            THidDeviceController second(fake, queue.poster());
            FAIL() << "a second controller was created";
        } catch (const EControllerError& e) {
            EXPECT_STREQ(e.what(), "Only one THidDeviceController allowed per program");
        }
    }
    // The refused one does not count: with the first gone, a new one is fine.
    EXPECT_NO_THROW(THidDeviceController(fake, queue.poster()));
}

TEST(HidController, EnumerationLeavesOutWhatCannotBeOpenedOrIdentified) {
    struct Case {
        const char* name;
        void (*change)(FakeHidBackend::Device&);
        bool listed;
        bool readWrite;
        int openError;
    };
    const Case cases[] = {
        {"plain", [](FakeHidBackend::Device&) {}, true, true, 0},
        {"no permission", [](FakeHidBackend::Device& d) { d.readWriteError = EACCES; }, true, false,
         EACCES},
        {"cannot be opened", [](FakeHidBackend::Device& d) { d.cannotOpen = true; }, false, false,
         0},
        {"cannot be identified", [](FakeHidBackend::Device& d) { d.unidentified = true; }, false,
         false, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Rig rig;
        auto d = bridge("1");
        c.change(d);
        rig.fake->arrive(d);
        rig.start();
        ASSERT_EQ(rig.ctl->DeviceList().size(), c.listed ? 1u : 0u);
        if (!c.listed)
            continue;
        THidDevice* dev = rig.ctl->DeviceList()[0];
        EXPECT_EQ(dev->ReadWriteAccess(), c.readWrite);
        EXPECT_EQ(dev->OpenError(), c.openError);
        EXPECT_EQ(dev->Attributes().vendorId, 0x10C4);
        EXPECT_FALSE(dev->GeneralHandleOpen()) << "creation closes what it opened";
        EXPECT_EQ(rig.fake->openHandles("/dev/hidraw1"), 0);
    }
}

TEST(HidController, DeviceChangeHandlerFiresOnAssignmentThenOnlyOnChanges) {
    Rig rig;
    rig.fake->arrive(bridge("1"));
    rig.start();
    int changes = 0;
    rig.ctl->SetOnDeviceChange(makeHandler<TNotifyFn>([&](THidDeviceController&) { ++changes; }));
    EXPECT_EQ(changes, 1);
    rig.fake->notifyChange(); // nothing came or went
    EXPECT_EQ(changes, 1);
    rig.plug(bridge("2"));
    EXPECT_EQ(changes, 2);
    rig.pull("/dev/hidraw1");
    EXPECT_EQ(changes, 3);
}

TEST(HidController, AReEnumeratedDeviceKeepsItsObjectAndGetsNoSecondEntry) {
    Rig rig;
    rig.fake->arrive(bridge("1"));
    rig.start();
    THidDevice* before = rig.ctl->DeviceList()[0];
    for (int k = 0; k < 3; ++k)
        rig.fake->notifyChange();
    ASSERT_EQ(rig.ctl->DeviceList().size(), 1u);
    EXPECT_EQ(rig.ctl->DeviceList()[0], before);
    EXPECT_TRUE(rig.events.empty());
    // The same node coming back after it left is another device.
    rig.pull("/dev/hidraw1");
    auto again = bridge("1");
    again.info.instanceId += "-replugged";
    rig.plug(again);
    EXPECT_EQ(rig.events,
              (std::vector<std::string>{"removal /dev/hidraw1", "arrival /dev/hidraw1"}));
    EXPECT_EQ(rig.ctl->DeviceList().size(), 1u);
}

TEST(HidController, RemovedCheckedOutDeviceStaysListedUntilFreed) {
    Rig rig;
    rig.fake->arrive(bridge("1"));
    rig.fake->arrive(bridge("2"));
    rig.start();
    int unplugs = 0;
    rig.ctl->SetOnDeviceUnplug(makeHandler<THidPlugFn>([&](THidDevice&) { ++unplugs; }));
    auto out = rig.ctl->CheckOutDevice(0);
    ASSERT_TRUE(out);
    EXPECT_FALSE(rig.ctl->CheckOutDevice(0)) << "already checked out";
    EXPECT_FALSE(rig.ctl->CheckOutDevice(2));
    EXPECT_FALSE(rig.ctl->CheckOutDevice(-1));
    EXPECT_EQ(rig.ctl->CheckedOutCount(), 1);
    EXPECT_EQ(rig.ctl->CheckedInCount(), 1);

    rig.pull("/dev/hidraw1");
    EXPECT_EQ(rig.events, std::vector<std::string>{"removal /dev/hidraw1"});
    EXPECT_EQ(unplugs, 1);
    EXPECT_EQ(rig.paths(), (std::vector<std::string>{"/dev/hidraw1 gone out", "/dev/hidraw2"}));
    EXPECT_EQ(rig.ctl->UnpluggedCount(), 1);
    EXPECT_FALSE(out->PluggedIn());
    EXPECT_FALSE(out->UnplugHandler()) << "an unplug is told once";

    out.reset();
    EXPECT_EQ(rig.paths(), std::vector<std::string>{"/dev/hidraw2"});
}

TEST(HidController, FreeingAPresentDeviceChecksInAFreshObjectAtTheSameIndex) {
    Rig rig;
    rig.fake->arrive(bridge("1"));
    rig.fake->arrive(bridge("2"));
    rig.start();
    auto out = rig.ctl->CheckOutDevice(1);
    out->SetReadSleepTime(250);
    const auto unplug = makeHandler<THidPlugFn>([](THidDevice&) {});
    out->SetUnplugHandler(unplug);
    THidDevice* old = out.get();
    out.reset();
    ASSERT_EQ(rig.paths(), (std::vector<std::string>{"/dev/hidraw1", "/dev/hidraw2"}));
    THidDevice* fresh = rig.ctl->DeviceList()[1];
    EXPECT_FALSE(fresh->CheckedOut());
    EXPECT_EQ(fresh->ReadSleepTime(), 250);
    EXPECT_EQ(fresh->UnplugHandler(), unplug);
    EXPECT_EQ(rig.ctl->CheckedInCount(), 2);
    (void)old;
}

TEST(HidController, ReadSleepTimeTakesOnlyTenToTenThousand) {
    Rig rig;
    rig.fake->arrive(bridge("1"));
    rig.start();
    THidDevice* d = rig.ctl->DeviceList()[0];
    struct Step {
        int set;
        int now;
    };
    for (Step s :
         {Step{9, 100}, Step{10, 10}, Step{10001, 10}, Step{10000, 10000}, Step{-1, 10000}}) {
        d->SetReadSleepTime(s.set);
        EXPECT_EQ(d->ReadSleepTime(), s.now) << s.set;
    }
    // The controller's value reaches the devices that still have its old one.
    rig.ctl->SetDevThreadSleepTime(50);
    EXPECT_EQ(d->ReadSleepTime(), 10000);
    d->SetReadSleepTime(50);
    rig.ctl->SetDevThreadSleepTime(70);
    EXPECT_EQ(d->ReadSleepTime(), 70);
}

TEST(HidController, EnumerateStopsAtTheFirstNoAndWithoutAHandlerAfterOne) {
    Rig rig;
    for (const char* n : {"1", "2", "3"})
        rig.fake->arrive(bridge(n));
    rig.start();
    EXPECT_EQ(rig.ctl->EnumerateDevices(), 1);
    std::vector<int> seen;
    rig.ctl->SetOnEnumerate(makeHandler<THidEnumerateFn>([&](THidDevice& d, int idx) {
        EXPECT_TRUE(d.Enumerating());
        seen.push_back(idx);
        return idx < 1;
    }));
    EXPECT_EQ(rig.ctl->EnumerateDevices(), 2);
    EXPECT_EQ(seen, (std::vector<int>{0, 1}));
    EXPECT_FALSE(rig.ctl->DeviceList()[0]->Enumerating());
}

TEST(HidController, DataErrorHandlerIsNotGivenToLaterArrivals) {
    Rig rig;
    rig.fake->arrive(bridge("1"));
    rig.start();
    const auto data = makeHandler<THidDataFn>(
        [](THidDevice&, std::uint8_t, const std::uint8_t*, std::uint16_t) {});
    const auto error = makeHandler<THidDataErrorFn>([](THidDevice&, std::uint32_t) {});
    rig.ctl->SetOnDeviceData(data);
    rig.ctl->SetOnDeviceDataError(error);
    rig.plug(bridge("2"));
    ASSERT_EQ(rig.ctl->DeviceList().size(), 2u);
    EXPECT_EQ(rig.ctl->DeviceList()[0]->DataErrorHandler(), error);
    EXPECT_EQ(rig.ctl->DeviceList()[1]->DataHandler(), data);
    EXPECT_FALSE(rig.ctl->DeviceList()[1]->DataErrorHandler());
    EXPECT_FALSE(rig.ctl->DeviceList()[1]->Reading()) << "checked-in devices are not read";
}

TEST(HidController, FeatureReportGoesOutByteForByte) {
    Rig rig;
    rig.fake->arrive(bridge("1"));
    auto denied = bridge("2");
    denied.readWriteError = EACCES;
    rig.fake->arrive(denied);
    rig.start();
    auto d = rig.ctl->CheckOutDevice(0);
    const Bytes report{0x00, 0x00, 0x4B, 0x00, 0x00, 0x03, 0x00, 0x00, 0x00, 0x00};
    EXPECT_TRUE(d->SendFeatureReport(report.data(), report.size()));
    EXPECT_EQ(rig.fake->featureReports("/dev/hidraw1"), std::vector<Bytes>{report});
    EXPECT_TRUE(d->GeneralHandleOpen()) << "the handle stays open";
    // A device opened for query only is still tried, and fails.
    auto q = rig.ctl->CheckOutDevice(1);
    EXPECT_FALSE(q->SendFeatureReport(report.data(), report.size()));
    EXPECT_TRUE(rig.fake->featureReports("/dev/hidraw2").empty());
    // A device not checked out is not accessible.
    rig.fake->arrive(bridge("3"));
    rig.fake->notifyChange();
    EXPECT_FALSE(rig.ctl->DeviceList()[2]->SendFeatureReport(report.data(), report.size()));
}

TEST(HidReadThread, ReportsReachTheHandlerOnTheOwningThreadWithTheirId) {
    struct Case {
        bool numbered;
        Bytes raw;
        std::uint8_t id;
        Bytes data;
    };
    const Case cases[] = {
        {false, {0x03, 0x41, 0x42, 0x43}, 0x00, {0x03, 0x41, 0x42, 0x43}},
        {true, {0x02, 0x03, 0x41, 0x42, 0x43}, 0x02, {0x03, 0x41, 0x42, 0x43}},
        {true, {0x02}, 0x02, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.numbered);
        Rig rig;
        rig.fake->arrive(bridge("1", c.numbered));
        rig.start();
        auto d = rig.ctl->CheckOutDevice(0);
        std::vector<Received> got;
        const auto owner = std::this_thread::get_id();
        d->SetDataHandler(makeHandler<THidDataFn>(
            [&](THidDevice& dev, std::uint8_t id, const std::uint8_t* data, std::uint16_t size) {
                EXPECT_EQ(std::this_thread::get_id(), owner);
                EXPECT_EQ(&dev, d.get());
                got.push_back({id, Bytes(data, data + size)});
            }));
        ASSERT_TRUE(d->Reading());
        rig.fake->report("/dev/hidraw1", c.raw);
        rig.fake->report("/dev/hidraw1", c.raw);
        while (got.size() < 2 && rig.queue.runPending(kPatienceMs) > 0) {
        }
        ASSERT_EQ(got.size(), 2u);
        EXPECT_EQ(got[0].id, c.id);
        EXPECT_EQ(got[0].data, c.data);
        d->SetDataHandler(nullptr);
        EXPECT_FALSE(d->Reading());
    }
}

TEST(HidReadThread, NoThreadWithoutReadWriteAccessOrWhileCheckedIn) {
    Rig rig;
    auto denied = bridge("1");
    denied.readWriteError = EACCES;
    rig.fake->arrive(denied);
    rig.fake->arrive(bridge("2"));
    rig.start();
    const auto h = makeHandler<THidDataFn>(
        [](THidDevice&, std::uint8_t, const std::uint8_t*, std::uint16_t) {});
    rig.ctl->SetOnDeviceData(h);
    EXPECT_FALSE(rig.ctl->DeviceList()[1]->Reading());
    auto q = rig.ctl->CheckOutDevice(0);
    EXPECT_FALSE(q->Reading());
    auto d = rig.ctl->CheckOutDevice(1);
    EXPECT_TRUE(d->Reading()) << "checking out starts the thread of a device with a handler";
}

TEST(HidReadThread, AFailedReadGoesToTheErrorHandlerAndReadingGoesOn) {
    Rig rig;
    rig.fake->arrive(bridge("1"));
    rig.start();
    auto d = rig.ctl->CheckOutDevice(0);
    d->SetReadSleepTime(10);
    std::vector<std::uint32_t> errors;
    int reports = 0;
    d->SetDataErrorHandler(
        makeHandler<THidDataErrorFn>([&](THidDevice&, std::uint32_t e) { errors.push_back(e); }));
    d->SetDataHandler(makeHandler<THidDataFn>(
        [&](THidDevice&, std::uint8_t, const std::uint8_t*, std::uint16_t) { ++reports; }));
    rig.fake->failNextRead("/dev/hidraw1", EPROTO);
    while (errors.empty() && rig.queue.runPending(kPatienceMs) > 0) {
    }
    EXPECT_EQ(errors, std::vector<std::uint32_t>{EPROTO});
    rig.fake->report("/dev/hidraw1", {0x01, 0x30});
    while (reports == 0 && rig.queue.runPending(kPatienceMs) > 0) {
    }
    EXPECT_EQ(reports, 1);
}

// Under AddressSanitizer this is the test that the read thread never reaches
// a device or a buffer that is gone.
TEST(HidReadThread, UnplugMidReadShutsDownWithoutTouchingTheFreedDevice) {
    for (int whenFreed = 0; whenFreed < 3; ++whenFreed) {
        SCOPED_TRACE(whenFreed);
        Rig rig;
        rig.fake->arrive(bridge("1"));
        rig.start();
        auto d = rig.ctl->CheckOutDevice(0);
        d->SetReadSleepTime(10);
        int reports = 0, errors = 0;
        d->SetDataErrorHandler(
            makeHandler<THidDataErrorFn>([&](THidDevice&, std::uint32_t) { ++errors; }));
        d->SetDataHandler(makeHandler<THidDataFn>(
            [&](THidDevice&, std::uint8_t, const std::uint8_t*, std::uint16_t) { ++reports; }));
        // The thread reads a report and waits for the owning thread to take it.
        rig.fake->report("/dev/hidraw1", {0x02, 0x31, 0x32});
        while (rig.queue.waiting() == 0)
            std::this_thread::yield();
        rig.pull("/dev/hidraw1");
        EXPECT_FALSE(d->PluggedIn());
        if (whenFreed == 1) {
            // Handing over the waiting report still reaches the live device.
            rig.queue.runPending();
            EXPECT_EQ(reports, 1);
        }
        if (whenFreed == 2) {
            // The handler of the waiting report frees the device itself, as a
            // window may.
            d->SetDataHandler(makeHandler<THidDataFn>(
                [&](THidDevice&, std::uint8_t, const std::uint8_t*, std::uint16_t) {
                    ++reports;
                    d.reset();
                }));
            while (d && rig.queue.runPending(kPatienceMs) > 0) {
            }
            EXPECT_EQ(reports, 1);
        }
        d.reset();
        EXPECT_TRUE(rig.ctl->DeviceList().empty());
        // Whatever the thread handed over before it ended runs into nothing.
        rig.queue.runPending();
        EXPECT_EQ(rig.queue.waiting(), 0u);
        EXPECT_EQ(rig.fake->openHandles("/dev/hidraw1"), 0);
    }
}

// Without udevd nobody tells of a pulled cable: the failing read itself must
// lead to the removal, with one error and no more.
TEST(HidReadThread, AReadFailingOnAPulledCableRemovesItWithOneError) {
    for (const int error : {ENODEV, EIO}) {
        SCOPED_TRACE(error);
        Rig rig;
        rig.fake->arrive(bridge("1"));
        rig.start();
        auto d = rig.ctl->CheckOutDevice(0);
        d->SetReadSleepTime(10);
        std::vector<std::uint32_t> errors;
        d->SetDataErrorHandler(makeHandler<THidDataErrorFn>([&](THidDevice&, std::uint32_t e) {
            errors.push_back(e);
            rig.fake->leave("/dev/hidraw1"); // the node is gone; no change notice follows
        }));
        d->SetDataHandler(makeHandler<THidDataFn>(
            [](THidDevice&, std::uint8_t, const std::uint8_t*, std::uint16_t) {}));
        rig.fake->failNextRead("/dev/hidraw1", error);
        // Bounded: a cable that is never released fails on and on.
        for (int slice = 0; slice < kPatienceMs / 50 && rig.events.empty(); ++slice)
            rig.queue.runPending(50);
        EXPECT_EQ(rig.events, std::vector<std::string>{"removal /dev/hidraw1"});
        EXPECT_FALSE(d->PluggedIn());
        // Ten read slices later still the one error.
        rig.queue.runPending(100);
        rig.queue.runPending();
        EXPECT_EQ(errors, std::vector<std::uint32_t>{static_cast<std::uint32_t>(error)});
        EXPECT_EQ(rig.fake->openHandles("/dev/hidraw1"), 0);
    }
}
