#pragma once

#include "files/log_file.h"
#include "record/save_mark.h"

#include <QImage>
#include <QString>

#include <cstdint>
#include <functional>

class QWidget;

namespace kq::record {
class LogTable;
class Recorder;
} // namespace kq::record

namespace kq::app {

class Dialogs;

// The window's file handlers: saving and loading the log (saveas, Record >
// Save, OpenDataFiles), saving the chart picture (BtSave, Graphic > Save) and
// the report preview (BtPrint). Every dialog and message goes through
// `dialogs`; the window connects its buttons and menu items to these.
class LogFileActions {
public:
    // `window` owns the dialogs and is repainted after each action; `PrintBusy`
    // is the window's flag that keeps the links from decoding: it is set
    // while the preview is open when there is no recorder to hold the log.
    LogFileActions(QWidget* window, Dialogs& dialogs, record::LogTable& cds1, bool& PrintBusy);

    // The recorder that owns cds1. While a long save or load runs its progress
    // dialog, or the report preview is open (the event loop turns meanwhile),
    // the glass keeps following the meter and only the log step waits:
    // readings are logged afterwards, in order. Without a recorder, PrintBusy
    // stops the decoding instead.
    void setRecorder(record::Recorder* recorder) { m_recorder = recorder; }

    // Called after a load changed cds1 (also after a failed text load that
    // kept rows, or a cancelled one that took its rows back), so that the grid
    // can follow.
    void setTableChanged(std::function<void()> tableChanged);
    // Called before every log save and after a save or a load changed what is
    // saved, so that the recovery journal follows.
    void setSavedChanged(std::function<void()> savedChanged);
    // The recovery journal's files: a save onto one is refused, and opening
    // one by name offers its rows back (`openJournal`) instead of loading it
    // as a log.
    void setJournalFiles(std::function<bool(const QString&)> isJournal,
                         std::function<void(const QString&)> openJournal);
    // Which rows are in a file: all after a save of every row and after an XML
    // load; rows a text load adds to a table without unsaved rows count as saved.
    const record::SaveMark& saveMark() const { return m_saveMark; }
    std::size_t unsavedRows() const { return m_saveMark.unsaved(m_cds1); }
    // Work on more rows than this shows a progress dialog with Cancel.
    void setProgressRows(std::uint64_t rows) { m_progressRows = rows; }
    std::uint64_t progressRows() const { return m_progressRows; }

    // Record > Save and "Save data files": the log into a file of the form the user picks.
    void saveasClick();
    // Record > Export CSV...: the whole log as a CSV file, whatever the name.
    void exportCsvClick();
    // Record > Open... and "Open old data files": loads a log file the user picks.
    void SpeedButton2Click();
    // Loads `name` as the open dialog's choice would (a file opened with the program).
    void openLog(const QString& name);
    // Graphic > Save and the chart's Save: the chart picture as a bitmap file. `grabChart`
    // draws the chart as it is when the user has chosen the name.
    void BtSaveClick(const std::function<QImage()>& grabChart);
    // The same with a picture taken before the dialog was shown.
    void BtSaveClick(const QImage& chart);
    // Record > Print... and "Print": the report preview of the log, from which it prints.
    // `date` is the print date as shown; empty means today's in the system format.
    void BtPrintClick(const QString& date = {});
    // A save over a file that was killed half-way left the file's old content
    // in the data folder: says where, once at start-up.
    void reportKeptCopies();

    const QString& lastOpenName() const { return m_lastOpenName; }
    // The folder of the last file chosen in any of the file dialogs; they open there.
    const QString& lastFolder() const { return m_lastFolder; }
    void setLastFolder(const QString& folder) { m_lastFolder = folder; }

private:
    void saveTo(const QString& name, files::LogForm form);
    void rememberFolder(const QString& name);
    void generalErrorReport(const QString& text);
    // True, after saying so, when `name` is a recovery journal.
    bool refusedAsJournal(const QString& name, const QString& what);
    class WorkGuard;

    QWidget* m_window;
    Dialogs& m_dialogs;
    record::LogTable& m_cds1;
    bool& m_printBusy;
    record::Recorder* m_recorder = nullptr;
    std::function<void()> m_tableChanged;
    std::function<void()> m_savedChanged;
    std::function<bool(const QString&)> m_isJournal;
    std::function<void(const QString&)> m_openJournal;
    record::SaveMark m_saveMark;
    std::uint64_t m_progressRows = 100000;
    QString m_lastOpenName;
    QString m_lastFolder;
};

} // namespace kq::app
