#include "command_help.h"

#include <array>
#include <string>
#include <string_view>

namespace kq::cli {

namespace {

struct Command {
    std::string_view name;
    // One form per line, without the program's name.
    std::string_view forms;
    std::string_view about;
};

constexpr std::array<Command, 7> kCommands{{
    {"decode",
     "decode [--link usb|hid] [--high TEXT] [--low TEXT]\n"
     "       [--repeat on|off] [--max-records N] [FILE]\n",
     "Decodes frame texts (one per line, from FILE or standard input) as the window\n"
     "does and prints one JSON line per frame: the display, the reading, its verdict\n"
     "against the limits, and the row and chart point it would log.\n"},
    {"monitor",
     "monitor --usb|--serial PORT [--count N] [--format tsv|json|csv] [MQTT]\n"
     "monitor --hid [--device PATH] [--count N] [--format tsv|json|csv] [MQTT]\n",
     "Prints the meter's readings as they come, one line each: time, value, unit and\n"
     "verdict (tsv), one JSON object (json), or a row of a CSV log after its header\n"
     "(csv). PORT is COM1..COM4 or a device file; --hid reads the last \"USB to\n"
     "Serial\" device, or PATH. Runs until Ctrl-C, or until N readings.\n"
     "MQTT: --mqtt mqtt[s]://HOST[:PORT]/TOPIC [--mqtt-user USER] [--mqtt-cafile FILE]\n"
     "[--mqtt-queue N] publishes each reading as JSON on TOPIC (QoS 1), \"online\" or\n"
     "\"offline\" on TOPIC/status (retained), and on TOPIC/dropped how many readings\n"
     "a full queue let go (N, 10000 unless given, wait while the broker is away).\n"
     "The password is taken from KQMETER_MQTT_PASSWORD.\n"},
    {"record",
     "record --usb|--serial PORT|--hid [--device PATH]\n"
     "       [--repeat on|off] [--interval S] [--max-records N]\n"
     "       [--split hourly|daily|ROWS] [--duration TIME] [MQTT] OUT\n"
     "record --settings FILE\n",
     "Logs the meter into the log file OUT with the window's rules (Repeat, sampling\n"
     "interval S, record limit N: 10000 unless given, at most 10000000) until Ctrl-C,\n"
     "SIGTERM or the limit. The rows reach the disk every second. A text OUT (any\n"
     "name but .xml) is complete at all times; for an .xml OUT the rows are kept in\n"
     "OUT.rows.txt and the XML file is written at the end. An existing OUT, or rows\n"
     "left in OUT.rows.txt, are never replaced: the recording does not start.\n"
     "--split starts a new file at each full hour, at midnight or after ROWS rows,\n"
     "named OUT's stem, the local date and time of its first row, and OUT's\n"
     "extension (lab-20261210-1400.txt; -2, -3... for a name that is taken); each\n"
     "file is complete on its own. --duration ends the recording after TIME (45s,\n"
     "90m, 8h, 2d). With either, the limit is 10000000 unless given.\n"
     "MQTT: the options of monitor; each logged row is published, and the file\n"
     "never waits for the broker. --settings reads the options from FILE, \"key =\n"
     "value\" lines: cable (usb, serial or hid), port, output, and any option above\n"
     "without its dashes (split = daily).\n"},
    {"devices", "devices\n", "Lists the HID devices and the USB bridge lines a meter may be on.\n"},
    {"convert", "convert IN OUT\n",
     "Loads the log file IN and saves it as OUT as the window does: .xml is an XML\n"
     "data packet, .csv a CSV file (RFC 4180, with each reading's date and time when\n"
     "known), any other name a tab-separated text log.\n"},
    {"stats", "stats FILE\n",
     "Prints the statistics of the readings in the log file FILE as one JSON object:\n"
     "count, mean, sample standard deviation (stddev), min and max of the numeric\n"
     "readings of the unit that has the most of them, and the rows of every other\n"
     "unit in other_units. What does not exist (no readings; one reading has no\n"
     "standard deviation) is null.\n"},
    {"report", "report [--date TEXT] LOG PDF\n",
     "Writes the \"Data Report\" of the log file LOG as a PDF; TEXT replaces today's\n"
     "date in its heading.\n"},
}};

const Command* find(const std::string& name) {
    for (const Command& c : kCommands)
        if (c.name == name)
            return &c;
    return nullptr;
}

// Each form on a line of its own, the first after `first` and the others under
// it; a continuation line (indented in the table) lines up under its command.
void printForms(const Command& c, std::string_view first, std::FILE* out) {
    const std::string pad(first.size(), ' ');
    std::string_view forms = c.forms;
    for (bool firstLine = true; !forms.empty(); firstLine = false) {
        const std::size_t end = forms.find('\n');
        const std::string_view line = forms.substr(0, end);
        forms.remove_prefix(end == std::string_view::npos ? forms.size() : end + 1);
        const std::string_view lead = firstLine ? first : std::string_view(pad);
        const bool continuation = !line.empty() && line.front() == ' ';
        std::fprintf(out, "%.*s%s%.*s\n", int(lead.size()), lead.data(),
                     continuation ? "            " : "kqmeter-cli ", int(line.size()), line.data());
    }
}

} // namespace

void printProgramUsage(std::FILE* out) {
    std::fputs("usage: kqmeter-cli COMMAND [ARGUMENT]...\n"
               "The meter's readings without a window, through the same core as kqmeter.\n"
               "Commands (kqmeter-cli COMMAND --help says more):\n",
               out);
    for (const Command& c : kCommands)
        printForms(c, "  ", out);
    std::fputs("  kqmeter-cli --help | --version\n", out);
}

void printCommandUsage(const std::string& command, std::FILE* out) {
    if (const Command* c = find(command))
        printForms(*c, "usage: ", out);
}

bool printCommandHelp(const std::string& command, std::FILE* out) {
    const Command* c = find(command);
    if (!c)
        return false;
    printForms(*c, "usage: ", out);
    std::fprintf(out, "%.*s", int(c->about.size()), c->about.data());
    return true;
}

} // namespace kq::cli
