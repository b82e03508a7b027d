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
    auto takeLink = [&o, &fault](const QString& name) {
        ConnectLink link = ConnectLink::None;
        if (name == QLatin1String("usb"))
            link = ConnectLink::Usb;
        else if (name == QLatin1String("hid"))
            link = ConnectLink::Hid;
        else if (name == QLatin1String("serial"))
            link = ConnectLink::Serial;
        else if (name.isEmpty())
            return fault(QStringLiteral("--connect needs a link: usb, hid or serial"));
        else
            return fault(
                QStringLiteral("unknown link '%1' for --connect (usb, hid or serial)").arg(name));
        // One press: a second link would release the first at once.
        if (o.connect != ConnectLink::None && o.connect != link)
            return fault(
                QStringLiteral("one link at a time: --connect %1 is one too many").arg(name));
        o.connect = link;
    };
    for (qsizetype i = 0; i < args.size(); ++i) {
        const QString& a = args[i];
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
            else if (a == QLatin1String("--connect"))
                takeLink(i + 1 < args.size() ? args[++i] : QString());
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
        "usage: kqmeter [--defaults] [--cable-controls] [--connect LINK] [FILE]\n"
        "The meter's window: shows the meter's display, logs its readings, charts,\n"
        "saves and prints them.\n"
        "  FILE              a log file (.xls, .txt or .xml) to open on start\n"
        "  --defaults        start with the built-in limits, page length, Repeat and\n"
        "                    sampling interval instead of the ones kept from the last run\n"
        "  --cable-controls  also show the HID and serial cable controls\n"
        "  --connect LINK    once the window shows, press the connect button of LINK:\n"
        "                    usb (\"USB Connect \"), hid (the HID cable's \"USB Connect\")\n"
        "                    or serial (\"COM Connect\")\n"
        "  --help            show this text and exit\n"
        "  --version         show the version and exit\n"
        "The choices kept between runs are in $XDG_CONFIG_HOME/kqmeter/kqmeter.conf\n"
        "(~/.config/kqmeter/kqmeter.conf).\n");
}

} // namespace kq::app
