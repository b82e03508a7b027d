// The questions that stand between the user and lost readings, answered with
// real keys and clicks on the platform's message boxes: the start-up offer of
// a journal left behind, New / Close Data, opening an XML log over unsaved
// readings; and what goes on meanwhile: the print preview lets the meter go on
// and logs its readings afterwards, and the record limit says when it stops
// the log.
#include "app/dialogs.h"
#include "app/journal_keeper.h"
#include "app/tfcomm.h"
#include "files/log_file.h"
#include "links/usbbridge_fake.h"
#include "record/log_table.h"
#include "record/recorder.h"
#include "support/frames.h"
#include "support/window_rig.h"

#include <QAbstractButton>
#include <QAction>
#include <QApplication>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTimer>
#include <QToolButton>
#include <QtTest>

#include <functional>
#include <memory>
#include <string>
#include <vector>

using kq::app::TFCOMM;
using kq::links::FakeUsbBridge;
using kq::test::luxFrame;
using Field = kq::record::LogTable::Field;

// What the user does with the next message box: a key, a click on the button
// with this text, or closing it by its title bar.
struct Gesture {
    enum Kind { Key, Click, Close } kind = Key;
    int key = Qt::Key_Return;
    QString button;
};
inline Gesture pressKey(int key) {
    return {Gesture::Key, key, {}};
}
inline Gesture clickOn(const QString& text) {
    return {Gesture::Click, 0, text};
}
inline Gesture closeBox() {
    return {Gesture::Close, 0, {}};
}

Q_DECLARE_METATYPE(Gesture)

namespace {

// The platform's message boxes; file dialogs answered from a script.
class RealBoxes final : public kq::app::Dialogs {
public:
    void message(QWidget* owner, const QString& caption, const QString& text, Icon icon) override {
        texts << text;
        m_boxes.message(owner, caption, text, icon);
    }
    bool ask(QWidget* owner, const QString& caption, const QString& text) override {
        texts << text;
        return m_boxes.ask(owner, caption, text);
    }
    bool askLive(QWidget* owner, const QString& caption,
                 const std::function<QString()>& text) override {
        texts << text();
        return m_boxes.askLive(owner, caption, text);
    }
    int choose(QWidget* owner, const QString& caption, const QString& text,
               const QStringList& buttons, int defaultButton, int escapeButton) override {
        texts << text;
        return m_boxes.choose(owner, caption, text, buttons, defaultButton, escapeButton);
    }
    QString saveFileName(QWidget*, const FileSpec&) override { return takeName(); }
    QString openFileName(QWidget*, const FileSpec&) override { return takeName(); }

    QStringList texts;
    QStringList fileAnswers;

private:
    QString takeName() { return fileAnswers.isEmpty() ? QString() : fileAnswers.takeFirst(); }
    kq::app::QtDialogs m_boxes;
};

// Answers the message boxes as they come up, one gesture each, in order; it
// keeps what each box said and which button Enter would press. A box that
// comes when no gesture is left is answered with Enter and counted as
// unexpected. With KQ_SHOTS set, each box is saved there as a picture.
class BoxUser : public QObject {
public:
    explicit BoxUser(QList<Gesture> gestures) : m_gestures(std::move(gestures)) {
        m_timer.setInterval(20);
        QObject::connect(&m_timer, &QTimer::timeout, this, [this] { look(); });
        m_timer.start();
    }
    QStringList seen;
    QStringList defaults;
    int unexpected = 0;
    bool done() const { return m_gestures.isEmpty(); }

private:
    void look() {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (!box || box == m_last || !box->isVisible())
            return;
        m_last = box;
        seen << box->text();
        defaults << (box->defaultButton() ? box->defaultButton()->text() : QString());
        if (const QByteArray dir = qgetenv("KQ_SHOTS"); !dir.isEmpty())
            box->grab().save(QString::fromLocal8Bit(dir) +
                             QStringLiteral("/box%1.png").arg(seen.size()));
        Gesture g;
        if (m_gestures.isEmpty())
            ++unexpected;
        else
            g = m_gestures.takeFirst();
        QPointer<QMessageBox> guard(box);
        // Answered from the event loop, not from inside the timer's slot.
        QTimer::singleShot(0, box, [guard, g] {
            if (!guard)
                return;
            if (g.kind == Gesture::Key) {
                QTest::keyClick(guard, static_cast<Qt::Key>(g.key));
            } else if (g.kind == Gesture::Close) {
                guard->close();
            } else {
                for (QAbstractButton* b : guard->buttons())
                    if (b->text().remove('&') == g.button) {
                        QTest::mouseClick(b, Qt::LeftButton);
                        return;
                    }
                qWarning("no button %s", qPrintable(g.button));
                guard->close();
            }
        });
    }
    QList<Gesture> m_gestures;
    QTimer m_timer;
    QPointer<QMessageBox> m_last;
};

// The window over a bridge with one meter.
struct Rig {
    RealBoxes dialogs;
    FakeUsbBridge* bridge = nullptr;
    std::unique_ptr<TFCOMM> window;

