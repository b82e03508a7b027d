// The window's HID band offscreen, over the in-process HID devices: the device
// list across plug and unplug, the feature report and reading on "USB
// Connect", the glass following each frame form, and the stall check.
#include "app/hid_controller.h"
#include "app/tfcomm.h"
#include "links/hid_backend_fake.h"
#include "support/pty.h"
#include "support/recording_dialogs.h"

#include <QListWidget>
#include <QPushButton>
#include <QSignalSpy>
#include <QtTest>

#include <cerrno>
#include <memory>

using kq::app::HidController;
using kq::app::TFCOMM;
using kq::links::FakeHidBackend;
using Bytes = std::vector<std::uint8_t>;
using kq::test::RecordingDialogs;

namespace {

constexpr int kPatienceMs = 20000;

FakeHidBackend::Device cable(const std::string& n, const wchar_t* product = L"USB to Serial") {
    FakeHidBackend::Device d;
    d.info.devicePath = "/dev/hidraw" + n;
    d.info.instanceId = "/sys/devices/usb1/1-" + n + "/0003:10C4:EA80.000" + n;
    d.attributes = {0x10C4, 0xEA80, 0x0100};
    d.product = product;
    return d;
}

// Sends a frame as the cable does: payload in reports of up to 7 bytes (the
// low digits from `digits`), then a report without payload.
void sendFrame(FakeHidBackend& fake, const std::string& path, const std::string& digits) {
    Bytes report{0};
    for (char c : digits) {
        report.push_back(static_cast<std::uint8_t>(0x20 | (c <= '9' ? c - '0' : c - 'A' + 10)));
        if (report.size() == 8) {
            report[0] = 7;
            fake.report(path, report);
            report = {0};
        }
    }
    if (report.size() > 1) {
        report[0] = static_cast<std::uint8_t>(report.size() - 1);
        fake.report(path, report);
    }
    fake.report(path, {0x00});
}

// Runs the event loop until `done` holds (checked every 20 ms), without the
// pauses of a test wait between events: the read thread hands over one report
// at a time and waits for each.
template <class F> bool runUntil(F done) {
    QEventLoop loop;
    QTimer check;
    QObject::connect(&check, &QTimer::timeout, &loop, [&] {
        if (done())
            loop.quit();
    });
    QTimer guard;
    guard.setSingleShot(true);
    QObject::connect(&guard, &QTimer::timeout, &loop, &QEventLoop::quit);
    check.start(20);
    guard.start(kPatienceMs * 3);
    loop.exec();
    return done();
}

QStringList items(QListWidget* list) {
    QStringList out;
    for (int k = 0; k < list->count(); ++k)
        out << list->item(k)->text();
    return out;
}

std::string shown(const TFCOMM& w) {
    const auto& d = w.state().display.digits;
    return d[0] + d[1] + d[2] + d[3];
}

const std::string k1999Lux = "00D7D7DF06000000008000000000"
                             "00DA";
const std::string k36B = "02000000000000000000000000000"
                         "0DA";
const std::string k24BHead = "03603FAD6B0000000000000000000000";

struct Rig {
    std::shared_ptr<FakeHidBackend> fake = std::make_shared<FakeHidBackend>();
    RecordingDialogs dialogs;
    std::unique_ptr<TFCOMM> w;
    HidController* hid = nullptr;

    void open(const kq::decode::ModelSwitchSet& switches = kq::decode::builtModelSwitches()) {
        w = std::make_unique<TFCOMM>(dialogs, nullptr, switches, nullptr, fake);
        hid = w->hid();
        w->show();
    }
    QListWidget* history() const { return hid->HistoryListBox(); }
    QListWidget* devices() const { return hid->DevListBox(); }
    QPushButton* button(const char* name) const { return w->findChild<QPushButton*>(name); }
};

} // namespace

