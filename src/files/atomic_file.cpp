#include "files/atomic_file.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace kq::files {

namespace {

constexpr const char* kPartly = " (the file is only partly written)";

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

// The mode a newly created file gets: what the umask leaves of 0666.
mode_t newFileMode() {
    const mode_t mask = ::umask(022);
    ::umask(mask);
    return 0666 & ~mask;
}

// An unnamed file for the staged content, gone as soon as it is closed.
int anonymousFile() {
    const char* env = std::getenv("TMPDIR");
    const std::string dir = env && *env ? env : "/tmp";
    const int fd = ::open(dir.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
    if (fd >= 0)
        return fd;
    std::string name = dir + "/kqmeter-save-XXXXXX";
    const int named = ::mkostemp(name.data(), O_CLOEXEC);
    if (named >= 0)
        ::unlink(name.c_str());
    return named;
}

bool writeAll(int fd, const char* data, std::size_t size, std::size_t* done = nullptr) {
    if (done)
        *done = 0;
    while (size > 0) {
        const ssize_t n = ::write(fd, data, size);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            if (n == 0)
                errno = EIO;
            return false;
        }
        data += n;
        size -= static_cast<std::size_t>(n);
        if (done)
            *done += static_cast<std::size_t>(n);
    }
    return true;
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
    if (baseNameOf(m_target).empty()) {
        fail("Cannot create file", EISDIR);
        return false;
    }
    struct stat st {};
    const bool exists = ::stat(m_target.c_str(), &st) == 0;
    if (exists) {
        if (S_ISDIR(st.st_mode)) {
            fail("Cannot create file", EISDIR);
            return false;
        }
        // A write-protected file stays as it is, also for a user whom the
        // system would let write it anyway.
        if ((st.st_mode & 0222) == 0) {
            fail("Cannot write file", EACCES);
            return false;
        }
        if (::access(m_target.c_str(), W_OK) != 0) {
            fail("Cannot write file", errno);
            return false;
        }
    }
    // A rename would leave the other names of a hard-linked file with the old
    // content, so such a file is written over.
    if (!(exists && st.st_nlink > 1) && openBeside(exists, st))
        return true;
    if (!exists)
        return false; // the folder takes no new file, so there is nothing to write over
    m_error.clear();
    return openInPlace();
}

bool AtomicFile::openBeside(bool exists, const struct stat& st) {
    std::string temp = folderOf(m_target) + "/." + baseNameOf(m_target) + ".XXXXXX";
    const int fd = ::mkostemp(temp.data(), O_CLOEXEC);
    if (fd < 0) {
        fail("Cannot create file", errno);
        return false;
    }
    bool kept = true;
    if (exists) {
        // The new file takes the place of the old one, so it takes its owner
        // and its permissions too; an owner that cannot be given (another
        // user's file in a shared folder) rules the rename out.
        struct stat mine {};
        if (::fstat(fd, &mine) != 0 || ((mine.st_uid != st.st_uid || mine.st_gid != st.st_gid) &&
                                        ::fchown(fd, st.st_uid, st.st_gid) != 0))
            kept = false;
        if (kept && ::fchmod(fd, st.st_mode & 07777) != 0)
            kept = false;
    } else if (::fchmod(fd, newFileMode()) != 0) {
        kept = false;
    }
    if (!kept) {
        ::close(fd);
        ::unlink(temp.c_str());
        return false;
    }
    m_fd = fd;
    m_tempPath = std::move(temp);
    return true;
}

bool AtomicFile::openInPlace() {
    m_targetFd = ::open(m_target.c_str(), O_WRONLY | O_CLOEXEC);
    if (m_targetFd < 0) {
        fail("Cannot write file", errno);
        return false;
    }
    m_fd = anonymousFile();
    if (m_fd < 0) {
        // Nowhere to keep the content until it is complete: it goes straight
        // over the old file.
        m_fd = m_targetFd;
        m_direct = true;
    }
    return true;
}

bool AtomicFile::write(const char* data, std::size_t size) {
    if (m_fd < 0) {
        if (m_error.empty())
            fail("Cannot write file", EBADF);
        return false;
    }
    if (!writeAll(m_fd, data, size)) {
        fail("Cannot write file", errno);
        if (m_direct)
            m_error += kPartly;
        return false;
    }
    m_written += size;
    return true;
}

bool AtomicFile::copyIntoTarget() {
    // Written over the old bytes first and cut to length last, so that a
    // file system that reuses the old blocks needs no new space until the
    // new content is longer.
    if (::lseek(m_fd, 0, SEEK_SET) != 0 || ::lseek(m_targetFd, 0, SEEK_SET) != 0) {
        fail("Cannot write file", errno);
        return false;
    }
    char buffer[1 << 16];
    std::uint64_t copied = 0;
    while (copied < m_written) {
        const ssize_t n = ::read(m_fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            fail("Cannot write file", n == 0 ? EIO : errno);
            return false;
        }
        std::size_t done = 0;
        if (!writeAll(m_targetFd, buffer, static_cast<std::size_t>(n), &done)) {
            fail("Cannot write file", errno);
            if (copied > 0 || done > 0)
                m_error += kPartly;
            return false;
        }
        copied += static_cast<std::uint64_t>(n);
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
    if (m_targetFd >= 0) {
        bool ok = m_direct || copyIntoTarget();
        if (ok && (::ftruncate(m_targetFd, static_cast<off_t>(m_written)) != 0 ||
                   ::fsync(m_targetFd) != 0)) {
            fail("Cannot write file", errno);
            m_error += kPartly;
            ok = false;
        }
        if (ok && ::close(m_targetFd) != 0) {
            fail("Cannot write file", errno);
            m_error += kPartly;
            ok = false;
        } else if (ok) {
            if (m_fd == m_targetFd)
                m_fd = -1;
            m_targetFd = -1;
        }
        discard();
        return ok;
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
    if (m_fd >= 0 && m_fd != m_targetFd)
        ::close(m_fd);
    m_fd = -1;
    if (m_targetFd >= 0) {
        ::close(m_targetFd);
        m_targetFd = -1;
    }
    m_direct = false;
    if (!m_tempPath.empty()) {
        ::unlink(m_tempPath.c_str());
        m_tempPath.clear();
    }
}

} // namespace kq::files
