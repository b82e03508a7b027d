#include "app/guarded_application.h"

#include "app/dialogs.h"

#include <QMessageBox>
#include <exception>

namespace kq::app {

GuardedApplication::GuardedApplication(int& argc, char** argv) : QApplication(argc, argv) {}

bool GuardedApplication::notify(QObject* receiver, QEvent* event) {
    try {
        return QApplication::notify(receiver, event);
    } catch (const std::exception& e) {
        report(QString::fromLocal8Bit(e.what()));
    } catch (...) {
        report(QStringLiteral("Unknown error"));
    }
    return false;
}

void GuardedApplication::report(const QString& text) {
    // An error raised while its own report is open is not reported again, so
    // a failing timer cannot stack message boxes.
    if (m_reporting)
        return;
    m_reporting = true;
    if (m_dialogs)
        m_dialogs->message(activeWindow(), applicationName(), text, Dialogs::Icon::Error);
    else
        QMessageBox::critical(activeWindow(), applicationName(), text);
    m_reporting = false;
}

} // namespace kq::app
