#include "app/quit_signals.h"

#include "app/journal_keeper.h"

#include <QCoreApplication>
#include <QSocketNotifier>

#include <csignal>
#include <pthread.h>
#include <sys/signalfd.h>
#include <unistd.h>

namespace kq::app {

namespace {

sigset_t quitSet() {
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGTERM);
    sigaddset(&set, SIGINT);
    sigaddset(&set, SIGHUP);
    return set;
}

} // namespace

void QuitSignals::block() {
    const sigset_t set = quitSet();
    pthread_sigmask(SIG_BLOCK, &set, nullptr);
}

QuitSignals::QuitSignals(JournalKeeper& journal) : m_journal(journal) {
    const sigset_t set = quitSet();
    m_fd = signalfd(-1, &set, SFD_NONBLOCK | SFD_CLOEXEC);
    if (m_fd < 0) {
        // Without the descriptor the signals would stay blocked and pile up
        // unseen; the default action (ending at once) is the lesser harm.
        pthread_sigmask(SIG_UNBLOCK, &set, nullptr);
        return;
    }
    m_notifier = new QSocketNotifier(m_fd, QSocketNotifier::Read, this);
    connect(m_notifier, &QSocketNotifier::activated, this, &QuitSignals::received);
}

QuitSignals::~QuitSignals() {
    if (m_fd >= 0)
        ::close(m_fd);
}

void QuitSignals::received() {
    signalfd_siginfo info;
    bool any = false;
    while (::read(m_fd, &info, sizeof info) == static_cast<ssize_t>(sizeof info))
        any = true;
    if (!any)
        return;
    m_arrived = true;
    m_journal.keepForNextStart();
    // exit() rather than quit(): quit() asks every window to close, and the
    // window would ask about the unsaved rows. exit() also ends a dialog's
    // loop that happens to be open.
    QCoreApplication::exit(0);
}

} // namespace kq::app
