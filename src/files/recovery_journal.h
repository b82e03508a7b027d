#pragma once

#include "files/log_file.h"
#include "files/row_appender.h"

#include <cstddef>
#include <cstdint>
#include <string>

namespace kq::record {
class LogTable;
struct SaveMark;
} // namespace kq::record

namespace kq::files {

// A copy of the rows that no file holds yet, kept on disk in the text form
// while readings are logged, so that a crash or a power cut loses at most the
// last second. The file is a valid text log (header line, CR LF rows) that the
// window can also open by hand. It is gone whenever nothing is unsaved.
class RecoveryJournal {
public:
    // The window's own journal is private to the user; a recording's file is
    // one the user named, created like any file they save (what the umask
    // leaves of 0666) and named as a file in a message.
    enum class Use { Journal, Recording };
    explicit RecoveryJournal(std::string path, Use use = Use::Journal);
    ~RecoveryJournal();
    RecoveryJournal(const RecoveryJournal&) = delete;
    RecoveryJournal& operator=(const RecoveryJournal&) = delete;

    // Brings the file up to the table's unsaved rows and puts them on disk:
    // new rows are appended; after rows were taken away or saved a new file
    // takes its place in one step; with nothing unsaved it is removed. False
    // (with error()) when the disk refused: the file then still ends at a
    // whole row, and the next call offers the rows again.
    bool sync(const record::LogTable& table, const record::SaveMark& saved);
    // Removes the file; the next sync starts it afresh.
    void discard();

    const std::string& path() const { return m_path; }
    const std::string& error() const { return m_error; }
    // Rows the file holds since the last sync.
    std::size_t rows() const { return m_out.isOpen() ? m_written - m_start : 0; }

private:
    bool fail(int err);
    bool fail(const std::string& reason);

    std::string m_path;
    Use m_use;
    std::string m_error;
    RowAppender m_out;
    std::uint64_t m_generation = 0;
    std::size_t m_start = 0;   // table row of the file's first row
    std::size_t m_written = 0; // table rows up to here are in the file
};

// Appends the rows of a journal left behind to the table: every line that
// reads as a row, whatever is damaged around it (the result counts the lines
// left out). A last line that a power cut left without its line end is not a
// row and is left out without being counted.
LoadResult readJournal(record::LogTable& table, const std::string& path);

} // namespace kq::files
