// kqmeter-sim: a virtual meter on a pseudo-terminal. It prints the path of
// its serial line on the first line of stdout and sends display frames like
// a meter until it has sent --count frames or is told to stop.
#include "pseudo_terminal.h"
#include "sim/meter_frames.h"
#include "sim_options.h"

#include "kq_version.h"

#include <cerrno>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <ctime>
#include <string>
#include <unistd.h>

namespace {

using kq::sim::Options;

constexpr long kNanosPerSecond = 1'000'000'000L;

timespec addNanos(timespec t, long long nanos) {
    const long long total = static_cast<long long>(t.tv_nsec) + nanos;
    t.tv_sec += static_cast<time_t>(total / kNanosPerSecond);
    t.tv_nsec = static_cast<long>(total % kNanosPerSecond);
    return t;
}

// Sleeps until `when` (monotonic clock). Returns false when a stop signal
// arrived meanwhile. The stop signals are blocked and taken here, so the
// meter always leaves through the same door and nothing global is needed.
bool sleepUntil(const timespec& when, const sigset_t& stopSignals) {
    for (;;) {
        timespec now{};
        clock_gettime(CLOCK_MONOTONIC, &now);
        long long left = (static_cast<long long>(when.tv_sec) - now.tv_sec) * kNanosPerSecond +
                         (when.tv_nsec - now.tv_nsec);
        if (left < 0)
            left = 0;
        const timespec wait{static_cast<time_t>(left / kNanosPerSecond),
                            static_cast<long>(left % kNanosPerSecond)};
        const int sig = sigtimedwait(&stopSignals, nullptr, &wait);
        if (sig > 0)
            return false;
        if (sig < 0 && errno == EINTR)
            continue;
        return true; // EAGAIN: the time has come
    }
}

// Sends `bytes`: in one burst, or byte by byte at the pace of the line.
// False when a stop signal arrived; `whole` tells whether every byte went.
bool sendPaced(kq::sim::PseudoTerminal& pty, const std::vector<std::uint8_t>& bytes,
               std::uint32_t baud, const sigset_t& stopSignals, bool& whole) {
    if (bytes.empty())
        return true;
    if (baud == 0) {
        whole = pty.send(bytes) && whole;
        return true;
    }
    const long long byteNanos = 10LL * kNanosPerSecond / baud; // start, 8 data, stop bit
    timespec at{};
    clock_gettime(CLOCK_MONOTONIC, &at);
    for (const std::uint8_t b : bytes) {
        whole = pty.send({b}) && whole;
        at = addNanos(at, byteNanos);
        if (!sleepUntil(at, stopSignals))
            return false;
    }
    return true;
}

} // namespace

int main(int argc, char** argv) {
    std::string error;
    const auto parsed = kq::sim::parseOptions(argc, argv, error);
    if (!parsed && !error.empty()) {
        std::fprintf(stderr, "kqmeter-sim: %s (try kqmeter-sim --help)\n", error.c_str());
        return 2;
    }
    if (!parsed) {
        std::fputs(kq::sim::usageText(), stdout);
        return 0;
    }
    const Options& opt = *parsed;
    if (opt.version) {
        std::printf("kqmeter-sim %s\n", kq::kVersion);
        return 0;
    }

    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    sigaddset(&stopSignals, SIGHUP);
    sigprocmask(SIG_BLOCK, &stopSignals, nullptr);
    std::signal(SIGPIPE, SIG_IGN);

    kq::sim::PseudoTerminal pty;
    if (!pty.open(error)) {
        std::fprintf(stderr, "kqmeter-sim: %s\n", error.c_str());
        return 1;
    }
    std::printf("%s\n", pty.slavePath().c_str());
    std::fflush(stdout);
    if (!opt.linkPath.empty() && !kq::sim::replaceSymlink(pty.slavePath(), opt.linkPath, error)) {
        std::fprintf(stderr, "kqmeter-sim: %s\n", error.c_str());
        return 1;
    }
    if (!opt.pathFile.empty() &&
        !kq::sim::replaceFile(opt.pathFile, pty.slavePath() + "\n", error)) {
        std::fprintf(stderr, "kqmeter-sim: %s\n", error.c_str());
        return 1;
    }

    std::mt19937 rng(opt.seed);
    const long long period = std::llround(static_cast<double>(kNanosPerSecond) / opt.rate);
    timespec next{};
    clock_gettime(CLOCK_MONOTONIC, &next);
    next = addNanos(next, opt.startDelayMs * 1'000'000LL);

    std::uint64_t sent = 0;
    for (std::uint64_t i = 0; opt.count == 0 || i < opt.count; ++i) {
        if (!sleepUntil(next, stopSignals))
            return 0;
        const std::string shown = kq::sim::valueAt(opt, i / opt.hold);
        const auto glass = kq::sim::parseGlass(shown);
        auto frame = kq::sim::encodeFrame(opt.form, *glass, opt.unit, rng);
        if (opt.truncateEvery && (i + 1) % opt.truncateEvery == 0) {
            std::uniform_int_distribution<std::size_t> cut(1, frame.size() - 1);
            frame.resize(cut(rng));
        }
        bool whole = true;
        if (opt.splitEvery && (i + 1) % opt.splitEvery == 0 && frame.size() > 1) {
            // A frame cut in two: the reader meets its halves in different polls.
            std::uniform_int_distribution<std::size_t> cut(1, frame.size() - 1);
            const auto at = static_cast<std::ptrdiff_t>(cut(rng));
            if (!sendPaced(pty, {frame.begin(), frame.begin() + at}, opt.baud, stopSignals, whole))
                return 0;
            timespec now{};
            clock_gettime(CLOCK_MONOTONIC, &now);
            if (!sleepUntil(addNanos(now, 80'000'000LL), stopSignals))
                return 0;
            if (!sendPaced(pty, {frame.begin() + at, frame.end()}, opt.baud, stopSignals, whole))
                return 0;
        } else if (!sendPaced(pty, frame, opt.baud, stopSignals, whole)) {
            return 0;
        }
        ++sent;
        if (opt.verbose)
            std::fprintf(stderr, "frame %llu %s%s\n", static_cast<unsigned long long>(i + 1),
                         shown.c_str(), whole ? "" : " (dropped: nobody reads)");
        if (opt.hangupAfter && sent == opt.hangupAfter) {
            // Let the reader take the last frame, then vanish like a pulled cable.
            if (!sleepUntil(addNanos(next, period / 2), stopSignals))
                return 0;
            if (opt.verbose)
                std::fputs("hang-up\n", stderr);
            pty.close();
            return 0;
        }
        if (opt.strayBytes) {
            if (!sleepUntil(addNanos(next, period / 2), stopSignals))
                return 0;
            std::uniform_int_distribution<int> len(1, 6);
            std::uniform_int_distribution<int> byte(0, 255);
            std::vector<std::uint8_t> junk(static_cast<std::size_t>(len(rng)));
            for (auto& b : junk)
                b = static_cast<std::uint8_t>(byte(rng));
            bool ignored = true;
            if (!sendPaced(pty, junk, opt.baud, stopSignals, ignored))
                return 0;
        }
        next = addNanos(next, period);
    }
    // The last frame still has to be read before the line goes away.
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    sleepUntil(addNanos(now, 200'000'000LL), stopSignals);
    return 0;
}
