#pragma once

#include <QProcess>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

#include <functional>

// What the window benchmarks share: running the event loop, the process's
// CPU and wake-ups over a span, and the virtual meter as a process.
namespace kq::bench {

void runEventLoopFor(int ms);
// Runs the loop until done() or `ms` have passed; done() as it is then.
bool waitFor(const std::function<bool()>& done, int ms);

struct Load {
    double cpuPercent = -1.0;     // of one core
    double wakeupsPerSecond = -1; // voluntary context switches
};
// Runs the event loop for `seconds` and returns this process's CPU time in
// percent of one core over that time, and how often it went to sleep of its
// own accord (each is a wake-up later).
Load loadOver(int seconds);

// The one-minute load average of the machine, -1 when unknown: CPU
// percentages and ticks swing with it.
double loadAverage();

// Prints a figure that swings with the machine's load (a CPU share, a
// tick), then the load average it was measured at, as NAME_load_average.
void printLoadedFigure(const char* name, double value, const char* unit);

// The virtual meter (kqmeter-sim, or $KQ_SIM) sending on a line that a link
// in a temporary folder points to. Unlike the tests' meter it reports
// nothing per frame, so a run of hours costs the benchmark nothing.
class MeterProcess {
public:
    explicit MeterProcess(const QStringList& options);
    ~MeterProcess();
    MeterProcess(const MeterProcess&) = delete;
    MeterProcess& operator=(const MeterProcess&) = delete;

    // The line is open (false after ten seconds without it, said on stderr).
    bool ok() const { return m_ok; }
    // What a program opens to reach the meter.
    QString link() const { return m_link; }

private:
    QTemporaryDir m_dir;
    QString m_link;
    QProcess m_process;
    bool m_ok = false;
};

} // namespace kq::bench
