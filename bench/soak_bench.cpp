// Soak: a million frames through the window (offscreen) from the virtual
// meter at its full speed, over the serial link, every reading logged (Repeat
// on, limitless) with the recovery journal on. Prints frames/s, the longest
// the event loop was held up (the largest tick), and the growth of resident
// memory beyond what the rows and chart points themselves hold, per 100k frames.
//
// The meter sends at most 1000 frames/s, so a run takes about 17 minutes;
// KQ_SOAK_FRAMES sets another number of frames for a quick look;
// KQ_SOAK_NO_JOURNAL=1 runs it with the recovery journal off.

#include "app/tfcomm.h"
#include "figure.h"
#include "record/recorder.h"
#include "support/recording_dialogs.h"

#include <QAction>
#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <unistd.h>

namespace {

using SilentDialogs = kq::test::TellingDialogs;

void runEventLoopFor(int ms) {
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

long long residentBytes() {
    std::ifstream statm("/proc/self/statm");
    long long size = 0, resident = 0;
    statm >> size >> resident;
    return resident * sysconf(_SC_PAGESIZE);
}

} // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    long long frames = 1000000;
    if (const char* n = std::getenv("KQ_SOAK_FRAMES"))
        frames = std::max(1000LL, std::atoll(n));

    QTemporaryDir dir;
    qputenv("XDG_DATA_HOME", dir.filePath("data").toLocal8Bit());
    const QString link = dir.filePath("com1");
    const QString pathFile = dir.filePath("com1.path");
    QProcess meter;
    const char* sim = std::getenv("KQ_SIM");
    meter.setProgram(sim ? QString::fromLocal8Bit(sim)
                         : QCoreApplication::applicationDirPath() + "/../tools/kqmeter-sim");
    meter.setArguments({"--serial", "12b", "--values", "19.99,1500,0L,123.4", "--rate", "1000",
                        "--link", link, "--path-file", pathFile});
    meter.start();
    for (int i = 0; i < 500 && QFileInfo(pathFile).size() == 0; ++i)
        runEventLoopFor(20);
    if (QFileInfo(pathFile).size() == 0) {
        std::fprintf(stderr, "virtual meter did not start (%s)\n", qPrintable(meter.program()));
        return 1;
    }
    qputenv("KQMETER_COM1", link.toLocal8Bit());

    SilentDialogs dialogs;
    kq::app::TFCOMM w(dialogs);
    w.show();
    w.findChild<QAction*>("limitess")->trigger();
    // KQ_SOAK_NO_JOURNAL=1: the same without the recovery journal, to tell its share.
    if (const char* off = std::getenv("KQ_SOAK_NO_JOURNAL"); off && *off)
        w.findChild<QAction*>("RecoveryJournal")->setChecked(false);
    w.findChild<QAction*>("BTCon1")->trigger();
    const auto readings = [&] { return static_cast<long long>(w.recorder().log().RecordNo) - 1; };

    // The largest tick: the longest gap between two turns of a 5 ms timer.
    QElapsedTimer clock;
    clock.start();
    qint64 lastProbe = -1, largestGap = 0;
    QTimer probe;
    QObject::connect(&probe, &QTimer::timeout, [&] {
        const qint64 now = clock.elapsed();
        if (lastProbe >= 0 && now - lastProbe > largestGap) {
            largestGap = now - lastProbe;
            if (largestGap >= 50) // where in the run the long ticks happen
                std::fprintf(stderr, "tick of %lld ms at %lld readings\n",
                             static_cast<long long>(largestGap), readings());
        }
        lastProbe = now;
    });

    // Measured from the first reading on, so start-up costs do not count.
    for (int i = 0; i < 500 && readings() == 0; ++i)
        runEventLoopFor(20);
    if (readings() == 0) {
        std::fprintf(stderr, "no reading arrived\n");
        return 1;
    }
    probe.start(5);
    const long long r0 = readings();
    const long long rss0 = residentBytes();
    const long long rows0 = static_cast<long long>(w.recorder().memoryBytes());
    QElapsedTimer run;
    run.start();
    long long nextMark = r0 + 100000, markRss = rss0, markRows = rows0;
    double worstPer100k = 0.0;
    // Growth once the first 100k frames have warmed the caches and pools up.
    long long steadyRss = -1, steadyRows = 0, steadyFrom = 0;
    long long last = r0;
    qint64 lastProgress = 0;
    while (readings() < frames && run.elapsed() - lastProgress < 15000) {
        runEventLoopFor(250);
        const long long now = readings();
        if (now != last) {
            last = now;
            lastProgress = run.elapsed();
        }
        if (now >= nextMark) {
            const long long rss = residentBytes();
            const long long rows = static_cast<long long>(w.recorder().memoryBytes());
            const double growth = double((rss - markRss) - (rows - markRows)) / 1024.0;
            worstPer100k = std::max(worstPer100k, growth);
            std::fprintf(stderr,
                         "%lld readings, %.0f s: resident %+.0f KiB, rows and points %+.0f KiB, "
                         "beyond them %+.0f KiB\n",
                         now, run.elapsed() / 1000.0, (rss - markRss) / 1024.0,
                         (rows - markRows) / 1024.0, growth);
            markRss = rss;
            markRows = rows;
            if (steadyRss < 0) {
                steadyRss = rss;
                steadyRows = rows;
                steadyFrom = now;
            }
            nextMark += 100000;
        }
    }
    const double seconds = run.elapsed() / 1000.0;
    const long long done = readings() - r0;
    const long long rss = residentBytes();
    const long long rows = static_cast<long long>(w.recorder().memoryBytes());
    const double beyond = double((rss - rss0) - (rows - rows0));
    std::fprintf(stderr, "%lld frames in %.1f s, %zu rows, resident %+.1f MiB, rows %+.1f MiB\n",
                 done, seconds, w.recorder().cds1.rowCount(), (rss - rss0) / 1048576.0,
                 (rows - rows0) / 1048576.0);
    printFigure("soak_frames_per_s", done / seconds, "frames/s");
    printFigure("soak_largest_tick", static_cast<double>(largestGap), "ms");
    printFigure("soak_growth_beyond_rows_per_100k", beyond / 1024.0 / (double(done) / 100000.0),
                "KiB");
    printFigure("soak_worst_100k_growth_beyond_rows", worstPer100k, "KiB");
    if (steadyRss >= 0 && readings() > steadyFrom)
        printFigure("soak_steady_growth_beyond_rows_per_100k",
                    double((rss - steadyRss) - (rows - steadyRows)) / 1024.0 /
                        (double(readings() - steadyFrom) / 100000.0),
                    "KiB");
    meter.kill();
    meter.waitForFinished(5000);
    return dialogs.shown || readings() < frames ? 1 : 0;
}
