// The serial link of the real window, offscreen, over a pseudo-terminal
// named by KQMETER_COM1: the START and STOP items, the serial band, the
// exclusive group with "USB Connect ", frames on the glass, a pulled cable.
#include "app/serial_controller.h"
#include "app/tfcomm.h"
#include "app/usb_controller.h"
#include "decode/model_switch.h"
#include "record/recorder.h"
#include "support/pty.h"
#include "support/recording_dialogs.h"

#include <QAction>
#include <QPushButton>
#include <QTimer>
#include <QtTest>
#include <fcntl.h>
#include <memory>
#include <string>
#include <unistd.h>
#include <vector>

using kq::app::SerialController;
using kq::app::TFCOMM;
using kq::decode::Widget;
using Bytes = std::vector<std::uint8_t>;
using kq::test::RecordingDialogs;

namespace {

// The meter's end of a serial cable.
class Cable {
public:
    Cable() { qputenv("KQMETER_COM1", QByteArray::fromStdString(m_pty.path())); }
    ~Cable() {
        pull();
        qunsetenv("KQMETER_COM1");
    }
    bool send(const Bytes& b) const { return m_pty.send(b); }
    void pull() { m_pty.hangUp(); }
    const std::string& path() const { return m_pty.path(); }

private:
    kq::test::Pty m_pty;
};

// A light-meter serial frame: byte k carries k in its high nibble.
Bytes frame12B(const std::string& digits) {
    Bytes out;
    for (std::size_t k = 0; k < digits.size(); ++k) {
        const char c = digits[k];
        const int v = c <= '9' ? c - '0' : c - 'A' + 10;
        out.push_back(static_cast<std::uint8_t>(((k + 1) << 4) | v));
    }
    return out;
}
// 19.99 lux and 12.34 lux.
const std::string kLux1999 = "00D7D7DF060008";
const std::string kLux1234 = "0056C7E5060E08";

template <class T> T* child(QObject& w, const char* name) {
    T* found = w.findChild<T*>(name);
    if (!found)
        qFatal("no child %s", name);
    return found;
}

std::string digitsOf(const TFCOMM& w) {
    std::string out;
    for (const auto& d : w.state().display.digits)
        out += d.empty() ? "_" : d;
    return out;
}

struct MenuState {
    bool startEnabled, startChecked, stopEnabled, stopChecked;
    bool operator==(const MenuState&) const = default;
};

MenuState menuOf(TFCOMM& w) {
    auto* start = child<QAction>(w, "BTCon1");
    auto* stop = child<QAction>(w, "BtDiscon1");
    return {start->isEnabled(), start->isChecked(), stop->isEnabled(), stop->isChecked()};
}

char* toString(const MenuState& m) {
    return qstrdup(QString("START %1%2, STOP %3%4")
                       .arg(m.startEnabled ? "enabled" : "disabled")
                       .arg(m.startChecked ? " checked" : "")
                       .arg(m.stopEnabled ? "enabled" : "disabled")
                       .arg(m.stopChecked ? " checked" : "")
                       .toLatin1());
}

SerialController& serialOf(TFCOMM& w) {
    return *child<SerialController>(w, "SerialController");
}

} // namespace

class SerialLinkTest : public QObject {
    Q_OBJECT
private slots:
    void startAndStopFollowTheMenuStates() {
        Cable cable;
        RecordingDialogs dialogs;
        TFCOMM w(dialogs);
        auto& serial = serialOf(w);
        QCOMPARE(serial.COMM2().ComPort(), kq::links::pnCOM1);
        QCOMPARE(serial.COMM2().ComPortSpeed(), kq::links::br2400);
        QCOMPARE(menuOf(w), (MenuState{true, false, false, false}));
        // Plain commands, never tick boxes: greyed is what tells which one applies.
        QVERIFY(!child<QAction>(w, "BTCon1")->isCheckable());
        QVERIFY(!child<QAction>(w, "BtDiscon1")->isCheckable());

        struct Step {
            const char* item;
            MenuState menu;
            bool open;
        };
        const Step steps[] = {
            {"BTCon1", {false, false, true, false}, true},
            {"BtDiscon1", {true, false, false, false}, false},
            {"BTCon1", {false, false, true, false}, true},
            {"BtDiscon1", {true, false, false, false}, false},
        };
        for (const auto& s : steps) {
            child<QAction>(w, s.item)->trigger();
            QCOMPARE(menuOf(w), s.menu);
            QCOMPARE(serial.COMM2().Connected(), s.open);
            QCOMPARE(child<QPushButton>(w, "BTCon")->isHidden(), s.open);
            QCOMPARE(child<QPushButton>(w, "BtDiscon")->isHidden(), !s.open);
            for (const char* panel : {"BtCOM1", "BtCOM2", "BtCOM3", "BtCOM4"})
                QCOMPARE(child<QPushButton>(w, panel)->isEnabled(), !s.open);
        }
        QVERIFY(dialogs.messages.empty());
    }

