// The "USB Connect " toggle and Timer1 over a scripted bridge: real clicks on
// a real button, the messages a user would read, the exclusive group.
#include "app/connect_button_group.h"
#include "app/dialogs.h"
#include "app/usb_controller.h"
#include "decode/meter_state.h"
#include "decode/reading_sink.h"
#include "links/usbbridge_fake.h"
#include "support/frames.h"
#include "support/recording_dialogs.h"

#include <QCoreApplication>
#include <QPushButton>
#include <QSignalSpy>
#include <QTimer>
#include <QtTest>

#include <stdexcept>

using kq::app::Dialogs;
using kq::app::UsbController;
using kq::links::FakeUsbBridge;
using kq::test::bridgeBytes;
using kq::test::RecordingDialogs;
using Call = FakeUsbBridge::Call;

namespace {

struct CountingSink : kq::decode::ReadingSink {
    int readings = 0;
    void INDataToTable(const kq::decode::MeterState&) override { ++readings; }
};

// Takes readings as scripted: 'o' logs, 'x' fails as a full log store does.
struct ScriptedSink : kq::decode::ReadingSink {
    QString script;
    int calls = 0;
    void INDataToTable(const kq::decode::MeterState&) override {
        const QChar step = calls < script.size() ? script[calls] : QChar('o');
        ++calls;
        if (step == QChar('x'))
            throw std::length_error("the log table is full");
    }
};

// One window's worth: the button, the state, the controller over a fake.
struct Rig {
    RecordingDialogs dialogs;
    kq::decode::MeterState state;
    CountingSink sink;
    kq::app::ConnectButtonGroup group;
    QPushButton button{"USB Connect "};
    FakeUsbBridge* bridge = nullptr;
    int changes = 0;
    std::unique_ptr<UsbController> usb;

    explicit Rig(std::uint32_t devices) {
        state.LocaleDecimalSeparator.push_back(
            '.'); // (assigning "." trips a false -Wrestrict of GCC 12)
        state.range.FullScale = 2000;
        button.setObjectName("USB");
        button.show();
        auto fake = std::make_unique<FakeUsbBridge>();
        fake->setDeviceCount(devices);
        bridge = fake.get();
        usb = std::make_unique<UsbController>(std::move(fake), state, &sink, dialogs, group,
                                              &button, nullptr, [this] { ++changes; });
    }
    void click() { QTest::mouseClick(&button, Qt::LeftButton); }
};

} // namespace

