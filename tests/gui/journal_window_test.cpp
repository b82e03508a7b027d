// The window keeps what it logged: closing asks before unsaved readings go,
// the recovery journal follows the log once a second, and a journal left
// behind is offered back at the next start.
#include "app/journal_keeper.h"
#include "app/tfcomm.h"
#include "record/log_table.h"
#include "record/recorder.h"
#include "support/frames.h"
#include "support/recording_dialogs.h"

#include <QAction>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QPushButton>
#include <QTemporaryDir>
#include <QToolButton>
#include <QtTest>

using kq::app::TFCOMM;
using kq::decode::Decoder;
using kq::test::RecordingDialogs;

namespace {

void logReadings(TFCOMM& w, int n) {
    for (int i = 0; i < n; ++i) {
        w.state().FrameText = kq::test::lux1999Frame();
        w.decodeFrame(Decoder::D12B);
    }
}

template <class T> T* child(QWidget& w, const char* name) {
    T* found = w.findChild<T*>(name);
    if (!found)
        qFatal("no child %s", name);
    return found;
}

QByteArray readAll(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

QStringList noColumn(TFCOMM& w) {
    QStringList out;
    const auto& t = w.recorder().cds1;
    for (std::size_t i = 0; i < t.rowCount(); ++i)
        out << QString::number(t.no(i).value_or(-1));
    return out;
}

const char kHeader[] = "No\tTime\tValue\tUnit\r\n";

} // namespace

class JournalWindowTest : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() {
        QVERIFY(m_data.isValid());
        qputenv("XDG_DATA_HOME", m_data.path().toLocal8Bit());
    }

    void cleanup() {
        // Every case starts without a journal left by the one before.
        QDir(kq::app::JournalKeeper::defaultFolder()).removeRecursively();
        qputenv("XDG_DATA_HOME", m_data.path().toLocal8Bit());
    }

    void closingAsksOnlyForUnsavedReadings_data() {
        QTest::addColumn<int>("before");    // readings logged before the save
        QTest::addColumn<bool>("saveAll");  // the log saved (all its rows)
        QTest::addColumn<int>("after");     // readings logged after that
        QTest::addColumn<bool>("exitItem"); // Exit from the menu bar, else the Exit button
        QTest::addColumn<bool>("answer");   // Yes to the question
        QTest::addColumn<QString>("question");
        QTest::addColumn<bool>("stays");

        const QString none;
        QTest::newRow("empty log") << 0 << false << 0 << false << true << none << false;
        QTest::newRow("unsaved, keep") << 3 << false << 0 << false << false
                                       << "3 readings have not been saved. Close and discard "
                                          "them?"
                                       << true;
        QTest::newRow("unsaved, discard")
            << 3 << false << 0 << false << true
            << "3 readings have not been saved. Close and discard them?" << false;
        QTest::newRow("all saved") << 2 << true << 0 << false << false << none << false;
        QTest::newRow("rows since the save")
            << 2 << true << 1 << false << false
            << "1 readings have not been saved. Close and discard them?" << true;
        QTest::newRow("menu Exit, keep")
            << 4 << false << 0 << true << false
            << "4 readings have not been saved. Close and discard them?" << true;
    }

    void closingAsksOnlyForUnsavedReadings() {
        QFETCH(int, before);
        QFETCH(bool, saveAll);
        QFETCH(int, after);
        QFETCH(bool, exitItem);
        QFETCH(bool, answer);
        QFETCH(QString, question);
        QFETCH(bool, stays);

        RecordingDialogs dialogs;
        TFCOMM w(dialogs);
        w.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        logReadings(w, before);
        QTemporaryDir dir;
        if (saveAll) {
            dialogs.fileAnswers << dir.filePath("log.txt");
            QTest::mouseClick(child<QToolButton>(w, "saveas"), Qt::LeftButton);
        }
        logReadings(w, after);
        const std::size_t rows = w.recorder().cds1.rowCount();
        dialogs.askAnswers << answer;

        if (exitItem)
            child<QAction>(w, "Exit1")->trigger();
        else
            QTest::mouseClick(child<QPushButton>(w, "BitBtn1"), Qt::LeftButton);

        QCOMPARE(dialogs.questions, question.isEmpty() ? QStringList() : QStringList{question});
        if (exitItem)
            QCOMPARE(w.recorder().cds1.rowCount(), stays ? rows : 0);
        else
            QCOMPARE(w.isVisible(), stays);
        // Kept readings are still being looked after; discarded ones are not
        // offered at the next start.
        QCOMPARE(w.journal().enabled(), stays);
    }

