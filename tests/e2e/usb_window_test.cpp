// The real window attached to the virtual meter the way a user attaches a
// cable: KQMETER_BRIDGE_DEVICES names the meter's line, a click on "USB
// Connect " connects, and the glass and the log show what the meter sent.
#include "app/tfcomm.h"
#include "app/usb_controller.h"
#include "decode/meter_state.h"
#include "record/recorder.h"
#include "support/recording_dialogs.h"
#include "support/virtual_meter.h"
#include "support/window_rig.h"

#include <QAbstractButton>
#include <QFileInfo>
#include <QLabel>
#include <QProcess>
#include <QTableView>
#include <QTemporaryDir>
#include <QtTest>
#include <algorithm>
#include <memory>
#include <set>
#include <string>

using kq::app::TFCOMM;
using kq::decode::Widget;
using kq::test::digitsOf;
using kq::test::loggedValues;
using kq::test::RecordingDialogs;
using kq::test::VirtualMeter;

namespace {

// The Value column as the grid shows it.
std::set<QString> gridValues(TFCOMM& w) {
    std::set<QString> out;
    const auto* grid = w.findChild<QTableView*>("DBGrid1");
    if (grid == nullptr)
        return out;
    const QAbstractItemModel* m = grid->model();
    for (int c = 0; c < m->columnCount(); ++c) {
        if (m->headerData(c, Qt::Horizontal).toString() != "Value")
            continue;
        for (int r = 0; r < m->rowCount(); ++r)
            out.insert(m->index(r, c).data().toString());
    }
    return out;
}

bool notConnectedShown(const TFCOMM& w) {
    const auto& d = w.state().display;
    return d.isShown(Widget::conokn) && !d.isShown(Widget::conok);
}

} // namespace