class HidWindowTest : public QObject {
    Q_OBJECT
private slots:
    void listsTheBridgeAndSelectsTheLastOne() {
        Rig rig;
        rig.fake->arrive(cable("1"));
        rig.fake->arrive(cable("2", L"Keyboard"));
        rig.fake->arrive(cable("3"));
        auto nameless = cable("4", L"");
        nameless.serial = L"77";
        rig.fake->arrive(nameless);
        rig.open();
        QCOMPARE(items(rig.devices()), QStringList({"USB to Serial", "Keyboard", "USB to Serial",
                                                    "Device VID=10C4 PID=EA80 (Serial=77)"}));
        QCOMPARE(rig.devices()->currentRow(), 2);
        QCOMPARE(rig.w->hid()->HidCtl()->CheckedOutCount(), 4);
    }

    void usbConnectSendsTheFeatureReportAndTheGlassFollowsEveryForm() {
        Rig rig;
        rig.fake->arrive(cable("1"));
        rig.open();
        rig.button("USBCon")->click();
        QVERIFY(rig.button("USBCon")->isChecked());
        const Bytes expected{0x00, 0x00, 0x4B, 0x00, 0x00, 0x03, 0x00, 0x00, 0x00, 0x00};
        QVERIFY(rig.fake->featureReports("/dev/hidraw1") == std::vector<Bytes>{expected});
        QCOMPARE(items(rig.history()).last(), QString("00 4B 00 00 03 00 00 00 00 "));
        QVERIFY(rig.hid->CurrentHidDevice() && rig.hid->CurrentHidDevice()->Reading());

        sendFrame(*rig.fake, "/dev/hidraw1", k1999Lux);
        QTRY_COMPARE_WITH_TIMEOUT(shown(*rig.w), std::string("1999"), kPatienceMs);
        QCOMPARE(rig.w->state().ValueText, std::string("19.99"));
        // Reports with payload are logged, the frame ends are not.
        QVERIFY(items(rig.history()).contains("R 00  07 20 20 2D 27 2D 27 2D "));
        QVERIFY(!items(rig.history()).contains("R 00  00 "));

        sendFrame(*rig.fake, "/dev/hidraw1", k36B);
        QTRY_COMPARE_WITH_TIMEOUT(shown(*rig.w), std::string("usb1"), kPatienceMs);
        QCOMPARE(rig.w->state().ValueText, std::string("19.99")); // no reading of its own

        sendFrame(*rig.fake, "/dev/hidraw1", k24BHead);
        QTRY_COMPARE_WITH_TIMEOUT(rig.w->state().ValueText, std::string("usb.1"), kPatienceMs);

        // The second press sends the report again and stops reading.
        rig.button("USBCon")->click();
        QCOMPARE(rig.fake->featureReports("/dev/hidraw1").size(), std::size_t{2});
        QVERIFY(!rig.w->hid()->HidCtl()->DeviceList()[0]->Reading());
    }

    void noDeviceGivesTheNotConnectedMessage() {
        Rig rig;
        rig.open();
        rig.button("USBCon")->click();
        QCOMPARE(rig.dialogs.texts(),
                 QStringList({"USB interface cable is not securely connected, please check and "
                              "re-try."}));
        QVERIFY(!rig.button("USBCon")->isChecked());
    }

    void aStallOf1900ReportsReleasesTheCable() {
        Rig rig;
        rig.fake->arrive(cable("1"));
        rig.open();
        rig.button("USBCon")->click();
        kq::links::THidDevice* device = rig.hid->CurrentHidDevice();
        QVERIFY(device && device->Reading());
        rig.fake->report("/dev/hidraw1", {0x01, 0x30});
        for (int k = 0; k < 1900; ++k)
            rig.fake->report("/dev/hidraw1", {0x00});
        QVERIFY(runUntil([&] { return !rig.dialogs.texts().isEmpty(); }));
        QCOMPARE(rig.dialogs.texts(),
                 QStringList({"USB interface cable is connected properly, please check the USB "
                              "connection status of the DMM."}));
        QVERIFY(!rig.button("USBCon")->isChecked());
        QVERIFY(!device->Reading());
        QCOMPARE(rig.w->state().HidStallCount, 0);
    }

