// The window as a desktop user drives it: the keyboard (Tab order, mnemonics, shortcuts, the
// chart's page keys), the cable controls and serial port from the Connect menu, following the
// newest reading, and the second frame family on the glass.
#include "app/dialogs.h"
#include "app/lcd_panel.h"
#include "app/serial_controller.h"
#include "app/tfcomm.h"
#include "links/usbbridge_fake.h"
#include "record/recorder.h"
#include "support/frames.h"
#include "support/pty.h"
#include "support/recording_dialogs.h"
#include "support/window_rig.h"

#include <QAbstractButton>
#include <QAction>
#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QTableView>
#include <QToolButton>
#include <QtTest>

#include <fcntl.h>
#include <memory>
#include <unistd.h>

using kq::app::TFCOMM;
using kq::decode::Widget;
using kq::links::FakeUsbBridge;
using kq::test::bridgeBytes;
using kq::test::RecordingDialogs;

namespace {

template <class T> T* child(QObject& w, const char* name) {
    T* found = w.findChild<T*>(name);
    if (!found)
        qFatal("no child %s", name);
    return found;
}

const std::string kLux1999 = kq::test::lux1999Frame();
// A two-row meter on the USB cable: the cable's marker "usb.1" on the main row, 8888 on the
// second row (its four blocks "EF"), in m/s (position 26, weight 1), CR LF ("DA") at the end.
const std::string kTwoRow8888 = "03603FAD6B"
                                "EFEFEFEF"
                                "0000000"
                                "1"
                                "0000DA";

struct Window {
    RecordingDialogs dialogs;
    FakeUsbBridge* bridge = nullptr;
    std::unique_ptr<TFCOMM> w;

    Window() : w(kq::test::windowOverOneMeter(dialogs, bridge)) { w->activateWindow(); }
    bool ready() { return QTest::qWaitForWindowActive(w.get()); }
    QWidget* focus() const { return QApplication::focusWidget(); }
    void key(int key, Qt::KeyboardModifiers mods = Qt::NoModifier) {
        QTest::keyClick(focus() ? focus() : w.get(), static_cast<Qt::Key>(key), mods);
    }
    void readings(int n) {
        for (int i = 0; i < n; ++i) {
            w->state().FrameText = kLux1999;
            w->decodeFrame(kq::decode::Decoder::D12B);
        }
        w->renderViews();
    }
    QTableView* grid() { return child<QTableView>(*w, "DBGrid1"); }
    QString page() { return child<QToolButton>(*w, "Bt10")->text(); }
};

// Ink of the glass: the lit segments are black, everything else far lighter.
int inkIn(const QImage& glass, const QRect& box) {
    int ink = 0;
    for (int y = box.top(); y <= box.bottom(); ++y)
        for (int x = box.left(); x <= box.right(); ++x)
            ink += qGray(glass.pixel(x, y)) < 100;
    return ink;
}

} // namespace

class WindowDesktopTest : public QObject {
    Q_OBJECT
private slots:
    // Tab from the chart's page-length box, round the whole window: every stop is a control
    // the user can see, and Space on a stop never reaches the hidden port selector.
    void tabStopsAreOnlyControlsInSight() {
        Window win;
        QVERIFY(win.ready());
        child<QLineEdit>(*win.w, "Maxrecord")->setFocus(Qt::TabFocusReason);
        const QRect client(QPoint(0, 0), win.w->centralWidget()->size());
        for (int i = 0; i < 40; ++i) {
            win.key(Qt::Key_Tab);
            QWidget* f = win.focus();
            QVERIFY(f);
            const QRect place(f->mapTo(win.w->centralWidget(), QPoint(0, 0)), f->size());
            QVERIFY2(f->isVisible() && client.intersects(place), qPrintable(f->objectName()));
        }
        auto& serial = *child<kq::app::SerialController>(*win.w, "SerialController");
        QCOMPARE(serial.COMM2().ComPort(), kq::links::pnCOM1);
    }

    // Tab leaves the grid (arrows move in it), and the stops follow the layout: the top row,
    // the left column, the right column.
    void tabLeavesTheGridAndFollowsTheLayout() {
        Window win;
        QVERIFY(win.ready());
        win.readings(5);
        win.grid()->setFocus(Qt::TabFocusReason);
        win.grid()->setCurrentIndex(win.grid()->model()->index(4, 0));
        win.key(Qt::Key_Up);
        QCOMPARE(win.grid()->currentIndex().row(), 3);
        win.key(Qt::Key_Tab);
        QVERIFY(win.focus() != win.grid());
        QCOMPARE(win.grid()->currentIndex().row(), 3);

        const QStringList expected = {
            "USB",           "BitBtn1",   "RepeatSet", "RecordSI",    "RecordSITime", "RecordNew",
            "OpenDataFiles", "saveas",    "BtPrint",   "DBGrid1",     "T1HI",         "T1LO",
            "BtFill",        "Maxrecord", "BtNew",     "BtSave",      "BtFirst",      "BTPrevious",
            "BtNext",        "BTlast",    "TbFd",      "ChtshowView", "USB"};
        child<QWidget>(*win.w, "USB")->setFocus(Qt::TabFocusReason);
        QStringList got{win.focus()->objectName()};
        while (got.size() < expected.size()) {
            win.key(Qt::Key_Tab);
            got << (win.focus() ? win.focus()->objectName() : QString("(none)"));
        }
        QCOMPARE(got, expected);
    }

