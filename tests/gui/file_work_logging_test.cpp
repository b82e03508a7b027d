// Readings that arrive while a long save or load runs its progress dialog:
// the glass keeps following (the poll is not stopped), only the log step
// waits, and the readings are logged afterwards in order, each with the time
// it arrived.
#include "app/log_file_actions.h"
#include "record/recorder.h"
#include "support/recording_dialogs.h"

#include <QTemporaryDir>
#include <QTimer>
#include <QWidget>
#include <QtTest>

#include <string>
#include <vector>

using kq::record::LogMoment;
using kq::record::LogReading;
using kq::record::LogTable;
using kq::record::Recorder;
using kq::test::RecordingDialogs;

namespace {

void fill(LogTable& t, int rows) {
    for (int i = 1; i <= rows; ++i)
        t.append(i, "10:15:02", std::to_string(i) + ".5", "lux");
}

// A clock that moves one second each time it is read, from 20:00:00.
struct SteppingClock {
    int seconds = 0;
    LogMoment operator()() {
        const int s = seconds++;
        return {(20 * 3600 + s % 3600) * std::int64_t{1000}, 0};
    }
};

std::string timeText(int s) {
    char buf[16];
    std::snprintf(buf, sizeof buf, "20:%02d:%02d", s / 60 % 60, s % 60);
    return buf;
}

} // namespace

class FileWorkLoggingTest : public QObject {
    Q_OBJECT
private slots:
    void readingsDuringLongFileWorkAreLoggedAfterwardsInOrder_data() {
        QTest::addColumn<QString>("action");
        QTest::addColumn<QString>("name");
        QTest::newRow("text save") << "save"
                                   << "log.txt";
        QTest::newRow("xml save") << "save"
                                  << "log.xml";
        QTest::newRow("text load") << "load"
                                   << "log.txt";
        QTest::newRow("xml load") << "load"
                                  << "log.xml";
    }

    void readingsDuringLongFileWorkAreLoggedAfterwardsInOrder() {
        QFETCH(QString, action);
        QFETCH(QString, name);
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        const QString path = dir.filePath(name);
        const int rows = 300000; // several progress steps in either form
        const bool load = action == QLatin1String("load");
        if (load) {
            // The file to load, written beforehand without any readings around.
            Recorder writer;
            fill(writer.cds1, rows);
            RecordingDialogs d;
            bool busy = false;
            kq::app::LogFileActions a(nullptr, d, writer.cds1, busy);
            d.fileAnswers << path;
            a.saveasClick();
            QCOMPARE(d.messages.size(), std::size_t{1});
        }

        SteppingClock clock;
        Recorder recorder([&clock] { return clock(); });
        if (!load)
            fill(recorder.cds1, rows);
        QWidget window;
        RecordingDialogs dialogs;
        bool printBusy = false;
        kq::app::LogFileActions actions(&window, dialogs, recorder.cds1, printBusy);
        actions.setRecorder(&recorder);
        actions.setProgressRows(1000);

        // The poll, as it runs inside the progress dialog's event loop.
        std::vector<std::string> offered;
        bool pollStopped = false;
        std::size_t rowsSeenDuringWork = 0;
        QTimer poll;
        poll.setInterval(0);
        QObject::connect(&poll, &QTimer::timeout, [&] {
            pollStopped = pollStopped || printBusy;
            rowsSeenDuringWork = std::max(rowsSeenDuringWork, recorder.cds1.rowCount());
            const std::string value = std::to_string(offered.size() + 1) + ".25";
            offered.push_back(value);
            LogReading r;
            r.ValueText = value;
            r.UnitText = "fc";
            r.ReadingValue = 125.0f;
            r.LcdP3 = true;
            recorder.offer(r);
        });
        poll.start();
        const int firstNo = recorder.log().RecordNo;
        dialogs.fileAnswers << path;
        if (load)
            actions.SpeedButton2Click();
        else
            actions.saveasClick();
        poll.stop();

        // Readings came while the file was worked on, and the poll went on.
        QVERIFY(!pollStopped);
        QVERIFY(!printBusy);
        QVERIFY(!recorder.logHeld());
        QVERIFY2(offered.size() >= 3, "the event loop did not turn during the work");
        // The file holds the table as it was, not the readings.
        if (!load) {
            LogTable back;
            RecordingDialogs d;
            bool busy = false;
            kq::app::LogFileActions a(nullptr, d, back, busy);
            d.fileAnswers << path;
            a.SpeedButton2Click();
            QCOMPARE(back.rowCount(), std::size_t(rows));
        }
        // Every reading is a row after the table's rows, in order, with the
        // time it arrived and its own number.
        const LogTable& t = recorder.cds1;
        QCOMPARE(t.rowCount(), std::size_t(rows) + offered.size());
        for (std::size_t i = 0; i < offered.size(); ++i) {
            const std::size_t row = rows + i;
            QCOMPARE(t.textString(row, LogTable::Field::Value).value_or(""), offered[i]);
            QCOMPARE(t.textString(row, LogTable::Field::Unit).value_or(""), std::string("fc"));
            QCOMPARE(t.textString(row, LogTable::Field::Time).value_or(""),
                     timeText(static_cast<int>(i)));
            QCOMPARE(t.no(row).value_or(0), firstNo + static_cast<int>(i));
        }
        // Nothing was logged into the table while the save walked through it.
        if (!load)
            QCOMPARE(rowsSeenDuringWork, std::size_t(rows));
        QVERIFY(dialogs.texts().size() <= 1); // the save's own message, no error
        for (const auto& m : dialogs.messages)
            QVERIFY(m.icon != kq::app::Dialogs::Icon::Error);
    }

    void secondsOfTheIntervalKeepTheirPlaceAmongHeldReadings() {
        // Sampling every 2 s: held readings and seconds decide as they came.
        Recorder recorder([] { return LogMoment{9 * 3600 * 1000, 0}; });
        recorder.setRecordSI(true);
        recorder.RecordSITimeChange("2");
        recorder.holdLog();
        auto offer = [&](const char* v) {
            LogReading r;
            r.ValueText = v;
            r.UnitText = "lux";
            recorder.offer(r);
        };
        offer("a"); // dropped: 2 s to wait
        recorder.TrecordTimer();
        recorder.TrecordTimer();
        offer("b"); // logged: the count reached 0; it restarts at 2
        offer("c"); // dropped
        recorder.TrecordTimer();
        recorder.TrecordTimer();
        offer("d"); // logged
        QCOMPARE(recorder.cds1.rowCount(), std::size_t{0});
        QCOMPARE(recorder.releaseLog(), std::size_t{4});
        QCOMPARE(recorder.cds1.rowCount(), std::size_t{2});
        QCOMPARE(recorder.cds1.textString(0, LogTable::Field::Value).value_or(""),
                 std::string("b"));
        QCOMPARE(recorder.cds1.textString(1, LogTable::Field::Value).value_or(""),
                 std::string("d"));
    }
};

QTEST_MAIN(FileWorkLoggingTest)
#include "file_work_logging_test.moc"
