#include "app/journal_keeper.h"

#include "app/dialogs.h"
#include "files/log_file.h"
#include "files/recovery_journal.h"
#include "record/recorder.h"
#include "record/save_mark.h"

#include <QAction>
#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLockFile>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QStringList>
#include <QWidget>

#include <algorithm>
#include <limits>

namespace kq::app {

namespace {

std::string localPath(const QString& name) {
    return QFile::encodeName(name).toStdString();
}

QString caption(QWidget* window) {
    return window ? window->windowTitle() : QString();
}

// The journal of the n-th window running at once.
QString slotName(int n) {
    return n == 1 ? QStringLiteral("recovery.txt") : QStringLiteral("recovery-%1.txt").arg(n);
}

bool isSlotName(const QString& fileName) {
    static const QRegularExpression pattern(QStringLiteral("^recovery(-[1-9][0-9]*)?\\.txt$"));
    return pattern.match(fileName).hasMatch();
}

QString lockName(const QString& journal) {
    return journal + QStringLiteral(".lock");
}

// A damaged journal leaves under a dated name beside it, which no window
// takes as a journal of its own.
QString damagedName(const QString& journal) {
    const QFileInfo info(journal);
    const QString stem = info.absolutePath() + QStringLiteral("/recovery-damaged-") +
                         QDateTime::currentDateTime().toString(QStringLiteral("yyyy-MM-dd-HHmmss"));
    QString name = stem + QStringLiteral(".txt");
    for (int i = 2; QFileInfo::exists(name); ++i)
        name = stem + QStringLiteral("-%1.txt").arg(i);
    return name;
}

QString lockProblem(const QLockFile& lock) {
    return lock.error() == QLockFile::PermissionError
               ? QStringLiteral("the folder cannot be written")
               : QStringLiteral("the lock file cannot be written");
}

} // namespace

JournalKeeper::JournalKeeper(QWidget* window, Dialogs& dialogs, record::Recorder& recorder,
                             const record::SaveMark& saved, QString folder)
    : m_window(window), m_dialogs(dialogs), m_recorder(recorder), m_saved(saved),
      m_folder(folder.isEmpty() ? defaultFolder() : std::move(folder)) {
    // A folder that cannot be written now is tried again when there is
    // something to keep.
    m_reported = true;
    takeSlot();
    m_reported = false;
}

JournalKeeper::~JournalKeeper() = default;

QString JournalKeeper::defaultFolder() {
    // The window's application name is empty (its title is the model's), so the
    // folder is named after the program then.
    if (!QCoreApplication::applicationName().isEmpty())
        return QStandardPaths::writableLocation(QStandardPaths::AppLocalDataLocation);
    const QString data = QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation);
    return data.isEmpty() ? QString() : data + QStringLiteral("/kqmeter");
}

QString JournalKeeper::path() const {
    return m_path;
}

bool JournalKeeper::isJournal(const QString& name) const {
    const QFileInfo info(name);
    if (m_folder.isEmpty())
        return false;
    // A link to a journal is the journal.
    const QFileInfo target(info.exists() ? info.canonicalFilePath() : info.absoluteFilePath());
    const QString folder = QFileInfo(m_folder).canonicalFilePath();
    return !folder.isEmpty() && isSlotName(target.fileName()) &&
           QFileInfo(target.absolutePath()).canonicalFilePath() == folder;
}

void JournalKeeper::report(const QString& text) {
    // Said once, not every second; the recording itself goes on.
    if (!m_reported)
        m_dialogs.message(m_window, caption(m_window), text, Dialogs::Icon::Error);
    m_reported = true;
}

bool JournalKeeper::takeSlot() {
    if (m_journal)
        return true;
    const QString keepsTrying = QStringLiteral(" The window keeps trying.");
    if (m_folder.isEmpty() || !QDir().mkpath(m_folder) || !QFileInfo(m_folder).isDir()) {
        report(QStringLiteral("Cannot write the recovery journal: the folder %1 cannot be "
                              "created.")
                   .arg(m_folder) +
               keepsTrying);
        return false;
    }
    for (int n = 1; n <= kSlots; ++n) {
        const QString name = m_folder + QLatin1Char('/') + slotName(n);
        // A journal there is a running window's or one left behind for the
        // next start to offer.
        if (QFileInfo::exists(name))
            continue;
        auto lock = std::make_unique<QLockFile>(lockName(name));
        // Only a lock whose program is gone is stale, however old it is.
        lock->setStaleLockTime(0);
        if (!lock->tryLock(0)) {
            if (lock->error() == QLockFile::LockFailedError)
                continue; // another window's
            report(QStringLiteral("Cannot write the recovery journal in %1: %2.")
                       .arg(m_folder, lockProblem(*lock)) +
                   keepsTrying);
            return false;
        }
        if (QFileInfo::exists(name))
            continue; // a window that ended between the look and the lock left it
        m_lock = std::move(lock);
        m_path = name;
        m_journal = std::make_unique<files::RecoveryJournal>(localPath(name));
        return true;
    }
    report(QStringLiteral("Cannot write the recovery journal in %1: %2 journals of other windows "
                          "are there.")
               .arg(m_folder)
               .arg(kSlots) +
           keepsTrying);
    return false;
}