    void nothingIsDecodedWhileTheLogIsBusy() {
        Cable cable;
        RecordingDialogs dialogs;
        TFCOMM w(dialogs);
        child<QAction>(w, "BTCon1")->trigger();
        const std::string glass = digitsOf(w);
        w.state().PrintBusy = true; // the report preview or a long save is open
        const Bytes whole = frame12B(kLux1234);
        QVERIFY(cable.send(Bytes(whole.begin(), whole.begin() + 5)));
        QVERIFY(cable.send(frame12B(kLux1999)));
        QTest::qWait(300);
        QCOMPARE(w.recorder().cds1.rowCount(), std::size_t{0});
        QCOMPARE(digitsOf(w), glass);
        QVERIFY(w.state().RxDigits.empty());
        // Busy no more: the rest of a frame cut by it is rejected, the next one counts.
        w.state().PrintBusy = false;
        QVERIFY(cable.send(Bytes(whole.begin() + 5, whole.end())));
        QVERIFY(cable.send(whole));
        QTRY_COMPARE_WITH_TIMEOUT(digitsOf(w), std::string("1234"), 5000);
        QCOMPARE(w.recorder().cds1.rowCount(), std::size_t{1});
    }

    void halfAFrameWaitsAcrossStopAndStart() {
        Cable cable;
        RecordingDialogs dialogs;
        TFCOMM w(dialogs);
        child<QAction>(w, "BTCon1")->trigger();
        const Bytes whole = frame12B(kLux1234);
        QVERIFY(cable.send(Bytes(whole.begin(), whole.begin() + 6)));
        QTRY_COMPARE_WITH_TIMEOUT(w.state().RxDigits.size(), std::size_t{6}, 5000);
        child<QAction>(w, "BtDiscon1")->trigger();
        child<QAction>(w, "BTCon1")->trigger();
        QCOMPARE(w.state().RxDigits, std::string("0056C7"));
        QVERIFY(cable.send(Bytes(whole.begin() + 6, whole.end())));
        QTRY_COMPARE_WITH_TIMEOUT(digitsOf(w), std::string("1234"), 5000);
        QCOMPARE(w.state().FrameText, kLux1234);
    }

    void missingPortSaysWhyAndOffersStartAgain() {
        qputenv("KQMETER_COM1", "/dev/kq-no-such-port");
        RecordingDialogs dialogs;
        TFCOMM w(dialogs);
        child<QAction>(w, "BTCon1")->trigger();
        qunsetenv("KQMETER_COM1");
        QCOMPARE(dialogs.messages.size(), std::size_t{1});
        const QString text = dialogs.messages[0].text;
        QVERIFY2(text.contains("COM1") && text.contains("/dev/kq-no-such-port") &&
                     text.contains("does not exist"),
                 qPrintable(text));
        QCOMPARE(menuOf(w), (MenuState{true, false, false, false}));
        QVERIFY(!serialOf(w).COMM2().Connected());
        QVERIFY(!child<QPushButton>(w, "BtCOM1")->isHidden());
        QVERIFY(child<QPushButton>(w, "BtCOM1")->isEnabled());
    }

    void pulledCableStopsTheLinkAndDarkensTheIndicator() {
        Cable cable;
        RecordingDialogs dialogs;
        TFCOMM w(dialogs);
        child<QAction>(w, "BTCon1")->trigger();
        QVERIFY(cable.send(frame12B(kLux1999)));
        QTRY_COMPARE_WITH_TIMEOUT(digitsOf(w), std::string("1999"), 5000);
        cable.pull();
        QTRY_VERIFY_WITH_TIMEOUT(!serialOf(w).COMM2().Connected(), 5000);
        QVERIFY(!serialOf(w).COMM2().pollingTimerActive());
        QCOMPARE(menuOf(w), (MenuState{true, false, false, false}));
        QVERIFY(w.state().display.isShown(Widget::conokn));
        QVERIFY(!w.state().display.isShown(Widget::conok));
        QCOMPARE(dialogs.messages.size(), std::size_t{1});
        QVERIFY2(dialogs.messages[0].text.contains("COM1"), qPrintable(dialogs.messages[0].text));
    }

