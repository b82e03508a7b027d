// Soak: a million frames through the window (offscreen) from the virtual
// meter at its full speed, over the serial link, every reading logged (Repeat
// on, limitless) with the recovery journal on. Prints frames/s, the longest
// the event loop was held up (the largest tick; and the same less the time
// the window waited for a core, which on a busy machine is most of it), and
// the growth of resident memory beyond what the rows and chart points
// themselves hold, per 100k frames. On stderr it tells each event that held
// the loop for 50 ms or more (Qt's event type: 1 a timer, 43 a queued call,
// 77 a repaint), with the CPU, the wait for a core, the sleeps and the page
// faults from disk in it: what is left of the time is a wait on the kernel
// (a disk sync, a lock of the line).
//
// The meter sends at most 1000 frames/s, so a run takes about 17 minutes;
// KQ_SOAK_FRAMES sets another number of frames for a quick look;
// KQ_SOAK_NO_JOURNAL=1 runs it with the recovery journal off.

#include "app/tfcomm.h"
#include "record/recorder.h"
#include "support/bench_support.h"
#include "support/figure.h"
#include "support/recording_dialogs.h"

#include <QAction>
#include <QApplication>
#include <QElapsedTimer>
#include <QTemporaryDir>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <fcntl.h>
#include <fstream>
#include <string>
#include <sys/resource.h>
#include <unistd.h>

namespace {

double threadCpuMs() {
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) * 1e3 + static_cast<double>(t.tv_nsec) / 1e6;
}

double wallMs() {
    timespec t{};
    clock_gettime(CLOCK_MONOTONIC, &t);
    return static_cast<double>(t.tv_sec) * 1e3 + static_cast<double>(t.tv_nsec) / 1e6;
}

// Nanoseconds this thread has waited on a run queue for a core (the
// kernel's schedstat): on a busy machine most of a long tick is that wait.
long long runQueueWaitNs() {
    static const int fd = ::open("/proc/thread-self/schedstat", O_RDONLY | O_CLOEXEC);
    char text[128] = {};
    if (fd < 0 || ::pread(fd, text, sizeof text - 1, 0) <= 0)
        return 0;
    long long running = 0, waiting = 0;
    std::sscanf(text, "%lld %lld", &running, &waiting);
    return waiting;
}

// Page faults that had to read from the disk, and sleeps, of this thread.
struct Waits {
    long majorFaults = 0, sleeps = 0;
};
Waits threadWaits() {
    rusage ru{};
    getrusage(RUSAGE_THREAD, &ru);
    return {ru.ru_majflt, ru.ru_nvcsw};
}

// Times every event the loop hands out (the outermost only): a long tick is
// one event or a few, and its name tells where to look; the thread's own CPU
// time beside the wall time tells work from waiting (a disk, another process).
class TimedApplication : public QApplication {
public:
    using QApplication::QApplication;
    bool notify(QObject* receiver, QEvent* event) override {
        if (m_depth > 0 || !m_timing)
            return QApplication::notify(receiver, event);
        ++m_depth;
        const double w0 = wallMs(), c0 = threadCpuMs();
        const long long q0 = runQueueWaitNs();
        const Waits s0 = threadWaits();
        const int type = event->type();
        const bool done = QApplication::notify(receiver, event);
        const double wall = wallMs() - w0, cpu = threadCpuMs() - c0;
        const double queued = static_cast<double>(runQueueWaitNs() - q0) / 1e6;
        const Waits s1 = threadWaits();
        --m_depth;
        if (wall > worstWall || cpu > worstCpu || wall >= 50) {
            const QObject* p = receiver->parent();
            std::string what = std::string(receiver->metaObject()->className()) + " \"" +
                               receiver->objectName().toStdString() + "\" in " +
                               (p ? p->metaObject()->className() : "-") + ", event " +
                               std::to_string(type);
            if (wall >= 50)
                std::fprintf(stderr,
                             "event of %.0f ms (%.0f ms CPU, %.0f ms queued, %ld sleeps, %ld "
                             "faults from disk): %s\n",
                             wall, cpu, queued, s1.sleeps - s0.sleeps,
                             s1.majorFaults - s0.majorFaults, what.c_str());
            if (wall > worstWall) {
                worstWall = wall;
                worstWallWhat = what;
            }
            worstCpu = std::max(worstCpu, cpu);
        }
        return done;
    }
    void startTiming() { m_timing = true; }
    double worstWall = 0, worstCpu = 0;
    std::string worstWallWhat;

private:
    int m_depth = 0;
    bool m_timing = false;
};