void JournalKeeper::attachAction(QAction* action) {
    m_action = action;
    action->setCheckable(true);
    action->setChecked(enabled());
    QObject::connect(action, &QAction::toggled, action, [this](bool on) { setEnabled(on); });
}

void JournalKeeper::setEnabled(bool on) {
    if (m_kept)
        return;
    m_enabled = on;
    if (m_action && m_action->isChecked() != on)
        m_action->setChecked(on);
    if (on)
        sync();
    else if (m_journal)
        m_journal->discard();
}

void JournalKeeper::sync() {
    // While the question about a journal left behind is open, the timers go on
    // with an empty log: that must not take the journal away.
    if (!m_enabled || m_offering || (m_kept && !onlyGrown()))
        return;
    if (!m_journal && m_saved.unsaved(m_recorder.cds1) == 0) {
        retireRestored(); // saved in a file
        return;
    }
    if (!takeSlot())
        return;
    if (m_journal->sync(m_recorder.cds1, m_saved)) {
        m_reported = false;
        // Every unsaved row is in this window's journal now, or in a file.
        retireRestored();
        return;
    }
    report(QString::fromLocal8Bit(m_journal->error().c_str()) +
           QStringLiteral(". The window keeps trying."));
}

JournalKeeper::Answer JournalKeeper::askAboutRows(std::size_t rows, const QString& question) {
    // Enter restores; Escape or closing the box leaves the journal for the
    // next start: only the user's explicit Discard throws readings away.
    const QStringList buttons{QStringLiteral("Restore"), QStringLiteral("Later"),
                              QStringLiteral("Discard")};
    const int chosen = m_dialogs.choose(m_window, caption(m_window), question, buttons, 0, 1);
    if (chosen == 0)
        return Answer::Restore;
    if (chosen != 2)
        return Answer::Later;
    if (rows < kManyRows)
        return Answer::Discard;
    return m_dialogs.ask(m_window, caption(m_window),
                         QStringLiteral("Discard %1 readings for good?").arg(rows))
               ? Answer::Discard
               : Answer::Later;
}

bool JournalKeeper::offerRestore() {
    if (!m_enabled || m_folder.isEmpty())
        return false;
    bool restored = false;
    // The oldest first, so that restored rows keep the order they were taken in.
    const QFileInfoList found = QDir(m_folder).entryInfoList(
        {QStringLiteral("recovery*.txt")}, QDir::Files, QDir::Time | QDir::Reversed);
    for (const QFileInfo& info : found) {
        const QString name = info.absoluteFilePath();
        if (!isSlotName(info.fileName()) || name == QFileInfo(m_path).absoluteFilePath())
            continue;
        auto lock = std::make_unique<QLockFile>(lockName(name));
        lock->setStaleLockTime(0);
        if (!lock->tryLock(0))
            continue; // a running window's
        restored = offerLeft(name, lock) || restored;
        if (m_kept)
            break;
    }
    return restored;
}

void JournalKeeper::offerJournal(const QString& name) {
    const QFileInfo info(name);
    const QString path = m_folder + QLatin1Char('/') +
                         QFileInfo(info.exists() ? info.canonicalFilePath() : name).fileName();
    if (!m_path.isEmpty() && QFileInfo(path) == QFileInfo(m_path)) {
        m_dialogs.message(m_window, caption(m_window),
                          QStringLiteral("%1 is this window's recovery journal: its readings are "
                                         "in the log already.")
                              .arg(name),
                          Dialogs::Icon::Information);
        return;
    }
    auto lock = std::make_unique<QLockFile>(lockName(path));
    lock->setStaleLockTime(0);
    if (!lock->tryLock(0)) {
        m_dialogs.message(m_window, caption(m_window),
                          QStringLiteral("%1 is the recovery journal of another window that is "
                                         "running: its readings are in that window's log.")
                              .arg(name),
                          Dialogs::Icon::Information);
        return;
    }
    if (QFileInfo::exists(path))
        offerLeft(path, lock);
}

