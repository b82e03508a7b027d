#include "app/log_file_actions.h"

#include "app/dialogs.h"
#include "app/report_preview.h"
#include "files/atomic_file.h"
#include "files/data_folder.h"
#include "files/log_file.h"
#include "print/picture_export.h"
#include "print/report_painter.h"
#include "record/log_table.h"
#include "record/recorder.h"

#include <QCoreApplication>
#include <QDate>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProgressDialog>
#include <QWidget>

#include <algorithm>
#include <memory>

namespace kq::app {

namespace {

// Bytes of a file that hold about one row, to judge from its size whether a
// load is long enough for a progress dialog.
constexpr std::uint64_t kTextBytesPerRow = 24;
constexpr std::uint64_t kXmlBytesPerRow = 64;
constexpr std::uint64_t kCsvBytesPerRow = 48;

std::string localPath(const QString& name) {
    return QFile::encodeName(name).toStdString();
}

// Sets a flag for as long as it lives, and restores it whatever happens.
class FlagGuard {
public:
    FlagGuard(bool& flag, bool on) : m_flag(flag), m_before(flag) {
        if (on)
            m_flag = true;
    }
    ~FlagGuard() { m_flag = m_before; }
    FlagGuard(const FlagGuard&) = delete;
    FlagGuard& operator=(const FlagGuard&) = delete;

private:
    bool& m_flag;
    bool m_before;
};

// A progress dialog shown only for long work; the callback the file code calls.
class WorkProgress {
public:
    WorkProgress(QWidget* owner, const QString& label, bool show) {
        if (!show)
            return;
        m_dialog =
            std::make_unique<QProgressDialog>(label, QStringLiteral("Cancel"), 0, 1000, owner);
        m_dialog->setObjectName(QStringLiteral("FileProgress"));
        m_dialog->setWindowModality(Qt::WindowModal);
        m_dialog->setMinimumDuration(0);
        m_dialog->setValue(0);
    }

    files::Progress callback() {
        if (!m_dialog)
            return {};
        return [this](std::uint64_t done, std::uint64_t total) {
            if (total > 0)
                m_dialog->setValue(static_cast<int>(done * 1000 / total));
            return !m_dialog->wasCanceled();
        };
    }

private:
    std::unique_ptr<QProgressDialog> m_dialog;
};

} // namespace

// Keeps the log step waiting for as long as a long file operation runs, or,
// without a recorder, stops the decoding as PrintBusy does.
class LogFileActions::WorkGuard {
public:
    // `during` says when the readings came, for the message about those that
    // could not be kept.
    WorkGuard(LogFileActions& actions, bool longWork,
              QString during = QStringLiteral("while the file was worked on"))
        : m_actions(actions), m_busy(actions.m_printBusy, longWork && !actions.m_recorder),
          m_during(std::move(during)) {
        if (longWork && actions.m_recorder && !actions.m_recorder->logHeld()) {
            actions.m_recorder->holdLog();
            m_holding = true;
        }
    }
    ~WorkGuard() { release(); }
    WorkGuard(const WorkGuard&) = delete;
    WorkGuard& operator=(const WorkGuard&) = delete;