using SilentDialogs = kq::test::TellingDialogs;
using kq::bench::runEventLoopFor;

long long residentBytes() {
    std::ifstream statm("/proc/self/statm");
    long long size = 0, resident = 0;
    statm >> size >> resident;
    return resident * sysconf(_SC_PAGESIZE);
}

} // namespace

int main(int argc, char** argv) {
    TimedApplication app(argc, argv);
    long long frames = 1000000;
    if (const char* n = std::getenv("KQ_SOAK_FRAMES"))
        frames = std::max(1000LL, std::atoll(n));

    QTemporaryDir dir;
    qputenv("XDG_DATA_HOME", dir.filePath("data").toLocal8Bit());
    kq::bench::MeterProcess meter(
        {"--serial", "12b", "--values", "19.99,1500,0L,123.4", "--rate", "1000"});
    if (!meter.ok())
        return 1;
    qputenv("KQMETER_COM1", meter.link().toLocal8Bit());

    SilentDialogs dialogs;
    kq::app::TFCOMM w(dialogs);
    w.show();
    w.findChild<QAction*>("limitess")->trigger();
    // KQ_SOAK_NO_JOURNAL=1: the same without the recovery journal, to tell its share.
    if (const char* off = std::getenv("KQ_SOAK_NO_JOURNAL"); off && *off)
        w.findChild<QAction*>("RecoveryJournal")->setChecked(false);
    w.findChild<QAction*>("BTCon1")->trigger();
    const auto readings = [&] { return static_cast<long long>(w.recorder().log().RecordNo) - 1; };

    // The largest tick: the longest gap between two turns of a 5 ms timer;
    // beside it the same less the time the thread waited for a core, which
    // is what the window itself took (its work and its waits on the disk).
    QElapsedTimer clock;
    clock.start();
    qint64 lastProbe = -1, largestGap = 0;
    long long lastQueued = 0;
    double largestOwnGap = 0;
    QTimer probe;
    QObject::connect(&probe, &QTimer::timeout, [&] {
        const qint64 now = clock.elapsed();
        const long long queued = runQueueWaitNs();
        if (lastProbe >= 0) {
            const double own = static_cast<double>(now - lastProbe) -
                               static_cast<double>(queued - lastQueued) / 1e6;
            largestOwnGap = std::max(largestOwnGap, own);
            if (now - lastProbe > largestGap) {
                largestGap = now - lastProbe;
                if (largestGap >= 50) // where in the run the long ticks happen
                    std::fprintf(
                        stderr,
                        "tick of %lld ms (%.0f ms less the wait for a core) at %lld readings\n",
                        static_cast<long long>(largestGap), own, readings());
            }
        }
        lastProbe = now;
        lastQueued = queued;
    });

    // Measured from the first reading on, so start-up costs do not count.
    for (int i = 0; i < 500 && readings() == 0; ++i)
        runEventLoopFor(20);
    if (readings() == 0) {
        std::fprintf(stderr, "no reading arrived\n");
        return 1;
    }
    probe.start(5);
    app.startTiming();
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
    std::fprintf(stderr, "longest event %.0f ms: %s; most CPU in one event %.0f ms\n",
                 app.worstWall, app.worstWallWhat.c_str(), app.worstCpu);
    printFigure("soak_frames_per_s", done / seconds, "frames/s");
    kq::bench::printLoadedFigure("soak_largest_tick", static_cast<double>(largestGap), "ms");
    printFigure("soak_largest_tick_less_core_wait", largestOwnGap, "ms");
    // The most CPU the window spent on one event: its own work, whatever the load.
    printFigure("soak_most_cpu_in_one_event", app.worstCpu, "ms");
    printFigure("soak_growth_beyond_rows_per_100k", beyond / 1024.0 / (double(done) / 100000.0),
                "KiB");
    printFigure("soak_worst_100k_growth_beyond_rows", worstPer100k, "KiB");
    if (steadyRss >= 0 && readings() > steadyFrom)
        printFigure("soak_steady_growth_beyond_rows_per_100k",
                    double((rss - steadyRss) - (rows - steadyRows)) / 1024.0 /
                        (double(readings() - steadyFrom) / 100000.0),
                    "KiB");
    return dialogs.shown || readings() < frames ? 1 : 0;
}
