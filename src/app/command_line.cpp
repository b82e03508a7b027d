#include "app/command_line.h"

namespace kq::app {

WindowOptions parseWindowArguments(const QStringList& args) {
    WindowOptions o;
    bool optionsEnded = false;
    // Keeps scanning after a fault: --help and --version answer even on a line
    // that holds something else wrong, and the first fault is the one told.
    auto fault = [&o](const QString& text) {
        if (o.error.isEmpty())
            o.error = text;
    };
    for (const QString& a : args) {
        if (!optionsEnded && a.startsWith(QLatin1Char('-')) && a.size() > 1) {
            if (a == QLatin1String("--"))
                optionsEnded = true;
            else if (a == QLatin1String("--help") || a == QLatin1String("-h"))
                o.help = true;
            else if (a == QLatin1String("--version"))
                o.version = true;
            else if (a == QLatin1String("--defaults"))
                o.defaults = true;
            else if (a == QLatin1String("--cable-controls"))
                o.cableControls = true;
            else
                fault(QStringLiteral("unknown option '%1' (try --help)").arg(a));
        } else if (a.isEmpty()) {
            fault(QStringLiteral("an empty file name"));
        } else if (o.file.isEmpty()) {
            o.file = a;
        } else {
            fault(QStringLiteral("one log file at a time: '%1' is one too many").arg(a));
        }
    }
    return o;
}

QString windowUsageText() {
    return QStringLiteral(
        "usage: kqmeter [--defaults] [--cable-controls] [FILE]\n"
        "The meter's window: shows the meter's display, logs its readings, charts,\n"
        "saves and prints them.\n"
        "  FILE              a log file (.xls, .txt or .xml) to open on start\n"
        "  --defaults        start with the built-in limits, page length, Repeat and\n"
        "                    sampling interval instead of the ones kept from the last run\n"
        "  --cable-controls  also show the HID and serial cable controls\n"
        "  --help            show this text and exit\n"
        "  --version         show the version and exit\n"
        "The choices kept between runs are in $XDG_CONFIG_HOME/kqmeter/kqmeter.conf\n"
        "(~/.config/kqmeter/kqmeter.conf).\n");
}

} // namespace kq::app
