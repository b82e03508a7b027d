// The real window attached to the virtual meter the way a user attaches a
// cable: KQMETER_BRIDGE_DEVICES names the meter's line, a click on "USB
// Connect " connects, and the glass and the log show what the meter sent.
#include "app/dialogs.h"
#include "app/tfcomm.h"
#include "decode/meter_state.h"
#include "record/recorder.h"

#include <QAbstractButton>
#include <QFileInfo>
#include <QLabel>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>
#include <memory>
#include <set>
#include <string>

using kq::app::Dialogs;
using kq::app::TFCOMM;
using kq::decode::Widget;
using Field = kq::record::LogTable::Field;

namespace {

class RecordingDialogs : public Dialogs {
public:
    QStringList texts;
    void message(QWidget*, const QString&, const QString& text, Icon) override {
        texts.push_back(text);
    }
    QString saveFileName(QWidget*, const FileSpec&) override { return {}; }
    QString openFileName(QWidget*, const FileSpec&) override { return {}; }
};

// A virtual meter process whose line is reached through a fixed link path,
// so a meter started later on the same link is "the same cable".
class Meter {
public:
    Meter(const QString& link, const QStringList& options) {
        m_pathFile = link + ".path";
        QFile::remove(m_pathFile);
        m_process.setProgram(KQ_SIM_PATH);
        m_process.setArguments(QStringList{"--link", link, "--path-file", m_pathFile} + options);
        m_process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        m_process.start();
    }
    ~Meter() {
        if (m_process.state() != QProcess::NotRunning) {
            m_process.terminate();
            m_process.waitForFinished(5000);
        }
    }
    bool ready() const { return QFileInfo(m_pathFile).size() > 0; }
    bool finished() const { return m_process.state() == QProcess::NotRunning; }

private:
    QProcess m_process;
    QString m_pathFile;
};

std::string digitsOf(const TFCOMM& w) {
    std::string out;
    for (const auto& d : w.state().display.digits)
        out += d.empty() ? "_" : d;
    return out;
}

std::set<std::string> loggedValues(TFCOMM& w) {
    std::set<std::string> out;
    const auto& t = w.recorder().cds1;
    for (std::size_t i = 0; i < t.rowCount(); ++i)
        out.insert(t.textString(i, Field::Value).value_or("<null>"));
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
        Meter meter(m_link, {"--values", "19.99,0L,1500", "--rate", "20"});
        QTRY_VERIFY_WITH_TIMEOUT(meter.ready(), 10000);
        RecordingDialogs dialogs;
        TFCOMM w(dialogs);
        w.show();
        auto* usb = w.findChild<QAbstractButton*>("USB");
        QVERIFY(usb);
        QCOMPARE(usb->text(), QString("USB Connect "));

        QTest::mouseClick(usb, Qt::LeftButton);
        QVERIFY(usb->isChecked());
        QTRY_VERIFY_WITH_TIMEOUT(w.recorder().cds1.rowCount() >= 6, 10000);
        QVERIFY(dialogs.texts.isEmpty());
        const std::set<std::string> sent{"19.99", "0L", "1500"};
        QCOMPARE(loggedValues(w), sent);
        QTRY_COMPARE_WITH_TIMEOUT(digitsOf(w), std::string("1999"), 5000);
        QCOMPARE(w.state().UnitText, std::string("lux"));

        // Button up: the poll stops and the log stops growing.
        QTest::mouseClick(usb, Qt::LeftButton);
        QVERIFY(!usb->isChecked());
        const auto rows = w.recorder().cds1.rowCount();
        QTest::qWait(300);
        QCOMPARE(w.recorder().cds1.rowCount(), rows);
    }

    void twoRowMeterOnTheCableShowsItsOwnReadingInMinMax() {
        // The cable's form lights usb.1 on the main row; the readings stand
        // on the second row, and MIN/MAX follows them. The family is not logged.
        Meter meter(m_link, {"--form", "usb24b", "--values", "12.34,15.00,9.87", "--unit", "ms",
                             "--rate", "20"});
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
        QVERIFY(dialogs.texts.isEmpty());
    }

    void garbageAndTruncatedFramesDoNotStopTheGlass() {
        Meter meter(m_link, {"--values", "1234", "--rate", "25", "--stray-bytes",
                             "--truncate-every", "2", "--seed", "9"});
        QTRY_VERIFY_WITH_TIMEOUT(meter.ready(), 10000);
        RecordingDialogs dialogs;
        TFCOMM w(dialogs);
        auto* usb = w.findChild<QAbstractButton*>("USB");
        QTest::mouseClick(usb, Qt::LeftButton);
        QTRY_VERIFY_WITH_TIMEOUT(loggedValues(w).count("1234") == 1, 10000);
        QTRY_VERIFY_WITH_TIMEOUT(w.recorder().cds1.rowCount() >= 10, 10000);
        QVERIFY(dialogs.texts.isEmpty());
        QTRY_COMPARE_WITH_TIMEOUT(digitsOf(w), std::string("1234"), 5000);
    }

    void meterHangingUpAndComingBack() {
        RecordingDialogs dialogs;
        auto first = std::make_unique<Meter>(
            m_link, QStringList{"--values", "42", "--rate", "20", "--hangup-after", "30"});
        QTRY_VERIFY_WITH_TIMEOUT(first->ready(), 10000);
        TFCOMM w(dialogs);
        auto* usb = w.findChild<QAbstractButton*>("USB");
        QTest::mouseClick(usb, Qt::LeftButton);
        QTRY_VERIFY_WITH_TIMEOUT(loggedValues(w).count("42") == 1, 10000);

        // Mid-stream the meter goes: no crash, no message, "not connected".
        QTRY_VERIFY_WITH_TIMEOUT(first->finished(), 10000);
        const auto rows = w.recorder().cds1.rowCount();
        QTRY_VERIFY_WITH_TIMEOUT(notConnectedShown(w), 5000);
        QTest::qWait(300); // the poll keeps failing quietly meanwhile
        QVERIFY(notConnectedShown(w));
        QCOMPARE(w.recorder().cds1.rowCount(), rows);
        QVERIFY(dialogs.texts.isEmpty());
        QVERIFY(usb->isChecked());

        // Button up closes the dead line; with the meter back on the same
        // cable, pressing the button again connects and reads.
        QTest::mouseClick(usb, Qt::LeftButton);
        Meter second(m_link, {"--values", "7", "--rate", "20"});
        QTRY_VERIFY_WITH_TIMEOUT(second.ready(), 10000);
        QTest::mouseClick(usb, Qt::LeftButton);
        QVERIFY(usb->isChecked());
        QTRY_VERIFY_WITH_TIMEOUT(loggedValues(w).count("7") == 1, 10000);
        QTRY_COMPARE_WITH_TIMEOUT(digitsOf(w), std::string("___7"), 5000);
        QVERIFY(dialogs.texts.isEmpty());
    }

    void buttonWithoutAMeterSaysSoAndComesUp() {
        QFile::remove(m_link); // no meter on the cable
        RecordingDialogs dialogs;
        TFCOMM w(dialogs);
        auto* usb = w.findChild<QAbstractButton*>("USB");
        QTest::mouseClick(usb, Qt::LeftButton);
        QCOMPARE(
            dialogs.texts,
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
