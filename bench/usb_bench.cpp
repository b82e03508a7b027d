// The USB bridge link under load: CPU of the window process while it polls a
// virtual meter at 2 and 60 frames/s, the time from a meter's write to the
// decoded display, and the cost of one poll tick.
//
// KQ_BENCH_SECONDS shortens the 20 s CPU runs for a quick look.

#include "app/connect_button_group.h"
#include "app/tfcomm.h"
#include "app/usb_controller.h"
#include "decode/meter_state.h"
#include "decode/model_switch.h"
#include "links/usb_link.h"
#include "links/usbbridge_fake.h"
#include "links/usbbridge_tty.h"
#include "record/recorder.h"
#include "support/bench_support.h"
#include "support/figure.h"
#include "support/frames.h"
#include "support/recording_dialogs.h"

#include <QAbstractButton>
#include <QApplication>
#include <QPushButton>
#include <QTimer>
#include <benchmark/benchmark.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <termios.h>
#include <thread>
#include <unistd.h>
#include <valgrind/callgrind.h>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;
using SilentDialogs = kq::test::TellingDialogs;
using kq::bench::Load;
using kq::bench::loadOver;
using kq::bench::runEventLoopFor;
using kq::bench::waitFor;

QAbstractButton* usbButton(kq::app::TFCOMM& w) {
    return w.findChild<QAbstractButton*>("USB");
}

// A virtual meter on the bridge cable, attached the way a user would:
// KQMETER_BRIDGE_DEVICES.
class VirtualMeter {
public:
    explicit VirtualMeter(double fps)
        : m_meter({"--values", "19.99,1500,0L,123.4", "--rate", QString::number(fps)}) {
        qputenv(kq::links::kBridgeDevicesEnv, m_meter.link().toLocal8Bit());
    }
    bool ok() const { return m_meter.ok(); }

private:
    kq::bench::MeterProcess m_meter;
};

double cpuPercentOver(int seconds) {
    return loadOver(seconds).cpuPercent;
}

// CPU of this process (the window, offscreen) connected to a virtual meter
// sending `fps` frames per second, in percent of one core, and its wake-ups.
// Under callgrind (`counted`) only the measured span is counted, and the
// readings logged in it are printed for the instructions-per-frame figure.
Load windowLoad(double fps, int seconds, bool counted = false) {
    VirtualMeter meter(fps);
    if (!meter.ok())
        return {};
    SilentDialogs dialogs;
    kq::app::TFCOMM w(dialogs);
    w.show();
    usbButton(w)->click();
    runEventLoopFor(1000); // connected and settled
    const std::size_t rowsBefore = w.recorder().cds1.rowCount();
    if (counted)
        CALLGRIND_START_INSTRUMENTATION;
    const Load load = loadOver(seconds);
    if (counted)
        CALLGRIND_STOP_INSTRUMENTATION;
    const auto rows = w.recorder().cds1.rowCount() - rowsBefore;
    std::fprintf(stderr,
                 "window, %g fps: %zu readings logged in %d s, %.2f%% CPU, %.1f wake-ups/s\n", fps,
                 rows, seconds, load.cpuPercent, load.wakeupsPerSecond);
    if (counted)
        std::printf("displayed %zu\n", rows);
    if (rows == 0 || dialogs.shown)
        return {}; // not connected: no figure
    return load;
}

// The same without widgets: the link, its poll and the log, to tell the
// link's share from the window's drawing.
double linkCpuPercent(double fps, int seconds) {
    VirtualMeter meter(fps);
    if (!meter.ok())
        return -1.0;
    SilentDialogs dialogs;
    kq::decode::MeterState state;
    kq::decode::applyStartup(state, kq::decode::builtModelSwitches(), ".");
    kq::record::Recorder recorder;
    QPushButton button;
    kq::app::ConnectButtonGroup group;
    kq::app::UsbController usb(nullptr, state, &recorder, dialogs, group, &button, nullptr, {});
    button.click();
    runEventLoopFor(1000);
    const std::size_t rowsBefore = recorder.cds1.rowCount();
    const double percent = cpuPercentOver(seconds);
    const auto rows = recorder.cds1.rowCount() - rowsBefore;
    std::fprintf(stderr, "link alone, %g fps: %zu readings logged in %d s, %.2f%% CPU\n", fps, rows,
                 seconds, percent);
    return rows == 0 || dialogs.shown ? -1.0 : percent;
}

