#include "app/command_line.h"
#include "app/dialogs.h"
#include "app/guarded_application.h"
#include "app/journal_keeper.h"
#include "app/kept_settings.h"
#include "app/log_file_actions.h"
#include "app/quit_signals.h"
#include "app/tfcomm.h"
#include "decode/meter_state.h"
#include "decode/model_switch.h"

#include "kq_version.h"

#include <QDir>
#include <QIcon>
#include <QLockFile>
#include <QSettings>
#include <QTimer>

#include <cstdio>

namespace {

QStringList rawArguments(int argc, char** argv) {
    QStringList args;
    for (int i = 1; i < argc; ++i)
        args << QString::fromLocal8Bit(argv[i]);
    return args;
}

// --help and --version answer without a screen, before the window system is reached.
bool answeredWithoutWindow(const kq::app::WindowOptions& options) {
    if (options.help) {
        std::fputs(kq::app::windowUsageText().toLocal8Bit().constData(), stdout);
        return true;
    }
    if (options.version) {
        // The second line names the model the program was built for, by its window's
        // title; the desktop entry takes its name from there.
        kq::decode::MeterState state;
        const auto startup = kq::decode::applyStartup(state, kq::decode::builtModelSwitches(), ".");
        std::printf("kqmeter %s\n%s\n", kq::kVersion, startup.title.c_str());
        return true;
    }
    return false;
}

} // namespace

int main(int argc, char** argv) {
    if (answeredWithoutWindow(kq::app::parseWindowArguments(rawArguments(argc, argv))))
        return 0;
    kq::app::QuitSignals::block();
    kq::app::GuardedApplication app(argc, argv);
    // The window system's own options (-platform, -style, ...) are gone from the
    // arguments now; whatever else is there is ours to judge.
    const kq::app::WindowOptions options =
        kq::app::parseWindowArguments(kq::app::GuardedApplication::arguments().mid(1));
    if (!options.error.isEmpty()) {
        std::fprintf(stderr, "kqmeter: %s\n", options.error.toLocal8Bit().constData());
        return 2;
    }
    // The application's title is empty; the window carries the model's title.
    kq::app::GuardedApplication::setApplicationName(QString());
    // The installed menu entry and icon: the desktop matches the window to them.
    kq::app::GuardedApplication::setDesktopFileName(QStringLiteral("kqmeter"));
    kq::app::GuardedApplication::setWindowIcon(QIcon::fromTheme(QStringLiteral("kqmeter")));
    kq::app::QtDialogs dialogs;
    app.setDialogs(&dialogs);
    kq::app::TFCOMM FCOMM(dialogs);
    QSettings kept(kq::app::keptSettingsPath(), QSettings::IniFormat);
    if (!options.defaults)
        kq::app::applySettings(FCOMM, kq::app::readKeptSettings(kept));
    kq::app::QuitSignals quitSignals(FCOMM.journal());
    // The cable controls lie beyond the window's right edge; this shows them (so does
    // "Connect -> Cable controls", whose choice is kept).
    if (options.cableControls)
        FCOMM.showCableControls();
    // The first window of the user's holds this lock while it runs; one that finds it held is a
    // second window, with a log (and a journal) of its own.
    const QString folder = kq::app::JournalKeeper::defaultFolder();
    QLockFile firstWindow(folder + QStringLiteral("/window.lock"));
    firstWindow.setStaleLockTime(0); // only a lock whose program is gone is stale
    if (!folder.isEmpty() && QDir().mkpath(folder) && !firstWindow.tryLock(0) &&
        firstWindow.error() == QLockFile::LockFailedError)
        FCOMM.markSecondWindow();
    FCOMM.show();
    FCOMM.offerRecovery();
    FCOMM.files().reportKeptCopies();
    // Loaded once the window is up, so that a message about the file has it as owner.
    if (!options.file.isEmpty())
        QTimer::singleShot(0, &FCOMM, [&FCOMM, &options] { FCOMM.files().openLog(options.file); });
    // Pressed once the window is up, so that a message about the link has it as owner.
    if (options.connect != kq::app::ConnectLink::None)
        QTimer::singleShot(0, &FCOMM, [&FCOMM, &options] { FCOMM.pressConnect(options.connect); });
    const int status = quitSignals.arrived() ? 0 : app.exec();
    // Rows logged between a quit signal and the loop's end.
    if (quitSignals.arrived())
        FCOMM.journal().sync();
    kq::app::writeKeptSettings(kept, kq::app::captureSettings(FCOMM));
    return status;
}