    void pullingTheCableMidReadLeavesAHistoryLineAndAWorkingWindow() {
        Rig rig;
        rig.fake->arrive(cable("1"));
        rig.open();
        rig.button("USBCon")->click();
        rig.fake->report("/dev/hidraw1", {0x03, 0x30, 0x30, 0x3D});
        QTRY_VERIFY_WITH_TIMEOUT(
            rig.hid->HistoryListBox()->currentItem()->text().startsWith("R 00"), kPatienceMs);
        rig.fake->leave("/dev/hidraw1");
        rig.fake->notifyChange();
        QVERIFY(items(rig.history()).contains("Removal of USB to Serial"));
        QCOMPARE(rig.devices()->count(), 0);
        QVERIFY(rig.hid->CurrentHidDevice() == nullptr);
        QTest::qWait(50); // whatever the thread handed over meanwhile runs into nothing
        // Plugged in again: listed without a restart and selected.
        rig.fake->arrive(cable("1"));
        rig.fake->notifyChange();
        QVERIFY(items(rig.history()).contains("Arrival of USB to Serial"));
        QCOMPARE(items(rig.devices()), QStringList({"USB to Serial"}));
        QCOMPARE(rig.devices()->currentRow(), 0);
        rig.button("USBCon")->click(); // up again: the list change left it down
        rig.button("USBCon")->click();
        // The bytes of the cut-off frame spoil the next one; the one after is whole.
        sendFrame(*rig.fake, "/dev/hidraw1", k1999Lux);
        sendFrame(*rig.fake, "/dev/hidraw1", k1999Lux);
        QTRY_COMPARE_WITH_TIMEOUT(shown(*rig.w), std::string("1999"), kPatienceMs);
    }

    void aRefusedOpenNamesTheRulesFile() {
        Rig rig;
        auto denied = cable("1");
        denied.readWriteError = EACCES;
        rig.fake->arrive(denied);
        rig.open();
        rig.button("USBCon")->click();
        QVERIFY(!rig.button("USBCon")->isChecked());
        QCOMPARE(rig.dialogs.texts().size(), 1);
        QVERIFY(rig.dialogs.texts()[0].contains("60-kqmeter.rules"));
        QVERIFY(
            rig.dialogs.texts()[0].contains("udevadm control --reload && sudo udevadm trigger"));
    }

    void connectButtonsReleaseEachOther() {
        Rig rig;
        rig.fake->arrive(cable("1"));
        rig.open();
        QPushButton* usb = rig.button("USB");
        QPushButton* usbCon = rig.button("USBCon");
        QPushButton* read = rig.button("ReadBtn");
        usbCon->click();
        QVERIFY(usbCon->isChecked());
        read->click();
        QVERIFY(read->isChecked());
        QVERIFY(!usbCon->isChecked());
        QVERIFY(rig.hid->CurrentHidDevice()->Reading());
        // With no bridge attached the USB button comes up again at once, but
        // its going down has released the HID buttons first.
        usb->click();
        QVERIFY(!read->isChecked());
        QVERIFY(!usbCon->isChecked());
        usb->setChecked(true);
        usbCon->click();
        QVERIFY(!usb->isChecked());
    }

    // Whichever link's button goes down, every other connect button of the window comes up,
    // and none of them runs its click handling (its link stays as it is).
    void anyConnectButtonDownPutsEveryOtherUp_data() {
        QTest::addColumn<QString>("pressed");
        for (const char* name : {"USB", "USBCon", "ReadBtn", "COMCon"})
            QTest::newRow(name) << QString(name);
    }

    void anyConnectButtonDownPutsEveryOtherUp() {
        QFETCH(QString, pressed);
        kq::test::Pty line; // COM Connect opens it and stays down
        qputenv("KQMETER_COM1", QByteArray::fromStdString(line.path()));
        Rig rig;
        rig.fake->arrive(cable("1"));
        rig.open();
        qunsetenv("KQMETER_COM1");
        std::vector<std::unique_ptr<QSignalSpy>> handled;
        QList<QPushButton*> others;
        for (const char* name : {"USB", "USBCon", "ReadBtn", "COMCon"}) {
            if (pressed == QLatin1String(name))
                continue;
            QPushButton* other = rig.button(name);
            other->setChecked(true);
            handled.push_back(std::make_unique<QSignalSpy>(other, &QAbstractButton::clicked));
            handled.push_back(std::make_unique<QSignalSpy>(other, &QAbstractButton::toggled));
            others << other;
        }
        rig.button(pressed.toLatin1().constData())->click();
        for (QPushButton* other : others)
            QVERIFY2(!other->isChecked(), qPrintable(other->objectName()));
        for (const auto& spy : handled)
            QCOMPARE(spy->count(), 0);
    }