    // Logs the readings that came meanwhile; says so if some could not be kept.
    void release() {
        if (!m_holding)
            return;
        m_holding = false;
        const std::size_t dropped = m_actions.m_recorder->droppedWhileHeld();
        m_actions.m_recorder->releaseLog();
        if (dropped > 0)
            m_actions.generalErrorReport(
                QStringLiteral("%1 readings that arrived %2 could not be logged.")
                    .arg(dropped)
                    .arg(m_during));
    }

private:
    LogFileActions& m_actions;
    FlagGuard m_busy;
    QString m_during;
    bool m_holding = false;
};

LogFileActions::LogFileActions(QWidget* window, Dialogs& dialogs, record::LogTable& cds1,
                               bool& PrintBusy)
    : m_window(window), m_dialogs(dialogs), m_cds1(cds1), m_printBusy(PrintBusy) {}

void LogFileActions::setTableChanged(std::function<void()> tableChanged) {
    m_tableChanged = std::move(tableChanged);
}

void LogFileActions::rememberFolder(const QString& name) {
    m_lastFolder = QFileInfo(name).absolutePath();
}

void LogFileActions::setSavedChanged(std::function<void()> savedChanged) {
    m_savedChanged = std::move(savedChanged);
}

void LogFileActions::setJournalFiles(std::function<bool(const QString&)> isJournal,
                                     std::function<void(const QString&)> openJournal) {
    m_isJournal = std::move(isJournal);
    m_openJournal = std::move(openJournal);
}

bool LogFileActions::refusedAsJournal(const QString& name, const QString& what) {
    if (!m_isJournal || !m_isJournal(name))
        return false;
    // A save would replace the copy that keeps the readings safe, and the
    // journal would take it away again once nothing is unsaved.
    m_dialogs.message(m_window, QStringLiteral("Error"),
                      name + QStringLiteral(" is a recovery journal of this program. Save %1 "
                                            "under another name.")
                                 .arg(what),
                      Dialogs::Icon::Error);
    return true;
}

void LogFileActions::generalErrorReport(const QString& text) {
    m_dialogs.message(m_window, QCoreApplication::applicationName(), text, Dialogs::Icon::Error);
}

void LogFileActions::saveasClick() {
    Dialogs::FileSpec spec; // the name starts empty each time
    spec.title = QStringLiteral("Save As");
    spec.filters = {QStringLiteral("Excel File(*.xls)"), QStringLiteral("XML(*.xml)"),
                    QStringLiteral("Txt File(*.txt)")};
    spec.defaultSuffix = QStringLiteral("xls");
    spec.confirmOverwrite = true;
    spec.folder = m_lastFolder;
    const QString name = m_dialogs.saveFileName(m_window, spec);
    if (name.isEmpty())
        return;
    saveTo(name, files::formForName(localPath(name)));
}

void LogFileActions::exportCsvClick() {
    Dialogs::FileSpec spec;
    spec.title = QStringLiteral("Export CSV");
    spec.filters = {QStringLiteral("CSV File(*.csv)")};
    spec.defaultSuffix = QStringLiteral("csv");
    spec.confirmOverwrite = true;
    spec.folder = m_lastFolder;
    const QString name = m_dialogs.saveFileName(m_window, spec);
    if (name.isEmpty())
        return;
    // Whatever the name, this item writes CSV.
    saveTo(name, files::LogForm::Csv);
}

void LogFileActions::saveTo(const QString& name, files::LogForm form) {
    rememberFolder(name);
    if (refusedAsJournal(name, QStringLiteral("the log")))
        return;

    const std::string path = localPath(name);
    const bool xml = form == files::LogForm::Xml;
    const bool longWork = m_cds1.rowCount() > m_progressRows;
    const std::size_t rowsBefore = m_cds1.rowCount();
    if (m_savedChanged)
        m_savedChanged(); // the journal holds every row before the file is touched
    files::SaveResult result;
    {
        WorkGuard busy(*this, longWork);
        {
            WorkProgress progress(m_window, QStringLiteral("Saving the log..."), longWork);
            result = files::saveLog(m_cds1, path, form, progress.callback());
        }
        busy.release();
    }
    if (m_tableChanged && m_cds1.rowCount() != rowsBefore)
        m_tableChanged(); // readings that came during the save were logged
    if (result.ok() && result.rows == m_cds1.rowCount()) {
        m_saveMark.markAll(m_cds1);
        if (m_savedChanged)
            m_savedChanged();
    }
    const QString done =
        QStringLiteral("Save table to specified file: ") + name + QStringLiteral(" Scuss!");
    if (result.status == files::SaveResult::Status::Saved) {
        if (xml)
            m_dialogs.message(m_window, QCoreApplication::applicationName(), done,
                              Dialogs::Icon::None);
        else
            m_dialogs.message(nullptr, QStringLiteral("Information"), done,
                              Dialogs::Icon::Information);
    } else if (result.status == files::SaveResult::Status::Failed) {
        if (xml)
            generalErrorReport(QString::fromLocal8Bit(result.error.c_str()));
        else
            m_dialogs.message(nullptr, QStringLiteral("Error"),
                              QStringLiteral("Could not save table to specified file: ") + name +
                                  QStringLiteral("\n\n") +
                                  QString::fromLocal8Bit(result.error.c_str()),
                              Dialogs::Icon::Error);
    }
    if (m_window)
        m_window->update();
}

void LogFileActions::SpeedButton2Click() {
    Dialogs::FileSpec spec;
    spec.title = QStringLiteral("Open");
    // A log saved under any other extension is text too.
    spec.filters = {QStringLiteral("Excel File(*.xls)"), QStringLiteral("XML (*.xml)"),
                    QStringLiteral("Txt File(*.txt)"), QStringLiteral("CSV File(*.csv)"),
                    QStringLiteral("All files (*)")};
    spec.initialName = m_lastOpenName;
    spec.folder = m_lastFolder;
    const QString name = m_dialogs.openFileName(m_window, spec);
    if (name.isEmpty())
        return;
    openLog(name);
}

void LogFileActions::openLog(const QString& name) {
    m_lastOpenName = name;
    rememberFolder(name);
    if (m_isJournal && m_isJournal(name)) {
        // Loaded as a log, its rows would be in the table twice once restored,
        // or the journal would go with the next save.
        if (m_openJournal)
            m_openJournal(name);
        return;
    }

    const std::string path = localPath(name);
    const files::LogForm form = files::formForName(path);
    const bool xml = form == files::LogForm::Xml;
    // An XML packet replaces the table: readings no file has are asked for
    // first, as closing does (a text or CSV log only adds its rows).
    if (const std::size_t unsaved = unsavedRows();
        xml && unsaved > 0 &&
        !m_dialogs.ask(m_window, m_window ? m_window->windowTitle() : QString(),
                       QStringLiteral("%1 readings have not been saved. Open %2 and discard them?")
                           .arg(unsaved)
                           .arg(QFileInfo(name).fileName())))
        return;
    const std::uint64_t size =
        static_cast<std::uint64_t>(std::max<qint64>(QFileInfo(name).size(), 0));
    const std::uint64_t bytesPerRow = xml                           ? kXmlBytesPerRow
                                      : form == files::LogForm::Csv ? kCsvBytesPerRow
                                                                    : kTextBytesPerRow;
    const bool longWork = size / bytesPerRow > m_progressRows;
    const std::uint64_t before = m_cds1.rowCount();
    const std::uint64_t generation = m_cds1.generation();
    const bool allSaved = m_saveMark.unsaved(m_cds1) == 0;
    files::LoadResult result;
    {
        WorkGuard busy(*this, longWork);
        {
            WorkProgress progress(m_window, QStringLiteral("Loading the log..."), longWork);
            files::LoadLimits filesOnly;
            filesOnly.filesOnly = true;
            result = files::loadLog(m_cds1, path, progress.callback(), filesOnly);
        }
        // The readings that came meanwhile go after the loaded rows.
        busy.release();
    }
    // An XML load replaces the table by the file's rows; a text load adds the
    // file's rows, which are as safe as the table's were before.
    if (result.ok() && (xml || allSaved) && m_cds1.rowCount() == (xml ? 0 : before) + result.rows) {
        m_saveMark.markAll(m_cds1);
        if (m_savedChanged)
            m_savedChanged();
    }
    // A cancelled load took its rows back; a grid that showed them meanwhile
    // follows too.
    if (m_tableChanged &&
        (result.ok() || m_cds1.rowCount() != before || m_cds1.generation() != generation))
        m_tableChanged();
    if (result.status == files::LoadResult::Status::Failed) {
        // The fixed first line, then which file and why, so the user can act on it.
        QString text = QStringLiteral("Failed to Load File!\n") + QDir::toNativeSeparators(name);
        if (!result.error.empty())
            text += QStringLiteral("\n") + QString::fromLocal8Bit(result.error.c_str());
        m_dialogs.message(nullptr, QStringLiteral("Error"), text, Dialogs::Icon::Error);
    }
    if (m_window)
        m_window->update();
}

void LogFileActions::BtSaveClick(const std::function<QImage()>& grabChart) {
    Dialogs::FileSpec spec;
    spec.title = QStringLiteral("Save As");
    spec.filters = {QStringLiteral("Bitmaps (*.bmp)")};
    spec.defaultSuffix = QStringLiteral("bmp");
    spec.confirmOverwrite = true;
    spec.folder = m_lastFolder;
    const QString name = m_dialogs.saveFileName(m_window, spec);
    if (name.isEmpty())
        return;
    rememberFolder(name);
    if (refusedAsJournal(name, QStringLiteral("the picture")))
        return;
    QString error;
    if (!print::saveBitmap(grabChart ? grabChart() : QImage(), name, &error)) {
        generalErrorReport(error);
        return;
    }
    m_dialogs.message(m_window, QStringLiteral("Information"),
                      QStringLiteral("Graphic has saved on %1").arg(name),
                      Dialogs::Icon::Information);
}

void LogFileActions::BtSaveClick(const QImage& chart) {
    BtSaveClick([&chart] { return chart; });
}

void LogFileActions::BtPrintClick(const QString& date) {
    const std::size_t rowsBefore = m_cds1.rowCount();
    {
        // The report shows the table as it is now. Meanwhile the glass,
        // MIN/MAX and the judgement follow the meter and the readings wait,
        // each with its time, to be logged in order once the preview closes
        // (without a recorder, PrintBusy stops the decoding instead).
        WorkGuard busy(*this, true, QStringLiteral("while the report preview was open"));
        showReportPreview(m_window, m_dialogs, m_cds1,
                          date.isEmpty() ? print::reportDateText(QDate::currentDate()) : date,
                          m_progressRows);
        busy.release();
    }
    if (m_tableChanged && m_cds1.rowCount() != rowsBefore)
        m_tableChanged();
    if (m_window)
        m_window->update();
}

void LogFileActions::reportKeptCopies() {
    const std::vector<std::string> kept = files::keptCopiesIn(files::dataFolder());
    if (kept.empty())
        return;
    QString list;
    for (const std::string& path : kept)
        list += QStringLiteral("\n") + QString::fromLocal8Bit(path.c_str());
    generalErrorReport(QStringLiteral("A save over a file was stopped before the new content was "
                                      "complete, so that file may be only partly written. Its "
                                      "old content is kept in:%1\n\nCopy it back if you need it, "
                                      "then remove the copy.")
                           .arg(list));
}

} // namespace kq::app
