#include "support/pty.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <stdexcept>
#include <unistd.h>

namespace kq::test {

Pty::Pty() {
    m_master = ::posix_openpt(O_RDWR | O_NOCTTY);
    if (m_master < 0 || ::grantpt(m_master) != 0 || ::unlockpt(m_master) != 0) {
        const std::string why = std::strerror(errno);
        hangUp();
        throw std::runtime_error("no pseudo-terminal for the test: " + why);
    }
    m_path = ::ptsname(m_master);
}

Pty::~Pty() {
    hangUp();
}

bool Pty::send(const std::vector<std::uint8_t>& bytes) const {
    return ::write(m_master, bytes.data(), bytes.size()) == static_cast<ssize_t>(bytes.size());
}

void Pty::hangUp() {
    if (m_master >= 0)
        ::close(m_master);
    m_master = -1;
}

} // namespace kq::test
