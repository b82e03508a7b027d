#include "app/journal_keeper.h"

#include "app/dialogs.h"
#include "files/recovery_journal.h"
#include "record/recorder.h"
#include "record/save_mark.h"

#include <QAction>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QLockFile>
#include <QStandardPaths>
#include <QWidget>

#include <limits>

namespace kq::app {

namespace {

std::string localPath(const QString& name) {
    return QFile::encodeName(name).toStdString();
}

QString caption(QWidget* window) {
    return window ? window->windowTitle() : QString();
}

} // namespace

JournalKeeper::JournalKeeper(QWidget* window, Dialogs& dialogs, record::Recorder& recorder,
                             const record::SaveMark& saved, QString folder)
    : m_window(window), m_dialogs(dialogs), m_recorder(recorder), m_saved(saved),
      m_folder(folder.isEmpty() ? defaultFolder() : std::move(folder)) {
    if (m_folder.isEmpty() || !QDir().mkpath(m_folder))
        return; // no data folder: the window runs without a journal
    m_lock = std::make_unique<QLockFile>(m_folder + QStringLiteral("/journal.lock"));
    // Only a lock whose program is gone is stale, however old it is.
    m_lock->setStaleLockTime(0);
    if (!m_lock->tryLock(0))
        return; // another window is recording into it
    m_journal = std::make_unique<files::RecoveryJournal>(localPath(path()));
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
    return m_folder + QStringLiteral("/recovery.txt");
}

void JournalKeeper::attachAction(QAction* action) {
    m_action = action;
    action->setCheckable(true);
    action->setChecked(enabled());
    action->setEnabled(m_journal != nullptr);
    QObject::connect(action, &QAction::toggled, action, [this](bool on) { setEnabled(on); });
}

void JournalKeeper::setEnabled(bool on) {
    if (m_kept)
        return;
    m_enabled = on;
    if (m_action && m_action->isChecked() != on)
        m_action->setChecked(on);
    if (!m_journal)
        return;
    if (on)
        sync();
    else
        m_journal->discard();
}

void JournalKeeper::sync() {
    // While the question about a journal left behind is open, the timers go on
    // with an empty log: that must not take the journal away.
    if (!enabled() || m_offering || (m_kept && !onlyGrown()))
        return;
    if (m_journal->sync(m_recorder.cds1, m_saved)) {
        m_reported = false;
        return;
    }
    // Said once, not every second; the recording itself goes on.
    if (!m_reported)
        m_dialogs.message(m_window, caption(m_window),
                          QString::fromLocal8Bit(m_journal->error().c_str()), Dialogs::Icon::Error);
    m_reported = true;
}

bool JournalKeeper::offerRestore() {
    if (!enabled() || !QFile::exists(path()))
        return false;
    record::LogTable left;
    files::readJournal(left, m_journal->path());
    if (left.empty()) {
        m_journal->discard();
        return false;
    }
    const QString question =
        QStringLiteral("The last recording ended without saving %1 readings. Restore them?")
            .arg(left.rowCount());
    m_offering = true;
    const bool restore = m_dialogs.ask(m_window, caption(m_window), question);
    m_offering = false;
    if (m_kept)
        return false;
    if (!restore) {
        m_journal->discard();
        return false;
    }
    record::LogTable& cds1 = m_recorder.cds1;
    const std::size_t restored = left.rowCount();
    if (cds1.empty())
        cds1 = std::move(left); // no second reading of a journal of millions of rows
    else
        files::readJournal(cds1, m_journal->path());
    // Recording goes on where it stopped: the next row takes the next number.
    auto& log = m_recorder.log();
    if (const auto last = cds1.empty() ? std::nullopt : cds1.no(cds1.rowCount() - 1);
        last && *last < std::numeric_limits<std::int32_t>::max())
        log.RecordNo = std::max(log.RecordNo, *last + 1);
    const auto room =
        static_cast<std::size_t>(std::numeric_limits<std::int32_t>::max() - log.LoggedCount);
    log.LoggedCount += static_cast<std::int32_t>(std::min(restored, room));
    sync();
    return restored > 0;
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
