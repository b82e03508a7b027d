#pragma once

#include <QString>

#include <optional>

class QSettings;

namespace kq::app {

class TFCOMM;

// The choices a user expects to find again at the next start. Each is empty (or
// unset) when there is nothing kept, and the window then keeps its start-up value.
struct KeptSettings {
    QString lastFolder; // of the log and picture file dialogs
    QString pageLength; // the chart's page length, as typed
    std::optional<bool> repeat;
    std::optional<bool> sampling; // the "Sampling Interval" check box
    QString interval;             // seconds, as typed
    QString high;                 // limit texts, as typed (in the locale's form)
    QString low;
    std::optional<bool> cableControls; // "Connect -> Cable controls"
};

// The user's own settings file: $XDG_CONFIG_HOME/kqmeter/kqmeter.conf.
QString keptSettingsPath();

KeptSettings readKeptSettings(QSettings& store);
void writeKeptSettings(QSettings& store, const KeptSettings& kept);

// The window's values now.
KeptSettings captureSettings(TFCOMM& window);
// Puts the kept values into the window's controls as if the user had typed them, so
// the same checks run. A value the window would refuse (a hand-edited or foreign
// file, a folder that is gone, a limit in another locale's form) is left out.
void applySettings(TFCOMM& window, const KeptSettings& kept);

} // namespace kq::app
