// The serial link under load: CPU of the window process while START has
// opened COM1 and a virtual meter sends light-meter frames paced at 2400
// bit/s like a real cable (2 frames/s, and the line full at 17 frames/s),
// beside the same window with the port closed; and the framer's cost per
// byte.
//
// KQ_BENCH_SECONDS shortens the 20 s CPU runs for a quick look.

#include "app/connect_button_group.h"
#include "app/serial_controller.h"
#include "app/tfcomm.h"
#include "decode/meter_state.h"
#include "decode/model_switch.h"
#include "links/serial_framers.h"
#include "record/recorder.h"
#include "support/bench_support.h"
#include "support/figure.h"
#include "support/recording_dialogs.h"

#include <QAction>
#include <QApplication>
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <vector>

namespace {

using SilentDialogs = kq::test::TellingDialogs;
using kq::bench::runEventLoopFor;

double wakeupsPerSecond = -1; // of the last cpuPercentOver

double cpuPercentOver(int seconds) {
    const kq::bench::Load load = kq::bench::loadOver(seconds);
    wakeupsPerSecond = load.wakeupsPerSecond;
    return load.cpuPercent;
}

// A virtual serial meter on a line named by KQMETER_COM1, bytes paced at
// 2400 bit/s.
class SerialMeter {
public:
    explicit SerialMeter(double fps)
        : m_meter({"--serial", "12b", "--baud", "2400", "--values", "19.99,1500,0L,123.4", "--rate",
                   QString::number(fps)}) {
        qputenv("KQMETER_COM1", m_meter.link().toLocal8Bit());
    }
    ~SerialMeter() { qunsetenv("KQMETER_COM1"); }
    bool ok() const { return m_meter.ok(); }

private:
    kq::bench::MeterProcess m_meter;
};

// CPU of this process (the window, offscreen) in percent of one core, with
// START chosen and the meter sending `fps` frames a second; fps 0 measures
// the window with its serial port closed.
double windowCpuPercent(double fps, int seconds) {
    std::unique_ptr<SerialMeter> meter;
    if (fps > 0) {
        meter = std::make_unique<SerialMeter>(fps);
        if (!meter->ok())
            return -1.0;
    }
    SilentDialogs dialogs;
    kq::app::TFCOMM w(dialogs);
    w.show();
    if (meter)
        w.findChild<QAction*>("BTCon1")->trigger();
    runEventLoopFor(1000); // connected and settled
    const std::size_t rowsBefore = w.recorder().cds1.rowCount();
    const double percent = cpuPercentOver(seconds);
    const auto rows = w.recorder().cds1.rowCount() - rowsBefore;
    std::fprintf(stderr, "window, serial %g fps at 2400 bit/s: %zu readings in %d s, %.2f%% CPU\n",
                 fps, rows, seconds, percent);
    if (dialogs.shown || (meter && rows == 0))
        return -1.0; // not connected: no figure
    return percent;
}

// The same without widgets: the port, its polling timer, the framer, the
// decoder and the log, to tell the link's share from the window's drawing.
double linkCpuPercent(double fps, int seconds) {
    SerialMeter meter(fps);
    if (!meter.ok())
        return -1.0;
    SilentDialogs dialogs;
    kq::decode::MeterState state;
    const auto startup = kq::decode::applyStartup(state, kq::decode::builtModelSwitches(), ".");
    kq::record::Recorder recorder;
    kq::app::ConnectButtonGroup group;
    kq::app::SerialController serial(startup, state, &recorder, dialogs, group, nullptr, nullptr,
                                     nullptr, {});
    serial.BTCon1Click();
    runEventLoopFor(1000);
    const std::size_t rowsBefore = recorder.cds1.rowCount();
    const double percent = cpuPercentOver(seconds);
    const auto rows = recorder.cds1.rowCount() - rowsBefore;
    std::fprintf(stderr, "link alone, %g fps at 2400 bit/s: %zu readings in %d s, %.2f%% CPU\n",
                 fps, rows, seconds, percent);
    return rows == 0 || dialogs.shown ? -1.0 : percent;
}

// 14-byte light-meter frames, as a meter on the serial cable sends them.
std::vector<std::uint8_t> serialFrames(int count) {
    const char* digits = "00D7D7DF060008";
    std::vector<std::uint8_t> out;
    for (int f = 0; f < count; ++f)
        for (int k = 0; k < 14; ++k) {
            const char c = digits[k];
            const int v = c <= '9' ? c - '0' : c - 'A' + 10;
            out.push_back(static_cast<std::uint8_t>(((k + 1) << 4) | v));
        }
    return out;
}

// One 50 ms poll's batch at 2400 bit/s holds at most 12 bytes; this frames
// and decodes 100 whole frames per iteration.
void BM_SerialFramer12B(benchmark::State& st) {
    kq::decode::MeterState state;
    kq::decode::applyStartup(state, kq::decode::builtModelSwitches(), ".");
    const auto bytes = serialFrames(100);
    for (auto _ : st) {
        for (std::size_t at = 0; at < bytes.size(); at += 12) {
            const std::size_t n = std::min<std::size_t>(12, bytes.size() - at);
            benchmark::DoNotOptimize(kq::links::H12BRData(state, nullptr, bytes.data() + at, n));
        }
    }
    st.SetBytesProcessed(static_cast<std::int64_t>(st.iterations() * bytes.size()));
}
BENCHMARK(BM_SerialFramer12B);

} // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    int seconds = 20;
    if (const char* s = std::getenv("KQ_BENCH_SECONDS"))
        seconds = std::max(1, std::atoi(s));

    kq::bench::printLoadedFigure("serial_window_cpu_percent_port_closed",
                                 windowCpuPercent(0, seconds), "%");
    printFigure("serial_window_wakeups_per_s_port_closed", wakeupsPerSecond, "/s");
    kq::bench::printLoadedFigure("serial_window_cpu_percent_2400bps_2fps",
                                 windowCpuPercent(2, seconds), "%");
    kq::bench::printLoadedFigure("serial_window_cpu_percent_2400bps_17fps",
                                 windowCpuPercent(17, seconds), "%");
    kq::bench::printLoadedFigure("serial_link_cpu_percent_2400bps_17fps",
                                 linkCpuPercent(17, seconds), "%");

    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
