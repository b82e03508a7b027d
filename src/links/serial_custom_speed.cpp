// The kernel's own termios2 interface. Its header clashes with the C
// library's <termios.h>, so this file includes nothing else of termios.
#include <asm/termbits.h>
#include <cstdint>
#include <sys/ioctl.h>

namespace kq::links {

bool setCustomSpeed(int fd, std::uint32_t bps) {
    struct termios2 tio {};
    if (::ioctl(fd, TCGETS2, &tio) != 0)
        return false;
    tio.c_cflag &= ~static_cast<tcflag_t>(CBAUD | (CBAUD << IBSHIFT));
    tio.c_cflag |= BOTHER | (BOTHER << IBSHIFT);
    tio.c_ispeed = bps;
    tio.c_ospeed = bps;
    return ::ioctl(fd, TCSETS2, &tio) == 0;
}

std::uint32_t lineSpeedBps(int fd) {
    struct termios2 tio {};
    if (::ioctl(fd, TCGETS2, &tio) != 0)
        return 0;
    return tio.c_ospeed;
}

} // namespace kq::links
