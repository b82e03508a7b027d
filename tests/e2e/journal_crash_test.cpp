// A recording killed outright (SIGKILL) comes back at the next start: the
// window runs in a process of its own, fed by the virtual meter, and is killed
// in the middle of the recording; a new window offers the rows and restores
// every one the journal held. Ended by SIGTERM (a logout or shutdown), the
// window leaves at once and the journal holds every row it had.
#include "app/journal_keeper.h"
#include "app/quit_signals.h"
#include "app/tfcomm.h"
#include "record/log_table.h"
#include "record/recorder.h"
#include "support/recording_dialogs.h"

#include <QAbstractButton>
#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>

#include <cstdio>
#include <cstring>
#include <memory>
#include <set>

using kq::app::TFCOMM;
using kq::test::RecordingDialogs;
using Field = kq::record::LogTable::Field;

namespace {

constexpr char kChildOption[] = "--record-until-killed";
constexpr char kTermChildOption[] = "--record-until-terminated";
constexpr char kFullChildOption[] = "--record-into-full-folder";

// The window as a user runs it: connected to the meter and recording until
// the process is killed. With `takeSignals`, as the program's main() does, it
// ends on SIGTERM and prints how many rows its table held.
int recordUntilKilled(int argc, char** argv, bool takeSignals) {
    if (takeSignals)
        kq::app::QuitSignals::block();
    QApplication app(argc, argv);
    RecordingDialogs dialogs;
    TFCOMM w(dialogs);
    std::unique_ptr<kq::app::QuitSignals> quitSignals;
    if (takeSignals)
        quitSignals = std::make_unique<kq::app::QuitSignals>(w.journal());
    w.show();
    auto* usb = w.findChild<QAbstractButton*>("USB");
    if (!usb)
        return 3;
    usb->click();
    const int status = app.exec();
    if (takeSignals)
        w.journal().sync(); // as main() does
    std::printf("%zu\n", w.recorder().cds1.rowCount());
    return status;
}

// The window recording into a data folder on a full disk (a tiny tmpfs its
// caller mounted in a private mount namespace, `filler` taking all its room).
// After three seconds the filler goes; two seconds later the window ends and
// prints the messages it showed, then the rows of its table and its journal.
int recordIntoFullFolder(int argc, char** argv, const QString& filler) {
    QApplication app(argc, argv);
    RecordingDialogs dialogs;
    TFCOMM w(dialogs);
    w.show();
    auto* usb = w.findChild<QAbstractButton*>("USB");
    if (!usb)
        return 3;
    usb->click();
    QTimer::singleShot(3000, &app, [&] { QFile::remove(filler); });
    // exit(), not quit(): a close would ask about the unsaved rows.
    QTimer::singleShot(5500, &app, [&] { app.exit(0); });
    const int status = app.exec();
    usb->click(); // no reading after the count
    w.journal().sync();
    for (const QString& text : dialogs.told())
        std::printf("message: %s\n", qPrintable(text));
    QFile journal(w.journal().path());
    const qsizetype lines = journal.open(QIODevice::ReadOnly) ? journal.readAll().count('\n') : 0;
    std::printf("rows %zu journal %lld\n", w.recorder().cds1.rowCount(),
                static_cast<long long>(lines > 0 ? lines - 1 : 0));
    return status;
}

// Runs a process until the object goes, also when a check fails.
class Child {
public:
    Child(const QString& program, const QStringList& args, const QProcessEnvironment& env = {}) {
        if (!env.isEmpty())
            m_process.setProcessEnvironment(env);
        m_process.setProgram(program);
        m_process.setArguments(args);
        m_process.start();
    }
    ~Child() {
        if (m_process.state() != QProcess::NotRunning) {
            m_process.kill();
            m_process.waitForFinished(5000);
        }
    }
    QProcess& process() { return m_process; }

private:
    QProcess m_process;
};

// The rows of a text log as "No|Time|Value|Unit", whole lines only.
QStringList journalRows(const QByteArray& bytes) {
    QStringList out;
    const QList<QByteArray> lines = bytes.left(bytes.lastIndexOf('\n') + 1).split('\n');
    for (int i = 1; i < lines.size(); ++i) {
        QByteArray line = lines[i];
        if (line.endsWith('\r'))
            line.chop(1);
        if (!line.isEmpty())
            out << QString::fromUtf8(line).replace('\t', '|');
    }
    return out;
}

QStringList tableRows(const kq::record::LogTable& t) {
    QStringList out;
    for (std::size_t i = 0; i < t.rowCount(); ++i) {
        QStringList fields{QString::number(t.no(i).value_or(-1))};
        for (Field f : {Field::Time, Field::Value, Field::Unit})
            fields << QString::fromStdString(t.textString(i, f).value_or("NULL"));
        out << fields.join('|');
    }
    return out;
}

} // namespace

