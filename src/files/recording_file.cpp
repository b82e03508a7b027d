#include "files/recording_file.h"

#include "files/byte_io.h"
#include "record/log_table.h"

#include <cerrno>
#include <sys/stat.h>
#include <unistd.h>

namespace kq::files {

std::string rowsPathFor(const std::string& xmlPath) {
    return xmlPath + ".rows.txt";
}

RecordingFile::RecordingFile(std::string path)
    : m_path(std::move(path)), m_wanted(m_path), m_xml(formForName(m_path) == LogForm::Xml),
      m_rowsPath(m_xml ? rowsPathFor(m_path) : m_path),
      m_rows(formForName(m_path) == LogForm::Csv ? RowAppender::Form::Csv
                                                 : RowAppender::Form::Text) {}

RecordingFile::~RecordingFile() {
    if (!m_started || m_finished || m_rows.rows() > 0 || !m_rows.isOpen())
        return;
    // Only while the name is still the file this recording made.
    struct stat mine {};
    struct stat named {};
    if (m_rows.stat(mine) && ::lstat(m_rowsPath.c_str(), &named) == 0 &&
        mine.st_dev == named.st_dev && mine.st_ino == named.st_ino)
        ::unlink(m_rowsPath.c_str());
}

bool RecordingFile::fail(const std::string& path, const std::string& reason) {
    m_error = "Cannot write file " + path + ": " + reason;
    return false;
}

bool RecordingFile::start() {
    struct stat st {};
    if (m_xml && ::lstat(m_path.c_str(), &st) == 0) {
        m_nameTaken = true;
        return fail(m_path, systemErrorText(EEXIST));
    }
    // What the umask leaves of 0666, like any file the user saves.
    if (!m_rows.createNew(m_rowsPath, 0666)) {
        m_nameTaken = m_rows.errorNumber() == EEXIST;
        return fail(m_rowsPath, m_rows.error());
    }
    m_started = true;
    return true;
}

bool RecordingFile::flush(const record::LogTable& table) {
    if (!m_rows.isOpen())
        return fail(m_rowsPath, systemErrorText(EBADF));
    if (!m_rows.append(table, m_rows.rows(), table.rowCount()))
        return fail(m_rowsPath, m_rows.error());
    m_error.clear();
    return true;
}

SaveResult RecordingFile::finish(const record::LogTable& table) {
    m_finished = true;
    SaveResult result;
    result.rows = table.rowCount();
    const bool flushed = flush(table);
    if (!m_xml) {
        if (!flushed) {
            result.status = SaveResult::Status::Failed;
            result.error = m_error;
        }
        m_rows.close();
        return result;
    }
    // Saved whole, and only then is the text copy of the rows let go.
    std::string placed;
    result = saveLogAsNew(table, m_wanted, placed);
    if (!result.ok()) {
        m_error = result.error;
        return result;
    }
    m_path = placed;
    m_rows.close();
    ::unlink(m_rowsPath.c_str());
    return result;
}

} // namespace kq::files
