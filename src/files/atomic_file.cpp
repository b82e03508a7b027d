#include "files/atomic_file.h"

#include "files/data_folder.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

namespace kq::files {

namespace {

// What a copy of old content is called: the target's name, this, six letters.
constexpr const char* kKeptMark = ".before-save-";

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

// The file a save through `path` writes: a link is followed, so that the file
// it names changes and the link stays; a link that names nothing yet leads to
// the name the new file gets.
std::string resolveTarget(const std::string& path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) == 0) {
        char resolved[PATH_MAX];
        if (S_ISREG(st.st_mode) && ::realpath(path.c_str(), resolved) != nullptr)
            return resolved;
        return path; // a device or pipe is written through the name given
    }
    std::string at = path;
    for (int hops = 0; hops < 40; ++hops) {
        if (::lstat(at.c_str(), &st) != 0 || !S_ISLNK(st.st_mode))
            return at;
        char next[PATH_MAX];
        const ssize_t n = ::readlink(at.c_str(), next, sizeof next - 1);
        if (n <= 0)
            return at;
        next[n] = '\0';
        at = next[0] == '/' ? std::string(next) : folderOf(at) + "/" + next;
    }
    return path;
}

// The mode a newly created file gets: what the umask leaves of 0666.
mode_t newFileMode() {
    const mode_t mask = ::umask(022);
    ::umask(mask);
    return 0666 & ~mask;
}

// An unnamed file in `dir`, gone as soon as it is closed.
int anonymousFileIn(const std::string& dir) {
    const int fd = ::open(dir.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
    if (fd >= 0)
        return fd;
    std::string name = dir + "/kqmeter-save-XXXXXX";
    const int named = ::mkostemp(name.data(), O_CLOEXEC);
    if (named >= 0)
        ::unlink(name.c_str());
    return named;
}

bool writeAll(int fd, const char* data, std::size_t size) {
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
    }
    return true;
}

// Copies the first `length` bytes of `from` over the first bytes of `to`;
// the errno of a failure, or 0.
int copyOver(int to, int from, std::uint64_t length) {
    char buffer[1 << 16];
    std::uint64_t at = 0;
    while (at < length) {
        const std::size_t want =
            static_cast<std::size_t>(std::min<std::uint64_t>(sizeof buffer, length - at));
        const ssize_t n = ::pread(from, buffer, want, static_cast<off_t>(at));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return n == 0 ? EIO : errno;
        std::size_t done = 0;
        while (done < static_cast<std::size_t>(n)) {
            const ssize_t w = ::pwrite(to, buffer + done, static_cast<std::size_t>(n) - done,
                                       static_cast<off_t>(at + done));
            if (w < 0 && errno == EINTR)
                continue;
            if (w <= 0)
                return w == 0 ? EIO : errno;
            done += static_cast<std::size_t>(w);
        }
        at += static_cast<std::uint64_t>(n);
    }
    return 0;
}

void syncFolder(const std::string& folder) {
    const int dir = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir >= 0) {
        (void)::fsync(dir);
        ::close(dir);
    }
}

// "NAME-n.EXT" for "NAME.EXT" (n from 2).
std::string numberedName(const std::string& path, int n) {
    const auto slash = path.rfind('/');
    const auto dot = path.rfind('.');
    const bool ext = dot != std::string::npos && (slash == std::string::npos || dot > slash + 1);
    const std::string suffix = "-" + std::to_string(n);
    return ext ? path.substr(0, dot) + suffix + path.substr(dot) : path + suffix;
}

} // namespace

AtomicFile::AtomicFile(std::string target, Kind kind, std::string keepFolder)
    : m_given(target), m_target(resolveTarget(target)), m_kind(kind),
      m_keepFolder(keepFolder.empty() ? dataFolder() : std::move(keepFolder)) {}

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
    if (m_kind == Kind::NewName) {
        const struct stat none {};
        return openBeside(false, none);
    }
    if (exists && S_ISDIR(st.st_mode)) {
        fail("Cannot create file", EISDIR);
        return false;
    }
    if (exists && !S_ISREG(st.st_mode))
        return openStream();
    if (exists) {
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
    m_way = Way::Beside;
    return true;
}

