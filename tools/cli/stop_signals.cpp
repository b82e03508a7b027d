#include "stop_signals.h"

#include <cerrno>
#include <ctime>

namespace kq::cli {

StopSignals::StopSignals() {
    sigemptyset(&m_set);
    sigaddset(&m_set, SIGINT);
    sigaddset(&m_set, SIGTERM);
    sigprocmask(SIG_BLOCK, &m_set, nullptr);
}

bool StopSignals::wait(long ms) const {
    const timespec wait{ms / 1000, (ms % 1000) * 1'000'000L};
    for (;;) {
        const int sig = sigtimedwait(&m_set, nullptr, &wait);
        if (sig > 0)
            return true;
        if (sig < 0 && errno == EINTR)
            continue;
        return false;
    }
}

} // namespace kq::cli
