// A recording killed outright (SIGKILL) comes back at the next start: the
// window runs in a process of its own, fed by the virtual meter, and is killed
// in the middle of the recording; a new window offers the rows and restores
// every one the journal held.
#include "app/dialogs.h"
#include "app/journal_keeper.h"
#include "app/tfcomm.h"
#include "record/log_table.h"
#include "record/recorder.h"

#include <QAbstractButton>
#include <QApplication>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

#include <cstring>
#include <set>

using kq::app::Dialogs;
using kq::app::TFCOMM;
using Field = kq::record::LogTable::Field;

namespace {

constexpr char kChildOption[] = "--record-until-killed";

class AnsweringDialogs : public Dialogs {
public:
    QStringList texts;
    QStringList questions;
    void message(QWidget*, const QString&, const QString& text, Icon) override { texts << text; }
    bool ask(QWidget*, const QString&, const QString& text) override {
        questions << text;
        return true;
    }
    QString saveFileName(QWidget*, const FileSpec&) override { return {}; }
    QString openFileName(QWidget*, const FileSpec&) override { return {}; }
};

// The window as a user runs it: connected to the meter and recording until
// the process is killed.
int recordUntilKilled(int argc, char** argv) {
    QApplication app(argc, argv);
    AnsweringDialogs dialogs;
    TFCOMM w(dialogs);
    w.show();
    auto* usb = w.findChild<QAbstractButton*>("USB");
    if (!usb)
        return 3;
    usb->click();
    return app.exec();
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
        const QString link = dir.filePath("meter");
        const QString pathFile = link + ".path";
        qputenv("XDG_DATA_HOME", dir.filePath("data").toLocal8Bit());
        qputenv("KQMETER_BRIDGE_DEVICES", link.toLocal8Bit());
        const QString journal = kq::app::JournalKeeper::defaultFolder() + "/recovery.txt";

        Child meter(KQ_SIM_PATH, {"--link", link, "--path-file", pathFile, "--values",
                                  "19.99,0L,1500", "--rate", "20"});
        QTRY_VERIFY_WITH_TIMEOUT(QFileInfo(pathFile).size() > 0, 10000);

        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("QT_QPA_PLATFORM", "offscreen");
        Child window(QCoreApplication::applicationFilePath(), {kChildOption}, env);
        QVERIFY(window.process().waitForStarted(10000));
        const auto journalRowCount = [&] {
            QFile f(journal);
            return f.open(QIODevice::ReadOnly) ? journalRows(f.readAll()).size() : 0;
        };
        // Several seconds' worth of rows, so that the journal has grown by
        // appending, not only been written once.
        QTRY_VERIFY_WITH_TIMEOUT(journalRowCount() >= 40, 30000);
        window.process().kill();
        QVERIFY(window.process().waitForFinished(10000));
        QCOMPARE(window.process().exitStatus(), QProcess::CrashExit);

        QFile f(journal);
        QVERIFY(f.open(QIODevice::ReadOnly));
        const QStringList left = journalRows(f.readAll());
        f.close();
        // Every reading was logged (Repeat is on): numbers without a gap, and
        // only values the meter sent.
        const std::set<QString> sent{"19.99", "0L", "1500"};
        for (int i = 0; i < left.size(); ++i) {
            const QStringList fields = left[i].split('|');
            QCOMPARE(fields.value(0), QString::number(i + 1));
            QVERIFY2(sent.count(fields.value(2)) == 1, qPrintable(left[i]));
        }

        AnsweringDialogs dialogs;
        TFCOMM w(dialogs);
        QVERIFY(w.offerRecovery());
        QCOMPARE(dialogs.questions,
                 QStringList{QString("The last recording ended without saving %1 readings. "
                                     "Restore them?")
                                 .arg(left.size())});
        QCOMPARE(tableRows(w.recorder().cds1), left);
        QCOMPARE(w.recorder().log().RecordNo, int(left.size()) + 1);
        QVERIFY(dialogs.texts.isEmpty());
    }
};

int main(int argc, char** argv) {
    for (int i = 1; i < argc; ++i)
        if (std::strcmp(argv[i], kChildOption) == 0)
            return recordUntilKilled(argc, argv);
    QApplication app(argc, argv);
    JournalCrashTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "journal_crash_test.moc"
