#pragma once

#include <QObject>

class QSocketNotifier;

namespace kq::app {

class JournalKeeper;

// A logout, a shutdown or Ctrl-C in the terminal ends the window the way its
// Exit item would, minus the question about unsaved rows: nobody is there to
// answer it. The journal takes the rows of the last second first, so the next
// start offers every reading back, and main() still writes the kept settings
// after the loop. The signals are blocked in every thread and read from a
// signalfd on the event loop, so nothing runs in the middle of a handler.
class QuitSignals : public QObject {
public:
    // Before any thread starts (that is, before the QApplication): threads
    // inherit the blocked set, and a signal one of them took would end the
    // program by its default action, before the journal has the last rows.
    static void block();

    explicit QuitSignals(JournalKeeper& journal);
    ~QuitSignals() override;
    QuitSignals(const QuitSignals&) = delete;
    QuitSignals& operator=(const QuitSignals&) = delete;

    // A signal came before the window's own loop ran (during the question at
    // start, whose dialog exit() ended): main() must not start that loop.
    bool arrived() const { return m_arrived; }

private:
    void received();

    JournalKeeper& m_journal;
    int m_fd = -1;
    QSocketNotifier* m_notifier = nullptr;
    bool m_arrived = false;
};

} // namespace kq::app