class UsbWindowTest : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() {
        QVERIFY(m_dir.isValid());
        m_link = m_dir.filePath("meter");
        qputenv("KQMETER_BRIDGE_DEVICES", m_link.toLocal8Bit());
    }

    void glassAndLogShowWhatTheMeterSends() {
        VirtualMeter meter(m_link, {"--values", "19.99,0L,1500", "--rate", "20"});
        QTRY_VERIFY_WITH_TIMEOUT(meter.ready(), 10000);
        RecordingDialogs dialogs;
        TFCOMM w(dialogs);
        w.show();
        auto* usb = w.findChild<QAbstractButton*>("USB");
        QVERIFY(usb);
        QCOMPARE(usb->text(), QString("USB Connect "));

        QTest::mouseClick(usb, Qt::LeftButton);
        QVERIFY(usb->isChecked());
        // The grid comes to show each value sent (a busy machine may take a
        // while), and never anything the meter did not send.
        const std::set<QString> sent{"19.99", "0L", "1500"};
        const auto showsAll = [&] {
            const auto shown = gridValues(w);
            return std::includes(shown.begin(), shown.end(), sent.begin(), sent.end());
        };
        QTRY_VERIFY_WITH_TIMEOUT(showsAll(), 10000);
        QVERIFY(dialogs.told().isEmpty());
        for (const QString& shown : gridValues(w))
            QVERIFY2(sent.count(shown) == 1, qPrintable("grid shows " + shown));
        QTRY_COMPARE_WITH_TIMEOUT(digitsOf(w), std::string("1999"), 5000);
        QCOMPARE(w.state().UnitText, std::string("lux"));

        // Button up: the poll stops and the log stops growing.
        QTest::mouseClick(usb, Qt::LeftButton);
        QVERIFY(!usb->isChecked());
        const auto rows = w.recorder().cds1.rowCount();
        const int sentWhenUp = meter.framesSent();
        QTRY_VERIFY_WITH_TIMEOUT(meter.framesSent() >= sentWhenUp + 6, 10000);
        QCOMPARE(w.recorder().cds1.rowCount(), rows);
    }

    void twoRowMeterOnTheCableShowsItsOwnReadingInMinMax() {
        // The cable's form lights usb.1 on the main row; the readings stand
        // on the second row, and MIN/MAX follows them. The family is not logged.
        VirtualMeter meter(m_link, {"--form", "usb24b", "--values", "12.34,15.00,9.87", "--unit",
                                    "ms", "--rate", "20"});
        QTRY_VERIFY_WITH_TIMEOUT(meter.ready(), 10000);
        RecordingDialogs dialogs;
        TFCOMM w(dialogs);
        w.show();
        auto* usb = w.findChild<QAbstractButton*>("USB");
        QTest::mouseClick(usb, Qt::LeftButton);
        auto* maxText = w.findChild<QLabel*>("MaxText");
        auto* minText = w.findChild<QLabel*>("MinText");
        QVERIFY(maxText && minText);
        QTRY_COMPARE_WITH_TIMEOUT(maxText->text(), QString("15.00"), 10000);
        QTRY_COMPARE_WITH_TIMEOUT(minText->text(), QString("9.87"), 10000);
        QCOMPARE(digitsOf(w), std::string("usb1"));
        QCOMPARE(w.findChild<QLabel*>("MaxTextU")->text(), QString("m|s"));
        QCOMPARE(w.recorder().cds1.rowCount(), 0u);
        QVERIFY(dialogs.told().isEmpty());
    }

    void garbageAndTruncatedFramesDoNotStopTheGlass() {
        VirtualMeter meter(m_link, {"--values", "1234", "--rate", "25", "--stray-bytes",
                                    "--truncate-every", "2", "--seed", "9"});
        QTRY_VERIFY_WITH_TIMEOUT(meter.ready(), 10000);
        RecordingDialogs dialogs;
        TFCOMM w(dialogs);
        auto* usb = w.findChild<QAbstractButton*>("USB");
        QTest::mouseClick(usb, Qt::LeftButton);
        QTRY_VERIFY_WITH_TIMEOUT(loggedValues(w).count("1234") == 1, 10000);
        QTRY_VERIFY_WITH_TIMEOUT(w.recorder().cds1.rowCount() >= 10, 10000);
        QVERIFY(dialogs.told().isEmpty());
        QTRY_COMPARE_WITH_TIMEOUT(digitsOf(w), std::string("1234"), 5000);
    }

    void meterHangingUpAndComingBack() {
        RecordingDialogs dialogs;
        auto first = std::make_unique<VirtualMeter>(
            m_link, QStringList{"--values", "42", "--rate", "20", "--hangup-after", "30"});
        QTRY_VERIFY_WITH_TIMEOUT(first->ready(), 10000);
        TFCOMM w(dialogs);
        auto* usb = w.findChild<QAbstractButton*>("USB");
        QTest::mouseClick(usb, Qt::LeftButton);
        QTRY_VERIFY_WITH_TIMEOUT(loggedValues(w).count("42") == 1, 10000);

        // Mid-stream the meter goes with its line: no crash, "not connected",
        // and the user is told once; the button comes up and the poll rests
        // (a dead line polled every 10 ms would keep the machine awake).
        QTRY_VERIFY_WITH_TIMEOUT(first->finished(), 10000);
        const auto rows = w.recorder().cds1.rowCount();
        QTRY_VERIFY_WITH_TIMEOUT(notConnectedShown(w), 5000);
        QTRY_COMPARE_WITH_TIMEOUT(dialogs.told().size(), 1, 5000);
        QVERIFY(dialogs.told().front().contains("unplugged"));
        QVERIFY(!usb->isChecked());
        auto* poll = w.findChild<kq::app::UsbController*>("UsbController");
        QVERIFY(poll && !poll->polling());
        QTest::qWait(300);
        QVERIFY(!poll->polling());
        QCOMPARE(w.recorder().cds1.rowCount(), rows);
        QCOMPARE(dialogs.told().size(), 1);

        // With the meter back on the same cable, one press connects and reads.
        VirtualMeter second(m_link, {"--values", "7", "--rate", "20"});
        QTRY_VERIFY_WITH_TIMEOUT(second.ready(), 10000);
        QTest::mouseClick(usb, Qt::LeftButton);
        QVERIFY(usb->isChecked());
        QTRY_VERIFY_WITH_TIMEOUT(loggedValues(w).count("7") == 1, 10000);
        QTRY_COMPARE_WITH_TIMEOUT(digitsOf(w), std::string("___7"), 5000);
        QCOMPARE(dialogs.told().size(), 1);
    }

    void buttonWithoutAMeterSaysSoAndComesUp() {
        QFile::remove(m_link); // no meter on the cable
        RecordingDialogs dialogs;
        TFCOMM w(dialogs);
        auto* usb = w.findChild<QAbstractButton*>("USB");
        QTest::mouseClick(usb, Qt::LeftButton);
        QCOMPARE(
            dialogs.told(),
            QStringList{"USB interface cable is not connected properly, please check and re-try."});
        QVERIFY(!usb->isChecked());
        QVERIFY(notConnectedShown(w));
    }

private:
    QTemporaryDir m_dir;
    QString m_link;
};

QTEST_MAIN(UsbWindowTest)
#include "usb_window_test.moc"
