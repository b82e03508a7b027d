#pragma once

#include "links/serial_port_driver.h"

#include <string>
#include <string_view>

namespace kq::links {

// What to do about a serial line (a port or a USB cable's) that this user may
// not open, as Debian and its relatives grant them.
inline constexpr std::string_view kDialoutAdvice =
    "Add the user to the group \"dialout\" (sudo adduser $USER dialout), log out and in again, "
    "and try again.";

// What the user reads when a serial port cannot be opened or was lost:
// which port, which device file, why, and what to do about it. Empty when
// there is no problem.
std::string serialProblemText(const std::string& portName, const SerialPortProblem& problem);

} // namespace kq::links