bool AtomicFile::openInPlace() {
    // Read as well: a copy of the old content is taken before it is written over.
    m_targetFd = ::open(m_target.c_str(), O_RDWR | O_CLOEXEC);
    if (m_targetFd < 0) {
        fail("Cannot write file", errno);
        return false;
    }
    const char* env = std::getenv("TMPDIR");
    m_fd = anonymousFileIn(env && *env ? env : "/tmp");
    if (m_fd < 0 && makeFolders(m_keepFolder, 0700))
        m_fd = anonymousFileIn(m_keepFolder);
    if (m_fd < 0) {
        fail("Cannot write file", errno);
        m_error += " (there is no room to keep the new content until it is complete; the file "
                   "is unchanged)";
        ::close(m_targetFd);
        m_targetFd = -1;
        return false;
    }
    m_way = Way::InPlace;
    return true;
}

bool AtomicFile::openStream() {
    struct stat st {};
    if (::stat(m_given.c_str(), &st) == 0 && S_ISSOCK(st.st_mode)) {
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        if (m_given.size() >= sizeof address.sun_path) {
            fail("Cannot write file", ENAMETOOLONG);
            return false;
        }
        std::memcpy(address.sun_path, m_given.c_str(), m_given.size() + 1);
        m_fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        if (m_fd < 0 ||
            ::connect(m_fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
            fail("Cannot write file", errno);
            if (m_fd >= 0)
                ::close(m_fd);
            m_fd = -1;
            return false;
        }
        m_way = Way::Stream;
        return true;
    }
    // Not blocking on a pipe nobody reads: the window must not hang on it.
    m_fd = ::open(m_given.c_str(), O_WRONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (m_fd < 0) {
        fail("Cannot write file", errno);
        if (errno == ENXIO)
            m_error += " (nothing reads from it)";
        return false;
    }
    const int flags = ::fcntl(m_fd, F_GETFL);
    if (flags >= 0)
        (void)::fcntl(m_fd, F_SETFL, flags & ~O_NONBLOCK);
    m_way = Way::Stream;
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
        return false;
    }
    m_written += size;
    return true;
}

bool AtomicFile::keepOldContent(std::uint64_t length, int& err) {
    if (!makeFolders(m_keepFolder, 0700)) {
        err = errno;
        return false;
    }
    // A long name leaves room for the mark and the six letters.
    std::string name =
        m_keepFolder + "/" + baseNameOf(m_target).substr(0, 200) + kKeptMark + "XXXXXX";
    m_keptFd = ::mkostemp(name.data(), O_CLOEXEC);
    if (m_keptFd < 0) {
        err = errno;
        return false;
    }
    m_keptPath = name;
    err = copyOver(m_keptFd, m_targetFd, length);
    if (err == 0 && ::fsync(m_keptFd) != 0)
        err = errno;
    if (err != 0) {
        dropKeptCopy();
        return false;
    }
    syncFolder(m_keepFolder);
    return true;
}

void AtomicFile::dropKeptCopy() {
    if (m_keptFd >= 0)
        ::close(m_keptFd);
    m_keptFd = -1;
    if (!m_keptPath.empty())
        ::unlink(m_keptPath.c_str());
    m_keptPath.clear();
}

bool AtomicFile::commitInPlace() {
    struct stat st {};
    if (::fstat(m_targetFd, &st) != 0) {
        fail("Cannot write file", errno);
        m_error += " (the file is unchanged)";
        return false;
    }
    const std::uint64_t oldLength = static_cast<std::uint64_t>(st.st_size);
    int err = 0;
    if (!keepOldContent(oldLength, err)) {
        m_error = "Cannot keep a copy of the old content of \"" + m_target + "\" in " +
                  m_keepFolder + ": " + systemErrorText(err) + " (the file is unchanged)";
        return false;
    }
    // The room for the new content first, so that a full disk is found before
    // a byte of the old content is touched.
    if (m_written > oldLength &&
        ::fallocate(m_targetFd, FALLOC_FL_KEEP_SIZE, 0, static_cast<off_t>(m_written)) != 0 &&
        errno != EOPNOTSUPP && errno != ENOSYS) {
        fail("Cannot write file", errno);
        m_error += " (the file is unchanged)";
        dropKeptCopy();
        return false;
    }
    err = copyOver(m_targetFd, m_fd, m_written);
    if (err == 0 && ::ftruncate(m_targetFd, static_cast<off_t>(m_written)) != 0)
        err = errno;
    if (err == 0 && ::fsync(m_targetFd) != 0)
        err = errno;
    if (err == 0) {
        dropKeptCopy();
        return true;
    }
    fail("Cannot write file", err);
    // The old content goes back over what was written of the new.
    int back = copyOver(m_targetFd, m_keptFd, oldLength);
    if (back == 0 && ::ftruncate(m_targetFd, static_cast<off_t>(oldLength)) != 0)
        back = errno;
    if (back == 0 && ::fsync(m_targetFd) != 0)
        back = errno;
    if (back == 0) {
        m_error += " (the old content is back in place)";
        dropKeptCopy();
    } else {
        m_error += "; the file is only partly written, its old content is kept in " + m_keptPath;
        ::close(m_keptFd);
        m_keptFd = -1;
        m_keptPath.clear(); // stays on disk for the user
    }
    return false;
}

bool AtomicFile::placeUnderFreeName() {
    for (int n = 1; n <= 1000; ++n) {
        const std::string name = n == 1 ? m_target : numberedName(m_target, n);
        if (::link(m_tempPath.c_str(), name.c_str()) == 0) {
            ::unlink(m_tempPath.c_str());
            m_tempPath.clear();
            m_target = name;
            return true;
        }
        if (errno == EEXIST)
            continue;
        // A file system without hard links may still rename without replacing.
        if (::renameat2(AT_FDCWD, m_tempPath.c_str(), AT_FDCWD, name.c_str(), RENAME_NOREPLACE) ==
            0) {
            m_tempPath.clear();
            m_target = name;
            return true;
        }
        if (errno != EEXIST) {
            fail("Cannot create file", errno);
            return false;
        }
    }
    fail("Cannot create file", EEXIST);
    return false;
}

bool AtomicFile::commit() {
    if (m_fd < 0) {
        if (m_error.empty())
            fail("Cannot write file", EBADF);
        discard();
        return false;
    }
    bool ok = true;
    if (m_way == Way::Stream) {
        const int fd = m_fd;
        m_fd = -1;
        if (::close(fd) != 0) {
            fail("Cannot write file", errno);
            ok = false;
        }
    } else if (m_way == Way::InPlace) {
        ok = commitInPlace();
    } else {
        if (::fsync(m_fd) != 0) {
            fail("Cannot write file", errno);
            ok = false;
        }
        const int fd = m_fd;
        m_fd = -1;
        if (::close(fd) != 0 && ok) {
            fail("Cannot write file", errno);
            ok = false;
        }
        if (ok && m_kind == Kind::NewName) {
            ok = placeUnderFreeName();
        } else if (ok && ::rename(m_tempPath.c_str(), m_target.c_str()) != 0) {
            fail("Cannot replace file", errno);
            ok = false;
        } else if (ok) {
            m_tempPath.clear();
        }
        // The new name must survive a power cut too.
        if (ok)
            syncFolder(folderOf(m_target));
    }
    discard();
    return ok;
}

void AtomicFile::discard() {
    if (m_fd >= 0)
        ::close(m_fd);
    m_fd = -1;
    if (m_targetFd >= 0)
        ::close(m_targetFd);
    m_targetFd = -1;
    dropKeptCopy();
    m_way = Way::None;
    if (!m_tempPath.empty()) {
        ::unlink(m_tempPath.c_str());
        m_tempPath.clear();
    }
}

std::vector<std::string> keptCopiesIn(const std::string& folder) {
    std::vector<std::string> found;
    DIR* dir = ::opendir(folder.c_str());
    if (dir == nullptr)
        return found;
    const std::size_t markLength = std::strlen(kKeptMark);
    while (const dirent* entry = ::readdir(dir)) {
        const std::string name = entry->d_name;
        const auto mark = name.rfind(kKeptMark);
        if (mark != std::string::npos && mark > 0 && name.size() == mark + markLength + 6)
            found.push_back(folder + "/" + name);
    }
    ::closedir(dir);
    std::sort(found.begin(), found.end());
    return found;
}

} // namespace kq::files
