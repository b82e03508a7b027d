// The real main window, offscreen: start-up state, frames on the glass, the
// limit edits typed into, the menus and the Exit button.
#include "app/limit_panel.h"
#include "app/log_file_actions.h"
#include "app/statistics_dialog.h"
#include "app/tfcomm.h"
#include "files/log_file.h"
#include "links/hid_backend_fake.h"
#include "links/usbbridge_fake.h"
#include "record/log_table.h"
#include "record/recorder.h"
#include "support/frames.h"
#include "support/pty.h"
#include "support/recording_dialogs.h"

#include <QAction>
#include <QClipboard>
#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QProcess>
#include <QPushButton>
#include <QRegularExpression>
#include <QTableView>
#include <QTemporaryDir>
#include <QToolButton>
#include <QtTest>

#include <map>
#include <optional>
#include <tuple>

#if defined(__SANITIZE_ADDRESS__)
#include <sanitizer/lsan_interface.h>
#endif

using kq::app::TFCOMM;
using kq::decode::Decoder;
using kq::decode::Widget;
using kq::test::RecordingDialogs;

namespace {

const std::string kLux1999 = kq::test::lux1999Frame();

QStringList topMenuTitles(QMenuBar* bar) {
    QStringList out;
    for (QAction* a : bar->actions())
        out << QString(a->text()).remove(QLatin1Char('&')); // as shown, without mnemonics
    return out;
}

// Sets an environment variable for the life of the object, then puts it back.
class ScopedEnv {
public:
    ScopedEnv(const char* name, const QByteArray& value)
        : m_name(name), m_had(qEnvironmentVariableIsSet(name)), m_old(qgetenv(name)) {
        if (value.isNull())
            qunsetenv(name);
        else
            qputenv(name, value);
    }
    ~ScopedEnv() {
        if (m_had)
            qputenv(m_name, m_old);
        else
            qunsetenv(m_name);
    }
    ScopedEnv(const ScopedEnv&) = delete;
    ScopedEnv& operator=(const ScopedEnv&) = delete;

private:
    const char* m_name;
    bool m_had;
    QByteArray m_old;
};

// glibc keeps the folder list of every locale lookup under LOCPATH for the life of the
// process; allocations made while this lives are not reported as leaks.
class LocaleLookupsKept {
public:
#if defined(__SANITIZE_ADDRESS__)
    LocaleLookupsKept() {
        __lsan_disable();
    }
    ~LocaleLookupsKept() {
        __lsan_enable();
    }
#else
    LocaleLookupsKept() = default;
#endif
    LocaleLookupsKept(const LocaleLookupsKept&) = delete;
    LocaleLookupsKept& operator=(const LocaleLookupsKept&) = delete;
};

QString loggedText(TFCOMM& w, std::size_t row, kq::record::LogTable::Field field) {
    kq::record::LogTable::Text text;
    if (!w.recorder().cds1.text(row, field, text))
        return QString();
    return QString::fromUtf8(text.data, static_cast<int>(text.size));
}

template <class T> T* child(QWidget& w, const char* name) {
    T* found = w.findChild<T*>(name);
    if (!found)
        qFatal("no child %s", name);
    return found;
}

// What a connect step left, on the window's side and on the three cables'.
struct ConnectOutcome {
    QStringList down; // the connect buttons that are down
    std::vector<std::tuple<int, std::uint32_t, std::uint32_t>> bridgeCalls;
    std::vector<std::vector<std::uint8_t>> featureReports;
    bool serialOpen = false;
    QStringList messages;
    bool operator==(const ConnectOutcome&) const = default;
};

// A window with a cable on each link: the bridge's meter, a HID cable, a serial
// line (KQMETER_COM1). `press` connects; then it is asked again, as a second
// press through the same route would be.
template <class Press> ConnectOutcome connectThrough(Press press) {
    kq::test::Pty line;
    const ScopedEnv com1("KQMETER_COM1", QByteArray::fromStdString(line.path()));
    auto bridge = std::make_unique<kq::links::FakeUsbBridge>();
    bridge->setDeviceCount(1);
    kq::links::FakeUsbBridge* meter = bridge.get();
    auto hid = std::make_shared<kq::links::FakeHidBackend>();
    kq::links::FakeHidBackend::Device cable;
    cable.info.devicePath = "/dev/hidraw1";
    cable.info.instanceId = "/sys/devices/usb1/1-1/0003:10C4:EA80.0001";
    cable.attributes = {0x10C4, 0xEA80, 0x0100};
    cable.product = L"USB to Serial";
    hid->arrive(cable);
    RecordingDialogs dialogs;
    TFCOMM w(dialogs, std::move(bridge), kq::decode::builtModelSwitches(), nullptr, hid);
    w.showCableControls();
    w.show();
    meter->clearCalls();
    press(w);
    ConnectOutcome out;
    for (const char* name : {"USB", "USBCon", "ReadBtn", "COMCon"}) {
        if (child<QPushButton>(w, name)->isChecked())
            out.down << name;
    }
    // The line opened, set to its speed, or closed; the reading thread's time-outs, reads,
    // counts and flushes come at its own pace.
    using Call = kq::links::FakeUsbBridge::Call;
    for (const auto& call : meter->calls()) {
        if (call.call == Call::Open || call.call == Call::SetBaudRate || call.call == Call::Close)
            out.bridgeCalls.emplace_back(static_cast<int>(call.call), call.a, call.b);
    }
    out.featureReports = hid->featureReports("/dev/hidraw1");
    out.serialOpen = !child<QAction>(w, "BTCon1")->isEnabled(); // START greyed while open
    out.messages = dialogs.texts();
    return out;
}

} // namespace

