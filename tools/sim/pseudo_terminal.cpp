#include "pseudo_terminal.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

namespace kq::sim {

namespace {

std::string sysError(const char* what) {
    return std::string(what) + ": " + std::strerror(errno);
}

} // namespace

bool PseudoTerminal::open(std::string& error) {
    m_master = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (m_master < 0) {
        error = sysError("posix_openpt");
        return false;
    }
    if (::grantpt(m_master) != 0 || ::unlockpt(m_master) != 0) {
        error = sysError("grantpt/unlockpt");
        close();
        return false;
    }
    char name[128] = {};
    if (::ptsname_r(m_master, name, sizeof name) != 0) {
        error = sysError("ptsname");
        close();
        return false;
    }
    m_slavePath = name;
    // The line is raw from the start: a meter's CR must not turn into LF, and
    // no byte may be taken as a control character.
    termios tio{};
    if (::tcgetattr(m_master, &tio) == 0) {
        ::cfmakeraw(&tio);
        ::tcsetattr(m_master, TCSANOW, &tio);
    }
    // Holding the slave side open keeps the line up while no program has it
    // open, as a cable stays plugged in while the program is not connected.
    m_slaveKeep = ::open(name, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (m_slaveKeep < 0) {
        error = sysError("open slave");
        close();
        return false;
    }
    const int flags = ::fcntl(m_master, F_GETFL);
    ::fcntl(m_master, F_SETFL, flags | O_NONBLOCK);
    return true;
}

bool PseudoTerminal::send(const std::vector<std::uint8_t>& bytes) {
    if (m_master < 0 || bytes.empty())
        return false;
    ssize_t n;
    do {
        n = ::write(m_master, bytes.data(), bytes.size());
    } while (n < 0 && errno == EINTR);
    return n == static_cast<ssize_t>(bytes.size());
}

void PseudoTerminal::close() {
    if (m_slaveKeep >= 0)
        ::close(m_slaveKeep);
    if (m_master >= 0)
        ::close(m_master);
    m_slaveKeep = m_master = -1;
}

bool replaceSymlink(const std::string& target, const std::string& linkPath, std::string& error) {
    const std::string tmp = linkPath + ".tmp" + std::to_string(::getpid());
    ::unlink(tmp.c_str());
    if (::symlink(target.c_str(), tmp.c_str()) != 0) {
        error = sysError(("symlink " + linkPath).c_str());
        return false;
    }
    if (::rename(tmp.c_str(), linkPath.c_str()) != 0) {
        error = sysError(("rename " + linkPath).c_str());
        ::unlink(tmp.c_str());
        return false;
    }
    return true;
}

bool replaceFile(const std::string& path, const std::string& text, std::string& error) {
    const std::string tmp = path + ".tmp" + std::to_string(::getpid());
    std::FILE* f = std::fopen(tmp.c_str(), "w");
    if (!f) {
        error = sysError(("write " + path).c_str());
        return false;
    }
    const bool ok = std::fwrite(text.data(), 1, text.size(), f) == text.size();
    if (std::fclose(f) != 0 || !ok || std::rename(tmp.c_str(), path.c_str()) != 0) {
        error = sysError(("write " + path).c_str());
        std::remove(tmp.c_str());
        return false;
    }
    return true;
}

} // namespace kq::sim
