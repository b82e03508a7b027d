#include "files/atomic_file.h"

#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <fcntl.h>
#include <random>
#include <sys/stat.h>
#include <unistd.h>

namespace kq::files {

namespace {

std::string folderOf(const std::string& path) {
    const auto slash = path.rfind('/');
    if (slash == std::string::npos)
        return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

std::string baseNameOf(const std::string& path) {
    const auto slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// A link is followed, so that saving through it replaces the file it names
// and the link stays.
std::string resolveLink(const std::string& path) {
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0 || !S_ISLNK(st.st_mode))
        return path;
    char resolved[PATH_MAX];
    if (::realpath(path.c_str(), resolved) == nullptr)
        return path;
    return resolved;
}

} // namespace

AtomicFile::AtomicFile(std::string target) : m_target(resolveLink(target)) {}

AtomicFile::~AtomicFile() {
    discard();
}

void AtomicFile::fail(const char* what, int err) {
    m_error = std::string(what) + " \"" + m_target + "\": " + systemErrorText(err);
}

bool AtomicFile::open() {
    const std::string folder = folderOf(m_target);
    const std::string base = baseNameOf(m_target);
    if (base.empty()) {
        fail("Cannot create file", EISDIR);
        return false;
    }
    std::uint64_t seed = static_cast<std::uint64_t>(::getpid()) << 32;
    try {
        seed ^= std::random_device{}();
    } catch (const std::exception&) {
        // No entropy source: the clock still tells concurrent saves apart.
    }
    seed ^= static_cast<std::uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count());
    std::mt19937_64 names(seed);
    for (int attempt = 0; attempt < 16; ++attempt) {
        char suffix[32];
        std::snprintf(suffix, sizeof suffix, ".%08x.tmp", static_cast<unsigned>(names()));
        std::string temp = folder + "/." + base + suffix;
        // 0666 lets the umask decide, as for any newly created file.
        m_fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (m_fd >= 0) {
            m_tempPath = std::move(temp);
            break;
        }
        if (errno != EEXIST) {
            fail("Cannot create file", errno);
            return false;
        }
    }
    if (m_fd < 0) {
        fail("Cannot create file", EEXIST);
        return false;
    }
    // Replacing a file keeps its permissions.
    struct stat st {};
    if (::stat(m_target.c_str(), &st) == 0 && S_ISREG(st.st_mode))
        (void)::fchmod(m_fd, st.st_mode & 07777);
    return true;
}

bool AtomicFile::write(const char* data, std::size_t size) {
    if (m_fd < 0) {
        if (m_error.empty())
            fail("Cannot write file", EBADF);
        return false;
    }
    while (size > 0) {
        const ssize_t n = ::write(m_fd, data, size);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            fail("Cannot write file", errno);
            return false;
        }
        if (n == 0) {
            fail("Cannot write file", EIO);
            return false;
        }
        data += n;
        size -= static_cast<std::size_t>(n);
    }
    return true;
}

bool AtomicFile::commit() {
    if (m_fd < 0) {
        if (m_error.empty())
            fail("Cannot write file", EBADF);
        discard();
        return false;
    }
    if (::fsync(m_fd) != 0) {
        fail("Cannot write file", errno);
        discard();
        return false;
    }
    const int fd = m_fd;
    m_fd = -1;
    if (::close(fd) != 0) {
        fail("Cannot write file", errno);
        discard();
        return false;
    }
    if (::rename(m_tempPath.c_str(), m_target.c_str()) != 0) {
        fail("Cannot replace file", errno);
        discard();
        return false;
    }
    m_tempPath.clear();
    // The new name must survive a power cut too.
    const int dir = ::open(folderOf(m_target).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir >= 0) {
        (void)::fsync(dir);
        ::close(dir);
    }
    return true;
}

void AtomicFile::discard() {
    if (m_fd >= 0) {
        ::close(m_fd);
        m_fd = -1;
    }
    if (!m_tempPath.empty()) {
        ::unlink(m_tempPath.c_str());
        m_tempPath.clear();
    }
}

} // namespace kq::files
