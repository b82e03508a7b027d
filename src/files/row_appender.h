#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <sys/stat.h>
#include <sys/types.h>

namespace kq::record {
class LogTable;
}

namespace kq::files {

// A text log on disk that only ever grows by whole rows at its end, each
// batch synced before it counts. What is on disk is never truncated below a
// row it reported written: a batch that fails part-way (a full disk, a quota,
// a file size limit, an I/O error) is cut back to the end of the last whole
// row, so that the file always ends at a row boundary and a torn row can never
// load as a reading. The rows of a failed batch are the caller's to offer again.
class RowAppender {
public:
    // The form of the lines: the tab-separated text log, or CSV.
    enum class Form { Text, Csv };
    explicit RowAppender(Form form = Form::Text) : m_form(form) {}
    ~RowAppender();
    RowAppender(const RowAppender&) = delete;
    RowAppender& operator=(const RowAppender&) = delete;

    // Makes `path` with the header line only and keeps it open; fails (EEXIST
    // among others) when the name is taken, so nothing is ever replaced.
    bool createNew(const std::string& path, mode_t mode);
    // Puts a file holding the header and rows [from, to) of the table in
    // place of `path` in one step (written beside it, synced, renamed over
    // it): whatever was there stays whole until the new file is on disk. The
    // new file gets `mode` less the umask.
    bool replace(const std::string& path, mode_t mode, const record::LogTable& table,
                 std::size_t from, std::size_t to);
    // Appends rows [from, to) and puts them on disk.
    bool append(const record::LogTable& table, std::size_t from, std::size_t to);
    void close();
    // The open file's status; false when none is open.
    bool stat(struct stat& st) const;

    bool isOpen() const { return m_fd >= 0; }
    const std::string& path() const { return m_path; }
    // Bytes on disk, all of them whole lines.
    std::uint64_t length() const { return m_length; }
    // Rows written since the file was made or replaced.
    std::uint64_t rows() const { return m_rows; }
    // The system's reason for the last failure, e.g. "No space left on device".
    const std::string& error() const { return m_error; }
    int errorNumber() const { return m_errno; }

private:
    bool fail(int err);
    bool cutBack();

    Form m_form;
    std::string m_path;
    std::string m_error;
    int m_errno = 0;
    int m_fd = -1;
    std::uint64_t m_length = 0;
    std::uint64_t m_rows = 0;
    bool m_tornTail = false; // bytes past m_length may be on disk
};

} // namespace kq::files
