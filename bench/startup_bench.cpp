// startup_to_window_ms: from starting the program to its main window being
// shown (offscreen), median of several runs. The figure includes loading the
// program and its libraries, so this binary starts itself again as the
// program under test.
#include "app/dialogs.h"
#include "app/guarded_application.h"
#include "app/tfcomm.h"
#include "support/figure.h"

#include <QTimer>
#include <QWindow>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace {

int runWindow(int argc, char** argv) {
    kq::app::GuardedApplication app(argc, argv);
    kq::app::QtDialogs dialogs;
    app.setDialogs(&dialogs);
    kq::app::TFCOMM window(dialogs);
    window.show();
    // Report once the window is exposed, then leave.
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, [&] {
        if (window.windowHandle() && window.windowHandle()->isExposed()) {
            std::puts("shown");
            std::fflush(stdout);
            QCoreApplication::quit();
        }
    });
    poll.start(1);
    return app.exec();
}

double oneStartMs(const std::string& self) {
    const auto start = std::chrono::steady_clock::now();
    const std::string command = "QT_QPA_PLATFORM=offscreen '" + self + "' --window";
    FILE* child = popen(command.c_str(), "r");
    if (!child)
        return -1;
    char line[64] = {};
    double ms = -1;
    if (std::fgets(line, sizeof line, child) && std::strncmp(line, "shown", 5) == 0)
        ms = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
                 .count();
    pclose(child);
    return ms;
}

} // namespace

int main(int argc, char** argv) {
    if (argc > 1 && std::strcmp(argv[1], "--window") == 0)
        return runWindow(argc, argv);

    std::vector<double> runs;
    for (int i = 0; i < 7; ++i) {
        const double ms = oneStartMs(argv[0]);
        if (ms < 0) {
            std::fputs("startup_bench: the window did not come up\n", stderr);
            return 1;
        }
        runs.push_back(ms);
    }
    std::sort(runs.begin(), runs.end());
    printFigure("startup_to_window_ms", runs[runs.size() / 2], "ms");
    return 0;
}
