// Speed of the log files with a million rows: save and load of each form,
// and the text load against `wc -l` on the same file as a yardstick of the
// machine's reading speed in the same run.
#include "files/log_file.h"
#include "record/log_table.h"
#include "support/figure.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <unistd.h>

namespace {

using Clock = std::chrono::steady_clock;

void fillTable(kq::record::LogTable& t, int rows) {
    char value[16];
    for (int i = 0; i < rows; ++i) {
        std::snprintf(value, sizeof value, "%d.%d", i % 2000, i % 10);
        char time[9];
        std::snprintf(time, sizeof time, "%02d:%02d:%02d", (i / 3600) % 24, (i / 60) % 60, i % 60);
        // Rows as the program logs them: a moment a second, a verdict each.
        const kq::record::LogMoment at{1'796'907'787'250 + std::int64_t{i} * 1000, 60};
        t.append(i + 1, time, value, i % 3 ? "lux" : "fc", kq::record::LogTable::kInserted, true,
                 {at, i % 7 ? kq::record::RowVerdict::Pass : kq::record::RowVerdict::Fail});
    }
}

// The best of a few runs: the figure should show the code, not the neighbours.
template <class F> double bestSeconds(int runs, F&& f) {
    double best = 1e30;
    for (int i = 0; i < runs; ++i) {
        const auto start = Clock::now();
        f();
        best = std::min(best, std::chrono::duration<double>(Clock::now() - start).count());
    }
    return best;
}

std::string tempPath(const char* name) {
    const char* dir = std::getenv("TMPDIR");
    return std::string(dir && *dir ? dir : "/tmp") + "/kq_files_bench_" +
           std::to_string(::getpid()) + "_" + name;
}

long statusKb(const char* key) {
    std::ifstream status("/proc/self/status");
    std::string line;
    const std::string k = key;
    while (std::getline(status, line))
        if (line.compare(0, k.size(), k) == 0)
            return std::atol(line.c_str() + k.size());
    return 0;
}

// Memory a load takes beyond the table it fills, in MiB: the peak resident
// size during the load above the resident size once the table stands (the
// table's blocks are resident only as far as they are filled).
double loadExtraMiB(const std::string& path) {
    std::ofstream("/proc/self/clear_refs") << "5";
    kq::record::LogTable back;
    if (!kq::files::loadLog(back, path).ok())
        return -1;
    const long peak = statusKb("VmHWM:");
    const long after = statusKb("VmRSS:");
    return static_cast<double>(peak - after) / 1024.0;
}

void BM_SaveText100k(benchmark::State& state) {
    kq::record::LogTable t;
    fillTable(t, 100000);
    const std::string path = tempPath("100k.txt");
    for (auto _ : state)
        benchmark::DoNotOptimize(kq::files::saveLog(t, path).ok());
    std::remove(path.c_str());
}
BENCHMARK(BM_SaveText100k)->Unit(benchmark::kMillisecond);

void BM_LoadText100k(benchmark::State& state) {
    kq::record::LogTable t;
    fillTable(t, 100000);
    const std::string path = tempPath("100k_load.txt");
    kq::files::saveLog(t, path);
    for (auto _ : state) {
        kq::record::LogTable back;
        benchmark::DoNotOptimize(kq::files::loadLog(back, path).ok());
    }
    std::remove(path.c_str());
}
BENCHMARK(BM_LoadText100k)->Unit(benchmark::kMillisecond);

void millionRowFigures() {
    const int rows = 1000000;
    kq::record::LogTable table;
    fillTable(table, rows);
    const std::string txt = tempPath("1M.txt");
    const std::string xml = tempPath("1M.xml");
    const std::string csv = tempPath("1M.csv");
    bool ok = true;

    const double saveTxt = bestSeconds(3, [&] { ok &= kq::files::saveLog(table, txt).ok(); });
    const double loadTxt = bestSeconds(3, [&] {
        kq::record::LogTable back;
        ok &= kq::files::loadLog(back, txt).ok() && back.rowCount() == table.rowCount();
    });
    const double saveXml = bestSeconds(3, [&] { ok &= kq::files::saveLog(table, xml).ok(); });
    const double loadXml = bestSeconds(3, [&] {
        kq::record::LogTable back;
        ok &= kq::files::loadLog(back, xml).ok() && back.rowCount() == table.rowCount();
    });
    const double saveCsv = bestSeconds(3, [&] { ok &= kq::files::saveLog(table, csv).ok(); });
    const double loadCsv = bestSeconds(3, [&] {
        kq::record::LogTable back;
        ok &= kq::files::loadLog(back, csv).ok() && back.rowCount() == table.rowCount();
    });
    const double extraTxt = loadExtraMiB(txt);
    const double extraXml = loadExtraMiB(xml);
    const std::string wc = "wc -l '" + txt + "' >/dev/null";
    const double wcTime = bestSeconds(3, [&] { ok &= std::system(wc.c_str()) == 0; });
    std::remove(txt.c_str());
    std::remove(xml.c_str());
    std::remove(csv.c_str());
    if (!ok) {
        std::fputs("files_bench: a save or load failed\n", stderr);
        std::exit(1);
    }
    printFigure("save_txt_1M_s", saveTxt, "s");
    printFigure("load_txt_1M_s", loadTxt, "s");
    printFigure("save_xml_1M_s", saveXml, "s");
    printFigure("load_xml_1M_s", loadXml, "s");
    printFigure("save_csv_1M_s", saveCsv, "s");
    printFigure("load_csv_1M_s", loadCsv, "s");
    printFigure("io_vs_wc_ratio", loadTxt / wcTime, "x");
    printFigure("load_txt_1M_extra_mib", extraTxt, "MiB");
    printFigure("load_xml_1M_extra_mib", extraXml, "MiB");
}

} // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    millionRowFigures();
    return 0;
}
