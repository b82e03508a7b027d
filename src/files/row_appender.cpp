#include "files/row_appender.h"

#include "files/byte_io.h"
#include "files/csv_fields.h"
#include "files/log_text.h"
#include "record/log_table.h"

#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace kq::files {

namespace {

// Writes at a given offset, so that a retry after a failed batch goes over
// the bytes the failure left instead of after them.
class OffsetSink final : public ByteSink {
public:
    OffsetSink(int fd, std::uint64_t at) : m_fd(fd), m_at(at) {}
    bool write(const char* data, std::size_t size) override {
        while (size > 0) {
            const ssize_t n = ::pwrite(m_fd, data, size, static_cast<off_t>(m_at));
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0) {
                m_errno = n == 0 ? EIO : errno;
                return false;
            }
            data += n;
            size -= static_cast<std::size_t>(n);
            m_at += static_cast<std::uint64_t>(n);
        }
        return true;
    }
    std::string error() const override { return systemErrorText(m_errno); }
    int errorNumber() const { return m_errno; }
    std::uint64_t end() const { return m_at; }

private:
    int m_fd;
    std::uint64_t m_at;
    int m_errno = 0;
};

// Writes the header (when asked) and rows [from, to) at `at`, then syncs;
// the errno of the failure, or 0.
int writeRows(int fd, std::uint64_t at, RowAppender::Form form, bool header,
              const record::LogTable& table, std::size_t from, std::size_t to, std::uint64_t& end) {
    OffsetSink sink(fd, at);
    {
        BufferedWriter w(sink, std::size_t{256} << 10);
        if (form == RowAppender::Form::Csv) {
            if (header)
                w.put(kCsvHeader);
            CsvRowWriter rows;
            for (std::size_t i = from; i < to; ++i)
                rows.put(w, table, i);
        } else {
            if (header)
                w.put(kTextLogHeader);
            for (std::size_t i = from; i < to; ++i)
                putTextRow(w, table, i);
        }
        if (!w.flush())
            return sink.errorNumber();
    }
    // On the platter, not only in the page cache: a power cut is one of the
    // reasons these files exist. A pipe or a device has nothing to sync.
    if (::fdatasync(fd) != 0 && errno != EINVAL)
        return errno;
    end = sink.end();
    return 0;
}

// What the umask leaves of `mode`, as a newly created file would get.
mode_t lessUmask(mode_t mode) {
    const mode_t mask = ::umask(022);
    ::umask(mask);
    return mode & ~mask;
}

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

} // namespace

RowAppender::~RowAppender() {
    close();
}

void RowAppender::close() {
    if (m_fd >= 0)
        ::close(m_fd);
    m_fd = -1;
}

bool RowAppender::stat(struct stat& st) const {
    return m_fd >= 0 && ::fstat(m_fd, &st) == 0;
}

bool RowAppender::fail(int err) {
    m_errno = err;
    m_error = systemErrorText(err);
    return false;
}

bool RowAppender::cutBack() {
    if (::ftruncate(m_fd, static_cast<off_t>(m_length)) != 0)
        return false;
    m_tornTail = false;
    return true;
}

bool RowAppender::createNew(const std::string& path, mode_t mode) {
    close();
    m_path = path;
    m_length = 0;
    m_rows = 0;
    m_tornTail = false;
    m_fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode);
    if (m_fd < 0)
        return fail(errno);
    const record::LogTable none;
    std::uint64_t end = 0;
    if (const int err = writeRows(m_fd, 0, m_form, true, none, 0, 0, end)) {
        // Ours, and nothing in it counts yet.
        close();
        ::unlink(path.c_str());
        return fail(err);
    }
    m_length = end;
    return true;
}

bool RowAppender::replace(const std::string& path, mode_t mode, const record::LogTable& table,
                          std::size_t from, std::size_t to) {
    std::string temp = folderOf(path) + "/." + baseNameOf(path) + ".XXXXXX";
    const int fd = ::mkostemp(temp.data(), O_CLOEXEC);
    if (fd < 0)
        return fail(errno);
    std::uint64_t end = 0;
    int err = ::fchmod(fd, lessUmask(mode)) != 0 ? errno : 0;
    if (err == 0)
        err = writeRows(fd, 0, m_form, true, table, from, to, end);
    if (err == 0 && ::rename(temp.c_str(), path.c_str()) != 0)
        err = errno;
    if (err != 0) {
        ::close(fd);
        ::unlink(temp.c_str());
        return fail(err);
    }
    // The new name must survive a power cut too.
    const int dir = ::open(folderOf(path).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir >= 0) {
        (void)::fsync(dir);
        ::close(dir);
    }
    close();
    m_fd = fd;
    m_path = path;
    m_length = end;
    m_rows = to - from;
    m_tornTail = false;
    m_error.clear();
    return true;
}

bool RowAppender::append(const record::LogTable& table, std::size_t from, std::size_t to) {
    if (m_fd < 0)
        return fail(EBADF);
    // What a failure before left past the last row goes first.
    if (m_tornTail && !cutBack())
        return fail(errno);
    if (from >= to)
        return true;
    std::uint64_t end = 0;
    if (const int err = writeRows(m_fd, m_length, m_form, false, table, from, to, end)) {
        m_tornTail = true;
        (void)cutBack();
        return fail(err);
    }
    m_length = end;
    m_rows += to - from;
    m_error.clear();
    return true;
}

} // namespace kq::files
