#include "links/serial_line.h"

#include <array>

namespace kq::links {

namespace {

// Columns: speed value, bits per second, termios code (B0: none exists).
struct SpeedRow {
    TComPortBaudRate rate;
    std::uint32_t bps;
    speed_t code;
};
constexpr std::array<SpeedRow, 13> kSpeeds = {{
    {br110, 110, B110},
    {br300, 300, B300},
    {br600, 600, B600},
    {br1200, 1200, B1200},
    {br2400, 2400, B2400},
    {br4800, 4800, B4800},
    {br9600, 9600, B9600},
    {br14400, 14400, B0},
    {br19200, 19200, B19200},
    {br38400, 38400, B38400},
    {br56000, 56000, B0},
    {br57600, 57600, B57600},
    {br115200, 115200, B115200},
}};

const SpeedRow* rowOf(TComPortBaudRate rate) {
    for (const auto& row : kSpeeds)
        if (row.rate == rate)
            return &row;
    return nullptr;
}

} // namespace

std::uint32_t baudRateBps(TComPortBaudRate rate) {
    const SpeedRow* row = rowOf(rate);
    return row ? row->bps : 0;
}

bool baudRateOf(std::uint32_t bps, TComPortBaudRate& rate) {
    for (const auto& row : kSpeeds) {
        if (row.bps == bps) {
            rate = row.rate;
            return true;
        }
    }
    return false;
}

void fillTermios(const SerialLineSettings& settings, termios& tio, std::uint32_t& customSpeed) {
    // Raw: the meter's bytes carry segment bits, so a 0x0D must not become
    // 0x0A, a 0x11 must not be swallowed as XON unless the user asked for
    // software handshaking, and no byte may raise a signal.
    ::cfmakeraw(&tio);
    tio.c_cflag |= CLOCAL | CREAD;
    // A meter sends whenever it likes; the line must not hang up on close
    // from under a program that reopens it at once.
    tio.c_cflag &= ~static_cast<tcflag_t>(HUPCL);

    tio.c_cflag &= ~static_cast<tcflag_t>(CSIZE);
    static constexpr tcflag_t kSizes[] = {CS5, CS6, CS7, CS8};
    tio.c_cflag |= kSizes[settings.dataBits <= db8BITS ? settings.dataBits : db8BITS];

    // Linux has no 1.5 stop bits: CSTOPB gives 2, which a receiver set to 1.5
    // reads without complaint (it only checks the first stop bit).
    if (settings.stopBits == sb1BITS)
        tio.c_cflag &= ~static_cast<tcflag_t>(CSTOPB);
    else
        tio.c_cflag |= CSTOPB;

    tio.c_cflag &= ~static_cast<tcflag_t>(PARENB | PARODD | CMSPAR);
    switch (settings.parity) {
    case ptNONE:
        break;
    case ptODD:
        tio.c_cflag |= PARENB | PARODD;
        break;
    case ptEVEN:
        tio.c_cflag |= PARENB;
        break;
    case ptMARK: // stick parity: the parity bit is always 1
        tio.c_cflag |= PARENB | CMSPAR | PARODD;
        break;
    case ptSPACE: // stick parity: the parity bit is always 0
        tio.c_cflag |= PARENB | CMSPAR;
        break;
    }

    if (settings.hwHandshaking == hhRTSCTS)
        tio.c_cflag |= CRTSCTS;
    else
        tio.c_cflag &= ~static_cast<tcflag_t>(CRTSCTS);

    tio.c_iflag &= ~static_cast<tcflag_t>(IXON | IXOFF | IXANY);
    if (settings.swHandshaking == shXONXOFF)
        tio.c_iflag |= IXON | IXOFF;

    // A read returns at once with whatever the driver holds, possibly nothing.
    tio.c_cc[VMIN] = 0;
    tio.c_cc[VTIME] = 0;

    customSpeed = 0;
    const SpeedRow* row = rowOf(settings.speed);
    if (!row)
        row = rowOf(br9600);
    if (row->code != B0) {
        ::cfsetispeed(&tio, row->code);
        ::cfsetospeed(&tio, row->code);
    } else {
        // Keep a valid code until the exact speed is set.
        ::cfsetispeed(&tio, B9600);
        ::cfsetospeed(&tio, B9600);
        customSpeed = row->bps;
    }
}

} // namespace kq::links