class UsbControllerTest : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() { QCoreApplication::setApplicationName("kqmeter"); }

    void pollRunsFromStartUp() {
        Rig rig(1);
        QVERIFY(rig.usb->pollOn());
        QCOMPARE(rig.usb->Timer1()->interval(), 10);
        QCOMPARE(rig.usb->Timer1()->objectName(), QString("Timer1"));
        QVERIFY(rig.button.isCheckable());
        // No handle is open yet: the poll sleeps instead of failing 100 reads a second.
        QVERIFY(!rig.usb->Timer1()->isActive());
        QTest::qWait(50);
        QCOMPARE(rig.bridge->count(Call::Read), 0u);
        QCOMPARE(rig.bridge->count(Call::Open), 0u);
        QCOMPARE(rig.bridge->count(Call::FlushBuffers), 0u);
    }

    // A frame of another link lights the indicator; a running poll's failing
    // read would put it out on its next tick, and so does the sleeping poll.
    void sleepingPollStillPutsTheIndicatorOut_data() {
        QTest::addColumn<uint>("openStatus");
        QTest::newRow("never connected") << 0u;
        QTest::newRow("open failed") << uint(kq::links::UB_DEVICE_NOT_OPENED);
    }

    void sleepingPollStillPutsTheIndicatorOut() {
        QFETCH(uint, openStatus);
        Rig rig(1);
        if (openStatus != 0) {
            rig.bridge->setStatus(Call::Open, openStatus);
            rig.click();
        }
        QVERIFY(!rig.usb->Timer1()->isActive());
        auto& d = rig.state.display;
        d.setShown(kq::decode::Widget::conok, true);
        d.setShown(kq::decode::Widget::conokn, false);
        rig.usb->displayChanged();
        QTRY_VERIFY_WITH_TIMEOUT(d.isShown(kq::decode::Widget::conokn), 1000);
        QVERIFY(!d.isShown(kq::decode::Widget::conok));
        QVERIFY(!rig.usb->Timer1()->isActive());
        // Once out, nothing more is read.
        const auto reads = rig.bridge->count(Call::Read);
        QTest::qWait(50);
        QCOMPARE(rig.bridge->count(Call::Read), reads);
    }

    void buttonDown_data() {
        QTest::addColumn<uint>("devices");
        QTest::addColumn<uint>("openStatus");
        QTest::addColumn<uint>("baudStatus");
        QTest::addColumn<QString>("message");
        QTest::addColumn<bool>("staysDown");
        QTest::addColumn<bool>("closedWhenUp");
        const QString notConnected =
            "USB interface cable is not connected properly, please check and re-try.";
        QTest::newRow("no device") << 0u << 0u << 0u << notConnected << false << false;
        QTest::newRow("two devices") << 2u << 0u << 0u << notConnected << false << false;
        QTest::newRow("open fails") << 1u << uint(kq::links::UB_DEVICE_NOT_OPENED) << 0u
                                    << "Open the equipments mistake" << true << true;
        QTest::newRow("speed refused")
            << 1u << 0u << uint(kq::links::UB_SET_FAILED) << "Time out" << true << true;
        QTest::newRow("connected") << 1u << 0u << 0u << QString() << true << true;
    }

    void buttonDown() {
        QFETCH(uint, devices);
        QFETCH(uint, openStatus);
        QFETCH(uint, baudStatus);
        QFETCH(QString, message);
        QFETCH(bool, staysDown);
        QFETCH(bool, closedWhenUp);
        Rig rig(devices);
        rig.bridge->setStatus(Call::Open, openStatus);
        rig.bridge->setStatus(Call::SetBaudRate, baudStatus);

        rig.click();
        if (message.isEmpty()) {
            QVERIFY(rig.dialogs.messages.empty());
        } else {
            QCOMPARE(rig.dialogs.told().size(), 1);
            QCOMPARE(rig.dialogs.messages[0].text, message);
            QCOMPARE(rig.dialogs.messages[0].caption, QString("kqmeter"));
            QCOMPARE(rig.dialogs.messages[0].icon, Dialogs::Icon::None);
        }
        QCOMPARE(rig.button.isChecked(), staysDown);
        QVERIFY(rig.usb->pollOn()); // the poll stays on after every message
        // but sleeps unless a device is open
        QCOMPARE(rig.usb->polling(), devices == 1 && openStatus == 0);
        QVERIFY(rig.changes > 0);

        if (!staysDown)
            return;
        rig.bridge->clearCalls();
        rig.click(); // up
        QVERIFY(!rig.button.isChecked());
        QVERIFY(!rig.usb->pollOn());
        QVERIFY(!rig.usb->polling());
        QVERIFY(!rig.usb->Timer1()->isActive());
        QCOMPARE(rig.bridge->count(Call::Close), closedWhenUp ? 1u : 0u);
        QCOMPARE(rig.bridge->openCount(), 0u);
    }

    void connectedPollDecodesAndAsksForARender() {
        Rig rig(1);
        rig.click();
        QVERIFY(rig.button.isChecked());
        const int before = rig.changes;
        rig.bridge->queueRead(bridgeBytes(kq::test::lux1999Frame()));
        QTRY_COMPARE(rig.sink.readings, 1);
        QCOMPARE(rig.state.ValueText, std::string("19.99"));
        QVERIFY(rig.changes > before);
        // Silent ticks leave "connected" to the connection timer (not in this rig).
        const auto reads = rig.bridge->count(Call::Read);
        QTRY_VERIFY(rig.bridge->count(Call::Read) >= reads + 5);
        QVERIFY(rig.state.display.isShown(kq::decode::Widget::conok));
    }

    void buttonUpStopsThePoll() {
        Rig rig(1);
        rig.click();
        rig.click();
        rig.bridge->clearCalls();
        rig.bridge->queueRead(bridgeBytes(kq::test::lux1999Frame()));
        // A clock of the poll's own interval: once it has ticked a few times,
        // a poll still running would have read.
        QTimer clock;
        QSignalSpy ticks(&clock, &QTimer::timeout);
        clock.start(rig.usb->Timer1()->interval());
        QTRY_VERIFY(ticks.count() >= 5);
        QCOMPARE(rig.bridge->count(Call::Read), 0u);
        QCOMPARE(rig.sink.readings, 0);
    }

    void exclusiveGroupReleasesWithoutClickHandling() {
        Rig rig(1);
        QPushButton peer("COM Connect");
        peer.setCheckable(true);
        peer.setChecked(true);
        QSignalSpy peerClicked(&peer, &QAbstractButton::clicked);
        QSignalSpy peerToggled(&peer, &QAbstractButton::toggled);
        rig.group.join(&peer);

        rig.click();
        QVERIFY(rig.button.isChecked());
        QVERIFY(!peer.isChecked());
        QCOMPARE(peerClicked.count(), 0);
        QCOMPARE(peerToggled.count(), 0);

        // A peer going down releases USB the same way: no close, poll stays.
        QSignalSpy usbClicked(&rig.button, &QAbstractButton::clicked);
        rig.bridge->clearCalls();
        peer.setChecked(true);
        rig.group.wentDown(&peer);
        QVERIFY(peer.isChecked());
        QVERIFY(!rig.button.isChecked());
        QCOMPARE(usbClicked.count(), 0);
        QVERIFY(rig.usb->polling());
        QCOMPARE(rig.bridge->count(Call::Close), 0u);
    }

    void aLogThatFailsIsReportedOnceAndTheGlassGoesOn_data() {
        QTest::addColumn<QString>("script");
        QTest::addColumn<int>("reports");
        QTest::newRow("every reading fails") << "xxxxxx" << 1;
        QTest::newRow("fails after some logged") << "ooxxxx" << 1;
        QTest::newRow("recovers and fails again") << "xxooxx" << 2;
        QTest::newRow("single failures between logged readings") << "xoxoxo" << 3;
        QTest::newRow("nothing fails") << "oooooo" << 0;
    }

    void aLogThatFailsIsReportedOnceAndTheGlassGoesOn() {
        QFETCH(QString, script);
        QFETCH(int, reports);
        Rig rig(1);
        ScriptedSink sink;
        sink.script = script;
        rig.usb.reset();
        auto fake = std::make_unique<FakeUsbBridge>();
        fake->setDeviceCount(1);
        rig.bridge = fake.get();
        rig.usb = std::make_unique<UsbController>(std::move(fake), rig.state, &sink, rig.dialogs,
                                                  rig.group, &rig.button, nullptr,
                                                  [&rig] { ++rig.changes; });
        rig.click();
        QVERIFY(rig.dialogs.messages.empty());
        // 19.99 and 20.00 lux in turn, so the glass can be seen following.
        const std::string k2000 = "00B7B7BFE500000000800000000000DA";
        for (int i = 0; i < script.size(); ++i)
            rig.bridge->queueRead(i % 2 ? bridgeBytes(k2000)
                                        : bridgeBytes(kq::test::lux1999Frame()));
        QTRY_COMPARE(sink.calls, static_cast<int>(script.size()));
        QCOMPARE(rig.dialogs.told().size(), reports);
        for (const auto& shown : rig.dialogs.messages) {
            QCOMPARE(shown.caption, QString("kqmeter"));
            QCOMPARE(shown.text, QString("Readings are no longer logged: the log table is full"));
            QCOMPARE(shown.icon, Dialogs::Icon::Error);
        }
        // The poll goes on and the glass shows the last reading.
        QVERIFY(rig.usb->polling());
        QCOMPARE(rig.state.ValueText, std::string(script.size() % 2 ? "19.99" : "20.00"));
        QCOMPARE(rig.state.display.digits[3], std::string(script.size() % 2 ? "9" : "0"));
        const int changes = rig.changes;
        rig.bridge->queueRead(bridgeBytes(kq::test::lux1999Frame()));
        QTRY_COMPARE(sink.calls, static_cast<int>(script.size()) + 1);
        QCOMPARE(rig.state.ValueText, std::string("19.99"));
        QVERIFY(rig.changes > changes);
    }

    void aPeerDestroyedFirstIsSkipped() {
        Rig rig(1);
        {
            QPushButton peer;
            peer.setCheckable(true);
            rig.group.join(&peer);
        }
        rig.click(); // must not touch the destroyed button
        QVERIFY(rig.button.isChecked());
    }
};

QTEST_MAIN(UsbControllerTest)
#include "usb_controller_test.moc"
