#pragma once

#include "command_line.h"
#include "decode/meter_state.h"
#include "decode/reading_sink.h"
#include "stop_signals.h"

#include <functional>
#include <string>

namespace kq::cli {

// The link a command line chose: --usb, --serial PORT or --hid [--device PATH].
struct LinkChoice {
    enum class Kind { Usb, Serial, Hid };

    bool usb = false;
    bool hid = false;
    std::string serialPort; // COM1..COM4 or a device file
    std::string hidDevice;  // empty: the last "USB to Serial" cable

    Kind kind() const { return usb ? Kind::Usb : hid ? Kind::Hid : Kind::Serial; }
};

// The link options on a command's line.
void addLinkOptions(CommandLine& line, LinkChoice& link);
// After parsing: 0 when exactly one link is chosen, else 2 with the reason.
int checkLinkChoice(const CommandLine& line, const LinkChoice& link);

// What a command does with the frames of a link. Every hook may be empty.
struct ReadingTarget {
    // Each reading, as the window's log gets it.
    decode::ReadingSink* sink = nullptr;
    // After each decoded frame, the meter's state as it left it.
    std::function<void(const decode::MeterState&)> frameDecoded;
    // Once a second while the link is open.
    std::function<void()> everySecond;
    // True when no more frames are wanted; the link is then closed.
    std::function<bool()> done;
};

struct LinkEnd {
    bool opened = false; // false: the link could not start, nothing was read
    int status = 0;      // the command's exit status
};

// Opens the link, feeds `target` with the build's decoders until the target is
// done, a stop arrives or the link goes, then closes it. Problems are told on
// stderr in the window's words; a bad frame is told and the link goes on.
LinkEnd runLink(const LinkChoice& link, ReadingTarget& target, const StopSignals& stop);

} // namespace kq::cli
