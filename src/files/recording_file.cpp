#include "files/recording_file.h"

#include "record/log_table.h"
#include "record/save_mark.h"

namespace kq::files {

std::string rowsPathFor(const std::string& xmlPath) {
    return xmlPath + ".rows.txt";
}

RecordingFile::RecordingFile(std::string path)
    : m_path(std::move(path)), m_xml(formForName(m_path) == LogForm::Xml),
      m_rows(m_xml ? rowsPathFor(m_path) : m_path, RecoveryJournal::Use::Recording) {}

bool RecordingFile::flush(const record::LogTable& table) {
    // Nothing logged yet: an old file of that name stays until the first row.
    if (table.empty())
        return true;
    // No row of a recording is in any other file.
    return m_rows.sync(table, record::SaveMark{});
}

SaveResult RecordingFile::finish(const record::LogTable& table) {
    if (!m_xml && !table.empty()) {
        SaveResult result;
        result.rows = table.rowCount();
        if (!m_rows.sync(table, record::SaveMark{})) {
            result.status = SaveResult::Status::Failed;
            result.error = m_rows.error();
        }
        return result;
    }
    // Saved whole, and only then is the text copy of the rows let go.
    if (!flush(table)) {
        SaveResult failed;
        failed.status = SaveResult::Status::Failed;
        failed.error = m_rows.error();
        return failed;
    }
    SaveResult result = saveLog(table, m_path);
    if (result.ok() && m_xml)
        m_rows.discard();
    return result;
}

} // namespace kq::files