class TfcommTest : public QObject {
    Q_OBJECT
private slots:
    // --connect LINK does what the user's press on the link's connect button does: the same
    // calls reach the cable, the same buttons are down, the same messages are told. Asked
    // again, it leaves the link connected where a second press would disconnect.
    void connectOptionPressesLikeTheUser_data() {
        QTest::addColumn<kq::app::ConnectLink>("link");
        QTest::addColumn<QString>("button");
        QTest::newRow("usb") << kq::app::ConnectLink::Usb << "USB";
        QTest::newRow("hid") << kq::app::ConnectLink::Hid << "USBCon";
        QTest::newRow("serial") << kq::app::ConnectLink::Serial << "COMCon";
    }

    void connectOptionPressesLikeTheUser() {
        QFETCH(kq::app::ConnectLink, link);
        QFETCH(QString, button);
        const QByteArray name = button.toLatin1();
        const ConnectOutcome pressed = connectThrough([&name](TFCOMM& w) {
            QTest::mouseClick(child<QPushButton>(w, name.constData()), Qt::LeftButton);
        });
        QCOMPARE(pressed.down, QStringList{button});
        QVERIFY(!pressed.bridgeCalls.empty() || !pressed.featureReports.empty() ||
                pressed.serialOpen);
        const ConnectOutcome asked = connectThrough([link](TFCOMM& w) {
            w.pressConnect(link);
            w.pressConnect(link);
        });
        QCOMPARE(asked.down, pressed.down);
        QVERIFY(asked.bridgeCalls == pressed.bridgeCalls);
        QVERIFY(asked.featureReports == pressed.featureReports);
        QCOMPARE(asked.serialOpen, pressed.serialOpen);
        QCOMPARE(asked.messages, pressed.messages);
    }

    void startsAsTheLightMeterBuild() {
        RecordingDialogs dialogs;
        TFCOMM w(dialogs);
        w.show();
        QCOMPARE(w.windowTitle(), QString("KQ510 Interface Program Ver:2.00"));
        QCOMPARE(w.centralWidget()->size(), QSize(719, 544));
        QCOMPARE(w.minimumSize(), w.maximumSize()); // not resizable
        QCOMPARE(topMenuTitles(w.menuBar()),
                 QStringList({"Connect", "", "Graphic", "Record", "", "Exit"}));
        QCOMPARE(child<QLineEdit>(w, "T1HI")->text(), QString("2000"));
        QCOMPARE(child<QLineEdit>(w, "T1LO")->text(), QString("-2000"));
        QCOMPARE(child<QLabel>(w, "MinText")->text(), QString("-2001"));
        QCOMPARE(child<QLabel>(w, "MaxText")->text(), QString("2001"));
        QCOMPARE(child<QPushButton>(w, "USB")->text(), QString("USB Connect "));
        QVERIFY(child<QPushButton>(w, "USB")->isCheckable());
        QVERIFY(!child<QAction>(w, "BtDiscon1")->isEnabled());
        QCOMPARE(w.state().display.digits[0], std::string("2"));
        QVERIFY(w.state().display.isShown(Widget::conokn));
        QVERIFY(!w.state().display.isShown(Widget::conok));
        QVERIFY(dialogs.messages.empty());
    }