    Rig() : window(kq::test::windowOverOneMeter(dialogs, bridge)) {}
    ~Rig() {
        // A window with readings asks before it goes; the test has decided already.
        window->journal().setEnabled(false);
        window->recorder().cds1.clear();
    }
    bool connect() {
        auto* usb = window->findChild<QAbstractButton*>("USB");
        QTest::mouseClick(usb, Qt::LeftButton);
        return usb->isChecked();
    }
    // Readings through the poll, one frame each, until the log has `rows` more.
    bool logThroughPoll(int first, int count) {
        const std::size_t before = log().rowCount();
        for (int i = 0; i < count; ++i)
            bridge->queueRead(luxFrame(first + i));
        return QTest::qWaitFor([&] { return log().rowCount() >= before + std::size_t(count); },
                               10000);
    }
    const kq::record::LogTable& log() { return window->recorder().cds1; }
    template <class T> T* child(const char* name) {
        T* found = window->findChild<T*>(name);
        if (!found)
            qFatal("no child %s", name);
        return found;
    }
};

QStringList values(const kq::record::LogTable& t) {
    QStringList out;
    for (std::size_t i = 0; i < t.rowCount(); ++i)
        out << QString::fromStdString(t.textString(i, Field::Value).value_or(""));
    return out;
}

const char kHeader[] = "No\tTime\tValue\tUnit\r\n";

} // namespace

