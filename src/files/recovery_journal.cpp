#include "files/recovery_journal.h"

#include "files/byte_io.h"
#include "files/log_text.h"
#include "record/log_table.h"
#include "record/save_mark.h"

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace kq::files {

namespace {

// The first `limit` bytes of another source.
class LimitedSource final : public ByteSource {
public:
    LimitedSource(ByteSource& in, std::uint64_t limit) : m_in(in), m_left(limit) {}
    std::ptrdiff_t read(char* buffer, std::size_t capacity) override {
        const auto n =
            m_in.read(buffer, static_cast<std::size_t>(std::min<std::uint64_t>(capacity, m_left)));
        if (n > 0)
            m_left -= static_cast<std::uint64_t>(n);
        return n;
    }
    std::uint64_t size() const override { return m_left; }

private:
    ByteSource& m_in;
    std::uint64_t m_left;
};

// Bytes up to and including the file's last line end; 0 when it has none.
std::uint64_t lengthOfWholeLines(const std::string& path, std::string& error) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        error = systemErrorText(errno);
        return 0;
    }
    struct stat st {};
    std::uint64_t end = 0;
    if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode)) {
        std::vector<char> block(64 * 1024);
        std::uint64_t pos = static_cast<std::uint64_t>(st.st_size);
        while (pos > 0 && end == 0) {
            const std::uint64_t from = pos > block.size() ? pos - block.size() : 0;
            const ssize_t n = ::pread(fd, block.data(), static_cast<std::size_t>(pos - from),
                                      static_cast<off_t>(from));
            if (n <= 0)
                break;
            for (ssize_t i = n; i > 0; --i) {
                if (block[static_cast<std::size_t>(i - 1)] == '\n' ||
                    block[static_cast<std::size_t>(i - 1)] == '\r') {
                    end = from + static_cast<std::uint64_t>(i);
                    break;
                }
            }
            pos = from;
        }
    }
    ::close(fd);
    return end;
}

} // namespace

RecoveryJournal::RecoveryJournal(std::string path, Use use) : m_path(std::move(path)), m_use(use) {}

RecoveryJournal::~RecoveryJournal() = default;

bool RecoveryJournal::fail(int err) {
    return fail(systemErrorText(err));
}

bool RecoveryJournal::fail(const std::string& reason) {
    m_error = std::string(m_use == Use::Journal ? "Cannot write the recovery journal "
                                                : "Cannot write file ") +
              m_path + ": " + reason;
    return false;
}

void RecoveryJournal::discard() {
    m_out.close();
    ::unlink(m_path.c_str());
}

bool RecoveryJournal::sync(const record::LogTable& table, const record::SaveMark& saved) {
    const std::size_t rows = table.rowCount();
    const std::size_t unsaved = saved.unsaved(table);
    if (unsaved == 0) {
        if (m_out.isOpen() || ::access(m_path.c_str(), F_OK) == 0)
            discard();
        return true;
    }
    const std::size_t start = rows - unsaved;
    const bool afresh = !m_out.isOpen() || table.generation() != m_generation || start != m_start ||
                        m_written > rows || m_written < start;
    if (afresh) {
        if (!m_out.replace(m_path, m_use == Use::Journal ? 0600 : 0666, table, start, rows))
            return fail(m_out.error());
    } else if (m_written == rows) {
        return true; // nothing new since the last time
    } else if (!m_out.append(table, m_written, rows)) {
        return fail(m_out.error());
    }
    m_generation = table.generation();
    m_start = start;
    m_written = rows;
    m_error.clear();
    return true;
}

LoadResult readJournal(record::LogTable& table, const std::string& path) {
    LoadResult result;
    std::string error;
    const std::uint64_t length = lengthOfWholeLines(path, error);
    if (!error.empty()) {
        result.status = LoadResult::Status::Failed;
        result.error = error;
        return result;
    }
    if (length == 0)
        return result; // cut short before its first line end: nothing to give back
    FileSource file;
    if (!file.open(path)) {
        result.status = LoadResult::Status::Failed;
        result.error = file.error();
        return result;
    }
    LimitedSource whole(file, length);
    return readTextJournal(table, whole);
}

} // namespace kq::files
