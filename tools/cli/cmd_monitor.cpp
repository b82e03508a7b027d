// monitor: one line per decoded frame, from any of the three links.
#include "cli_commands.h"

#include "command_line.h"
#include "link_runner.h"
#include "monitor_line.h"
#include "stop_signals.h"

#include <climits>
#include <string>

namespace kq::cli {

int runMonitor(const std::vector<std::string>& args) {
    CommandLine line("monitor");
    LinkChoice link;
    addLinkOptions(line, link);
    long long count = 0; // 0: until stopped
    line.option("--count", "--count needs a positive number",
                [&](const std::string& v) { return wholeNumberIn(v, 1, LLONG_MAX, count); });
    if (const int status = line.parse(args))
        return status;
    if (const int status = checkLinkChoice(line, link))
        return status;

    const StopSignals stop;
    MonitorLines out;
    long long lines = 0;
    ReadingTarget target;
    target.sink = &out.verdict;
    target.frameDecoded = [&](const decode::MeterState& state) {
        out.print(state);
        ++lines;
    };
    target.done = [&] { return count != 0 && lines >= count; };
    return runLink(link, target, stop).status;
}

} // namespace kq::cli
