// The real window and the virtual meter on a serial line, attached the way a
// user attaches a USB-serial adapter: KQMETER_COM1 names the line, "START"
// opens it, "STOP" closes it, and a meter that hangs up hands START back.
#include "app/tfcomm.h"
#include "decode/meter_state.h"
#include "record/recorder.h"
#include "support/recording_dialogs.h"
#include "support/virtual_meter.h"
#include "support/window_rig.h"

#include <QAction>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>
#include <memory>
#include <set>
#include <string>

using kq::app::TFCOMM;
using kq::test::digitsOf;
using kq::test::loggedValues;
using kq::test::RecordingDialogs;
using kq::test::VirtualMeter;

namespace {

QAction* item(TFCOMM& w, const char* name) {
    auto* a = w.findChild<QAction*>(name);
    if (!a)
        qFatal("no menu item %s", name);
    return a;
}

} // namespace

class SerialWindowTest : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() {
        QVERIFY(m_dir.isValid());
        m_link = m_dir.filePath("com1");
        qputenv("KQMETER_COM1", m_link.toLocal8Bit());
    }
    void cleanupTestCase() { qunsetenv("KQMETER_COM1"); }

    void glassAndLogFollowAMeterAt2400BitPerSecond() {
        VirtualMeter meter(m_link, {"--serial", "12b", "--values", "19.99,0L,1500", "--rate", "10",
                                    "--baud", "2400"});
        QTRY_VERIFY_WITH_TIMEOUT(meter.ready(), 10000);
        RecordingDialogs dialogs;
        TFCOMM w(dialogs);
        w.show();
        QCOMPARE(item(w, "BTCon1")->text().remove(QLatin1Char('&')), QString("START"));
        item(w, "BTCon1")->trigger();
        QVERIFY(item(w, "BtDiscon1")->isEnabled());
        QTRY_VERIFY_WITH_TIMEOUT(w.recorder().cds1.rowCount() >= 6, 15000);
        QCOMPARE(loggedValues(w), (std::set<std::string>{"19.99", "0L", "1500"}));
        QCOMPARE(w.state().UnitText, std::string("lux"));
        QVERIFY(dialogs.told().isEmpty());

        // STOP: the meter keeps sending, nothing moves.
        item(w, "BtDiscon1")->trigger();
        QVERIFY(item(w, "BTCon1")->isEnabled());
        const auto rows = w.recorder().cds1.rowCount();
        const auto glass = digitsOf(w);
        const auto frame = w.state().FrameText;
        QTest::qWait(500);
        QCOMPARE(w.recorder().cds1.rowCount(), rows);
        QCOMPARE(digitsOf(w), glass);
        QCOMPARE(w.state().FrameText, frame);
    }

    void strayBytesAndSplitFramesDoNotStopTheGlass() {
        VirtualMeter meter(m_link, {"--serial", "12b", "--values", "1234", "--rate", "10", "--baud",
                                    "2400", "--stray-bytes", "--split-every", "2", "--seed", "5"});
        QTRY_VERIFY_WITH_TIMEOUT(meter.ready(), 10000);
        RecordingDialogs dialogs;
        TFCOMM w(dialogs);
        item(w, "BTCon1")->trigger();
        // Stray bytes in front of a frame spoil it (its marks no longer run 1
        // to E), so only some frames get through; none may come out wrong.
        QTRY_VERIFY_WITH_TIMEOUT(w.recorder().cds1.rowCount() >= 2, 30000);
        QCOMPARE(loggedValues(w), std::set<std::string>{"1234"});
        QTRY_COMPARE_WITH_TIMEOUT(digitsOf(w), std::string("1234"), 5000);
        QVERIFY(dialogs.told().isEmpty());
    }

    void meterHangingUpHandsStartBack() {
        RecordingDialogs dialogs;
        auto first = std::make_unique<VirtualMeter>(
            m_link, QStringList{"--serial", "12b", "--values", "42", "--rate", "20",
                                "--hangup-after", "20"});
        QTRY_VERIFY_WITH_TIMEOUT(first->ready(), 10000);
        TFCOMM w(dialogs);
        item(w, "BTCon1")->trigger();
        QTRY_VERIFY_WITH_TIMEOUT(loggedValues(w).count("42") == 1, 10000);
        QTRY_VERIFY_WITH_TIMEOUT(first->finished(), 10000);
        QTRY_VERIFY_WITH_TIMEOUT(item(w, "BTCon1")->isEnabled(), 5000);
        QVERIFY(!item(w, "BtDiscon1")->isEnabled());
        QCOMPARE(dialogs.told().size(), 1);
        QVERIFY2(dialogs.told()[0].contains("has stopped working"), qPrintable(dialogs.told()[0]));

        // The meter back on the same line: START reads again.
        VirtualMeter second(m_link, {"--serial", "12b", "--values", "7", "--rate", "20"});
        QTRY_VERIFY_WITH_TIMEOUT(second.ready(), 10000);
        item(w, "BTCon1")->trigger();
        QTRY_VERIFY_WITH_TIMEOUT(loggedValues(w).count("7") == 1, 10000);
        QTRY_COMPARE_WITH_TIMEOUT(digitsOf(w), std::string("___7"), 5000);
        QCOMPARE(dialogs.told().size(), 1);
    }

private:
    QTemporaryDir m_dir;
    QString m_link;
};

QTEST_MAIN(SerialWindowTest)
#include "serial_window_test.moc"
