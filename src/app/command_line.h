#pragma once

#include <QString>
#include <QStringList>

namespace kq::app {

// The link whose connect button the window presses once it shows.
enum class ConnectLink { None, Usb, Hid, Serial };

// What the window was asked to do on its command line (the arguments after the
// program's name, with the window system's own options already taken out).
struct WindowOptions {
    bool help = false;
    bool version = false;
    bool defaults = false;      // start with the built-in values, not the kept ones
    bool cableControls = false; // show the cable controls beyond the right edge
    ConnectLink connect = ConnectLink::None;
    QString file;  // a log file to open on start; empty for none
    QString error; // one line for the user; empty when the line is sound
};

WindowOptions parseWindowArguments(const QStringList& args);
QString windowUsageText();

} // namespace kq::app