// Median milliseconds from the write of a frame on the meter's side of the
// line to its decoding in the window (seen within a millisecond).
double frameToGlassLatencyMs(int frames) {
    const int master = ::posix_openpt(O_RDWR | O_NOCTTY);
    if (master < 0 || ::grantpt(master) != 0 || ::unlockpt(master) != 0)
        return -1.0;
    termios tio{};
    ::tcgetattr(master, &tio);
    ::cfmakeraw(&tio);
    ::tcsetattr(master, TCSANOW, &tio);
    kq::links::TtyUsbBridge::Discovery d;
    d.paths = std::vector<std::string>{::ptsname(master)};
    SilentDialogs dialogs;
    kq::app::TFCOMM w(dialogs, std::make_unique<kq::links::TtyUsbBridge>(d));
    w.show();
    usbButton(w)->click();
    runEventLoopFor(200);

    std::mutex mutex;
    std::map<std::string, Clock::time_point> written;
    std::vector<double> latencies;
    QTimer watch;
    watch.setTimerType(Qt::PreciseTimer);
    QObject::connect(&watch, &QTimer::timeout, [&] {
        const auto now = Clock::now();
        std::lock_guard lock(mutex);
        auto it = written.find(w.state().ValueText);
        if (it != written.end()) {
            latencies.push_back(
                std::chrono::duration<double, std::milli>(now - it->second).count());
            written.erase(it);
        }
    });
    watch.start(1);
    std::atomic<bool> stop{false};
    std::thread meter([&] {
        for (int i = 0; i < frames && !stop; ++i) {
            const int value = 1000 + i % 9000;
            const auto bytes = kq::test::luxFrame(value);
            {
                std::lock_guard lock(mutex);
                written[std::to_string(value)] = Clock::now();
            }
            if (::write(master, bytes.data(), bytes.size()) != static_cast<ssize_t>(bytes.size()))
                break;
            // Off the poll's 10 ms beat, so every phase of it is met.
            std::this_thread::sleep_for(std::chrono::milliseconds(37 + i % 7));
        }
    });
    waitFor(
        [&] {
            std::lock_guard lock(mutex);
            return static_cast<int>(latencies.size()) >= frames;
        },
        frames * 60 + 2000);
    stop = true;
    meter.join();
    watch.stop();
    ::close(master);
    if (latencies.empty())
        return -1.0;
    std::sort(latencies.begin(), latencies.end());
    std::fprintf(stderr, "latency: %zu of %d frames, min %.2f ms, max %.2f ms\n", latencies.size(),
                 frames, latencies.front(), latencies.back());
    return latencies[latencies.size() / 2];
}

struct TickFigures {
    double worstTickMs = -1.0;
    int sent = 0;
    int lost = -1;
};

// The poll as the window runs it (a tick every 10 ms on one thread) over a
// real line, while a meter sends `fps` frames a second, each arriving in USB
// packets of `packetBytes` bytes `packetGapMs` apart, as a bridge passes bytes
// on. Reports the longest tick and the frames that never reached the log.
TickFigures pollUnderLoad(double fps, int seconds, int packetBytes, int packetGapMs) {
    TickFigures out;
    const int master = ::posix_openpt(O_RDWR | O_NOCTTY);
    if (master < 0 || ::grantpt(master) != 0 || ::unlockpt(master) != 0)
        return out;
    termios tio{};
    ::tcgetattr(master, &tio);
    ::cfmakeraw(&tio);
    ::tcsetattr(master, TCSANOW, &tio);
    kq::links::TtyUsbBridge::Discovery d;
    d.paths = std::vector<std::string>{::ptsname(master)};
    kq::links::TtyUsbBridge bridge(d);
    kq::links::UsbLink link(bridge);
    if (link.usb_dllClick().message != kq::links::UsbMessage::None) {
        ::close(master);
        return out;
    }
    link.startReading(); // as the window reads
    struct Values : kq::decode::ReadingSink {
        std::set<std::string> seen;
        void INDataToTable(const kq::decode::MeterState& s) override { seen.insert(s.ValueText); }
    } sink;
    kq::decode::MeterState state;
    kq::decode::applyStartup(state, kq::decode::builtModelSwitches(), ".");

    std::atomic<bool> stop{false};
    std::atomic<int> sent{0};
    const int frames = static_cast<int>(fps * seconds);
    std::thread meter([&] {
        const auto period = std::chrono::duration<double>(1.0 / fps);
        const auto start = Clock::now() + std::chrono::milliseconds(100);
        for (int i = 0; i < frames && !stop; ++i) {
            std::this_thread::sleep_until(start +
                                          std::chrono::duration_cast<Clock::duration>(period * i));
            const auto bytes = kq::test::luxFrame(1000 + i % 9000);
            bool ok = true;
            for (std::size_t at = 0; ok && at < bytes.size();
                 at += static_cast<std::size_t>(packetBytes)) {
                if (at > 0)
                    std::this_thread::sleep_for(std::chrono::milliseconds(packetGapMs));
                const std::size_t n =
                    std::min(bytes.size() - at, static_cast<std::size_t>(packetBytes));
                ok = ::write(master, bytes.data() + at, n) == static_cast<ssize_t>(n);
            }
            if (!ok)
                break;
            ++sent;
        }
    });
    double worst = 0.0;
    int over = 0; // ticks longer than the read time-out and a millisecond for the rest
    // The meter falls behind on a loaded machine: the line is read on until
    // 400 ms after the last frame it sent.
    auto until = Clock::now() + std::chrono::seconds(seconds) + std::chrono::milliseconds(400);
    int lastSent = 0;
    auto next = Clock::now();
    while (Clock::now() < until) {
        if (sent != lastSent) {
            lastSent = sent;
            until = std::max(until, Clock::now() + std::chrono::milliseconds(400));
        }
        next += std::chrono::milliseconds(10);
        const auto t0 = Clock::now();
        do // as the window polls: every read that waits, each as a tick
            (void)link.Timer1Timer(state, &sink);
        while (link.readWaiting());
        const double ms = std::chrono::duration<double, std::milli>(Clock::now() - t0).count();
        worst = std::max(worst, ms);
        over += ms > 11.0 ? 1 : 0;
        std::this_thread::sleep_until(std::max(next, Clock::now()));
    }
    stop = true;
    meter.join();
    ::close(master);
    out.worstTickMs = worst;
    out.sent = sent;
    out.lost = sent - static_cast<int>(sink.seen.size());
    std::fprintf(stderr,
                 "poll at %g fps, packets of %d bytes %d ms apart: %d frames sent, %zu logged, "
                 "worst tick %.2f ms, %d ticks over 11 ms\n",
                 fps, packetBytes, packetGapMs, out.sent, sink.seen.size(), worst, over);
    return out;
}

