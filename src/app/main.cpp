#include "app/dialogs.h"
#include "app/guarded_application.h"
#include "app/tfcomm.h"

int main(int argc, char** argv) {
    kq::app::GuardedApplication app(argc, argv);
    // The application's title is empty; the window carries the model's title.
    kq::app::GuardedApplication::setApplicationName(QString());
    kq::app::QtDialogs dialogs;
    app.setDialogs(&dialogs);
    kq::app::TFCOMM FCOMM(dialogs);
    // The cable controls lie beyond the window's right edge; this shows them.
    if (kq::app::GuardedApplication::arguments().contains(QStringLiteral("--cable-controls")))
        FCOMM.showCableControls();
    FCOMM.show();
    FCOMM.offerRecovery();
    return app.exec();
}
