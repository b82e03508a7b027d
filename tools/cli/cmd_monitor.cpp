// monitor: one line per decoded frame, from any of the three links.
#include "cli_commands.h"

#include "command_line.h"
#include "link_runner.h"
#include "monitor_line.h"
#include "mqtt_choice.h"
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
    MonitorLines::Format format = MonitorLines::Format::Tsv;
    line.option("--format", "--format takes tsv, json or csv", [&](const std::string& v) {
        format = v == "json"  ? MonitorLines::Format::Json
                 : v == "csv" ? MonitorLines::Format::Csv
                              : MonitorLines::Format::Tsv;
        return v == "tsv" || v == "json" || v == "csv";
    });
    MqttChoice mqtt;
    addMqttOptions(line, mqtt);
    if (const int status = line.parse(args))
        return status;
    if (const int status = checkLinkChoice(line, link))
        return status;
    if (const int status = checkMqttChoice(line, mqtt))
        return status;

    const StopSignals stop;
    ReadingPublisher publisher(mqtt);
    MonitorLines out(format);
    long long lines = 0;
    ReadingTarget target;
    target.sink = &out.verdict;
    target.frameDecoded = [&](const decode::MeterState& state) {
        publisher.publish(out.print(state));
        ++lines;
    };
    target.done = [&] { return count != 0 && lines >= count; };
    const int status = runLink(link, target, stop).status;
    publisher.finish();
    return status;
}

} // namespace kq::cli
