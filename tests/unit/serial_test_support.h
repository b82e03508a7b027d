#pragma once

// Line settings the serial tests give a driver.

#include "links/serial_line.h"
#include "links/serial_port_driver.h"

namespace kq::links::test {

// Puts the driver on COM1 with `s`, one setting at a time as a user makes them.
inline void setLine(TSerialPortDriver& d, const SerialLineSettings& s) {
    d.setComPort(pnCOM1);
    d.setComPortSpeed(s.speed);
    d.setComPortDataBits(s.dataBits);
    d.setComPortStopBits(s.stopBits);
    d.setComPortParity(s.parity);
    d.setComPortHwHandshaking(s.hwHandshaking);
    d.setComPortSwHandshaking(s.swHandshaking);
}

} // namespace kq::links::test