bool JournalKeeper::offerLeft(const QString& name, std::unique_ptr<QLockFile>& lock) {
    record::LogTable left;
    const files::LoadResult read = files::readJournal(left, localPath(name));
    if (read.status == files::LoadResult::Status::Failed && left.empty()) {
        m_dialogs.message(m_window, caption(m_window),
                          QStringLiteral("The recovery journal %1 cannot be read: %2. It stays "
                                         "where it is.")
                              .arg(name, QString::fromLocal8Bit(read.error.c_str())),
                          Dialogs::Icon::Error);
        return false;
    }
    const std::uint64_t unread = read.unreadLines;
    // A damaged journal is never deleted: it leaves under a dated name.
    const QString copy = unread > 0 ? damagedName(name) : QString();
    const auto retire = [&] {
        return copy.isEmpty() ? QFile::remove(name) : QFile::rename(name, copy);
    };
    const QString damage =
        unread == 0 ? QString()
                    : QStringLiteral("%1 lines of the journal could not be read; the journal as "
                                     "it is will be kept as %2.")
                          .arg(unread)
                          .arg(QFileInfo(copy).fileName());
    if (left.empty()) {
        if (unread == 0) {
            QFile::remove(name); // nothing in it to give back
            return false;
        }
        if (!retire())
            return false; // offered again at the next start
        m_dialogs.message(m_window, caption(m_window),
                          QStringLiteral("The recovery journal %1 holds no reading that can be "
                                         "read. ")
                                  .arg(name) +
                              damage,
                          Dialogs::Icon::Error);
        return false;
    }
    QString question =
        QStringLiteral("The last recording ended without saving %1 readings. Restore them?")
            .arg(left.rowCount());
    if (!damage.isEmpty())
        question += QStringLiteral("\n\n") + damage;
    m_offering = true;
    const Answer answer = askAboutRows(left.rowCount(), question);
    m_offering = false;
    if (m_kept || answer == Answer::Later)
        return false;
    if (answer == Answer::Discard) {
        retire();
        return false;
    }
    record::LogTable& cds1 = m_recorder.cds1;
    const std::size_t restored = left.rowCount();
    if (cds1.empty())
        cds1 = std::move(left); // no second reading of a journal of millions of rows
    else
        files::readJournal(cds1, localPath(name));
    // The journal left behind goes only once its rows are safe in this
    // window's own; until then the window holds it, and a run that ends
    // before leaves it for the next start to offer again.
    m_restored.push_back({name, copy, std::move(lock)});
    restoreRows(restored);
    return true;
}

void JournalKeeper::restoreRows(std::size_t restored) {
    record::LogTable& cds1 = m_recorder.cds1;
    // Recording goes on where it stopped: the next row takes the next number.
    auto& log = m_recorder.log();
    if (const auto last = cds1.empty() ? std::nullopt : cds1.no(cds1.rowCount() - 1);
        last && *last < std::numeric_limits<std::int32_t>::max())
        log.RecordNo = std::max(log.RecordNo, *last + 1);
    const auto room =
        static_cast<std::size_t>(std::numeric_limits<std::int32_t>::max() - log.LoggedCount);
    log.LoggedCount += static_cast<std::int32_t>(std::min(restored, room));
    sync();
}

void JournalKeeper::retireRestored() {
    for (const Restored& r : m_restored) {
        if (r.copy.isEmpty())
            QFile::remove(r.name);
        else
            QFile::rename(r.name, r.copy);
    }
    m_restored.clear();
}

void JournalKeeper::discard() {
    if (m_journal && !m_kept)
        m_journal->discard();
}

void JournalKeeper::keepForNextStart() {
    if (m_kept)
        return;
    sync();
    m_kept = true;
    if (!m_offering)
        m_keptGeneration = m_recorder.cds1.generation();
    m_keptRows = m_recorder.cds1.rowCount();
}

bool JournalKeeper::onlyGrown() const {
    const record::LogTable& cds1 = m_recorder.cds1;
    return m_keptGeneration == cds1.generation() && cds1.rowCount() >= m_keptRows;
}

} // namespace kq::app
