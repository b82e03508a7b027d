// record: a meter logged without a window, for days if need be, with the
// window's log rules (the same recorder) into a text or XML log file.
#include "cli_commands.h"
#include "command_help.h"

#include "decode/meter_state.h"
#include "decode/model_switch.h"
#include "decode/system_locale.h"
#include "files/recording_file.h"
#include "hid_meter.h"
#include "links/hid_link.h"
#include "links/serial_framers.h"
#include "links/serial_messages.h"
#include "links/serial_port_driver.h"
#include "links/usb_link.h"
#include "links/usbbridge.h"
#include "record/recorder.h"

#include "serial_port_choice.h"

#include <QCoreApplication>
#include <QTimer>

#include <cerrno>
#include <charconv>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <exception>
#include <string>
#include <sys/stat.h>

namespace kq::cli {

namespace {

void recordUsage() {
    printCommandUsage("record", stderr);
}

int badOption(const char* reason) {
    std::fprintf(stderr, "kqmeter-cli record: %s\n", reason);
    return 2;
}

struct RecordOptions {
    bool usb = false;
    bool hid = false;
    std::string hidDevice; // empty: the last "USB to Serial" cable
    std::string serialPort;
    bool repeat = true;
    std::string interval; // empty: every reading is offered
    std::int32_t maxRecords = 10000;
    std::string out;
};

bool wholeNumber(const std::string& text, long long& value) {
    auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    return ec == std::errc{} && end == text.data() + text.size();
}

// Parses the options; returns 0 when the recording may start, else the exit status.
int parseRecordOptions(const std::vector<std::string>& args, RecordOptions& o) {
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        const bool hasValue = i + 1 < args.size();
        long long n = 0;
        if (a == "--usb") {
            o.usb = true;
        } else if (a == "--serial") {
            if (!hasValue || args[i + 1].empty())
                return badOption("--serial needs a port (COM1..COM4 or a device file)");
            o.serialPort = args[++i];
        } else if (a == "--repeat") {
            if (!hasValue || (args[i + 1] != "on" && args[i + 1] != "off"))
                return badOption("--repeat takes on or off");
            o.repeat = args[++i] == "on";
        } else if (a == "--interval") {
            if (!hasValue || !wholeNumber(args[i + 1], n) || n < 1 || n > 2147483647)
                return badOption("--interval needs a whole number of seconds from 1");
            o.interval = args[++i];
        } else if (a == "--max-records") {
            if (!hasValue || !wholeNumber(args[i + 1], n) || n < 1 || n > 10000000)
                return badOption("--max-records needs a number from 1 to 10000000");
            o.maxRecords = static_cast<std::int32_t>(n);
            ++i;
        } else if (a == "--hid") {
            o.hid = true;
        } else if (a == "--device") {
            if (!hasValue || args[i + 1].empty())
                return badOption("--device needs the HID device's path");
            o.hidDevice = args[++i];
        } else if (!a.empty() && a[0] == '-') {
            recordUsage();
            return 2;
        } else if (o.out.empty()) {
            o.out = a;
        } else {
            return badOption("one output file only");
        }
    }
    if (int(o.usb) + int(!o.serialPort.empty()) + int(o.hid) != 1)
        return badOption("give exactly one of --usb, --serial PORT and --hid");
    if (!o.hidDevice.empty() && !o.hid)
        return badOption("--device goes with --hid");
    if (o.out.empty())
        return badOption("no output file given");
    return 0;
}

// A recording in progress: the window's recorder, its once-a-second timer,
// and the file the rows go to.
class Session {
public:
    explicit Session(const RecordOptions& o) : m_file(o.out) {
        recorder.setTimeSeparator(decode::systemTimeSeparator());
        recorder.setRepeatSet(o.repeat);
        recorder.setMaxRecords(o.maxRecords);
        if (!o.interval.empty()) {
            recorder.setRecordSI(true);
            recorder.RecordSITimeChange(o.interval);
        }
        m_last = std::chrono::steady_clock::now();
    }

    // The record-count limit is reached: nothing more will be logged.
    bool full() const { return recorder.log().LoggedCount >= recorder.log().MaxRecords; }

