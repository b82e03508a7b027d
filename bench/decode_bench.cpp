// Decoding throughput: the whole path of one frame (frame text to nibbles, digits and
// annunciators, display model, reading steps), the fast decoders against the literal
// text algorithm the unit tests compare them with.

#include "../tests/reference/lcd_reference.h"
#include "decode/meter_decoders.h"
#include "decode/model_switch.h"
#include "decode/reading_sink.h"
#include "support/figure.h"

#include <benchmark/benchmark.h>

#include <map>
#include <random>
#include <string>
#include <vector>

namespace {

using kq::decode::MeterState;

class CountingSink : public kq::decode::ReadingSink {
public:
    void INDataToTable(const MeterState&) override { ++count; }
    long long count = 0;
};

MeterState builtState() {
    MeterState state;
    kq::decode::applyStartup(state, kq::decode::builtModelSwitches(), ".");
    return state;
}

// Light-meter readings: random digits in the main row, a point now and then, lux.
std::vector<std::string> lightMeterFrames() {
    static const char* const patterns[] = {"B7", "06", "E5", "C7", "56",
                                           "D3", "F3", "07", "F7", "D7"};
    std::mt19937 random(12345);
    std::vector<std::string> frames;
    for (int i = 0; i < 1024; ++i) {
        std::string frame(32, '0');
        for (int position : {3, 5, 7, 9})
            frame.replace(static_cast<std::size_t>(position - 1), 2, patterns[random() % 10]);
        if (random() % 8 == 0) {
            // the point after LcdDb: the 8-bit of position 8
            const char c = frame[7];
            const int v = (c <= '9' ? c - '0' : c - 'A' + 10) | 8;
            frame[7] = "0123456789ABCDEF"[v];
        }
        frame[18] = '8';
        frame[19] = '2'; // USB annunciator
        frame[30] = 'D';
        frame[31] = 'A';
        frames.push_back(frame);
    }
    return frames;
}

// Two-row frames: four digits per row, a point, m/s.
std::vector<std::string> twoRowFrames() {
    // segment codes a b c f g e d of 0..9 as frame position pairs
    static const char* const blocks[] = {"EB", "60", "C7", "E5", "6C",
                                         "AD", "AF", "E0", "EF", "ED"};
    std::mt19937 random(54321);
    std::vector<std::string> frames;
    for (int i = 0; i < 1024; ++i) {
        std::string frame = "03603FAD6B" + std::string(22, '0');
        for (int position : {3, 5, 7, 9, 11, 13, 15, 17})
            frame.replace(static_cast<std::size_t>(position - 1), 2, blocks[random() % 10]);
        frame[25] = '1'; // bit 104: m|s
        frames.push_back(frame);
    }
    return frames;
}

template <typename Decode>
void runFrames(benchmark::State& bench, const std::vector<std::string>& frames, Decode decode) {
    MeterState state = builtState();
    std::size_t i = 0;
    for (auto _ : bench) {
        state.FrameText = frames[i++ & 1023];
        benchmark::DoNotOptimize(decode(state));
        benchmark::ClobberMemory();
    }
    bench.SetItemsProcessed(bench.iterations());
}

void decode12B(benchmark::State& bench) {
    CountingSink sink;
    runFrames(bench, lightMeterFrames(),
              [&](MeterState& s) { return kq::decode::LcdDisplay12B(s, &sink); });
}

void decode12BReference(benchmark::State& bench) {
    CountingSink sink;
    runFrames(bench, lightMeterFrames(),
              [&](MeterState& s) { return kq::reference::referenceLcdDisplay12B(s, &sink); });
}

void decode24B(benchmark::State& bench) {
    runFrames(bench, twoRowFrames(), [](MeterState& s) { return kq::decode::LcdDisplay24B(s); });
}

void decode24BReference(benchmark::State& bench) {
    runFrames(bench, twoRowFrames(),
              [](MeterState& s) { return kq::reference::referenceLcdDisplay24B(s); });
}

// Keeps the frames per second of every benchmark for the figures.
class FigureReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override {
        ConsoleReporter::ReportRuns(runs);
        for (const Run& run : runs) {
            if (run.run_type != Run::RT_Iteration || run.error_occurred)
                continue;
            if (run.cpu_accumulated_time > 0)
                rates[run.benchmark_name()] =
                    static_cast<double>(run.iterations) / run.cpu_accumulated_time;
        }
    }
    std::map<std::string, double> rates;
};

} // namespace

int main(int argc, char** argv) {
    benchmark::RegisterBenchmark("decode12b", decode12B);
    benchmark::RegisterBenchmark("decode12b_reference", decode12BReference);
    benchmark::RegisterBenchmark("decode24b", decode24B);
    benchmark::RegisterBenchmark("decode24b_reference", decode24BReference);
    benchmark::Initialize(&argc, argv);
    FigureReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();

    const auto rate = [&](const char* name) {
        const auto it = reporter.rates.find(name);
        return it == reporter.rates.end() ? 0.0 : it->second;
    };
    printFigure("decode12b_frames_per_s", rate("decode12b"), "frames/s");
    printFigure("decode24b_frames_per_s", rate("decode24b"), "frames/s");
    printFigure("decode12b_reference_frames_per_s", rate("decode12b_reference"), "frames/s");
    printFigure("decode24b_reference_frames_per_s", rate("decode24b_reference"), "frames/s");
    if (rate("decode12b_reference") > 0)
        printFigure("decode12b_speedup_over_reference",
                    rate("decode12b") / rate("decode12b_reference"), "x");
    if (rate("decode24b_reference") > 0)
        printFigure("decode24b_speedup_over_reference",
                    rate("decode24b") / rate("decode24b_reference"), "x");
    return 0;
}
