// An error that escapes an event handler reaches the user as the general error
// report (a message box with the error's text) and the program goes on.
#include "app/guarded_application.h"
#include "support/recording_dialogs.h"

#include <QTimer>
#include <QtTest>

#include <stdexcept>

using kq::test::RecordingDialogs;

namespace {

class Thrower : public QObject {
public:
    int calls = 0;
    bool event(QEvent* e) override {
        if (e->type() == QEvent::User) {
            ++calls;
            throw std::runtime_error("Disk full while writing c:\\log.xml");
        }
        return QObject::event(e);
    }
};

} // namespace

int main(int argc, char** argv) {
    kq::app::GuardedApplication app(argc, argv);
    RecordingDialogs dialogs;
    app.setDialogs(&dialogs);

    Thrower thrower;
    for (int i = 0; i < 2; ++i)
        QCoreApplication::postEvent(&thrower, new QEvent(QEvent::User));
    bool loopWentOn = false;
    QTimer::singleShot(50, [&] {
        loopWentOn = true;
        QCoreApplication::quit();
    });
    app.exec();

    const bool ok = loopWentOn && thrower.calls == 2 && dialogs.messages.size() == 2 &&
                    dialogs.messages[0].text == "Disk full while writing c:\\log.xml" &&
                    dialogs.messages[0].icon == kq::app::Dialogs::Icon::Error;
    if (!ok) {
        qWarning("error report: loop %d, calls %d, messages %zu", loopWentOn, thrower.calls,
                 dialogs.messages.size());
        return 1;
    }
    return 0;
}