    // Connect lists COM1..COM4 with the device each opens; START opens the one chosen.
    void portChosenInTheMenuIsTheOneStartOpens() {
        kq::test::Pty line;
        const QByteArray pty = QByteArray::fromStdString(line.path());
        qputenv("KQMETER_COM3", pty);
        Window win;
        qunsetenv("KQMETER_COM3");
        auto& serial = *child<kq::app::SerialController>(*win.w, "SerialController");
        QCOMPARE(serial.portItem(0)->text(), QString("COM&1 (/dev/ttyS0)"));
        QCOMPARE(serial.portItem(2)->text(), "COM&3 (" + QString(pty) + ")");
        QVERIFY(serial.portItem(0)->isChecked());
        serial.portItem(2)->trigger();
        QCOMPARE(serial.COMM2().ComPort(), kq::links::pnCOM3);
        child<QAction>(*win.w, "BTCon1")->trigger();
        QVERIFY(serial.COMM2().Connected());
        QVERIFY(!serial.portItem(0)->isEnabled());
        child<QAction>(*win.w, "BtDiscon1")->trigger();
        QVERIFY(serial.portItem(0)->isEnabled());
        QVERIFY(win.dialogs.messages.empty());
    }

    // "Cable controls" shows the band inside the window and hides it again.
    void cableControlsItemShowsAndHidesTheBand() {
        Window win;
        auto* item = child<QAction>(*win.w, "CableControls");
        auto* usbCon = child<QWidget>(*win.w, "USBCon");
        auto* band = child<QWidget>(*win.w, "SerialBand");
        QVERIFY(item->isCheckable() && !item->isChecked());
        QVERIFY(!usbCon->isVisible() && !band->isVisible());
        item->trigger();
        QVERIFY(usbCon->isVisible() && band->isVisible());
        QVERIFY(win.w->centralWidget()->rect().contains(usbCon->geometry()));
        QVERIFY(win.w->cableControlsShown());
        item->trigger();
        QVERIFY(!usbCon->isVisible());
        QCOMPARE(win.w->centralWidget()->size(), QSize(719, 544));
    }

    // Alt+letter opens each menu; the standard shortcuts and F11 / Ctrl+E act; the chart pages
    // with PageUp, PageDown, Home and End when it has the focus.
    void menusAndShortcutsFromTheKeyboard() {
        Window win;
        QVERIFY(win.ready());
        struct Menu {
            Qt::Key key;
            const char* name;
        };
        for (const Menu& m : {Menu{Qt::Key_C, "ConnectMenu"}, Menu{Qt::Key_G, "GraphicMenu"},
                              Menu{Qt::Key_R, "RecordMenu"}}) {
            QTest::keyClick(win.w.get(), m.key, Qt::AltModifier);
            QTRY_VERIFY(QApplication::activePopupWidget() != nullptr);
            QCOMPARE(QApplication::activePopupWidget()->objectName(), QString(m.name));
            QTest::keyClick(QApplication::activePopupWidget(), Qt::Key_Escape);
            QTRY_VERIFY(QApplication::activePopupWidget() == nullptr);
        }
        QCOMPARE(child<QAction>(*win.w, "Exit1")->text(), QString("&Exit"));
        QCOMPARE(child<QAction>(*win.w, "Exit1")->shortcut(), QKeySequence(QKeySequence::Quit));

        auto* chart = child<QWidget>(*win.w, "Chtshow");
        win.key(Qt::Key_E, Qt::ControlModifier);
        QCOMPARE(chart->geometry(), QRect(0, 28, 719, 516));
        win.key(Qt::Key_F11);
        QCOMPARE(chart->geometry(), QRect(400, 152, 321, 394));

        win.key(Qt::Key_N, Qt::ControlModifier);
        QCOMPARE(win.dialogs.texts(), QStringList{" Record deleted "});
        win.key(Qt::Key_S, Qt::ControlModifier);
        win.key(Qt::Key_O, Qt::ControlModifier);
        QCOMPARE(win.dialogs.lastSpecs.size(), std::size_t(2)); // save, then open: both asked

        for (int i = 0; i < 250; ++i)
            win.w->recorder().ChartPager.AddValue(1);
        win.w->renderViews();
        QCOMPARE(win.page(), QString("3"));
        child<QWidget>(*win.w, "ChtshowView")->setFocus(Qt::TabFocusReason);
        struct Step {
            Qt::Key key;
            const char* page;
        };
        for (const Step& s : {Step{Qt::Key_Home, "1"}, Step{Qt::Key_PageDown, "2"},
                              Step{Qt::Key_End, "3"}, Step{Qt::Key_PageUp, "2"}}) {
            win.key(s.key);
            QCOMPARE(win.page(), QString(s.page));
        }
    }

