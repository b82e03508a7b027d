#pragma once

#include <QString>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>

class QAction;
class QLockFile;
class QWidget;

namespace kq::files {
class RecoveryJournal;
}
namespace kq::record {
class Recorder;
struct SaveMark;
} // namespace kq::record

namespace kq::app {

class Dialogs;

// The window's recovery journal: the rows no file holds go to a file in the
// user's data folder once a second, and the next start after a crash offers
// them back. One running window owns the journal at a time (a lock file), so a
// second window neither takes nor offers the first one's rows.
class JournalKeeper {
public:
    // `folder` empty means the user's data folder of the program.
    JournalKeeper(QWidget* window, Dialogs& dialogs, record::Recorder& recorder,
                  const record::SaveMark& saved, QString folder = {});
    ~JournalKeeper();
    JournalKeeper(const JournalKeeper&) = delete;
    JournalKeeper& operator=(const JournalKeeper&) = delete;

    // The data folder the journal lives in when none is given.
    static QString defaultFolder();
    QString path() const;

    // The menu item that switches the journal on and off (checked at start).
    void attachAction(QAction* action);
    bool enabled() const { return m_enabled && m_journal != nullptr; }
    void setEnabled(bool on);

    // Once a second, before and after saves: the journal follows the table.
    void sync();
    // A journal left by a run that did not end normally: asks whether to put
    // its rows back into the table. True when rows were restored.
    bool offerRestore();
    // A normal exit after the user chose not to keep the unsaved rows.
    void discard();
    // The program is ending on a signal (a logout, a shutdown): the journal
    // takes the table as it stands, so that the next start offers the rows.
    // From then on it only grows by rows logged before the loop ends; nothing
    // (a question the ending cut short, whatever it returns) takes rows away.
    void keepForNextStart();

private:
    bool onlyGrown() const;

    QWidget* m_window;
    Dialogs& m_dialogs;
    record::Recorder& m_recorder;
    const record::SaveMark& m_saved;
    QString m_folder;
    std::unique_ptr<QLockFile> m_lock;
    std::unique_ptr<files::RecoveryJournal> m_journal;
    QAction* m_action = nullptr;
    bool m_enabled = true;
    bool m_reported = false;
    bool m_offering = false;
    bool m_kept = false;
    // The table the journal was kept with, while the table holds its rows:
    // not so when the ending came during the question at start.
    std::optional<std::uint64_t> m_keptGeneration;
    std::size_t m_keptRows = 0;
};

} // namespace kq::app