    // The title bar of a fixed-size window: system menu and minimise, no maximise.
    void titleBarOffersTheSystemMenuAndMinimiseOnly_data() {
        QTest::addColumn<int>("hint");
        QTest::addColumn<bool>("present");
        QTest::newRow("buttons chosen, not the platform's default")
            << int(Qt::CustomizeWindowHint) << true;
        QTest::newRow("title") << int(Qt::WindowTitleHint) << true;
        QTest::newRow("system menu") << int(Qt::WindowSystemMenuHint) << true;
        QTest::newRow("minimise") << int(Qt::WindowMinimizeButtonHint) << true;
        QTest::newRow("maximise") << int(Qt::WindowMaximizeButtonHint) << false;
        QTest::newRow("context help") << int(Qt::WindowContextHelpButtonHint) << false;
        QTest::newRow("stays on top") << int(Qt::WindowStaysOnTopHint) << false;
    }
    void titleBarOffersTheSystemMenuAndMinimiseOnly() {
        QFETCH(int, hint);
        QFETCH(bool, present);
        RecordingDialogs dialogs;
        TFCOMM w(dialogs);
        w.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        QCOMPARE(w.windowFlags().testFlag(static_cast<Qt::WindowType>(hint)), present);
        QVERIFY(w.isWindow());
        QCOMPARE(w.minimumSize(), w.maximumSize());
    }

    // The value and the log's time follow the system's locale as it stands when the
    // window starts; a locale the machine does not have reads as the C locale.
    void readingAndLogFollowTheSystemsSeparators_data() {
        QTest::addColumn<QByteArray>("lcAll");
        QTest::addColumn<bool>("built");
        QTest::addColumn<QString>("value");
        QTest::addColumn<QChar>("timeSeparator");
        QTest::newRow("C") << QByteArray("C.UTF-8") << false << "19.99" << QChar(':');
        QTest::newRow("missing locale")
            << QByteArray("xx_NOWHERE.UTF-8") << false << "19.99" << QChar(':');
        QTest::newRow("Finnish") << QByteArray("fi_FI.UTF-8") << true << "19,99" << QChar('.');
    }
    void readingAndLogFollowTheSystemsSeparators() {
        QFETCH(QByteArray, lcAll);
        QFETCH(bool, built);
        QFETCH(QString, value);
        QFETCH(QChar, timeSeparator);
        QTemporaryDir locales;
        if (built) {
            // Built from the system's locale sources into a private folder.
            const int status = QProcess::execute(
                "localedef", {"-i", "fi_FI", "-f", "UTF-8", locales.filePath(lcAll)});
            if (status != 0)
                QSKIP("no locale sources for fi_FI on this machine");
        }
        const ScopedEnv path("LOCPATH", built ? locales.path().toUtf8() : QByteArray());
        const ScopedEnv all("LC_ALL", lcAll);
        RecordingDialogs dialogs;
        std::optional<LocaleLookupsKept> kept;
        if (built)
            kept.emplace();
        TFCOMM w(dialogs);
        kept.reset();
        w.state().FrameText = kLux1999;
        w.decodeFrame(Decoder::D12B);
        QCOMPARE(child<QLineEdit>(w, "T1VALUE")->text(), value);
        QCOMPARE(child<QLabel>(w, "judge")->text(), QString("Pass"));
        QCOMPARE(loggedText(w, 0, kq::record::LogTable::Field::Value), value);
        const QString time = loggedText(w, 0, kq::record::LogTable::Field::Time);
        QCOMPARE(time.size(), 8);
        QCOMPARE(time.at(2), timeSeparator);
        QCOMPARE(time.at(5), timeSeparator);
    }