    // What the window's record timer does, and the rows to the disk.
    void second() {
        recorder.TrecordTimer();
        if (m_file.flush(recorder.cds1)) {
            m_reported = false;
        } else if (!m_reported) {
            // Said once; the rows stay in memory and go at the next second.
            std::fprintf(stderr, "kqmeter-cli: %s\n", m_file.error().c_str());
            m_reported = true;
        }
    }
    // For a loop without timers: second() whenever a second has passed.
    void keepTime() {
        const auto now = std::chrono::steady_clock::now();
        while (now - m_last >= std::chrono::seconds(1)) {
            m_last += std::chrono::seconds(1);
            second();
        }
    }

    int finish(int status) {
        const files::SaveResult r = m_file.finish(recorder.cds1);
        if (!r.ok()) {
            std::fprintf(stderr, "kqmeter-cli: cannot complete %s: %s\n", m_file.path().c_str(),
                         r.error.c_str());
            if (m_file.xml() && !recorder.cds1.empty())
                std::fprintf(stderr, "kqmeter-cli: the rows are in %s\n",
                             m_file.rowsPath().c_str());
            return 1;
        }
        std::fprintf(stderr, "kqmeter-cli: %zu rows in %s\n", recorder.cds1.rowCount(),
                     m_file.path().c_str());
        return status;
    }

    record::Recorder recorder;

private:
    files::RecordingFile m_file;
    std::chrono::steady_clock::time_point m_last;
    bool m_reported = false;
};

bool stopRequested(const sigset_t& stop) {
    const timespec none{0, 0};
    return sigtimedwait(&stop, nullptr, &none) > 0;
}

int recordUsb(Session& session, const sigset_t& stop) {
    decode::MeterState state;
    decode::applyStartup(state, decode::builtModelSwitches(), decode::systemDecimalSeparator());
    auto bridge = links::makeSystemBridge();
    links::UsbLink link(*bridge);
    const auto connect = link.usb_dllClick();
    if (connect.message != links::UsbMessage::None) {
        std::fprintf(stderr, "%s\n", std::string(links::usbMessageText(connect.message)).c_str());
        link.buttonUp();
        return 1; // nothing recorded: no file is made
    }
    int status = 0;
    while (!session.full() && !stopRequested(stop)) {
        links::UsbTickResult tick;
        try {
            tick = link.Timer1Timer(state, &session.recorder);
        } catch (const std::exception& e) {
            // One bad frame must not end a recording that runs for days.
            std::fprintf(stderr, "kqmeter-cli: %s\n", e.what());
        }
        session.keepTime();
        if (tick.decoder != decode::Decoder::None)
            continue; // the next frame may be on its way already
        if (link.state().UsbStatus == links::UB_IO_ERROR && link.state().UsbDeviceCount == 0) {
            std::fputs("kqmeter-cli: the USB bridge device has gone\n", stderr);
            status = 1;
            break;
        }
        const timespec wait{0, 10'000'000L};
        if (sigtimedwait(&stop, nullptr, &wait) > 0)
            break;
    }
    link.buttonUp();
    return session.finish(status);
}

int recordSerial(Session& session, const std::string& port, const sigset_t& stop) {
    decode::MeterState state;
    const decode::StartupResult startup =
        decode::applyStartup(state, decode::builtModelSwitches(), decode::systemDecimalSeparator());
    if (startup.handler == decode::ReceiveHandler::None) {
        std::fputs("kqmeter-cli: this build has no serial framer (no model switch is on)\n",
                   stderr);
        return 1;
    }
    const SerialPortChoice choice(port);
    const std::string& name = choice.name;

    int argc = 1;
    char program[] = "kqmeter-cli";
    char* argv[] = {program, nullptr};
    QCoreApplication app(argc, argv);

    links::TSerialPortDriver comm(choice.table);
    choice.configure(comm, startup);

    int status = 0;
    comm.OnReceiveData = [&](links::TSerialPortDriver&, const std::uint8_t* data,
                             std::size_t size) {
        const auto result =
            links::receiveSerial(startup.handler, state, &session.recorder, data, size);
        if (result.decodeFailures)
            std::fprintf(stderr, "kqmeter-cli: %s\n", result.firstFailure.c_str());
        if (session.full())
            app.quit();
    };
    comm.OnConnectionLost = [&](links::TSerialPortDriver& sender) {
        std::fprintf(stderr, "%s\n", links::serialProblemText(name, sender.problem()).c_str());
        status = 1;
        app.quit();
    };
    if (!comm.Connect()) {
        std::fprintf(stderr, "%s\n", links::serialProblemText(name, comm.problem()).c_str());
        return 1; // nothing recorded: no file is made
    }
    QTimer second;
    QObject::connect(&second, &QTimer::timeout, [&] { session.second(); });
    second.start(1000);
    QTimer stopCheck;
    QObject::connect(&stopCheck, &QTimer::timeout, [&] {
        if (stopRequested(stop))
            app.quit();
    });
    stopCheck.start(50);
    app.exec();
    comm.Disconnect();
    return session.finish(status);
}

int recordHid(Session& session, const std::string& devicePath, const sigset_t& stop) {
    const decode::ModelSwitchSet switches = decode::builtModelSwitches();
    decode::MeterState state;
    decode::applyStartup(state, switches, decode::systemDecimalSeparator());
    HidMeter meter;
    if (const int status = openHidMeter(devicePath, switches, meter))
        return status; // nothing recorded: no file is made
    links::THidDevice& device = *meter.device;
    links::HidLinkState link;
    bool gone = false;
    device.SetDataErrorHandler(
        links::makeHandler<links::THidDataErrorFn>([&](links::THidDevice& d, std::uint32_t error) {
            std::fprintf(stderr, "kqmeter-cli: %s\n", links::readErrorLine(error).c_str());
            // A cable that was pulled will not come back: the file is completed.
            if (!hidDeviceStillThere(*meter.backend, d.PnPInfo().DevicePath()))
                gone = true;
        }));
    device.SetDataHandler(links::makeHandler<links::THidDataFn>(
        [&](links::THidDevice&, std::uint8_t id, const std::uint8_t* data, std::uint16_t size) {
            try {
                links::HidDeviceData(state, link, &session.recorder, id, data, size);
            } catch (const std::exception& e) {
                std::fprintf(stderr, "kqmeter-cli: %s\n", e.what());
            }
        }));
    while (!gone && !session.full()) {
        meter.queue.runPending(100);
        session.keepTime();
        if (stopRequested(stop))
            break;
    }
    device.SetDataHandler(nullptr);
    if (gone)
        std::fputs("kqmeter-cli: the HID cable has gone\n", stderr);
    return session.finish(gone ? 1 : 0);
}

} // namespace

