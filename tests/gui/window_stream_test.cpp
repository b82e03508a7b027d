// The window fed by a scripted bridge at a meter's pace: frames arrive through
// the poll and reach the glass, the log and the grid through the paced
// redraws and the real one-second record timer, not through direct calls.
#include "app/lcd_panel.h"
#include "app/tfcomm.h"
#include "links/usbbridge_fake.h"
#include "record/recorder.h"
#include "support/frames.h"
#include "support/recording_dialogs.h"
#include "support/window_rig.h"

#include <QAbstractButton>
#include <QCheckBox>
#include <QImage>
#include <QLineEdit>
#include <QSignalSpy>
#include <QTableView>
#include <QTimer>
#include <QtTest>

#include <memory>
#include <string>
#include <vector>

using kq::app::TFCOMM;
using kq::links::FakeUsbBridge;
using Field = kq::record::LogTable::Field;
using kq::test::luxFrame;
using kq::test::RecordingDialogs;

namespace {

// The window over a bridge with one meter, connected by a click.
struct Rig {
    RecordingDialogs dialogs;
    FakeUsbBridge* bridge = nullptr;
    std::unique_ptr<TFCOMM> window;

    Rig() : window(kq::test::windowOverOneMeter(dialogs, bridge)) {}
    bool connect() {
        auto* usb = window->findChild<QAbstractButton*>("USB");
        if (usb == nullptr)
            return false;
        QTest::mouseClick(usb, Qt::LeftButton);
        return usb->isChecked();
    }
    const kq::record::LogTable& log() { return window->recorder().cds1; }
    QString gridValue(int row) const {
        const auto* grid = window->findChild<QTableView*>("DBGrid1");
        const QAbstractItemModel* m = grid->model();
        for (int c = 0; c < m->columnCount(); ++c)
            if (m->headerData(c, Qt::Horizontal).toString() == "Value")
                return m->index(row, c).data().toString();
        return {};
    }
    int gridRows() const { return window->findChild<QTableView*>("DBGrid1")->model()->rowCount(); }
};

// Counts the times a widget paints itself.
class PaintCounter : public QObject {
public:
    explicit PaintCounter(QWidget* w) { w->installEventFilter(this); }
    int paints = 0;

protected:
    bool eventFilter(QObject*, QEvent* e) override {
        paints += e->type() == QEvent::Paint;
        return false;
    }
};

QImage picture(QWidget* w) {
    return w->grab().toImage().convertToFormat(QImage::Format_RGB32);
}

} // namespace

