#pragma once

#include "links/serial_port_driver.h"

#include <string>

namespace kq::links {

// What the user reads when a serial port cannot be opened or was lost:
// which port, which device file, why, and what to do about it. Empty when
// there is no problem.
std::string serialProblemText(const std::string& portName, const SerialPortProblem& problem);

} // namespace kq::links