    void aModelThatDoesNotReadSendsTheReportButReadsNothing() {
        struct Case {
            kq::decode::ModelSwitch model;
            bool reads;
            std::uint8_t rateLow, rateHigh;
        };
        using kq::decode::ModelSwitch;
        for (const Case& c : {Case{ModelSwitch::KQ530, false, 0x60, 0x09},
                              Case{ModelSwitch::IFKQ810, false, 0x00, 0x4B},
                              Case{ModelSwitch::IFKQ24B, true, 0x60, 0x09},
                              Case{ModelSwitch::IFKQ12E, true, 0x00, 0x4B}}) {
            Rig rig;
            rig.fake->arrive(cable("1"));
            kq::decode::ModelSwitchSet switches;
            switches.setChecked(c.model, true);
            rig.open(switches);
            rig.button("USBCon")->click();
            QVERIFY(rig.button("USBCon")->isChecked());
            const auto sent = rig.fake->featureReports("/dev/hidraw1");
            QCOMPARE(sent.size(), std::size_t{1});
            QCOMPARE(sent[0][1], c.rateLow);
            QCOMPARE(sent[0][2], c.rateHigh);
            QCOMPARE(rig.hid->CurrentHidDevice()->Reading(), c.reads);
        }
    }

    void infoShowsTheSelectedDevice() {
        Rig rig;
        auto d = cable("1");
        d.serial = L"A7";
        d.index0 = {kq::links::HidIndexedAnswer::Kind::Text, L"\x0409"};
        rig.fake->arrive(d);
        rig.open();
        // A bridge with a serial number is not the one picked by itself.
        QCOMPARE(rig.devices()->currentRow(), -1);
        rig.button("InfoBtn")->click();
        QVERIFY(rig.dialogs.texts().isEmpty());
        rig.devices()->setCurrentRow(0);
        rig.button("InfoBtn")->click();
        QCOMPARE(rig.dialogs.texts().size(), 1);
        const QString text = rig.dialogs.texts()[0];
        QVERIFY2(text.contains("USB to Serial (Serial=A7)"), qPrintable(text));
        QVERIFY(text.contains("VID=10C4 PID=EA80"));
        QVERIFY(text.contains("/dev/hidraw1"));
        // Nothing selected: nothing shown.
    }

    void noHidrawNodesIsSaidInsteadOfAnEmptyList() {
        Rig rig;
        rig.fake->setReachable(false);
        rig.open();
        QVERIFY(items(rig.history()).join("\n").contains("no HID device nodes"));
    }

    void cableControlsWidenTheWindowToShowTheBand() {
        Rig rig;
        rig.fake->arrive(cable("1"));
        rig.open();
        const QRect client = rig.w->centralWidget()->rect();
        QVERIFY(!client.contains(rig.button("USBCon")->geometry()));
        rig.w->showCableControls();
        const QRect wide = rig.w->centralWidget()->rect();
        for (QWidget* band :
             {static_cast<QWidget*>(rig.button("USBCon")), static_cast<QWidget*>(rig.devices()),
              static_cast<QWidget*>(rig.history()), static_cast<QWidget*>(rig.button("InfoBtn"))})
            QVERIFY2(wide.contains(band->geometry()), qPrintable(band->objectName()));
        QCOMPARE(rig.w->centralWidget()->height(), 544);
        const QString shot = qEnvironmentVariable("KQ_HID_SCREENSHOT");
        if (!shot.isEmpty())
            rig.w->grab().save(shot);
    }
};

QTEST_MAIN(HidWindowTest)
#include "hid_window_test.moc"
