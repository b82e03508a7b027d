#include "links/serial_messages.h"

#include <cstring>

namespace kq::links {

std::string serialProblemText(const std::string& portName, const SerialPortProblem& problem) {
    using Kind = SerialPortProblem::Kind;
    // A port given by its device file is named once.
    const bool named = portName != problem.path;
    const std::string port =
        "The serial port " + portName + (named ? " (" + problem.path + ")" : std::string());
    switch (problem.kind) {
    case Kind::None:
        return {};
    case Kind::Missing:
        return port + " does not exist. Plug in the meter's cable" +
               (named ? ", or name its device in KQMETER_" + portName : std::string()) + ".";
    case Kind::Busy:
        return port + " is in use by another program. Close that program and try again.";
    case Kind::NotPermitted:
        return port + " may not be opened by this user. " + std::string(kDialoutAdvice);
    case Kind::NotASerialPort:
        return port + " is not a serial port.";
    case Kind::Lost:
        return port + " has stopped working (" + std::strerror(problem.error) +
               "): the cable was probably pulled out. Plug it in again and connect again.";
    case Kind::Other:
        break;
    }
    return port + " could not be opened: " + std::strerror(problem.error) + ".";
}

} // namespace kq::links