class WindowStreamTest : public QObject {
    Q_OBJECT
private slots:
    // Sixty frames a second for three seconds, each a new reading: far more
    // than the glass redraws, so only the pacing brings the last one in.
    void burstEndsWithTheLastReadingOnTheGlassAndEveryReadingLogged() {
        Rig rig;
        QVERIFY(rig.connect());
        auto* glass = rig.window->findChild<kq::app::LcdPanel*>("LcdPanel");
        QVERIFY(glass);
        PaintCounter glassPaints(glass);
        constexpr int kFrames = 180;
        constexpr int kFirst = 1000;
        int queued = 0;
        QTimer meter;
        QObject::connect(&meter, &QTimer::timeout, [&] {
            if (queued < kFrames)
                rig.bridge->queueRead(luxFrame(kFirst + queued++));
        });
        meter.start(1000 / 60);
        QTRY_VERIFY_WITH_TIMEOUT(queued == kFrames && rig.bridge->pendingReads() == 0, 60000);
        meter.stop();
        // The glass kept following while frames poured in (it may skip frames,
        // but not wait for the stream to end).
        QVERIFY2(glassPaints.paints >= kFrames / 20,
                 qPrintable(QString("%1 paints of the glass").arg(glassPaints.paints)));

        // Every reading a row, in order, numbered from 1 (Repeat is on at start);
        // the last read reaches the window with the poll after it.
        QTRY_COMPARE(rig.log().rowCount(), std::size_t{kFrames});
        for (std::size_t i = 0; i < kFrames; ++i) {
            QCOMPARE(rig.log().textString(i, Field::Value),
                     std::optional<std::string>(std::to_string(kFirst + i)));
            QCOMPARE(rig.log().textString(i, Field::No),
                     std::optional<std::string>(std::to_string(i + 1)));
        }
        QCOMPARE(rig.window->state().ValueText, std::to_string(kFirst + kFrames - 1));

        // The glass comes to show the last reading: the same picture as a glass
        // given that display directly.
        kq::app::LcdPanel expected;
        expected.resize(glass->size());
        expected.setDisplay(rig.window->state().display);
        const QImage want = picture(&expected);
        QTRY_VERIFY_WITH_TIMEOUT(picture(glass) == want, 5000);
        // A glass still on the reading before looks different.
        auto before = rig.window->state().display;
        before.digits[3].assign(1, '8'); // (a literal trips a false -Wrestrict of GCC 12)
        kq::app::LcdPanel stale;
        stale.resize(glass->size());
        stale.setDisplay(before);
        QVERIFY(picture(&stale) != want);

        // The grid shows them all, the last one at the bottom.
        QTRY_COMPARE_WITH_TIMEOUT(rig.gridRows(), kFrames, 5000);
        QCOMPARE(rig.gridValue(kFrames - 1), QString::number(kFirst + kFrames - 1));
        QVERIFY(rig.dialogs.messages.empty());
    }

    // Sampling on with the shortest interval (1 s): readings come twenty
    // times a second, but between two rows the record timer must have ticked.
    void samplingIntervalTakesOneRowPerTickOfTheRecordTimer() {
        Rig rig;
        auto* sampling = rig.window->findChild<QCheckBox*>("RecordSI");
        auto* interval = rig.window->findChild<QLineEdit*>("RecordSITime");
        auto* trecord = rig.window->findChild<QTimer*>("Trecord");
        QVERIFY(sampling && interval && trecord);
        QCOMPARE(interval->text(), QString("1"));
        QTest::mouseClick(sampling, Qt::LeftButton, {}, QPoint(6, sampling->height() / 2));
        QVERIFY(sampling->isChecked());
        QVERIFY(rig.connect());

        // Rows in the log before the first tick of the record timer and at
        // each tick, seen right after the window's own handler.
        std::vector<std::size_t> rowsAtTick{rig.log().rowCount()};
        QObject::connect(trecord, &QTimer::timeout,
                         [&] { rowsAtTick.push_back(rig.log().rowCount()); });
        int queued = 0;
        QTimer meter;
        QObject::connect(&meter, &QTimer::timeout, [&] {
            if (rig.bridge->pendingReads() == 0)
                rig.bridge->queueRead(luxFrame(1000 + queued++ % 1000));
        });
        meter.start(50);
        QTRY_VERIFY_WITH_TIMEOUT(rowsAtTick.back() >= 3, 30000);
        meter.stop();
        const int framesRead = queued - static_cast<int>(rig.bridge->pendingReads());

        for (std::size_t i = 1; i < rowsAtTick.size(); ++i)
            QVERIFY2(rowsAtTick[i] <= rowsAtTick[i - 1] + 1,
                     qPrintable(QString("%1 rows within one tick of the record timer")
                                    .arg(rowsAtTick[i] - rowsAtTick[i - 1])));
        // The readings in between were dropped whole: many more frames than
        // rows, and the rows numbered without gaps.
        QVERIFY(framesRead >= static_cast<int>(rig.log().rowCount()) + 10);
        for (std::size_t i = 0; i < rig.log().rowCount(); ++i)
            QCOMPARE(rig.log().textString(i, Field::No),
                     std::optional<std::string>(std::to_string(i + 1)));
    }
};

QTEST_MAIN(WindowStreamTest)
#include "window_stream_test.moc"
