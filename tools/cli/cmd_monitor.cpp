#include "cli_commands.h"

#include "decode/meter_state.h"
#include "decode/model_switch.h"
#include "decode/reading_sink.h"
#include "decode/reading_steps.h"
#include "decode/system_locale.h"
#include "links/usb_link.h"
#include "links/usbbridge.h"
#include "record/reading_log.h"

#include <cerrno>
#include <charconv>
#include <csignal>
#include <cstdio>
#include <exception>
#include <string>

namespace kq::cli {

namespace {

void monitorUsage() {
    std::fputs("usage: kqmeter-cli monitor --usb [--count N]\n"
               "       kqmeter-cli monitor --hid [--device PATH] [--count N]\n",
               stderr);
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

// The verdict of the frame just decoded, and only of that frame: the log step follows
// the judgement once per light-meter reading, so a frame without a reading (a two-row
// frame, blanks, a corrupted frame) leaves it empty rather than showing an older one.
class FrameVerdict final : public decode::ReadingSink {
public:
    void INDataToTable(const decode::MeterState& state) override {
        m_verdict = decode::judgement(state);
    }
    // The verdict's text ("Pass", "Fail" or empty), ready for the next frame.
    const char* take() {
        const decode::DisplayModel::Verdict v = m_verdict;
        m_verdict = decode::DisplayModel::Verdict::None;
        switch (v) {
        case decode::DisplayModel::Verdict::Pass:
            return "Pass";
        case decode::DisplayModel::Verdict::Fail:
            return "Fail";
        case decode::DisplayModel::Verdict::None:
            break;
        }
        return "";
    }

private:
    decode::DisplayModel::Verdict m_verdict = decode::DisplayModel::Verdict::None;
};

} // namespace

// The USB bridge link without a window: the same connect step, poll and
// decoders, one line per decoded frame.
int runMonitor(const std::vector<std::string>& args) {
    for (const std::string& arg : args) {
        if (arg == "--hid")
            return runHidMonitor(args);
    }
    bool usb = false;
    unsigned long long count = 0;
    for (std::size_t i = 0; i < args.size(); ++i) {
        if (args[i] == "--usb") {
            usb = true;
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
    if (!usb) {
        monitorUsage();
        return 2;
    }

    sigset_t stop;
    sigemptyset(&stop);
    sigaddset(&stop, SIGINT);
    sigaddset(&stop, SIGTERM);
    sigprocmask(SIG_BLOCK, &stop, nullptr);

    decode::MeterState state;
    decode::applyStartup(state, decode::builtModelSwitches(), decode::systemDecimalSeparator());
    // The time of day as the log writes it, with the system's separator.
    const std::string timeSeparator = decode::systemTimeSeparator();

    auto bridge = links::makeSystemBridge();
    links::UsbLink link(*bridge);
    const auto connect = link.usb_dllClick();
    if (connect.message != links::UsbMessage::None) {
        std::fprintf(stderr, "%s\n", std::string(links::usbMessageText(connect.message)).c_str());
        link.buttonUp();
        return 1;
    }

    FrameVerdict verdict;
    unsigned long long lines = 0;
    int status = 0;
    while (count == 0 || lines < count) {
        links::UsbTickResult tick;
        try {
            tick = link.Timer1Timer(state, &verdict);
        } catch (const std::exception& e) {
            // One bad frame must not end a session that runs for hours.
            std::fprintf(stderr, "kqmeter-cli: %s\n", e.what());
        }
        const char* frameVerdict = verdict.take();
        if (tick.decoder != decode::Decoder::None) {
            std::printf("%s\t%s\t%s\t%s\n",
                        record::formatTimeOfDay(record::systemTimeOfDay(), timeSeparator).c_str(),
                        state.ValueText.c_str(), state.UnitText.c_str(), frameVerdict);
            std::fflush(stdout);
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
