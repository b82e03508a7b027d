#pragma once

#include <QString>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

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
// them back. Every running window keeps a journal of its own ("recovery.txt",
// then "recovery-2.txt", ...), each held by a lock file beside it; a start
// offers every journal that no running window holds.
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
    // This window's journal; empty while the data folder cannot be written.
    QString path() const;
    // True for a journal of this program (any window's), by name.
    bool isJournal(const QString& name) const;

    // The menu item that switches the journal on and off (checked at start).
    void attachAction(QAction* action);
    // The user's choice: while it is on, a journal that cannot be written is
    // tried again every second.
    bool enabled() const { return m_enabled; }
    void setEnabled(bool on);

    // Once a second, before and after saves: the journal follows the table.
    void sync();
    // Journals left by runs that did not end normally: asks, for each, whether
    // to put its rows back into the table. True when rows were restored.
    bool offerRestore();
    // The user opened a journal by name: the same offer for that one.
    void offerJournal(const QString& name);
    // A normal exit after the user chose not to keep the unsaved rows.
    void discard();
    // The program is ending on a signal (a logout, a shutdown): the journal
    // takes the table as it stands, so that the next start offers the rows.
    // From then on it only grows by rows logged before the loop ends; nothing
    // (a question the ending cut short, whatever it returns) takes rows away.
    void keepForNextStart();

private:
    enum class Answer { Restore, Later, Discard };
    // Discarding this many rows or more asks a second time.
    static constexpr std::size_t kManyRows = 1000;
    // Journals a folder may hold, one per window.
    static constexpr int kSlots = 100;
    // Takes a journal of its own: true when the window has one.
    bool takeSlot();
    // `lock` holds the journal `name`; kept while its rows are not yet safe.
    bool offerLeft(const QString& name, std::unique_ptr<QLockFile>& lock);
    Answer askAboutRows(std::size_t rows, const QString& question);
    // Numbers the restored rows on and puts them into this window's journal.
    void restoreRows(std::size_t restored);
    // Journals whose rows were restored go once those rows are safe.
    void retireRestored();
    // Says once that the journal cannot be written; a success resets it.
    void report(const QString& text);
    bool onlyGrown() const;

    QWidget* m_window;
    Dialogs& m_dialogs;
    record::Recorder& m_recorder;
    const record::SaveMark& m_saved;
    QString m_folder;
    QString m_path;
    std::unique_ptr<QLockFile> m_lock;
    std::unique_ptr<files::RecoveryJournal> m_journal;
    // Journals left behind whose rows were restored: held until the rows are
    // in this window's journal or a file; a damaged one leaves as `copy`.
    struct Restored {
        QString name;
        QString copy;
        std::unique_ptr<QLockFile> lock;
    };
    std::vector<Restored> m_restored;
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
