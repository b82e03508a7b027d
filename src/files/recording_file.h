#pragma once

#include "files/log_file.h"
#include "files/row_appender.h"

#include <cstdint>
#include <string>

namespace kq::record {
class LogTable;
}

namespace kq::files {

// The log file of a recording that runs unattended for days. The rows reach
// the disk at least once a second in the text form, so that a crash or a
// power cut leaves every row written so far in a file the window opens:
// - a text or a .csv name: the rows go straight into it, in its form, and it
//   is complete at all times;
// - an XML name: the rows go to a text file beside it (rowsPath()), and the
//   packet is written once, when the recording ends, after which the text
//   file goes. Rewriting the whole packet every second would cost more and
//   more as the days pass.
// A recording never replaces a file: the file the rows go to is made when
// the recording starts and only grows; the packet is put in place only under
// a name that is still free when it is complete.
class RecordingFile {
public:
    explicit RecordingFile(std::string path);
    // A file made by start() that never got a row, of a recording that did not
    // end (it could not connect), goes again.
    ~RecordingFile();
    RecordingFile(const RecordingFile&) = delete;
    RecordingFile& operator=(const RecordingFile&) = delete;

    // Where the complete file is; after finish() the name the packet got.
    const std::string& path() const { return m_path; }
    // Where the rows are while the recording runs.
    const std::string& rowsPath() const { return m_rowsPath; }
    bool xml() const { return m_xml; }

    // Makes the file the rows go to (with its header line). Fails when that
    // name, or for XML the packet's name, is taken, or nothing can be made there.
    bool start();
    // Puts the rows that came since the last call on disk. After a failure
    // the file still ends at a whole row and the rows go at the next call.
    bool flush(const record::LogTable& table);
    // The recording ends: the file is complete in its form (a text file with
    // only its header line when nothing was logged). On failure the rows on
    // disk stay in rowsPath().
    SaveResult finish(const record::LogTable& table);
    const std::string& error() const { return m_error; }
    // Rows that are on disk in rowsPath() (until finish() removes it).
    std::uint64_t rowsOnDisk() const { return m_rows.rows(); }
    // The packet's own name was taken when it was complete: it went to path().
    bool tookAnotherName() const { return m_path != m_wanted; }
    const std::string& wantedPath() const { return m_wanted; }
    // start() failed because the name (or the packet's) was taken.
    bool nameTaken() const { return m_nameTaken; }

private:
    bool fail(const std::string& path, const std::string& reason);

    std::string m_path;
    std::string m_wanted;
    bool m_xml;
    std::string m_rowsPath;
    RowAppender m_rows;
    std::string m_error;
    bool m_started = false;
    bool m_nameTaken = false;
    bool m_finished = false;
};

// The text file beside an XML log that holds its rows while it is recorded.
std::string rowsPathFor(const std::string& xmlPath);

} // namespace kq::files
