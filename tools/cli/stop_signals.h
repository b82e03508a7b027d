#pragma once

#include <csignal>

namespace kq::cli {

// Ctrl-C and SIGTERM as a stop flag. Both are blocked from construction on and
// taken only where a command looks for them, between ticks of its link, so a
// stop ends the command through the same door as its other ends (the count
// reached, the file completed) and no handler or global flag is needed.
class StopSignals {
public:
    StopSignals();
    // Whether a stop has arrived; takes it.
    bool requested() const { return wait(0); }
    // Waits `ms` milliseconds; true when a stop arrived meanwhile.
    bool wait(long ms) const;

private:
    sigset_t m_set;
};

} // namespace kq::cli