class JournalCrashTest : public QObject {
    Q_OBJECT
private slots:
    void killedRecordingComesBack() {
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        Child meter(KQ_SIM_PATH, meterArguments(dir));
        QTRY_VERIFY_WITH_TIMEOUT(QFileInfo(dir.filePath("meter.path")).size() > 0, 10000);
        Child window(QCoreApplication::applicationFilePath(), {kChildOption}, windowEnvironment());
        QVERIFY(window.process().waitForStarted(10000));
        // Several seconds' worth of rows, so that the journal has grown by
        // appending, not only been written once.
        QTRY_VERIFY_WITH_TIMEOUT(journalRows().size() >= 40, 30000);
        window.process().kill();
        QVERIFY(window.process().waitForFinished(10000));
        QCOMPARE(window.process().exitStatus(), QProcess::CrashExit);

        const QStringList left = journalRows();
        // Every reading was logged (Repeat is on): numbers without a gap, and
        // only values the meter sent.
        const std::set<QString> sent{"19.99", "0L", "1500"};
        for (int i = 0; i < left.size(); ++i) {
            const QStringList fields = left[i].split('|');
            QCOMPARE(fields.value(0), QString::number(i + 1));
            QVERIFY2(sent.count(fields.value(2)) == 1, qPrintable(left[i]));
        }

        RecordingDialogs dialogs;
        TFCOMM w(dialogs);
        QVERIFY(w.offerRecovery());
        QCOMPARE(dialogs.questions,
                 QStringList{QString("The last recording ended without saving %1 readings. "
                                     "Restore them?")
                                 .arg(left.size())});
        QCOMPARE(tableRows(w.recorder().cds1), left);
        QCOMPARE(w.recorder().log().RecordNo, int(left.size()) + 1);
        QVERIFY(dialogs.told().isEmpty());
    }

    // The journal is written once a second, so a killed window may lose the
    // last second; a terminated one must not lose any row.
    void terminatedRecordingKeepsEveryRow() {
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        Child meter(KQ_SIM_PATH, meterArguments(dir));
        QTRY_VERIFY_WITH_TIMEOUT(QFileInfo(dir.filePath("meter.path")).size() > 0, 10000);
        Child window(QCoreApplication::applicationFilePath(), {kTermChildOption},
                     windowEnvironment());
        QVERIFY(window.process().waitForStarted(10000));
        QTRY_VERIFY_WITH_TIMEOUT(journalRows().size() >= 20, 30000);
        window.process().terminate();
        QVERIFY2(window.process().waitForFinished(10000), "SIGTERM did not end the window");
        QCOMPARE(window.process().exitStatus(), QProcess::NormalExit);
        QCOMPARE(window.process().exitCode(), 0);
        const QByteArray held = window.process().readAllStandardOutput().trimmed();
        QCOMPARE(QString::number(journalRows().size()), QString::fromUtf8(held));
        const QStringList rows = journalRows();
        for (int i = 0; i < rows.size(); ++i)
            QCOMPARE(rows[i].section('|', 0, 0), QString::number(i + 1));
    }