    // Keys typed into a limit edit, as real key events: the filter takes printable
    // characters only, so editing keys keep working.
    void limitEditKeys_data() {
        QTest::addColumn<QString>("start");
        QTest::addColumn<int>("cursor");
        QTest::addColumn<int>("key");
        QTest::addColumn<QString>("keyText"); // the key's text as X11 gives it
        QTest::addColumn<QString>("text");
        const QString del(QChar(0x7f));
        QTest::newRow("Delete removes the next character")
            << "2000" << 0 << int(Qt::Key_Delete) << del << "000";
        QTest::newRow("Delete in the middle") << "2500" << 1 << int(Qt::Key_Delete) << del << "200";
        QTest::newRow("Backspace removes the one before")
            << "2000" << 4 << int(Qt::Key_Backspace) << "\b"
            << "200";
        QTest::newRow("a digit goes in") << "200" << 3 << int(Qt::Key_5) << "5"
                                         << "2005";
        QTest::newRow("a sign goes in") << "200" << 0 << int(Qt::Key_Minus) << "-"
                                        << "-200";
        QTest::newRow("a letter is dropped") << "2000" << 4 << int(Qt::Key_A) << "a"
                                             << "2000";
        QTest::newRow("a space is dropped") << "2000" << 2 << int(Qt::Key_Space) << " "
                                            << "2000";
        QTest::newRow("a second point is dropped") << "12.5" << 4 << int(Qt::Key_Period) << "."
                                                   << "12.5";
        QTest::newRow("Escape changes nothing")
            << "2000" << 4 << int(Qt::Key_Escape) << QString(QChar(0x1b)) << "2000";
    }
    void limitEditKeys() {
        QFETCH(QString, start);
        QFETCH(int, cursor);
        QFETCH(int, key);
        QFETCH(QString, keyText);
        QFETCH(QString, text);
        RecordingDialogs dialogs;
        TFCOMM w(dialogs);
        w.show();
        w.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&w));
        QLineEdit* hi = child<QLineEdit>(w, "T1HI");
        hi->setFocus();
        hi->setText(start);
        hi->setCursorPosition(cursor);
        QTest::sendKeyEvent(QTest::Click, hi, static_cast<Qt::Key>(key), keyText, Qt::NoModifier);
        QCOMPARE(hi->text(), text);
        QCOMPARE(QString::fromStdString(w.state().T1HI), text);
        QVERIFY(dialogs.messages.empty());
    }

    // A text pasted into an edit (Ctrl+V with the text selected) is not filtered like
    // typing: it stands as pasted and meets the edit's own check.
    void pasteMeetsTheEditsOwnRule_data() {
        QTest::addColumn<QString>("edit");
        QTest::addColumn<QString>("pasted");
        QTest::addColumn<QString>("shown");   // the text right after the paste
        QTest::addColumn<QString>("settled"); // the text once the edit's rule has run
        QTest::addColumn<QStringList>("messages");
        QTest::newRow("limit: a number") << "T1HI"
                                         << "-15.5"
                                         << "-15.5"
                                         << "-15.5" << QStringList();
        QTest::newRow("limit: no number") << "T1HI"
                                          << "12a"
                                          << "2000"
                                          << "2000" << QStringList{"Numerical input errors"};
        QTest::newRow("interval: digits") << "RecordSITime"
                                          << "15"
                                          << "15"
                                          << "15" << QStringList();
        QTest::newRow("interval: not a whole number") << "RecordSITime"
                                                      << "3x"
                                                      << "3x"
                                                      << "3x" << QStringList();
        QTest::newRow("interval: signed") << "RecordSITime"
                                          << "-4"
                                          << "-4"
                                          << "-4" << QStringList();
        QTest::newRow("page length: digits") << "Maxrecord"
                                             << "50"
                                             << "50"
                                             << "50" << QStringList();
        QTest::newRow("page length: not a whole number") << "Maxrecord"
                                                         << "12a"
                                                         << "12a"
                                                         << "100" << QStringList();
        QTest::newRow("page length: a fraction") << "Maxrecord"
                                                 << "7.5"
                                                 << "7.5"
                                                 << "100" << QStringList();
    }
    void pasteMeetsTheEditsOwnRule() {
        QFETCH(QString, edit);
        QFETCH(QString, pasted);
        QFETCH(QString, shown);
        QFETCH(QString, settled);
        QFETCH(QStringList, messages);
        RecordingDialogs dialogs;
        TFCOMM w(dialogs);
        w.show();
        w.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&w));
        QLineEdit* e = child<QLineEdit>(w, qPrintable(edit));
        e->setFocus();
        e->selectAll();
        QGuiApplication::clipboard()->setText(pasted);
        QTest::keySequence(e, QKeySequence::Paste);
        QCOMPARE(e->text(), shown);
        QCOMPARE(dialogs.texts(), messages);
        // the page length is applied a second after the last change
        QTRY_COMPARE_WITH_TIMEOUT(e->text(), settled, 3000);
        const auto& log = w.recorder().log();
        if (edit == "RecordSITime") {
            // a text that is no whole number counts as 0, as the empty text does
            QCOMPARE(log.RecordSITime, settled.toStdString());
            QCOMPARE(log.SampleTicks, settled == "15" ? 15 : 0);
        } else if (edit == "Maxrecord") {
            QTRY_COMPARE_WITH_TIMEOUT(w.recorder().ChartPager.pageSize(), settled.toInt(), 3000);
        } else {
            QCOMPARE(QString::fromStdString(w.state().T1HI), settled);
            QCOMPARE(QString::fromStdString(w.state().HiLimitText), settled);
        }
    }

    // The leave check runs when the user goes on to another control of the window,
    // not when a menu, a popup or another window takes the focus for a while.
    void limitLeaveCheckOnlyForAnotherControl_data() {
        QTest::addColumn<QString>("how");
        QTest::addColumn<bool>("restored");
        QTest::newRow("Tab") << "tab" << true;
        QTest::newRow("Shift+Tab") << "backtab" << true;
        QTest::newRow("click on the other limit") << "click" << true;
        QTest::newRow("a shortcut to another control") << "shortcut" << true;
        QTest::newRow("moved by the program") << "program" << true;
        QTest::newRow("a popup menu") << "popup" << false;
        QTest::newRow("another window") << "window" << false;
        QTest::newRow("the menu bar") << "menubar" << false;
    }
    void limitLeaveCheckOnlyForAnotherControl() {
        QFETCH(QString, how);
        QFETCH(bool, restored);
        RecordingDialogs dialogs;
        TFCOMM w(dialogs);
        w.show();
        w.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&w));
        QLineEdit* hi = child<QLineEdit>(w, "T1HI");
        QLineEdit* lo = child<QLineEdit>(w, "T1LO");
        lo->setFocus();
        lo->selectAll();
        QTest::keyClick(lo, Qt::Key_Backspace);
        QCOMPARE(lo->text(), QString());

        QWidget other;
        QMenu menu;
        menu.addAction("Paste");
        if (how == "tab") {
            QTest::sendKeyEvent(QTest::Click, lo, Qt::Key_Tab, "\t", Qt::NoModifier);
        } else if (how == "backtab") {
            QTest::sendKeyEvent(QTest::Click, lo, Qt::Key_Backtab, "\t", Qt::ShiftModifier);
        } else if (how == "click") {
            QTest::mouseClick(hi, Qt::LeftButton);
        } else if (how == "shortcut") {
            hi->setFocus(Qt::ShortcutFocusReason);
        } else if (how == "program") {
            hi->setFocus();
        } else if (how == "popup") {
            menu.popup(lo->mapToGlobal(QPoint(5, 5)));
            QTRY_VERIFY(menu.isVisible());
        } else if (how == "window") {
            other.resize(100, 100);
            other.show();
            other.activateWindow();
            QVERIFY(QTest::qWaitForWindowActive(&other));
        } else if (how == "menubar") {
            w.menuBar()->setFocus(Qt::MenuBarFocusReason);
        }
        // (a popup tells the edit it lost the focus but leaves it the focus widget)
        if (how != "popup")
            QVERIFY(!lo->hasFocus());
        QCOMPARE(lo->text(), restored ? QString("-2000") : QString());
        QCOMPARE(w.state().LoLimitText, std::string("-2000"));
        if (restored)
            return;
        // Back in the emptied edit, a paste gives the pasted number alone.
        menu.close();
        other.close();
        w.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&w));
        lo->setFocus();
        QGuiApplication::clipboard()->setText("-150");
        QTest::keySequence(lo, QKeySequence::Paste);
        QCOMPARE(lo->text(), QString("-150"));
        QCOMPARE(w.state().LoLimitText, std::string("-150"));
        QVERIFY(dialogs.messages.empty());
    }

    void recordCountItemsFormOneRadioGroup() {
        RecordingDialogs dialogs;
        TFCOMM w(dialogs);
        const char* names[] = {"N10001", "N50001", "N100001", "N500001", "N1000001", "limitess"};
        const std::int32_t values[] = {1000, 5000, 10000, 50000, 100000, 10000000};
        QVERIFY(child<QAction>(w, "N100001")->isChecked());
        for (int i = 0; i < 6; ++i) {
            child<QAction>(w, names[i])->trigger();
            QCOMPARE(w.recorder().log().MaxRecords, values[i]);
            for (int j = 0; j < 6; ++j)
                QCOMPARE(child<QAction>(w, names[j])->isChecked(), i == j);
        }
    }

    void aFrameReachesTheGlassTheStripAndTheJudgement() {
        RecordingDialogs dialogs;
        TFCOMM w(dialogs);
        w.show();
        for (int i = 0; i < 2; ++i) {
            w.state().FrameText = kLux1999;
            w.decodeFrame(Decoder::D12B);
        }
        const auto& d = w.state().display;
        QCOMPARE(d.digits[0] + d.digits[1] + d.digits[2] + d.digits[3], std::string("1999"));
        QVERIFY(d.isShown(Widget::LcdP2));
        QVERIFY(d.isShown(Widget::conok));
        const QString sep = QString::fromStdString(w.state().LocaleDecimalSeparator);
        QCOMPARE(child<QLineEdit>(w, "T1VALUE")->text(), "19" + sep + "99");
        QCOMPARE(child<QLabel>(w, "judge")->text(), QString("Pass"));
        QCOMPARE(child<QLabel>(w, "MaxText")->text(), "19" + sep + "99");
        QCOMPARE(child<QLabel>(w, "MaxTextU")->text(), QString("lux"));
        QCOMPARE(w.recorder().cds1.rowCount(), std::size_t{2});
    }

    void theIndicatorFallsBackAfterThreeQuietTicks() {
        RecordingDialogs dialogs;
        TFCOMM w(dialogs);
        w.state().FrameText = kLux1999;
        w.decodeFrame(Decoder::D12B);
        QVERIFY(w.state().display.isShown(Widget::conok));
        // ConTimer ticks every 100 ms: "not connected" within 200..300 ms.
        QTRY_VERIFY_WITH_TIMEOUT(w.state().display.isShown(Widget::conokn), 1000);
        QVERIFY(!w.state().display.isShown(Widget::conok));
    }

    void limitEditsFilterKeysAndRefuseNonNumbers() {
        RecordingDialogs dialogs;
        TFCOMM w(dialogs);
        w.show();
        w.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&w));
        QLineEdit* hi = child<QLineEdit>(w, "T1HI");
        hi->setFocus();
        hi->selectAll();
        QTest::keyClick(hi, Qt::Key_Backspace);
        QTest::keyClicks(hi, "x-"); // the letter is filtered, the sign alone is fine
        QCOMPARE(hi->text(), QString("-"));
        QVERIFY(dialogs.messages.empty());
        QTest::keyClicks(hi, "5");
        QCOMPARE(w.state().HiLimitText, std::string("-5"));
        hi->selectAll();
        QTest::keyClicks(hi, "12'");
        QCOMPARE(dialogs.texts(), QStringList({"Numerical input errors"}));
        QCOMPARE(hi->text(), QString("12"));
        QCOMPARE(w.state().T1HI, std::string("12"));

        QLineEdit* lo = child<QLineEdit>(w, "T1LO");
        lo->setFocus();
        lo->selectAll();
        QTest::keyClicks(lo, "-");
        hi->setFocus(); // leaving with only a sign brings the last good limit back
        QCOMPARE(lo->text(), QString("-2000"));
    }

    void newEmptiesTheLogAfterItsMessage() {
        RecordingDialogs dialogs;
        TFCOMM w(dialogs);
        w.state().FrameText = kLux1999;
        w.decodeFrame(Decoder::D12B);
        QCOMPARE(w.recorder().cds1.rowCount(), std::size_t{1});
        child<QAction>(w, "New1")->trigger();
        // The unsaved reading is asked for first (the script answers Yes).
        QCOMPARE(dialogs.texts(),
                 QStringList({"1 readings have not been saved. Delete them?", " Record deleted "}));
        QCOMPARE(w.recorder().cds1.rowCount(), std::size_t{0});
        QCOMPARE(w.recorder().log().RecordNo, 1);
    }

    void logSavedFromTheStripLoadsBackAndTheChartSavesAsBitmap() {
        RecordingDialogs dialogs;
        TFCOMM w(dialogs);
        for (int i = 0; i < 3; ++i) {
            w.state().FrameText = kLux1999;
            w.decodeFrame(Decoder::D12B);
        }
        QTemporaryDir dir;
        const QString txt = dir.filePath("log.txt");
        dialogs.fileAnswers << txt;
        QTest::mouseClick(child<QToolButton>(w, "saveas"), Qt::LeftButton);
        QCOMPARE(dialogs.texts().last(), "Save table to specified file: " + txt + " Scuss!");
        QFile file(txt);
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QList<QByteArray> lines = file.readAll().split('\n');
        QCOMPARE(lines.first(), QByteArray("No\tTime\tValue\tUnit\r"));
        QCOMPARE(lines.size(), 5); // header, three rows, nothing after the last CR LF

        dialogs.fileAnswers << txt;
        QTest::mouseClick(child<QToolButton>(w, "OpenDataFiles"), Qt::LeftButton);
        QCOMPARE(w.recorder().cds1.rowCount(), std::size_t{6});
        QCOMPARE(child<QTableView>(w, "DBGrid1")->model()->rowCount(), 6);

        const QString bmp = dir.filePath("chart.jpg");
        dialogs.fileAnswers << bmp;
        child<QAction>(w, "GraphicSave")->trigger();
        QCOMPARE(dialogs.texts().last(), "Graphic has saved on " + bmp);
        QFile picture(bmp);
        QVERIFY(picture.open(QIODevice::ReadOnly));
        QCOMPARE(picture.read(2), QByteArray("BM"));
    }

    // Record > Statistics... over readings as they arrive.
    void statisticsFollowTheReadings() {
        RecordingDialogs dialogs;
        TFCOMM w(dialogs);
        w.show();
        const QString sep = QString::fromStdString(w.state().LocaleDecimalSeparator);
        auto read = [&](int n) {
            for (int i = 0; i < n; ++i) {
                w.state().FrameText = kLux1999;
                w.decodeFrame(Decoder::D12B);
            }
        };
        read(3);
        child<QAction>(w, "Statistics")->trigger();
        kq::app::StatisticsDialog* stats = w.statistics();
        QVERIFY(stats && stats->isVisible());
        QVERIFY2(stats->logLine().startsWith("3 readings of lux: mean 19" + sep + "99"),
                 qPrintable(stats->logLine()));
        QVERIFY2(stats->pageLine().startsWith("Page 1: 3 points: mean 19" + sep + "99"),
                 qPrintable(stats->pageLine()));
        read(2); // the dialog follows by itself
        QTRY_VERIFY_WITH_TIMEOUT(stats->logLine().startsWith("5 readings of lux"), 3000);
        QTRY_VERIFY_WITH_TIMEOUT(stats->pageLine().startsWith("Page 1: 5 points"), 3000);

        // A loaded log counts as soon as it is in.
        QTemporaryDir dir;
        const QString csv = dir.filePath("log.csv");
        QVERIFY(kq::files::saveLog(w.recorder().cds1, csv.toStdString()).ok());
        w.files().openLog(csv);
        QTRY_VERIFY_WITH_TIMEOUT(stats->logLine().startsWith("10 readings of lux"), 3000);
    }

    // Record > Export CSV...: every row with its date, time and verdict; the file opens back.
    void csvExportWritesEveryRowAndOpensBack() {
        RecordingDialogs dialogs;
        TFCOMM w(dialogs);
        for (int i = 0; i < 5; ++i) {
            w.state().FrameText = kLux1999;
            w.decodeFrame(Decoder::D12B);
        }
        QTemporaryDir dir;
        const QString csv = dir.filePath("log.txt"); // the item writes CSV whatever the name
        dialogs.fileAnswers << csv;
        child<QAction>(w, "ExportCsv")->trigger();
        QCOMPARE(dialogs.lastSpecs.back().filters, QStringList({"CSV File(*.csv)"}));
        QCOMPARE(dialogs.texts().last(), "Save table to specified file: " + csv + " Scuss!");
        QFile file(csv);
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QList<QByteArray> lines = file.readAll().split('\n');
        QCOMPARE(lines.size(), 7); // header, five rows, nothing after the last CR LF
        QCOMPARE(lines[0], QByteArray("no,datetime,time,value,unit,verdict,text\r"));
        const QRegularExpression row(
            R"(^(\d),\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{3}[+-]\d\d:\d\d,\d\d.\d\d.\d\d,19\.99,lux,Pass,)");
        for (int i = 1; i <= 5; ++i) {
            const auto m = row.match(QString::fromUtf8(lines[i]));
            QVERIFY2(m.hasMatch() && m.captured(1) == QString::number(i), lines[i].constData());
        }
        QCOMPARE(w.unsavedRows(), std::size_t{0}); // the CSV holds every row

        // Opening the CSV appends its rows as a text log does.
        const QString named = dir.filePath("log.csv");
        QVERIFY(QFile::copy(csv, named));
        w.files().openLog(named);
        QCOMPARE(w.recorder().cds1.rowCount(), std::size_t{10});
        QVERIFY(w.recorder().cds1.moment(9).has_value());
    }

    // The grid after the log changes from the menus and the strip: on the first row of
    // a loaded packet, on the newest row after a reading.
    void gridHasACurrentRowAfterLoadAndNew() {
        RecordingDialogs dialogs;
        TFCOMM w(dialogs);
        w.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        for (int i = 0; i < 3; ++i) {
            w.state().FrameText = kLux1999;
            w.decodeFrame(Decoder::D12B);
        }
        w.renderViews();
        auto* grid = child<QTableView>(w, "DBGrid1");
        QCOMPARE(grid->currentIndex().row(), 2);
        QTemporaryDir dir;
        const QString xml = dir.filePath("log.xml");
        dialogs.fileAnswers << xml;
        QTest::mouseClick(child<QToolButton>(w, "saveas"), Qt::LeftButton);

        child<QAction>(w, "New1")->trigger();
        QCOMPARE(grid->model()->rowCount(), 0);
        QVERIFY(!grid->currentIndex().isValid());
        dialogs.fileAnswers << xml;
        QTest::mouseClick(child<QToolButton>(w, "OpenDataFiles"), Qt::LeftButton);
        QCOMPARE(grid->model()->rowCount(), 3);
        QCOMPARE(grid->currentIndex().row(), 0);

        w.state().FrameText = kLux1999;
        w.decodeFrame(Decoder::D12B);
        w.renderViews();
        QCOMPARE(grid->currentIndex().row(), 3);
    }

    void exitButtonClosesTheWindow() {
        RecordingDialogs dialogs;
        TFCOMM w(dialogs);
        w.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        QTest::mouseClick(child<QPushButton>(w, "BitBtn1"), Qt::LeftButton);
        QVERIFY(!w.isVisible());
    }
};

QTEST_MAIN(TfcommTest)
#include "tfcomm_test.moc"
