#pragma once

#include "decode/model_switch.h"
#include "links/com_port_table.h"
#include "links/serial_port_driver.h"

#include <cstdint>
#include <string>

namespace kq::cli {

// The port a command line names: COM1..COM4 through the KQMETER_COMn table, or a
// device file that stands in for COM1. `name` is what messages call it.
struct SerialPortChoice {
    links::ComPortTable table = links::ComPortTable::fromEnvironment();
    links::TComPortNumber which = links::pnCOM1;
    std::string name;

    explicit SerialPortChoice(const std::string& port) {
        if (links::parseComPortName(port, which)) {
            name = links::comPortName(which);
        } else {
            table.paths[0] = port;
            name = port;
        }
    }

    // The port and the speed the build's model gives the serial component.
    void configure(links::TSerialPortDriver& comm, const decode::StartupResult& startup) const {
        comm.setComPort(which);
        links::TComPortBaudRate speed = links::br2400;
        links::baudRateOf(static_cast<std::uint32_t>(startup.serialSpeed), speed);
        comm.setComPortSpeed(speed);
    }
};

} // namespace kq::cli