class UnsavedQuestionsTest : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() {
        QVERIFY(m_data.isValid());
        qputenv("XDG_DATA_HOME", m_data.path().toLocal8Bit());
    }
    void cleanup() { QDir(kq::app::JournalKeeper::defaultFolder()).removeRecursively(); }

    // A journal left behind: Enter restores, Escape and closing the box keep
    // it for the next start untouched, only Discard lets it go.
    void startupOfferKeepsTheJournalUnlessDiscarded_data() {
        QTest::addColumn<Gesture>("gesture");
        QTest::addColumn<int>("restored");
        QTest::addColumn<bool>("kept");
        // Restored rows are the window's from then on (this one discards them).
        QTest::newRow("Enter") << pressKey(Qt::Key_Return) << 3 << false;
        QTest::newRow("Escape") << pressKey(Qt::Key_Escape) << 0 << true;
        QTest::newRow("closed by its title bar") << closeBox() << 0 << true;
        QTest::newRow("Restore clicked") << clickOn("Restore") << 3 << false;
        QTest::newRow("Discard clicked") << clickOn("Discard") << 0 << false;
    }
    void startupOfferKeepsTheJournalUnlessDiscarded() {
        QFETCH(Gesture, gesture);
        QFETCH(int, restored);
        QFETCH(bool, kept);
        const QString folder = kq::app::JournalKeeper::defaultFolder();
        QVERIFY(QDir().mkpath(folder));
        const QByteArray left = QByteArray(kHeader) + "1\t10:00:00\t19.99\tLux\r\n" +
                                "2\t10:00:01\t20.00\tLux\r\n3\t10:00:02\t20.01\tLux\r\n";
        {
            QFile f(folder + "/recovery.txt");
            QVERIFY(f.open(QIODevice::WriteOnly));
            f.write(left);
        }
        {
            Rig rig;
            BoxUser user({gesture});
            rig.window->offerRecovery();
            QCOMPARE(user.seen.size(), 1);
            QCOMPARE(user.defaults, QStringList{"Restore"});
            QCOMPARE(int(rig.log().rowCount()), restored);
        }
        // A journal neither restored nor discarded is offered again.
        Rig next;
        BoxUser user({pressKey(Qt::Key_Escape)});
        next.window->offerRecovery();
        QCOMPARE(user.seen.size(), kept ? 1 : 0);
    }

    // "Close Data", the chart's New and Record > New: with unsaved readings the
    // question comes first and Enter keeps them; Yes deletes them and the
    // " Record deleted " message follows.
    void newAsksBeforeUnsavedReadingsGo_data() {
        QTest::addColumn<QString>("control");
        QTest::addColumn<bool>("saved");
        QTest::addColumn<QList<Gesture>>("gestures");
        QTest::addColumn<int>("left");
        QTest::addColumn<QStringList>("texts");
        const QString question = "3 readings have not been saved. Delete them?";
        const QString deleted = " Record deleted ";
        for (const QString& control : {QString("RecordNew"), QString("BtNew"), QString("New1")}) {
            const QByteArray name = control.toUtf8();
            QTest::newRow(name + ", Enter")
                << control << false << QList<Gesture>{pressKey(Qt::Key_Return)} << 3
                << QStringList{question};
            QTest::newRow(name + ", Escape")
                << control << false << QList<Gesture>{pressKey(Qt::Key_Escape)} << 3
                << QStringList{question};
            QTest::newRow(name + ", Yes")
                << control << false << QList<Gesture>{clickOn("Yes"), pressKey(Qt::Key_Return)} << 0
                << QStringList{question, deleted};
        }
        QTest::newRow("saved: no question")
            << "RecordNew" << true << QList<Gesture>{pressKey(Qt::Key_Return)} << 0
            << QStringList{deleted};
    }
    void newAsksBeforeUnsavedReadingsGo() {
        QFETCH(QString, control);
        QFETCH(bool, saved);
        QFETCH(QList<Gesture>, gestures);
        QFETCH(int, left);
        QFETCH(QStringList, texts);
        Rig rig;
        QVERIFY(rig.connect());
        QVERIFY(rig.logThroughPoll(1000, 3));
        QTemporaryDir dir;
        if (saved) {
            rig.dialogs.fileAnswers << dir.filePath("log.txt");
            BoxUser ok({pressKey(Qt::Key_Return)});
            QTest::mouseClick(rig.child<QToolButton>("saveas"), Qt::LeftButton);
            QTRY_VERIFY(ok.done());
            rig.dialogs.texts.clear();
        }
        BoxUser user(gestures);
        if (control == "New1")
            rig.child<QAction>("New1")->trigger();
        else
            QTest::mouseClick(rig.child<QToolButton>(control.toUtf8().constData()), Qt::LeftButton);
        QCOMPARE(rig.dialogs.texts, texts);
        QCOMPARE(user.unexpected, 0);
        QCOMPARE(int(rig.log().rowCount()), left);
    }

    // An XML log replaces the table: over unsaved readings it asks, and Enter
    // or Escape keep everything; a text log only adds rows and asks nothing.
    void openingAnXmlLogAsksFirst_data() {
        QTest::addColumn<QString>("name");
        QTest::addColumn<Gesture>("gesture");
        QTest::addColumn<QStringList>("rows");
        QTest::addColumn<bool>("asked");
        const QStringList mine{"1000", "1001", "1002"};
        QTest::newRow("xml, Enter") << "old.xml" << pressKey(Qt::Key_Return) << mine << true;
        QTest::newRow("xml, Escape") << "old.xml" << pressKey(Qt::Key_Escape) << mine << true;
        QTest::newRow("xml, Yes") << "old.xml" << clickOn("Yes") << QStringList{"5.5", "6.5"}
                                  << true;
        QTest::newRow("text adds its rows")
            << "old.txt" << pressKey(Qt::Key_Return) << (mine + QStringList{"5.5", "6.5"}) << false;
    }
    void openingAnXmlLogAsksFirst() {
        QFETCH(QString, name);
        QFETCH(Gesture, gesture);
        QFETCH(QStringList, rows);
        QFETCH(bool, asked);
        QTemporaryDir dir;
        const QString path = dir.filePath(name);
        {
            kq::record::LogTable file;
            file.append(1, "09:00:00", "5.5", "Lux");
            file.append(2, "09:00:01", "6.5", "Lux");
            QVERIFY(kq::files::saveLog(file, path.toStdString()).ok());
        }
        Rig rig;
        QVERIFY(rig.connect());
        QVERIFY(rig.logThroughPoll(1000, 3));
        rig.dialogs.fileAnswers << path;
        BoxUser user({gesture});
        QTest::mouseClick(rig.child<QToolButton>("OpenDataFiles"), Qt::LeftButton);
        if (asked)
            QCOMPARE(rig.dialogs.texts,
                     QStringList{"3 readings have not been saved. Open old.xml and discard them?"});
        else
            QVERIFY(rig.dialogs.texts.isEmpty());
        QCOMPARE(values(rig.log()), rows);
    }

    // The closing question is open while the meter goes on: its count is that
    // of the readings that would go, not of those when it opened.
    void closeQuestionFollowsTheCount() {
        Rig rig;
        QVERIFY(rig.connect());
        QVERIFY(rig.logThroughPoll(1000, 2));
        QString first;
        QString later;
        bool opened = false;
        QTimer watch;
        watch.setInterval(20);
        QObject::connect(&watch, &QTimer::timeout, [&] {
            auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            if (!box || opened)
                return;
            opened = true;
            first = box->text();
            for (int i = 0; i < 3; ++i)
                rig.bridge->queueRead(luxFrame(1100 + i));
            if (!QTest::qWaitFor([&] { return rig.log().rowCount() == 5; }, 5000))
                qWarning("the poll did not log the frames");
            QTest::qWait(400);
            later = box->text();
            QTest::keyClick(box, Qt::Key_Escape);
        });
        watch.start();
        rig.window->close();
        watch.stop();
        QVERIFY2(opened, "closing did not ask");
        QCOMPARE(first, QString("2 readings have not been saved. Close and discard them?"));
        QCOMPARE(later, QString("5 readings have not been saved. Close and discard them?"));
        QVERIFY(rig.window->isVisible());
    }

    // While the report preview is open the glass follows the meter; the
    // readings are logged when it closes, in order, after the rows the report
    // showed.
    void previewLetsTheMeterGoOn() {
        Rig rig;
        QVERIFY(rig.connect());
        QVERIFY(rig.logThroughPoll(1000, 2));
        auto* max = rig.child<QLabel>("MaxText");
        QString maxWhileOpen;
        std::size_t rowsWhileOpen = 0;
        bool opened = false;
        QTimer watch;
        watch.setInterval(20);
        QObject::connect(&watch, &QTimer::timeout, [&] {
            QWidget* preview = QApplication::activeModalWidget();
            if (!preview || preview->objectName() != "ReportPreview" || opened)
                return;
            opened = true;
            for (int i = 0; i < 5; ++i)
                rig.bridge->queueRead(luxFrame(1100 + i));
            // The glass shows the last of them, while the preview stays open.
            if (!QTest::qWaitFor([&] { return rig.bridge->pendingReads() == 0; }, 5000))
                qWarning("the poll did not take the frames");
            QTest::qWait(300);
            maxWhileOpen = max->text();
            rowsWhileOpen = rig.log().rowCount();
            QTest::keyClick(preview, Qt::Key_Escape);
        });
        watch.start();
        QTest::mouseClick(rig.child<QToolButton>("BtPrint"), Qt::LeftButton);
        watch.stop();
        QVERIFY2(opened, "the report preview did not open");
        QCOMPARE(rowsWhileOpen, std::size_t{2});
        QCOMPARE(values(rig.log()),
                 (QStringList{"1000", "1001", "1100", "1101", "1102", "1103", "1104"}));
        QCOMPARE(maxWhileOpen, QString("1104"));
        // Each row kept the time it arrived: none after the next.
        for (std::size_t i = 1; i < rig.log().rowCount(); ++i)
            QVERIFY(rig.log().textString(i - 1, Field::Time) <=
                    rig.log().textString(i, Field::Time));
        QVERIFY(rig.dialogs.texts.isEmpty());
    }

    // The record limit stops the log: said once, with the count and the way
    // to raise it; a larger limit lets the log go on.
    void fullLogIsToldOnce() {
        Rig rig;
        QVERIFY(rig.connect());
        rig.window->recorder().setMaxRecords(3);
        BoxUser user({pressKey(Qt::Key_Return)});
        QVERIFY(rig.logThroughPoll(1000, 3));
        for (int i = 0; i < 4; ++i)
            rig.bridge->queueRead(luxFrame(2000 + i));
        QTRY_VERIFY_WITH_TIMEOUT(user.done(), 5000);
        QTest::qWait(500); // more readings, no second message
        QCOMPARE(user.seen.size(), 1);
        QCOMPARE(user.unexpected, 0);
        QVERIFY(user.seen[0].startsWith("The log is full: 3 readings, the record limit."));
        QVERIFY(user.seen[0].contains("Record menu"));
        QCOMPARE(rig.log().rowCount(), std::size_t{3});
        // A larger limit from the menu: logging goes on without a word.
        rig.child<QAction>("N10001")->trigger();
        QVERIFY(rig.logThroughPoll(3000, 2));
        QTest::qWait(300);
        QCOMPARE(user.seen.size(), 1);
    }

private:
    QTemporaryDir m_data;
};

QTEST_MAIN(UnsavedQuestionsTest)
#include "unsaved_questions_test.moc"
