#pragma once

#include <QApplication>

namespace kq::app {

class Dialogs;

// The application object. An error that escapes an event handler is shown as
// the general error report (a message box with the error's text) and the
// event loop goes on, instead of the program ending.
class GuardedApplication : public QApplication {
public:
    GuardedApplication(int& argc, char** argv);
    void setDialogs(Dialogs* dialogs) { m_dialogs = dialogs; }
    bool notify(QObject* receiver, QEvent* event) override;

private:
    void report(const QString& text);
    Dialogs* m_dialogs = nullptr;
    bool m_reporting = false;
};

} // namespace kq::app
