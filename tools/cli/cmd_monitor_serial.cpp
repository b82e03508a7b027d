#include "cli_commands.h"

#include "decode/meter_state.h"
#include "decode/model_switch.h"
#include "links/serial_framers.h"
#include "links/serial_messages.h"
#include "links/serial_port_driver.h"
#include "monitor_line.h"
#include "serial_port_choice.h"

#include <QCoreApplication>
#include <QTimer>
#include <csignal>
#include <cstdio>

namespace kq::cli {

// The serial link without a window: the same port component, its polling
// timer and the framer the build's model switches choose, one line per
// decoded frame. `port` is COM1..COM4 or a device file.
int runMonitorSerial(const std::string& port, unsigned long long count) {
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

    MonitorLines out;
    unsigned long long lines = 0;
    int status = 0;
    comm.OnReceiveData = [&](links::TSerialPortDriver&, const std::uint8_t* data,
                             std::size_t size) {
        const auto result = links::receiveSerial(startup.handler, state, &out.verdict, data, size,
                                                 [&](decode::Decoder) {
                                                     if (count != 0 && lines >= count)
                                                         return;
                                                     out.print(state);
                                                     if (++lines == count)
                                                         app.quit();
                                                 });
        if (result.decodeFailures)
            std::fprintf(stderr, "kqmeter-cli: %s\n", result.firstFailure.c_str());
    };
    comm.OnConnectionLost = [&](links::TSerialPortDriver& sender) {
        std::fprintf(stderr, "%s\n", links::serialProblemText(name, sender.problem()).c_str());
        status = 1;
        app.quit();
    };
    if (!comm.Connect()) {
        std::fprintf(stderr, "%s\n", links::serialProblemText(name, comm.problem()).c_str());
        return 1;
    }

    // SIGINT and SIGTERM are blocked by the caller; they are taken here
    // between ticks, so Ctrl-C ends the monitor through the same door.
    sigset_t stop;
    sigemptyset(&stop);
    sigaddset(&stop, SIGINT);
    sigaddset(&stop, SIGTERM);
    QTimer stopCheck;
    QObject::connect(&stopCheck, &QTimer::timeout, [&] {
        const timespec now{0, 0};
        if (sigtimedwait(&stop, nullptr, &now) > 0)
            app.quit();
    });
    stopCheck.start(50);
    app.exec();
    comm.Disconnect();
    return status;
}

} // namespace kq::cli
