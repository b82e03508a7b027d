#pragma once

#include <array>
#include <string>

namespace kq::links {

// The four ports a serial meter can be attached to, COM1 first.
enum TComPortNumber { pnCOM1, pnCOM2, pnCOM3, pnCOM4 };

inline constexpr int kComPortCount = 4;

// The device file behind each port name. A PC's own ports are /dev/ttyS0 to
// /dev/ttyS3; a USB-serial adapter (/dev/ttyUSB0) or the virtual meter's
// pseudo-terminal is attached by naming it in KQMETER_COM1 to KQMETER_COM4.
struct ComPortTable {
    std::array<std::string, kComPortCount> paths{"/dev/ttyS0", "/dev/ttyS1", "/dev/ttyS2",
                                                 "/dev/ttyS3"};

    const std::string& path(TComPortNumber port) const {
        return paths[static_cast<std::size_t>(port)];
    }

    // The defaults with every KQMETER_COMn that is set and not empty in
    // place of its port's default. Read once, by whoever owns the table.
    static ComPortTable fromEnvironment();
};

// "COM1" for pnCOM1 up to "COM4" for pnCOM4.
std::string comPortName(TComPortNumber port);

// "COM1".."COM4" (any case) to the port; anything else is no port name.
bool parseComPortName(const std::string& name, TComPortNumber& port);

} // namespace kq::links
