#include "cli_commands.h"
#include "command_help.h"

#include "decode/meter_state.h"
#include "decode/model_switch.h"
#include "links/usb_link.h"
#include "links/usbbridge.h"
#include "monitor_line.h"

#include <cerrno>
#include <charconv>
#include <csignal>
#include <cstdio>
#include <exception>
#include <string>

namespace kq::cli {

namespace {

void monitorUsage() {
    printCommandUsage("monitor", stderr);
}

// Waits `ms` milliseconds; false when SIGINT or SIGTERM arrived meanwhile.
// Both are blocked and taken here, so no handler and no global flag is needed.
bool pause(const sigset_t& stop, long ms) {
    const timespec wait{0, ms * 1'000'000L};
    for (;;) {
        const int sig = sigtimedwait(&stop, nullptr, &wait);
        if (sig > 0)
            return false;
        if (sig < 0 && errno == EINTR)
            continue;
        return true;
    }
}

} // namespace

// The USB bridge link without a window: the same connect step, poll and
// decoders, one line per decoded frame.
int runMonitor(const std::vector<std::string>& args) {
    for (const std::string& arg : args) {
        if (arg == "--hid")
            return runHidMonitor(args);
    }
    bool usb = false;
    std::string serialPort;
    unsigned long long count = 0;
    for (std::size_t i = 0; i < args.size(); ++i) {
        if (args[i] == "--usb") {
            usb = true;
        } else if (args[i] == "--serial" && i + 1 < args.size() && !args[i + 1].empty()) {
            serialPort = args[++i];
        } else if (args[i] == "--count" && i + 1 < args.size()) {
            const std::string& v = args[++i];
            auto [end, ec] = std::from_chars(v.data(), v.data() + v.size(), count);
            if (ec != std::errc{} || end != v.data() + v.size() || count == 0) {
                std::fprintf(stderr, "kqmeter-cli monitor: --count needs a positive number\n");
                return 2;
            }
        } else {
            monitorUsage();
            return 2;
        }
    }
    if (usb == !serialPort.empty()) { // exactly one link
        monitorUsage();
        return 2;
    }

    sigset_t stop;
    sigemptyset(&stop);
    sigaddset(&stop, SIGINT);
    sigaddset(&stop, SIGTERM);
    sigprocmask(SIG_BLOCK, &stop, nullptr);
    if (!serialPort.empty())
        return runMonitorSerial(serialPort, count);

    decode::MeterState state;
    decode::applyStartup(state, decode::builtModelSwitches(), decode::systemDecimalSeparator());

    auto bridge = links::makeSystemBridge();
    links::UsbLink link(*bridge);
    const auto connect = link.usb_dllClick();
    if (connect.message != links::UsbMessage::None) {
        std::fprintf(stderr, "%s\n", std::string(links::usbMessageText(connect.message)).c_str());
        link.buttonUp();
        return 1;
    }

    MonitorLines out;
    unsigned long long lines = 0;
    int status = 0;
    while (count == 0 || lines < count) {
        links::UsbTickResult tick;
        try {
            tick = link.Timer1Timer(state, &out.verdict);
        } catch (const std::exception& e) {
            // One bad frame must not end a session that runs for hours.
            std::fprintf(stderr, "kqmeter-cli: %s\n", e.what());
        }
        if (tick.decoder != decode::Decoder::None) {
            out.print(state);
            ++lines;
            continue; // the next frame may be on its way already
        }
        // A line that failed and whose device is no longer attached will not
        // come back: the window waits for the user, a headless monitor stops.
        if (link.state().UsbStatus == links::UB_IO_ERROR && link.state().UsbDeviceCount == 0) {
            std::fputs("kqmeter-cli: the USB bridge device has gone\n", stderr);
            status = 1;
            break;
        }
        if (!pause(stop, 10))
            break;
    }
    link.buttonUp();
    return status;
}

} // namespace kq::cli
