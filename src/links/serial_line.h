#pragma once

#include <cstdint>
#include <termios.h>

namespace kq::links {

// Line speeds a serial port offers, in the order of their values.
enum TComPortBaudRate {
    br110,
    br300,
    br600,
    br1200,
    br2400,
    br4800,
    br9600,
    br14400,
    br19200,
    br38400,
    br56000,
    br57600,
    br115200
};
enum TComPortDataBits { db5BITS, db6BITS, db7BITS, db8BITS };
enum TComPortStopBits { sb1BITS, sb1HALFBITS, sb2BITS };
enum TComPortParity { ptNONE, ptODD, ptEVEN, ptMARK, ptSPACE };
enum TComPortHwHandshaking { hhNONE, hhRTSCTS };
enum TComPortSwHandshaking { shNONE, shXONXOFF };

// Bits per second of a speed value; 0 for a value outside the list.
std::uint32_t baudRateBps(TComPortBaudRate rate);
// The speed value of a number of bits per second, if the list has it.
bool baudRateOf(std::uint32_t bps, TComPortBaudRate& rate);

// The format of the line: everything the port is told when it opens and
// again whenever one of these changes while it is open.
struct SerialLineSettings {
    TComPortBaudRate speed = br9600;
    TComPortDataBits dataBits = db8BITS;
    TComPortStopBits stopBits = sb1BITS;
    TComPortParity parity = ptNONE;
    TComPortHwHandshaking hwHandshaking = hhNONE;
    TComPortSwHandshaking swHandshaking = shNONE;

    bool operator==(const SerialLineSettings&) const = default;
};

// Writes the settings into `tio` as a raw line: no echo, no canonical
// input, no translation of CR or NL, no byte taken as a signal, a read that
// returns at once with what has arrived. The speed is set when termios has a
// code for it; `customSpeed` then is 0, otherwise it holds the bits per
// second to set with setCustomSpeed() after tcsetattr().
void fillTermios(const SerialLineSettings& settings, termios& tio, std::uint32_t& customSpeed);

// Speeds without a termios code (14400, 56000) through the kernel's
// arbitrary-speed interface. False when the line refuses.
bool setCustomSpeed(int fd, std::uint32_t bps);
// The line's output speed in bits per second, whatever way it was set; 0
// when it cannot be read.
std::uint32_t lineSpeedBps(int fd);

} // namespace kq::links
