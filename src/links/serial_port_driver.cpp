#include "links/serial_port_driver.h"

#include <QTimer>
#include <cerrno>
#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <unistd.h>

namespace kq::links {

SerialPortProblem::Kind problemKindOf(int error) {
    using Kind = SerialPortProblem::Kind;
    switch (error) {
    case 0:
        return Kind::None;
    case ENOENT:
    case ENODEV:
    case ENXIO:
    case ENOTDIR:
        return Kind::Missing;
    case EBUSY:
    case EWOULDBLOCK:
        return Kind::Busy;
    case EACCES:
    case EPERM:
    case EROFS:
        return Kind::NotPermitted;
    case ENOTTY:
        return Kind::NotASerialPort;
    default:
        return Kind::Other;
    }
}

TSerialPortDriver::TSerialPortDriver(ComPortTable table)
    : m_table(std::move(table)), m_buffer(m_inBufSize), m_timer(std::make_unique<QTimer>()) {
    m_timer->setObjectName("COMM2.Timer");
    m_timer->setInterval(timerInterval());
    QObject::connect(m_timer.get(), &QTimer::timeout, [this] { TimerTick(); });
}

TSerialPortDriver::~TSerialPortDriver() {
    Disconnect();
}

int TSerialPortDriver::timerInterval() const {
    // A delay of 0 would poll without pause and take a whole core.
    return m_pollingDelay > 0 ? m_pollingDelay : 1;
}

bool TSerialPortDriver::pollingTimerActive() const {
    return m_timer->isActive();
}

bool TSerialPortDriver::Connect() {
    if (Connected())
        return true;
    m_problem = {};
    const std::string& path = devicePath();
    const int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        const int error = errno;
        m_problem = {problemKindOf(error), path, error};
        return false;
    }
    const auto refuse = [&](SerialPortProblem::Kind kind, int error) {
        ::close(fd);
        m_problem = {kind, path, error};
        return false;
    };
    termios tio{};
    if (!::isatty(fd) || ::tcgetattr(fd, &tio) != 0)
        return refuse(SerialPortProblem::Kind::NotASerialPort, ENOTTY);
    // Two readers of one line would each get half of the meter's bytes. The
    // lock keeps out programs that lock as we do; TIOCEXCL makes every later
    // open() of the line fail with EBUSY, whoever tries.
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0)
        return refuse(SerialPortProblem::Kind::Busy, errno);
    ::ioctl(fd, TIOCEXCL);

    m_fd = fd;
    applyLineSettings();
    m_timer->start(timerInterval());
    return true;
}

void TSerialPortDriver::Disconnect() {
    if (!Connected())
        return;
    m_timer->stop();
    ::ioctl(m_fd, TIOCNXCL);
    ::close(m_fd); // also drops the lock
    m_fd = -1;
}

void TSerialPortDriver::applyLineSettings() {
    if (!Connected())
        return;
    termios tio{};
    ::tcgetattr(m_fd, &tio);
    std::uint32_t customSpeed = 0;
    fillTermios(m_line, tio, customSpeed);
    // As with any serial port, a refused setting is not fatal: the port
    // stays open and the user sees whether frames arrive.
    ::tcsetattr(m_fd, TCSANOW, &tio);
    if (customSpeed)
        setCustomSpeed(m_fd, customSpeed);

    // Opening a tty raises DTR and RTS. A meter cable may draw its power from
    // DTR; RTS stays low unless the hardware handshake drives it.
    int dtr = TIOCM_DTR;
    ::ioctl(m_fd, m_enableDtr ? TIOCMBIS : TIOCMBIC, &dtr);
    if (m_line.hwHandshaking == hhNONE) {
        int rts = TIOCM_RTS;
        ::ioctl(m_fd, TIOCMBIC, &rts);
    }
    FlushBuffers(true, true);
    // The kernel's queues have a fixed size and it chooses its own XON/XOFF
    // thresholds: ComPortInBufSize only sizes the driver's read buffer here,
    // and 2048 bytes every 50 ms is far beyond what a meter sends.
}

void TSerialPortDriver::FlushBuffers(bool inBuffer, bool outBuffer) {
    if (!Connected() || (!inBuffer && !outBuffer))
        return;
    ::tcflush(m_fd, inBuffer && outBuffer ? TCIOFLUSH : inBuffer ? TCIFLUSH : TCOFLUSH);
}

void TSerialPortDriver::TimerTick() {
    if (!Connected())
        return;
    pollfd p{m_fd, POLLIN, 0};
    int ready;
    do {
        ready = ::poll(&p, 1, 0);
    } while (ready < 0 && errno == EINTR);
    if (ready <= 0)
        return; // nothing arrived (or a passing failure: try again next tick)
    if (!(p.revents & POLLIN)) {
        // Hung up or failed with nothing left to read.
        if (p.revents & (POLLHUP | POLLERR | POLLNVAL))
            lose(p.revents & POLLNVAL ? EBADF : EIO);
        return;
    }
    if (m_buffer.empty())
        return;
    ssize_t n;
    do {
        n = ::read(m_fd, m_buffer.data(), m_buffer.size());
    } while (n < 0 && errno == EINTR);
    if (n > 0) {
        if (OnReceiveData)
            OnReceiveData(*this, m_buffer.data(), static_cast<std::size_t>(n));
        return;
    }
    if (n < 0 && errno == EAGAIN)
        return;
    // Readable yet no byte: end of file, the line has hung up. A failed read
    // (EIO, ENXIO when the adapter went) means the same. Either would repeat
    // on every tick for ever, so the port is closed.
    lose(n < 0 ? errno : EIO);
}

void TSerialPortDriver::lose(int error) {
    const std::string path = devicePath();
    Disconnect();
    m_problem = {SerialPortProblem::Kind::Lost, path, error};
    if (OnConnectionLost)
        OnConnectionLost(*this);
}

void TSerialPortDriver::setComPort(TComPortNumber port) {
    if (!Connected() && port >= pnCOM1 && port <= pnCOM4)
        m_port = port;
}

void TSerialPortDriver::setComPortSpeed(TComPortBaudRate speed) {
    if (baudRateBps(speed) == 0)
        return; // not a speed of the list
    m_line.speed = speed;
    applyLineSettings();
}

void TSerialPortDriver::setComPortDataBits(TComPortDataBits bits) {
    m_line.dataBits = bits;
    applyLineSettings();
}

void TSerialPortDriver::setComPortStopBits(TComPortStopBits bits) {
    m_line.stopBits = bits;
    applyLineSettings();
}

void TSerialPortDriver::setComPortParity(TComPortParity parity) {
    m_line.parity = parity;
    applyLineSettings();
}

void TSerialPortDriver::setComPortHwHandshaking(TComPortHwHandshaking mode) {
    m_line.hwHandshaking = mode;
    applyLineSettings();
}

void TSerialPortDriver::setComPortSwHandshaking(TComPortSwHandshaking mode) {
    m_line.swHandshaking = mode;
    applyLineSettings();
}

void TSerialPortDriver::setComPortInBufSize(std::uint16_t size) {
    if (Connected())
        return;
    m_inBufSize = size;
    m_buffer.assign(size, 0);
    m_buffer.shrink_to_fit();
}

void TSerialPortDriver::setComPortPollingDelay(std::uint16_t ms) {
    if (!Connected()) {
        m_pollingDelay = ms;
        m_timer->setInterval(timerInterval());
        return;
    }
    m_timer->stop();
    m_pollingDelay = ms;
    m_timer->start(timerInterval());
}

} // namespace kq::links
