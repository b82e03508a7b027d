#pragma once

#include "files/log_file.h"
#include "files/recovery_journal.h"

#include <string>

namespace kq::record {
class LogTable;
}

namespace kq::files {

// The log file of a recording that runs unattended for days. The rows reach
// the disk at least once a second in the text form, so that a crash or a
// power cut leaves every row written so far in a file the window opens:
// - a text name: the rows go straight into it, which is complete at all times;
// - an XML name: the rows go to a text file beside it (rowsPath()), and the
//   packet is written once, when the recording ends, after which the text
//   file goes. Rewriting the whole packet every second would cost more and
//   more as the days pass.
class RecordingFile {
public:
    explicit RecordingFile(std::string path);

    const std::string& path() const { return m_path; }
    // Where the rows are while the recording runs.
    const std::string& rowsPath() const { return m_rows.path(); }
    bool xml() const { return m_xml; }

    // Puts the rows that came since the last call on disk.
    bool flush(const record::LogTable& table);
    // The recording ends: the file is complete in its form (a text file with
    // only its header line when nothing was logged). On failure the rows stay
    // in rowsPath().
    SaveResult finish(const record::LogTable& table);
    const std::string& error() const { return m_rows.error(); }

private:
    std::string m_path;
    bool m_xml;
    RecoveryJournal m_rows;
};

// The text file beside an XML log that holds its rows while it is recorded.
std::string rowsPathFor(const std::string& xmlPath);

} // namespace kq::files