// A recording never replaces a file: OUT may hold the readings of an earlier
// recording, and a recorder restarted after a crash (a service, a script)
// would otherwise wipe the rows of the run that crashed.
bool refusedExisting(const std::string& out) {
    struct stat st;
    if (::lstat(out.c_str(), &st) == 0) {
        std::fprintf(stderr,
                     "kqmeter-cli record: %s exists; a recording does not replace a file "
                     "(move it away or name another)\n",
                     out.c_str());
        return true;
    }
    const std::string rows = files::rowsPathFor(out);
    if (files::formForName(out) == files::LogForm::Xml && ::lstat(rows.c_str(), &st) == 0) {
        std::fprintf(stderr,
                     "kqmeter-cli record: %s holds the rows of a recording that did not end; "
                     "convert or move it first\n",
                     rows.c_str());
        return true;
    }
    return false;
}

int runRecord(const std::vector<std::string>& args) {
    RecordOptions options;
    if (const int status = parseRecordOptions(args, options))
        return status;
    if (refusedExisting(options.out))
        return 1;
    // Ctrl-C and SIGTERM are taken between ticks, so the file is completed
    // through the same door as at the record-count limit.
    sigset_t stop;
    sigemptyset(&stop);
    sigaddset(&stop, SIGINT);
    sigaddset(&stop, SIGTERM);
    sigprocmask(SIG_BLOCK, &stop, nullptr);

    Session session(options);
    if (options.usb)
        return recordUsb(session, stop);
    if (options.hid)
        return recordHid(session, options.hidDevice, stop);
    return recordSerial(session, options.serialPort, stop);
}

} // namespace kq::cli