    void journalFollowsTheLogEverySecond() {
        RecordingDialogs dialogs;
        TFCOMM w(dialogs);
        const QString path = w.journal().path();
        QVERIFY(child<QAction>(w, "RecoveryJournal")->isChecked());
        logReadings(w, 2);
        QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(path), 5000);
        const QList<QByteArray> lines = readAll(path).split('\n');
        QCOMPARE(lines.size(), 4); // header, two rows, nothing after the last CR LF
        QCOMPARE(lines[0], QByteArray("No\tTime\tValue\tUnit\r"));
        // The rows as the text form saves them: No, time, value and unit.
        for (int i = 1; i <= 2; ++i) {
            const auto& t = w.recorder().cds1;
            const auto at = [&](kq::record::LogTable::Field f) {
                return QByteArray::fromStdString(t.textString(std::size_t(i - 1), f).value());
            };
            using F = kq::record::LogTable::Field;
            QCOMPARE(lines[i], QByteArray::number(i) + '\t' + at(F::Time) + '\t' + at(F::Value) +
                                   '\t' + at(F::Unit) + '\r');
            QCOMPARE(at(F::Value), QByteArray("19.99"));
        }

        // A save of every row leaves nothing to recover.
        QTemporaryDir dir;
        dialogs.fileAnswers << dir.filePath("log.xml");
        QTest::mouseClick(child<QToolButton>(w, "saveas"), Qt::LeftButton);
        QVERIFY(!QFile::exists(path));

