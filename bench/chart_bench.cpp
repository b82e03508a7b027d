// The trend chart's cost per refresh as the window makes it at 60 frames a second: a quarter
// second of readings (15 points), the refresh, and the paint that follows. Two cases: readings
// of one size (the axes hold still but for a page turn every 100 points), and readings that
// change the value axis at every refresh (the USB benchmark's meter shows 19.99, 1500, 0 and
// 123.4 in turn).
//
//   chart_bench                  prints chart_refresh_ms_steady and chart_refresh_ms_axis_change
//   chart_bench --counted CASE N under callgrind --instr-atstart=no: counts N refreshes of CASE
//                                (steady or axis), printing "refreshes N"

#include "app/chart_panel.h"
#include "record/chart_pager.h"
#include "support/figure.h"

#include <QApplication>
#include <QWidget>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <string>
#include <sys/resource.h>
#include <valgrind/callgrind.h>
#include <vector>

namespace {

double cpuSeconds() {
    rusage ru{};
    getrusage(RUSAGE_SELF, &ru);
    return static_cast<double>(ru.ru_utime.tv_sec + ru.ru_stime.tv_sec) +
           static_cast<double>(ru.ru_utime.tv_usec + ru.ru_stime.tv_usec) / 1e6;
}

// The window around the chart, at the window's place for it, fed as the reading log feeds it.
class ChartWindow {
public:
    explicit ChartWindow(bool axisChanges) : m_axisChanges(axisChanges) {
        m_window.resize(719, 544);
        m_panel = new kq::app::ChartPanel(m_pager, &m_window);
        m_panel->move(400, 152);
        m_window.show();
        QApplication::processEvents();
    }

    // A quarter second of readings, the refresh and its paint.
    void refreshOnce() {
        static constexpr double kTurns[] = {19.99, 1500, 0, 123.4};
        for (int i = 0; i < 15; ++i, ++m_count) {
            const double v = m_axisChanges ? kTurns[m_count % 4] : 10 + (m_count % 9);
            // the axis half range the reading log picks for a value of this size
            const double size = std::fabs(v);
            const double n = size <= 20 ? 20 : size <= 200 ? 200 : size <= 2000 ? 2000 : 20000;
            m_pager.SetYMax(n);
            m_pager.SetYMin(-n);
            m_pager.AddValue(v);
        }
        m_panel->refresh();
        QApplication::processEvents();
    }

private:
    bool m_axisChanges;
    QWidget m_window;
    kq::record::TChartControl m_pager{100};
    kq::app::ChartPanel* m_panel = nullptr;
    long m_count = 0;
};

// Median CPU milliseconds of one refresh over `rounds` refreshes in batches of ten.
double refreshMs(bool axisChanges, int rounds) {
    ChartWindow w(axisChanges);
    w.refreshOnce(); // the first paint of the window is not a refresh
    std::vector<double> batches;
    for (int b = 0; b < rounds / 10; ++b) {
        const double t0 = cpuSeconds();
        for (int i = 0; i < 10; ++i)
            w.refreshOnce();
        batches.push_back((cpuSeconds() - t0) * 1000.0 / 10);
    }
    std::sort(batches.begin(), batches.end());
    return batches.empty() ? -1.0 : batches[batches.size() / 2];
}

} // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    if (argc == 4 && std::string(argv[1]) == "--counted") {
        ChartWindow w(std::string(argv[2]) == "axis");
        const int n = std::max(1, std::atoi(argv[3]));
        w.refreshOnce();
        CALLGRIND_START_INSTRUMENTATION;
        for (int i = 0; i < n; ++i)
            w.refreshOnce();
        CALLGRIND_STOP_INSTRUMENTATION;
        std::printf("refreshes %d\n", n);
        return 0;
    }
    printFigure("chart_refresh_ms_steady", refreshMs(false, 200), "ms");
    printFigure("chart_refresh_ms_axis_change", refreshMs(true, 200), "ms");
    return 0;
}