    void portSelectorGoesRoundTheFourPorts() {
        RecordingDialogs dialogs;
        TFCOMM w(dialogs);
        auto& serial = serialOf(w);
        const char* panels[] = {"BtCOM1", "BtCOM2", "BtCOM3", "BtCOM4"};
        const char* captions[] = {"COM 1", "COM 2", "COM 3", "COM 4"};
        // Clicking the visible panel moves on; the port follows the panel.
        for (int click = 0; click < 6; ++click) {
            const int shown = click % 4;
            for (int i = 0; i < 4; ++i) {
                QCOMPARE(child<QPushButton>(w, panels[i])->isHidden(), i != shown);
                QCOMPARE(child<QPushButton>(w, panels[i])->text(), QString(captions[i]));
            }
            QCOMPARE(static_cast<int>(serial.COMM2().ComPort()), shown);
            child<QPushButton>(w, panels[shown])->click();
        }
    }

    void portChoiceWhileStartedKeepsThePortOpen() {
        Cable cable;
        RecordingDialogs dialogs;
        TFCOMM w(dialogs);
        auto& serial = serialOf(w);
        child<QAction>(w, "BTCon1")->trigger();
        serial.COM21Click(); // the panels are disabled; the handler alone
        QCOMPARE(serial.COMM2().ComPort(), kq::links::pnCOM1);
        QVERIFY(!child<QPushButton>(w, "BtCOM2")->isHidden());
        QVERIFY(serial.COMM2().Connected());
    }

    void comConnectAndUsbConnectReleaseEachOther() {
        Cable cable;
        RecordingDialogs dialogs;
        TFCOMM w(dialogs);
        auto* usb = child<QPushButton>(w, "USB");
        auto* com = child<QPushButton>(w, "COMCon");
        auto* usbPoll = child<kq::app::UsbController>(w, "UsbController");
        QVERIFY(com->isCheckable());
        QCOMPARE(com->text(), QString("COM Connect"));

        // COM down releases USB without USB's click handling: Timer1 stays on.
        usb->setChecked(true);
        com->click();
        QVERIFY(com->isChecked());
        QVERIFY(!usb->isChecked());
        QVERIFY(usbPoll->pollOn());
        QVERIFY(serialOf(w).COMM2().Connected());
        QCOMPARE(menuOf(w), (MenuState{false, false, true, false}));

        // USB down releases COM without COM's click handling: the port stays.
        // (No bridge is attached, so USB itself comes up with its message.)
        usb->click();
        QVERIFY(!com->isChecked());
        QVERIFY(serialOf(w).COMM2().Connected());
        QCOMPARE(dialogs.texts(), QStringList{"USB interface cable is not connected properly, "
                                              "please check and re-try."});

        // COM down and up again: connect, then disconnect.
        com->click();
        com->click();
        QVERIFY(!com->isChecked());
        QVERIFY(!serialOf(w).COMM2().Connected());
        QCOMPARE(menuOf(w), (MenuState{true, false, false, false}));
    }

    void twoRowModelsRunTheirCableFasterWithTheirFramer() {
        Cable cable;
        kq::decode::ModelSwitchSet switches;
        switches.setChecked(kq::decode::ModelSwitch::IFKQ810, true);
        RecordingDialogs dialogs;
        TFCOMM w(dialogs, nullptr, switches);
        QCOMPARE(serialOf(w).COMM2().ComPortSpeed(), kq::links::br19200);
        child<QAction>(w, "BTCon1")->trigger();
        // LF, a free byte, the main row 4 3 2 1 rightmost first, CR.
        const Bytes frame{0x0A, 0x30, 0x36, 0x30, 0x3C, 0x37, 0x3E, 0x35, 0x36, 0x3C, 0x0D};
        QVERIFY(cable.send(frame));
        QTRY_COMPARE_WITH_TIMEOUT(digitsOf(w), std::string("4321"), 5000);
        QCOMPARE(w.state().FrameText, std::string("A060C7E56CD"));
        QCOMPARE(w.recorder().cds1.rowCount(), std::size_t{0}); // the two-row family logs nothing
    }

    void bandLiesBeyondTheClientArea() {
        RecordingDialogs dialogs;
        TFCOMM w(dialogs);
        w.show();
        auto* band = serialOf(w).band();
        QVERIFY(band);
        QCOMPARE(band->parentWidget(), static_cast<QWidget*>(&w));
        const QRect client = w.centralWidget()->geometry();
        QVERIFY(band->geometry().left() > client.right());
        QVERIFY(!w.rect().intersects(band->geometry()));
    }
};

QTEST_MAIN(SerialLinkTest)
#include "serial_link_test.moc"