        logReadings(w, 1);
        QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(path), 5000);
        QCOMPARE(readAll(path).count('\n'), 2); // header and the one new row

        // New empties the log, and the journal goes with it.
        child<QAction>(w, "New1")->trigger();
        QVERIFY(!QFile::exists(path));

        // Switched off: the journal goes and stays away while readings come.
        logReadings(w, 1);
        QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(path), 5000);
        child<QAction>(w, "RecoveryJournal")->setChecked(false);
        QVERIFY(!QFile::exists(path));
        logReadings(w, 1);
        QTest::qWait(1500); // past the next once-a-second tick, which must not write it
        QVERIFY(!QFile::exists(path));
        // On again: every unsaved row is there at once.
        child<QAction>(w, "RecoveryJournal")->setChecked(true);
        QCOMPARE(readAll(path).count('\n'), 3);
    }

    // A journal left behind, damaged or not: every row that can be read is
    // offered, the question says how many lines could not be, and the journal
    // goes only after the answer was carried out and its rows are safe in the
    // window's own journal; a damaged one is kept under a dated name.
    void journalLeftBehindIsOffered_data() {
        QTest::addColumn<QByteArray>("journal");
        QTest::addColumn<int>("answer"); // 0 Restore, 1 Later, 2 Discard
        QTest::addColumn<QString>("question");
        QTest::addColumn<QStringList>("numbers");
        QTest::addColumn<bool>("damaged");

        const QByteArray rows = QByteArray(kHeader) + "41\t10:00:00\t19.99\tLux\r\n" +
                                "42\t10:00:01\t20.00\tLux\r\n43\t10:00:02\tOL\tLux\r\n";
        const QString three = "The last recording ended without saving 3 readings. Restore them?";
        const QStringList all{"41", "42", "43"};
        QTest::newRow("restored") << rows << 0 << three << all << false;
        QTest::newRow("later") << rows << 1 << three << QStringList{} << false;
        QTest::newRow("discarded") << rows << 2 << three << QStringList{} << false;
        QTest::newRow("power cut mid-line") << rows + "44\t10:0" << 0 << three << all << false;
        QTest::newRow("no rows in it")
            << QByteArray(kHeader) << 0 << QString() << QStringList{} << false;

        // Damage: a bad line among good ones, a bad first row, zero bytes
        // where a power cut lost a page, no header.
        const QByteArray r1 = "1\t10:00:00\t1.00\tLux\r\n", r2 = "2\t10:00:01\t2.00\tLux\r\n",
                         r3 = "3\t10:00:02\t3.00\tLux\r\n", r4 = "4\t10:00:03\t4.00\tLux\r\n";
        const QString oneBad = "The last recording ended without saving %1 readings. Restore "
                               "them?\n\n1 lines of the journal could not be read; the journal "
                               "as it is will be kept as recovery-damaged-";
        QTest::newRow("bad line mid-file")
            << QByteArray(kHeader) + r1 + r2 + "x3\t10:00:0\xff\t\r\n" + r3 + r4 << 0
            << oneBad.arg(4) << QStringList{"1", "2", "3", "4"} << true;
        QTest::newRow("bad first row") << QByteArray(kHeader) + "1\t10:00\r\n" + r2 + r3 << 0
                                       << oneBad.arg(2) << QStringList{"2", "3"} << true;
        QTest::newRow("zero bytes mid-file")
            << QByteArray(kHeader) + r1 + "2\t10:0" + QByteArray(300, '\0') + "0\tLux\r\n" + r3 + r4
            << 0 << oneBad.arg(3) << QStringList{"1", "3", "4"} << true;
        QTest::newRow("no header") << r1 + r2 << 0
                                   << "The last recording ended without saving 2 readings. "
                                      "Restore them?"
                                   << QStringList{"1", "2"} << false;
        QTest::newRow("damaged, later") << QByteArray(kHeader) + r1 + "junk\r\n"
                                        << 1 << oneBad.arg(1) << QStringList{} << false;
    }

    void journalLeftBehindIsOffered() {
        QFETCH(QByteArray, journal);
        QFETCH(int, answer);
        QFETCH(QString, question);
        QFETCH(QStringList, numbers);
        QFETCH(bool, damaged);

        const QString folder = kq::app::JournalKeeper::defaultFolder();
        QVERIFY(QDir().mkpath(folder));
        const QString path = folder + "/recovery.txt";
        {
            QFile f(path);
            QVERIFY(f.open(QIODevice::WriteOnly));
            f.write(journal);
        }
        RecordingDialogs dialogs;
        dialogs.chooseAnswers << answer;
        // The user answers after the window's once-a-second timers have run.
        dialogs.whileAsking = [] { QTest::qWait(1300); };
        TFCOMM w(dialogs);
        w.show();
        QCOMPARE(w.offerRecovery(), !numbers.isEmpty());
        QCOMPARE(dialogs.questions.size(), question.isEmpty() ? 0 : 1);
        if (!question.isEmpty()) {
            QVERIFY2(dialogs.questions[0].startsWith(question), qPrintable(dialogs.questions[0]));
            QCOMPARE(dialogs.lastButtons, (QStringList{"Restore", "Later", "Discard"}));
        }
        QCOMPARE(noColumn(w), numbers);
        QCOMPARE(w.unsavedRows(), std::size_t(numbers.size()));
        // Later: the journal stays as it was for the next start; otherwise it
        // is gone, a damaged one under a dated name.
        const bool later = answer == 1 && !question.isEmpty();
        QCOMPARE(QFile::exists(path), later);
        if (later)
            QCOMPARE(readAll(path), journal);
        const QStringList copies = QDir(folder).entryList({"recovery-damaged-*.txt"});
        QCOMPARE(copies.size(), damaged ? 1 : 0);
        if (damaged)
            QCOMPARE(readAll(folder + "/" + copies[0]), journal);
        if (numbers.isEmpty())
            return;
        // The rows are in the window's own journal now.
        QVERIFY(w.journal().path() != path);
        QCOMPARE(readAll(w.journal().path()).count('\n'), numbers.size() + 1);
        // The recording goes on with the next number.
        logReadings(w, 1);
        QCOMPARE(noColumn(w).last(), QString::number(numbers.last().toInt() + 1));
    }

    // Discarding many readings asks a second time; No there keeps the journal.
    void discardingManyReadingsAsksAgain() {
        const QString folder = kq::app::JournalKeeper::defaultFolder();
        QVERIFY(QDir().mkpath(folder));
        QByteArray journal = kHeader;
        for (int i = 1; i <= 1500; ++i)
            journal += QByteArray::number(i) + "\t10:00:00\t19.99\tLux\r\n";
        QFile f(folder + "/recovery.txt");
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(journal);
        f.close();
        RecordingDialogs dialogs;
        dialogs.chooseAnswers << 2;
        dialogs.askAnswers << false;
        TFCOMM w(dialogs);
        QVERIFY(!w.offerRecovery());
        QCOMPARE(dialogs.questions.size(), 2);
        QCOMPARE(dialogs.questions[1], QString("Discard 1500 readings for good?"));
        QCOMPARE(readAll(f.fileName()), journal);
    }

    // A logout while a question is open ends its dialog with whatever answer
    // the dialog then returns; neither answer may take the journal away.
    void endingDuringAQuestionKeepsTheJournal_data() {
        QTest::addColumn<bool>("atStart"); // the restore question, else the closing one
        QTest::addColumn<bool>("answer");
        QTest::newRow("restore question, No") << true << false;
        QTest::newRow("closing question, Yes (discard)") << false << true;
    }

    void endingDuringAQuestionKeepsTheJournal() {
        QFETCH(bool, atStart);
        QFETCH(bool, answer);

        const QString path = kq::app::JournalKeeper::defaultFolder() + "/recovery.txt";
        const QByteArray left = QByteArray(kHeader) + "7\t10:00:00\t19.99\tLux\r\n";
        if (atStart) {
            QVERIFY(QDir().mkpath(QFileInfo(path).path()));
            QFile f(path);
            QVERIFY(f.open(QIODevice::WriteOnly));
            f.write(left);
        }
        RecordingDialogs dialogs;
        TFCOMM w(dialogs);
        w.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        // What the program does on SIGTERM, while the dialog is still up.
        dialogs.whileAsking = [&w] { w.journal().keepForNextStart(); };
        dialogs.askAnswers << answer;
        if (atStart) {
            QVERIFY(!w.offerRecovery());
            QCOMPARE(readAll(path), left);
            return;
        }
        logReadings(w, 3);
        QTest::mouseClick(child<QPushButton>(w, "BitBtn1"), Qt::LeftButton);
        QCOMPARE(dialogs.questions.size(), 1);
        QCOMPARE(readAll(path).count('\n'), 4);
    }

    // Readings the loop still logs after the signal reach the journal too; a
    // table emptied afterwards takes nothing from it.
    void afterTheEndingTheJournalOnlyGrows() {
        RecordingDialogs dialogs;
        TFCOMM w(dialogs);
        logReadings(w, 3);
        w.journal().keepForNextStart();
        const QString path = w.journal().path();
        QCOMPARE(readAll(path).count('\n'), 4);
        logReadings(w, 2);
        w.journal().sync();
        QCOMPARE(readAll(path).count('\n'), 6);
        w.recorder().cds1.clear();
        w.journal().sync();
        w.journal().discard();
        QCOMPARE(readAll(path).count('\n'), 6);
    }

    // Every window keeps its own journal; a start offers the journals no
    // running window holds, and only those.
    void everyWindowKeepsItsOwnJournal() {
        RecordingDialogs first;
        TFCOMM one(first);
        logReadings(one, 2);
        one.journal().sync();
        QVERIFY(QFile::exists(one.journal().path()));
        {
            RecordingDialogs second;
            TFCOMM two(second);
            QVERIFY(two.journal().enabled());
            QVERIFY(child<QAction>(two, "RecoveryJournal")->isEnabled());
            QVERIFY(!two.offerRecovery());
            QCOMPARE(second.questions, QStringList());
            logReadings(two, 5);
            two.journal().sync();
            QVERIFY(two.journal().path() != one.journal().path());
            QCOMPARE(readAll(two.journal().path()).count('\n'), 6);
            QCOMPARE(readAll(one.journal().path()).count('\n'), 3);
            // The second window ends without a word, as a crash does.
        }
        RecordingDialogs third;
        third.chooseAnswers << 0;
        TFCOMM three(third);
        QVERIFY(three.offerRecovery());
        QCOMPARE(third.questions,
                 QStringList{"The last recording ended without saving 5 readings. Restore them?"});
        QCOMPARE(three.recorder().cds1.rowCount(), std::size_t{5});
        QCOMPARE(readAll(one.journal().path()).count('\n'), 3);
    }

    // A data folder that cannot be written: the window says so once, keeps
    // logging, and journals as soon as the folder can be written again.
    void unwritableFolderIsToldOnceAndTriedAgain() {
        QTemporaryDir home;
        qputenv("XDG_DATA_HOME", home.path().toLocal8Bit());
        const QString folder = kq::app::JournalKeeper::defaultFolder();
        QVERIFY(folder.startsWith(home.path()));
        QFile blocker(folder); // a file where the folder should be
        QVERIFY(blocker.open(QIODevice::WriteOnly));
        blocker.close();
        RecordingDialogs dialogs;
        TFCOMM w(dialogs);
        logReadings(w, 2);
        QTest::qWait(2300); // two once-a-second ticks
        QCOMPARE(dialogs.texts().size(), 1);
        QVERIFY2(dialogs.texts()[0].startsWith("Cannot write the recovery journal"),
                 qPrintable(dialogs.texts()[0]));
        QVERIFY(w.journal().enabled());
        QVERIFY(QFile::remove(folder));
        QTRY_VERIFY_WITH_TIMEOUT(!w.journal().path().isEmpty(), 3000);
        QTRY_COMPARE_WITH_TIMEOUT(readAll(w.journal().path()).count('\n'), 3, 3000);
        QCOMPARE(dialogs.texts().size(), 1);
    }

    // The program knows its own journal: opened by name it is offered back
    // (once, never loaded a second time), and a save onto it is refused.
    void theJournalIsNotAnOrdinaryFile() {
        const QString folder = kq::app::JournalKeeper::defaultFolder();
        RecordingDialogs dialogs;
        TFCOMM w(dialogs);
        logReadings(w, 2);
        w.journal().sync();
        const QString own = w.journal().path();
        const QByteArray ownBytes = readAll(own);

        // Saving onto it is refused and leaves it as it is.
        dialogs.fileAnswers << own;
        QTest::mouseClick(child<QToolButton>(w, "saveas"), Qt::LeftButton);
        QCOMPARE(dialogs.texts().size(), 1);
        QVERIFY(dialogs.texts()[0].contains("is a recovery journal"));
        QCOMPARE(readAll(own), ownBytes);
        QCOMPARE(w.unsavedRows(), std::size_t{2});
        // So is the chart's picture.
        dialogs.fileAnswers << own;
        QTest::mouseClick(child<QToolButton>(w, "BtSave"), Qt::LeftButton);
        QCOMPARE(dialogs.texts().size(), 2);
        QVERIFY(dialogs.texts()[1].contains("is a recovery journal"));
        QCOMPARE(readAll(own), ownBytes);
        dialogs.messages.clear();

        // Its own journal opened by name adds nothing.
        dialogs.fileAnswers << own;
        QTest::mouseClick(child<QToolButton>(w, "OpenDataFiles"), Qt::LeftButton);
        QCOMPARE(w.recorder().cds1.rowCount(), std::size_t{2});
        QCOMPARE(readAll(own), ownBytes);

        // One left behind, opened by name (through a link to it): offered,
        // restored once, then gone.
        const QString left = folder + "/recovery-7.txt";
        {
            QFile f(left);
            QVERIFY(f.open(QIODevice::WriteOnly));
            f.write(QByteArray(kHeader) + "9\t10:00:00\t1.00\tLux\r\n");
        }
        QTemporaryDir elsewhere;
        QVERIFY(QFile::link(left, elsewhere.filePath("mine.txt")));
        dialogs.chooseAnswers << 0;
        dialogs.fileAnswers << elsewhere.filePath("mine.txt");
        QTest::mouseClick(child<QToolButton>(w, "OpenDataFiles"), Qt::LeftButton);
        QCOMPARE(noColumn(w), (QStringList{"1", "2", "9"}));
        QVERIFY(!QFile::exists(left));
        QCOMPARE(readAll(own).count('\n'), 4);
    }

private:
    QTemporaryDir m_data;
};

QTEST_MAIN(JournalWindowTest)
#include "journal_window_test.moc"
