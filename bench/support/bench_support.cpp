#include "support/bench_support.h"

#include "support/figure.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QFileInfo>
#include <QTimer>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <sys/resource.h>

namespace kq::bench {

namespace {

using Clock = std::chrono::steady_clock;

double cpuSeconds() {
    rusage ru{};
    getrusage(RUSAGE_SELF, &ru);
    return static_cast<double>(ru.ru_utime.tv_sec + ru.ru_stime.tv_sec) +
           static_cast<double>(ru.ru_utime.tv_usec + ru.ru_stime.tv_usec) / 1e6;
}

long voluntarySwitches() {
    rusage ru{};
    getrusage(RUSAGE_SELF, &ru);
    return ru.ru_nvcsw;
}

} // namespace

void runEventLoopFor(int ms) {
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

bool waitFor(const std::function<bool()>& done, int ms) {
    const auto until = Clock::now() + std::chrono::milliseconds(ms);
    while (!done() && Clock::now() < until)
        runEventLoopFor(20);
    return done();
}

Load loadOver(int seconds) {
    const double cpu0 = cpuSeconds();
    const long switches0 = voluntarySwitches();
    const auto t0 = Clock::now();
    runEventLoopFor(seconds * 1000);
    const double wall = std::chrono::duration<double>(Clock::now() - t0).count();
    return {100.0 * (cpuSeconds() - cpu0) / wall,
            static_cast<double>(voluntarySwitches() - switches0) / wall};
}

double loadAverage() {
    std::ifstream in("/proc/loadavg");
    double oneMinute = -1.0;
    in >> oneMinute;
    return in ? oneMinute : -1.0;
}

void printLoadedFigure(const char* name, double value, const char* unit) {
    printFigure(name, value, unit);
    printFigure((std::string(name) + "_load_average").c_str(), loadAverage(), "load");
}

MeterProcess::MeterProcess(const QStringList& options) {
    m_link = m_dir.filePath("meter");
    const QString pathFile = m_dir.filePath("meter.path");
    const char* sim = std::getenv("KQ_SIM");
    m_process.setProgram(sim ? QString::fromLocal8Bit(sim)
                             : QCoreApplication::applicationDirPath() + "/../tools/kqmeter-sim");
    m_process.setArguments(options + QStringList{"--link", m_link, "--path-file", pathFile});
    m_process.start();
    m_ok = waitFor([&] { return QFileInfo(pathFile).size() > 0; }, 10000);
    if (!m_ok)
        std::fprintf(stderr, "virtual meter did not start (%s)\n", qPrintable(m_process.program()));
}

MeterProcess::~MeterProcess() {
    m_process.terminate();
    m_process.waitForFinished(5000);
}

} // namespace kq::bench
