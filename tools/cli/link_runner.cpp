// The three links without a window: the window's connect steps, polls and
// decoders, each frame handed to what the command wants done with it.
#include "link_runner.h"

#include "decode/model_switch.h"
#include "decode/system_locale.h"
#include "hid_meter.h"
#include "links/hid_link.h"
#include "links/serial_framers.h"
#include "links/serial_messages.h"
#include "links/serial_port_driver.h"
#include "links/usb_link.h"
#include "links/usbbridge.h"
#include "serial_port_choice.h"

#include <QCoreApplication>
#include <QTimer>

#include <chrono>
#include <cstdio>
#include <exception>
#include <string>

namespace kq::cli {

void addLinkOptions(CommandLine& line, LinkChoice& link) {
    line.flag("--usb", link.usb);
    line.flag("--hid", link.hid);
    line.option("--serial", "--serial needs a port (COM1..COM4 or a device file)",
                [&link](const std::string& v) {
                    link.serialPort = v;
                    return !v.empty();
                });
    line.option("--device", "--device needs the HID device's path", [&link](const std::string& v) {
        link.hidDevice = v;
        return !v.empty();
    });
}

int checkLinkChoice(const CommandLine& line, const LinkChoice& link) {
    if (int(link.usb) + int(!link.serialPort.empty()) + int(link.hid) != 1)
        return line.refuse("give exactly one of --usb, --serial PORT and --hid");
    if (!link.hidDevice.empty() && !link.hid)
        return line.refuse("--device goes with --hid");
    return 0;
}

namespace {

bool done(const ReadingTarget& target) {
    return target.done && target.done();
}

void decoded(ReadingTarget& target, const decode::MeterState& state) {
    if (target.frameDecoded)
        target.frameDecoded(state);
}

// everySecond for a loop without timers: called whenever a second has passed.
class SecondClock {
public:
    explicit SecondClock(ReadingTarget& target) : m_target(target) {}
    void keepTime() {
        if (!m_target.everySecond)
            return;
        const auto now = std::chrono::steady_clock::now();
        while (now - m_last >= std::chrono::seconds(1)) {
            m_last += std::chrono::seconds(1);
            m_target.everySecond();
        }
    }

private:
    ReadingTarget& m_target;
    std::chrono::steady_clock::time_point m_last = std::chrono::steady_clock::now();
};

LinkEnd runUsb(ReadingTarget& target, const StopSignals& stop) {
    decode::MeterState state;
    decode::applyStartup(state, decode::builtModelSwitches(), decode::systemDecimalSeparator());
    auto bridge = links::makeSystemBridge();
    links::UsbLink link(*bridge);
    const auto connect = link.usb_dllClick();
    if (connect.message != links::UsbMessage::None) {
        std::fprintf(stderr, "%s\n", links::usbConnectText(connect).c_str());
        link.buttonUp();
        return {false, 1};
    }
    LinkEnd end{true, 0};
    SecondClock clock(target);
    while (!done(target) && !stop.requested()) {
        links::UsbTickResult tick;
        try {
            tick = link.Timer1Timer(state, target.sink);
        } catch (const std::exception& e) {
            // One bad frame must not end a session that runs for days.
            std::fprintf(stderr, "kqmeter-cli: %s\n", e.what());
        }
        if (tick.decoder != decode::Decoder::None)
            decoded(target, state);
        clock.keepTime();
        if (tick.decoder != decode::Decoder::None)
            continue; // the next frame may be on its way already
        // A line that failed and whose device is no longer attached will not
        // come back: the window waits for the user, a headless command stops.
        if (link.state().UsbStatus == links::UB_IO_ERROR && link.state().UsbDeviceCount == 0) {
            std::fputs("kqmeter-cli: the USB bridge device has gone\n", stderr);
            end.status = 1;
            break;
        }
        if (stop.wait(10))
            break;
    }
    link.buttonUp();
    return end;
}

LinkEnd runSerial(const std::string& port, ReadingTarget& target, const StopSignals& stop) {
    decode::MeterState state;
    const decode::StartupResult startup =
        decode::applyStartup(state, decode::builtModelSwitches(), decode::systemDecimalSeparator());
    if (startup.handler == decode::ReceiveHandler::None) {
        std::fputs("kqmeter-cli: this build has no serial framer (no model switch is on)\n",
                   stderr);
        return {false, 1};
    }
    const SerialPortChoice choice(port);
    const std::string& name = choice.name;

    int argc = 1;
    char program[] = "kqmeter-cli";
    char* argv[] = {program, nullptr};
    QCoreApplication app(argc, argv);

    links::TSerialPortDriver comm(choice.table);
    choice.configure(comm, startup);

    LinkEnd end{true, 0};
    comm.OnReceiveData = [&](links::TSerialPortDriver&, const std::uint8_t* data,
                             std::size_t size) {
        // A batch may hold more frames than the target still wants.
        const auto result = links::receiveSerial(startup.handler, state, target.sink, data, size,
                                                 [&](decode::Decoder) {
                                                     if (!done(target))
                                                         decoded(target, state);
                                                 });
        if (result.decodeFailures)
            std::fprintf(stderr, "kqmeter-cli: %s\n", result.firstFailure.c_str());
        if (done(target))
            app.quit();
    };
    comm.OnConnectionLost = [&](links::TSerialPortDriver& sender) {
        std::fprintf(stderr, "%s\n", links::serialProblemText(name, sender.problem()).c_str());
        end.status = 1;
        app.quit();
    };
    if (!comm.Connect()) {
        std::fprintf(stderr, "%s\n", links::serialProblemText(name, comm.problem()).c_str());
        return {false, 1};
    }
    QTimer second;
    if (target.everySecond) {
        QObject::connect(&second, &QTimer::timeout, [&] { target.everySecond(); });
        second.start(1000);
    }
    QTimer stopCheck;
    // Also a target whose time is up while the meter sends nothing.
    QObject::connect(&stopCheck, &QTimer::timeout, [&] {
        if (stop.requested() || done(target))
            app.quit();
    });
    stopCheck.start(50);
    app.exec();
    comm.Disconnect();
    return end;
}

LinkEnd runHid(const std::string& devicePath, ReadingTarget& target, const StopSignals& stop) {
    const decode::ModelSwitchSet switches = decode::builtModelSwitches();
    decode::MeterState state;
    decode::applyStartup(state, switches, decode::systemDecimalSeparator());
    HidMeter meter;
    if (const int status = openHidMeter(devicePath, switches, meter))
        return {false, status};
    links::THidDevice& device = *meter.device;
    links::HidLinkState link;
    bool gone = false;
    device.SetDataErrorHandler(
        links::makeHandler<links::THidDataErrorFn>([&](links::THidDevice& d, std::uint32_t error) {
            std::fprintf(stderr, "kqmeter-cli: %s\n", links::readErrorLine(error).c_str());
            // A cable that was pulled will not come back: a headless command stops.
            if (!hidDeviceStillThere(*meter.backend, d.PnPInfo().DevicePath()))
                gone = true;
        }));
    device.SetDataHandler(links::makeHandler<links::THidDataFn>(
        [&](links::THidDevice&, std::uint8_t id, const std::uint8_t* data, std::uint16_t size) {
            links::HidReportResult result;
            try {
                result = links::HidDeviceData(state, link, target.sink, id, data, size);
            } catch (const std::exception& e) {
                std::fprintf(stderr, "kqmeter-cli: %s\n", e.what());
            }
            if (result.decoder != decode::Decoder::None && !done(target))
                decoded(target, state);
        }));
    SecondClock clock(target);
    while (!gone && !done(target)) {
        meter.queue.runPending(100);
        clock.keepTime();
        if (stop.requested())
            break;
    }
    device.SetDataHandler(nullptr);
    if (gone)
        std::fputs("kqmeter-cli: the HID cable has gone\n", stderr);
    return {true, gone ? 1 : 0};
}

} // namespace

LinkEnd runLink(const LinkChoice& link, ReadingTarget& target, const StopSignals& stop) {
    switch (link.kind()) {
    case LinkChoice::Kind::Usb:
        return runUsb(target, stop);
    case LinkChoice::Kind::Serial:
        return runSerial(link.serialPort, target, stop);
    case LinkChoice::Kind::Hid:
        return runHid(link.hidDevice, target, stop);
    }
    return {false, 1};
}

} // namespace kq::cli