    // A full data folder: the window says so once, records on, and journals
    // every row again as soon as there is room.
    void fullDataFolderIsToldOnceAndTriedAgain() {
        if (QStandardPaths::findExecutable("unshare").isEmpty())
            QSKIP("needs unshare");
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        Child meter(KQ_SIM_PATH, meterArguments(dir));
        QTRY_VERIFY_WITH_TIMEOUT(QFileInfo(dir.filePath("meter.path")).size() > 0, 10000);
        const QString data = dir.filePath("data");
        QVERIFY(QDir().mkpath(data));
        // The mount lives in the window's own namespace and goes with it.
        const QString script =
            QStringLiteral("mount -t tmpfs -o size=64k tmpfs \"$1\" || exit 77; "
                           "dd if=/dev/zero of=\"$1/filler\" bs=4k count=100 2>/dev/null; "
                           "exec \"$2\" %1 \"$1/filler\"")
                .arg(kFullChildOption);
        Child window("unshare",
                     {"-m", "--propagation", "private", "sh", "-c", script, "sh", data,
                      QCoreApplication::applicationFilePath()},
                     windowEnvironment());
        QVERIFY(window.process().waitForFinished(30000));
        if (window.process().exitCode() == 77)
            QSKIP("cannot mount a tmpfs here (needs root)");
        QCOMPARE(window.process().exitCode(), 0);
        const QStringList out =
            QString::fromLocal8Bit(window.process().readAllStandardOutput()).split('\n');
        const QStringList messages = out.filter(QRegularExpression("^message: "));
        QCOMPARE(messages.size(), 1);
        QVERIFY2(messages[0].startsWith("message: Cannot write the recovery journal"),
                 qPrintable(messages[0]));
        QVERIFY(messages[0].endsWith("The window keeps trying."));
        const QRegularExpressionMatch counts =
            QRegularExpression("^rows (\\d+) journal (\\d+)$", QRegularExpression::MultilineOption)
                .match(out.join('\n'));
        QVERIFY(counts.hasMatch());
        QVERIFY2(counts.captured(1).toInt() >= 20, qPrintable(counts.captured(0)));
        QVERIFY2(counts.captured(2) == counts.captured(1), qPrintable(out.join(QLatin1Char(10))));
    }

private:
    // The virtual meter on a bridge link in `dir`; the window finds it there,
    // and keeps its journal in `dir` too.
    QStringList meterArguments(const QTemporaryDir& dir) {
        const QString link = dir.filePath("meter");
        qputenv("XDG_DATA_HOME", dir.filePath("data").toLocal8Bit());
        qputenv("KQMETER_BRIDGE_DEVICES", link.toLocal8Bit());
        m_journal = kq::app::JournalKeeper::defaultFolder() + "/recovery.txt";
        return {"--link",        link,     "--path-file", link + ".path", "--values",
                "19.99,0L,1500", "--rate", "20"};
    }
    static QProcessEnvironment windowEnvironment() {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("QT_QPA_PLATFORM", "offscreen");
        return env;
    }
    QStringList journalRows() const {
        QFile f(m_journal);
        return f.open(QIODevice::ReadOnly) ? ::journalRows(f.readAll()) : QStringList{};
    }
    QString m_journal;
};

int main(int argc, char** argv) {
    for (int i = 1; i + 1 < argc; ++i)
        if (std::strcmp(argv[i], kFullChildOption) == 0)
            return recordIntoFullFolder(argc, argv, QString::fromLocal8Bit(argv[i + 1]));
    for (int i = 1; i < argc; ++i)
        if (std::strcmp(argv[i], kChildOption) == 0 || std::strcmp(argv[i], kTermChildOption) == 0)
            return recordUntilKilled(argc, argv, std::strcmp(argv[i], kTermChildOption) == 0);
    QApplication app(argc, argv);
    JournalCrashTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "journal_crash_test.moc"