    // Off, new readings leave the grid's row and the chart's page where the user put them.
    void followTheNewestReadingOff() {
        Window win;
        auto* follow = child<QAction>(*win.w, "FollowNewest");
        QVERIFY(follow->isChecked());
        win.readings(3);
        QCOMPARE(win.grid()->currentIndex().row(), 2);
        follow->trigger();
        win.grid()->setCurrentIndex(win.grid()->model()->index(0, 0));
        win.readings(150);
        QCOMPARE(win.grid()->model()->rowCount(), 153);
        QCOMPARE(win.grid()->currentIndex().row(), 0);
        QCOMPARE(win.page(), QString("1"));
        follow->trigger();
        win.readings(1);
        QCOMPARE(win.grid()->currentIndex().row(), 153);
        QCOMPARE(win.page(), QString("2"));
    }

    // Every box is titled by its window, a box without owner by the main window; a second
    // window says that it records separately and opens beside the first.
    void messageBoxesCarryTheWindowsTitle() {
        Window win;
        const QString title = win.w->windowTitle();
        QCOMPARE(kq::app::messageTitle(child<QWidget>(*win.w, "T1HI")), title);
        QCOMPARE(kq::app::messageTitle(nullptr), title);
        const QPoint first = win.w->pos();
        win.w->markSecondWindow();
        QVERIFY(win.w->windowTitle().startsWith(title));
        QVERIFY(win.w->windowTitle().contains("records separately"));
        QCOMPARE(kq::app::messageTitle(nullptr), win.w->windowTitle());
        QVERIFY(win.w->pos() != first);
    }

    // A two-row meter on the USB cable after the light meter: its second row is on the glass,
    // and the light meter's unit, bar, value and verdict are gone.
    void twoRowFrameShowsItsSecondRowAndClearsTheLightMetersLeftovers() {
        Window win;
        QTest::mouseClick(child<QAbstractButton>(*win.w, "USB"), Qt::LeftButton);
        auto* glass = child<kq::app::LcdPanel>(*win.w, "LcdPanel");
        auto* value = child<QLineEdit>(*win.w, "T1VALUE");
        win.bridge->queueRead(bridgeBytes(kLux1999));
        QTRY_COMPARE(value->text(), QString("19.99"));
        QTRY_VERIFY(!child<QLabel>(*win.w, "judge")->text().isEmpty());
        win.w->renderGlass();
        const QRect lux = kq::app::LcdPanel::placeOf(Widget::LUX).toRect();
        const QRect bar = kq::app::LcdPanel::placeOf(Widget::PBar2).toRect();
        // Below the big digits and above the annunciators of the foot.
        const QRect secondRowFoot(78, 140, 220, 15);
        QImage before = glass->grab().toImage();
        QVERIFY(inkIn(before, lux) > 0);
        QVERIFY(inkIn(before, bar) > 0);
        QCOMPARE(inkIn(before, secondRowFoot), 0);

        win.bridge->queueRead(bridgeBytes(kTwoRow8888));
        QTRY_VERIFY(win.w->state().display.family == kq::decode::DisplayModel::Family::Lcd24B);
        win.w->renderGlass();
        QImage after = glass->grab().toImage();
        QVERIFY2(inkIn(after, secondRowFoot) > 100, "the second row 8888 is on the glass");
        QCOMPARE(inkIn(after, lux), 0);
        QCOMPARE(inkIn(after, bar), 0);
        QCOMPARE(value->text(), QString());
        QCOMPARE(child<QLabel>(*win.w, "judge")->text(), QString());
        QCOMPARE(child<QLabel>(*win.w, "MinTextU")->text(), QString("m|s"));
        const QString shot = qEnvironmentVariable("KQ_TWO_ROW_SCREENSHOT");
        if (!shot.isEmpty())
            win.w->grab().save(shot);
    }
};

QTEST_MAIN(WindowDesktopTest)
#include "window_desktop_test.moc"