// One poll tick that reads and decodes a whole frame, over the fake bridge.
void BM_PollTickDecodingAFrame(benchmark::State& st) {
    kq::links::FakeUsbBridge bridge;
    bridge.setDeviceCount(1);
    kq::links::UsbLink link(bridge);
    link.usb_dllClick();
    kq::decode::MeterState state;
    state.LocaleDecimalSeparator.push_back('.');
    const auto frame = kq::test::luxFrame(1999);
    for (auto _ : st) {
        bridge.queueRead(frame);
        benchmark::DoNotOptimize(link.Timer1Timer(state, nullptr));
        bridge.clearCalls();
    }
}
BENCHMARK(BM_PollTickDecodingAFrame);

// One idle tick: nothing arrived.
void BM_PollTickIdle(benchmark::State& st) {
    kq::links::FakeUsbBridge bridge;
    bridge.setDeviceCount(1);
    kq::links::UsbLink link(bridge);
    link.usb_dllClick();
    kq::decode::MeterState state;
    for (auto _ : st) {
        benchmark::DoNotOptimize(link.Timer1Timer(state, nullptr));
        bridge.clearCalls();
    }
}
BENCHMARK(BM_PollTickIdle);

} // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    int seconds = 20;
    if (const char* s = std::getenv("KQ_BENCH_SECONDS"))
        seconds = std::max(1, std::atoi(s));

    // usb_bench --counted FPS SECONDS: one window run for callgrind
    // (bench/instructions.sh), printing the readings it displayed.
    if (argc == 4 && std::string(argv[1]) == "--counted") {
        const Load load = windowLoad(std::atof(argv[2]), std::max(1, std::atoi(argv[3])), true);
        return load.cpuPercent < 0 ? 1 : 0;
    }

    const Load slow = windowLoad(2, seconds);
    kq::bench::printLoadedFigure("usb_poll_cpu_percent_2fps", slow.cpuPercent, "%");
    printFigure("usb_poll_wakeups_per_s_2fps", slow.wakeupsPerSecond, "/s");
    const Load fast = windowLoad(60, seconds);
    kq::bench::printLoadedFigure("usb_poll_cpu_percent_60fps", fast.cpuPercent, "%");
    printFigure("usb_poll_wakeups_per_s_60fps", fast.wakeupsPerSecond, "/s");
    kq::bench::printLoadedFigure("usb_link_cpu_percent_2fps", linkCpuPercent(2, seconds), "%");
    kq::bench::printLoadedFigure("usb_link_cpu_percent_60fps", linkCpuPercent(60, seconds), "%");
    kq::bench::printLoadedFigure("frame_to_glass_latency_ms", frameToGlassLatencyMs(200), "ms");
    // Frames in two halves with a gap after each frame, and frames at the
    // pace of the wire (4 bytes every 2 ms at 19200 bit/s, no gap at 60 frames/s).
    const TickFigures halves = pollUnderLoad(60, seconds, 16, 4);
    kq::bench::printLoadedFigure("usb_poll_worst_tick_ms_60fps_halves", halves.worstTickMs, "ms");
    printFigure("usb_poll_frames_lost_60fps_halves", halves.lost, "frames");
    const TickFigures paced = pollUnderLoad(60, seconds, 4, 2);
    kq::bench::printLoadedFigure("usb_poll_worst_tick_ms_60fps_wire_pace", paced.worstTickMs, "ms");
    printFigure("usb_poll_frames_lost_60fps_wire_pace", paced.lost, "frames");

    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
