// Memory and speed of the record at ten million readings: the log with its chart, the grid
// scrolled to any row, and a chart point added and drawn.
#include "app/chart_panel.h"
#include "app/log_grid_model.h"
#include "app/log_grid_view.h"
#include "decode/meter_state.h"
#include "record/recorder.h"
#include "support/figure.h"

#include <QApplication>
#include <QPixmap>
#include <QTableView>

#include <benchmark/benchmark.h>

#include <array>
#include <chrono>
#include <cstdio>
#include <memory>
#include <random>
#include <string>
#include <unistd.h>

namespace {

constexpr std::int32_t kRows = 10'000'000;

std::size_t residentBytes() {
    std::FILE* f = std::fopen("/proc/self/statm", "r");
    if (!f)
        return 0;
    unsigned long size = 0, resident = 0;
    const int read = std::fscanf(f, "%lu %lu", &size, &resident);
    std::fclose(f);
    return read == 2 ? resident * static_cast<std::size_t>(sysconf(_SC_PAGESIZE)) : 0;
}

// Readings as a light meter sends them: a few hundred distinct displays, one decimal point.
struct Readings {
    std::array<std::string, 1000> texts;
    Readings() {
        for (std::size_t i = 0; i < texts.size(); ++i)
            texts[i] = std::to_string(1000 + i / 10) + "." + std::to_string(i % 10);
    }
    void set(kq::decode::MeterState& s, std::size_t i) const {
        const std::size_t k = (i * 7919) % texts.size();
        s.ValueText = texts[k];
        s.ReadingValue = static_cast<float>(10000 + k);
    }
};

struct World {
    std::unique_ptr<kq::record::Recorder> recorder;
    double bytesPerRow = 0;
    double appendNs = 0;
    // the last run of each benchmark (Google Benchmark runs a function several times)
    double gridScrollMs = 0;
    double chartAddMs = 0;
    double gridAppendMs = 0;
    double gridBytesPerRow = 0;
};

World& world() {
    static World w; // built once for every benchmark of this program
    if (!w.recorder) {
        const Readings readings;
        kq::decode::MeterState s;
        s.UnitText = "lux";
        s.display.setShown(kq::decode::Widget::LcdP3, true);
        const std::size_t before = residentBytes();
        w.recorder = std::make_unique<kq::record::Recorder>([] {
            return kq::record::LogMoment{1'797'000'000'000, 60};
        });
        w.recorder->setMaxRecords(kRows);
        const auto start = std::chrono::steady_clock::now();
        for (std::int32_t i = 0; i < kRows; ++i) {
            readings.set(s, static_cast<std::size_t>(i));
            w.recorder->INDataToTable(s);
        }
        const auto end = std::chrono::steady_clock::now();
        const std::size_t after = residentBytes();
        w.bytesPerRow = static_cast<double>(after - before) / kRows;
        w.appendNs = std::chrono::duration<double, std::nano>(end - start).count() / kRows;
    }
    return w;
}

void BM_GridScrollToRow(benchmark::State& state) {
    World& w = world();
    const std::size_t before = residentBytes();
    kq::app::LogGridView grid;
    kq::app::LogGridModel model(w.recorder->cds1);
    kq::app::configureLogGrid(&grid, &model);
    grid.resize(398, 233);
    grid.show();
    // what the grid itself costs (its row header keeps a small record per row)
    w.gridBytesPerRow = static_cast<double>(residentBytes() - before) / kRows;
    std::mt19937 rng(5);
    double totalMs = 0;
    long count = 0;
    for (auto _ : state) {
        const int row = static_cast<int>(rng() % kRows);
        const auto start = std::chrono::steady_clock::now();
        grid.scrollTo(model.index(row, 0));
        QPixmap pm = grid.grab();
        benchmark::DoNotOptimize(pm);
        totalMs +=
            std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
                .count();
        ++count;
    }
    w.gridScrollMs = totalMs / static_cast<double>(count);
}

void BM_ChartAddRepaint(benchmark::State& state) {
    World& w = world();
    kq::app::ChartPanel panel(w.recorder->ChartPager);
    panel.show();
    panel.refresh();
    double totalMs = 0;
    long count = 0;
    double v = 0;
    for (auto _ : state) {
        const auto start = std::chrono::steady_clock::now();
        w.recorder->ChartPager.AddValue(v);
        panel.refresh();
        QPixmap pm = panel.grab();
        benchmark::DoNotOptimize(pm);
        totalMs +=
            std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
                .count();
        ++count;
        v = v > 1000 ? 0 : v + 13.5;
    }
    w.chartAddMs = totalMs / static_cast<double>(count);
}

// A reading logged while the grid shows the table: the row goes in, the grid follows it.
void BM_GridAppendFollow(benchmark::State& state) {
    World& w = world();
    kq::app::LogGridView grid;
    kq::app::LogGridModel model(w.recorder->cds1);
    kq::app::configureLogGrid(&grid, &model);
    grid.resize(398, 233);
    grid.show();
    w.recorder->setMaxRecords(2 * kRows);
    kq::decode::MeterState s;
    s.UnitText = "lux";
    s.ValueText = "1234";
    s.ReadingValue = 1234;
    double totalMs = 0;
    long count = 0;
    for (auto _ : state) {
        const auto start = std::chrono::steady_clock::now();
        w.recorder->INDataToTable(s);
        model.sync();
        QPixmap pm = grid.grab();
        benchmark::DoNotOptimize(pm);
        totalMs +=
            std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
                .count();
        ++count;
    }
    w.gridAppendMs = totalMs / static_cast<double>(count);
}

BENCHMARK(BM_GridScrollToRow)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ChartAddRepaint)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_GridAppendFollow)->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    World& w = world();
    printFigure("log_bytes_per_row_10M", w.bytesPerRow, "bytes");
    printFigure("log_append_ns", w.appendNs, "ns");
    std::printf("log table %.1f bytes/row, chart %.2f bytes/point by their own count\n",
                static_cast<double>(w.recorder->cds1.memoryBytes()) / kRows,
                static_cast<double>(w.recorder->ChartPager.memoryBytes()) / kRows);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    printFigure("grid_scroll_to_row_ms_10M", w.gridScrollMs, "ms");
    printFigure("chart_add_repaint_ms_10M", w.chartAddMs, "ms");
    printFigure("grid_append_follow_ms_10M", w.gridAppendMs, "ms");
    printFigure("grid_bytes_per_row_10M", w.gridBytesPerRow, "bytes");
    return 0;
}
