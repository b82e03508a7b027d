#include "links/usbbridge_tty.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <charconv>
#include <chrono>
#include <cstdlib>
#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <thread>
#include <unistd.h>

namespace kq::links {

namespace {

using Clock = std::chrono::steady_clock;

// Speeds a tty can be set to: bits per second, termios speed code.
struct Speed {
    std::uint32_t bps;
    speed_t code;
};
constexpr std::array kSpeeds = {
    Speed{300, B300},         Speed{600, B600},         Speed{1200, B1200},
    Speed{1800, B1800},       Speed{2400, B2400},       Speed{4800, B4800},
    Speed{9600, B9600},       Speed{19200, B19200},     Speed{38400, B38400},
    Speed{57600, B57600},     Speed{115200, B115200},   Speed{230400, B230400},
    Speed{460800, B460800},   Speed{500000, B500000},   Speed{576000, B576000},
    Speed{921600, B921600},   Speed{1000000, B1000000}, Speed{1152000, B1152000},
    Speed{1500000, B1500000}, Speed{2000000, B2000000}, Speed{3000000, B3000000},
};

std::optional<speed_t> speedCode(std::uint32_t bps) {
    for (const auto& s : kSpeeds)
        if (s.bps == bps)
            return s.code;
    return std::nullopt;
}

bool isCharDevice(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && S_ISCHR(st.st_mode);
}

// "ttyUSB12" -> 12; anything else is not a bridge line.
std::optional<unsigned> usbTtyNumber(std::string_view name) {
    constexpr std::string_view prefix = "ttyUSB";
    if (name.size() <= prefix.size() || name.substr(0, prefix.size()) != prefix)
        return std::nullopt;
    const std::string_view digits = name.substr(prefix.size());
    unsigned n = 0;
    auto [end, ec] = std::from_chars(digits.data(), digits.data() + digits.size(), n);
    if (ec != std::errc{} || end != digits.data() + digits.size())
        return std::nullopt;
    return n;
}

} // namespace

TtyUsbBridge::TtyUsbBridge(Discovery discovery) : m_discovery(std::move(discovery)) {}

TtyUsbBridge::~TtyUsbBridge() {
    for (auto& [handle, line] : m_open)
        ::close(line.fd);
}

std::vector<std::string> TtyUsbBridge::splitDeviceList(std::string_view list) {
    std::vector<std::string> out;
    while (!list.empty()) {
        const auto colon = list.find(':');
        const auto part = list.substr(0, colon);
        if (!part.empty())
            out.emplace_back(part);
        if (colon == std::string_view::npos)
            break;
        list.remove_prefix(colon + 1);
    }
    return out;
}

std::vector<std::string> TtyUsbBridge::devicePaths() const {
    std::vector<std::string> out;
    if (m_discovery.paths) {
        for (const auto& p : *m_discovery.paths)
            if (isCharDevice(p))
                out.push_back(p);
        return out;
    }
    DIR* dir = ::opendir(m_discovery.sysfsDir.c_str());
    if (!dir)
        return out; // no usb-serial driver loaded: no bridge attached
    std::vector<std::pair<unsigned, std::string>> found;
    while (const dirent* e = ::readdir(dir)) {
        if (auto n = usbTtyNumber(e->d_name))
            found.emplace_back(*n, e->d_name);
    }
    ::closedir(dir);
    std::sort(found.begin(), found.end());
    for (auto& [n, name] : found)
        out.push_back(m_discovery.devDir + "/" + name);
    return out;
}

TtyUsbBridge::Line* TtyUsbBridge::find(UB_HANDLE handle) {
    auto it = m_open.find(handle);
    return it == m_open.end() ? nullptr : &it->second;
}

UB_STATUS TtyUsbBridge::UB_GetNumDevices(std::uint32_t* count) {
    if (!count)
        return UB_INVALID_PARAMETER;
    *count = static_cast<std::uint32_t>(devicePaths().size());
    return UB_OK;
}

UB_STATUS TtyUsbBridge::UB_Open(int index, UB_HANDLE* handle) {
    if (!handle)
        return UB_INVALID_PARAMETER;
    const auto paths = devicePaths();
    if (index < 0 || static_cast<std::size_t>(index) >= paths.size())
        return UB_DEVICE_NOT_FOUND;
    const int fd = ::open(paths[static_cast<std::size_t>(index)].c_str(),
                          O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return errno == EACCES || errno == EPERM ? UB_NOT_PERMITTED : UB_DEVICE_NOT_OPENED;
    termios tio{};
    if (!::isatty(fd) || ::tcgetattr(fd, &tio) != 0) {
        ::close(fd);
        return UB_DEVICE_NOT_OPENED;
    }
    // Raw 8N1: the meter's bytes carry segment bits, so no byte may be
    // translated (CR to LF) or swallowed (XON/XOFF).
    ::cfmakeraw(&tio);
    tio.c_cflag |= CLOCAL | CREAD;
    tio.c_cflag &= ~static_cast<tcflag_t>(CSTOPB | PARENB | CRTSCTS);
    tio.c_cc[VMIN] = 0;
    tio.c_cc[VTIME] = 0;
    if (::tcsetattr(fd, TCSANOW, &tio) != 0) {
        ::close(fd);
        return UB_DEVICE_NOT_OPENED;
    }
    ::ioctl(fd, TIOCEXCL); // one reader per line; refusal is harmless
    // A bridge starts with empty buffers: whatever the line held before
    // belongs to nobody.
    ::tcflush(fd, TCIOFLUSH);
    const UB_HANDLE h = m_nextHandle++;
    Line line;
    line.fd = fd;
    m_open.emplace(h, std::move(line));
    *handle = h;
    return UB_OK;
}

UB_STATUS TtyUsbBridge::UB_SetBaudRate(UB_HANDLE handle, std::uint32_t baud) {
    Line* line = find(handle);
    if (!line)
        return UB_INVALID_HANDLE;
    const auto code = speedCode(baud);
    if (!code)
        return UB_INVALID_BAUD_RATE;
    termios tio{};
    if (::tcgetattr(line->fd, &tio) != 0)
        return UB_SET_FAILED;
    ::cfsetispeed(&tio, *code);
    ::cfsetospeed(&tio, *code);
    if (::tcsetattr(line->fd, TCSANOW, &tio) != 0)
        return UB_SET_FAILED;
    line->baud = baud;
    return UB_OK;
}

UB_STATUS TtyUsbBridge::UB_SetTimeouts(std::uint32_t readMs, std::uint32_t writeMs) {
    m_readMs = readMs;
    m_writeMs = writeMs;
    return UB_OK;
}

UB_STATUS TtyUsbBridge::UB_Read(UB_HANDLE handle, void* buffer, std::uint32_t toRead,
                                std::uint32_t* got) {
    if (got)
        *got = 0;
    if (!buffer || !got)
        return UB_INVALID_PARAMETER;
    Line* line = find(handle);
    if (!line)
        return UB_INVALID_HANDLE;
    if (toRead == 0)
        return UB_OK;

    auto* out = static_cast<unsigned char*>(buffer);
    std::vector<std::uint8_t>& pending = line->pending;
    const auto quiet = std::chrono::milliseconds(m_readMs);
    // The whole call, whatever the line does, ends within the read time-out:
    // the poll runs on the window's thread. A burst that is still coming in
    // when the time is up stays here for the next read, so a read that lands
    // in the middle of a frame does not cut it in two.
    const Clock::time_point deadline = Clock::now() + quiet;
    const auto deliver = [&] {
        const auto n = static_cast<std::uint32_t>(std::min<std::size_t>(pending.size(), toRead));
        std::copy_n(pending.begin(), n, out);
        pending.erase(pending.begin(), pending.begin() + n);
        *got = n;
        return UB_OK;
    };
    // The line failed or hung up: what came before is still handed out; the
    // next read reports the failure.
    const auto lineFailed = [&] { return pending.empty() ? UB_IO_ERROR : deliver(); };

    // Bytes that came while nobody was reading continue the kept burst: take
    // them before deciding whether the line has gone quiet.
    const auto takeWaiting = [&]() -> bool {
        while (pending.size() < toRead) {
            pollfd p{line->fd, POLLIN, 0};
            const int r = ::poll(&p, 1, 0);
            if (r < 0 && errno == EINTR)
                continue;
            if (r < 0)
                return false;
            if (r == 0)
                return true; // nothing waiting
            if (!(p.revents & POLLIN))
                return false; // POLLHUP / POLLERR without data
            std::uint8_t chunk[256];
            const std::size_t room = std::min<std::size_t>(sizeof chunk, toRead - pending.size());
            const ssize_t n = ::read(line->fd, chunk, room);
            if (n > 0) {
                pending.insert(pending.end(), chunk, chunk + n);
                line->lastByte = Clock::now();
                continue;
            }
            if (n < 0 && (errno == EAGAIN || errno == EINTR))
                continue;
            return false; // readable yet nothing read: hung up, or a read error
        }
        return true;
    };

    for (;;) {
        if (!takeWaiting())
            return lineFailed();
        if (pending.size() >= toRead)
            return deliver();
        const Clock::time_point now = Clock::now();
        // A burst after which the line has been quiet for the time-out is
        // complete; one whose quiet time ends only after this read's time is
        // left to the next read.
        if (!pending.empty()) {
            const Clock::time_point quietEnd = line->lastByte + quiet;
            if (quietEnd <= now && quietEnd <= deadline)
                return deliver();
        }
        if (now >= deadline)
            return UB_NO_DATA;
        if (!pending.empty()) {
            // The rest of a burst cannot come faster than the line carries it
            // (ten bits a byte): no waking for every byte of it meanwhile.
            const auto rest = std::chrono::microseconds((toRead - pending.size()) *
                                                        std::uint64_t{10'000'000} / line->baud);
            const Clock::time_point whole = std::min(deadline, line->lastByte + rest);
            if (whole > now) {
                std::this_thread::sleep_until(whole);
                continue;
            }
        }
        const Clock::time_point wakeAt =
            pending.empty() ? deadline : std::min(deadline, line->lastByte + quiet);
        const auto left = std::chrono::duration_cast<std::chrono::nanoseconds>(wakeAt - now);
        timespec ts{static_cast<time_t>(left.count() / 1000000000),
                    static_cast<long>(left.count() % 1000000000)};
        pollfd p{line->fd, POLLIN, 0};
        const int r = ::ppoll(&p, 1, &ts, nullptr);
        if (r < 0) {
            if (errno == EINTR)
                continue;
            return lineFailed();
        }
        if (r == 0)
            continue; // quiet until wakeAt: the checks above decide
        if (!(p.revents & POLLIN))
            return lineFailed(); // POLLHUP / POLLERR without data
    }
}

UB_STATUS TtyUsbBridge::UB_FlushBuffers(UB_HANDLE handle, int purgeTx, int purgeRx) {
    Line* line = find(handle);
    if (!line)
        return UB_INVALID_HANDLE;
    if (!purgeTx && !purgeRx)
        return UB_OK;
    if (purgeRx)
        line->pending.clear();
    const int which = purgeTx && purgeRx ? TCIOFLUSH : purgeTx ? TCOFLUSH : TCIFLUSH;
    return ::tcflush(line->fd, which) == 0 ? UB_OK : UB_IO_ERROR;
}

UB_STATUS TtyUsbBridge::UB_Close(UB_HANDLE handle) {
    auto it = m_open.find(handle);
    if (it == m_open.end())
        return UB_INVALID_HANDLE;
    ::close(it->second.fd);
    m_open.erase(it);
    return UB_OK;
}

std::unique_ptr<UsbBridge> makeSystemBridge() {
    TtyUsbBridge::Discovery d;
    if (const char* list = std::getenv(kBridgeDevicesEnv))
        d.paths = TtyUsbBridge::splitDeviceList(list);
    return std::make_unique<TtyUsbBridge>(std::move(d));
}

} // namespace kq::links
