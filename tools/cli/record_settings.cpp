#include "record_settings.h"

#include <fstream>

namespace kq::cli {

namespace {

std::string trimmed(const std::string& s) {
    const std::size_t first = s.find_first_not_of(" \t\r");
    if (first == std::string::npos)
        return {};
    const std::size_t last = s.find_last_not_of(" \t\r");
    return s.substr(first, last - first + 1);
}

} // namespace

std::vector<std::string> recordSettingsArguments(const std::string& path, std::string& why) {
    std::ifstream in(path);
    if (!in) {
        why = "cannot read the settings file " + path;
        return {};
    }
    std::vector<std::string> args;
    std::string cable, port, output;
    std::string line;
    for (int number = 1; std::getline(in, line); ++number) {
        line = trimmed(line);
        if (line.empty() || line[0] == '#')
            continue;
        const std::size_t eq = line.find('=');
        const std::string key = eq == std::string::npos ? "" : trimmed(line.substr(0, eq));
        const std::string value = eq == std::string::npos ? "" : trimmed(line.substr(eq + 1));
        const std::string where = path + ":" + std::to_string(number) + ": ";
        if (key.empty() || value.empty()) {
            why = where + "a setting is \"key = value\"";
            return {};
        }
        if (key == "cable")
            cable = value;
        else if (key == "port")
            port = value;
        else if (key == "output")
            output = value;
        else if (key[0] == '-' || key == "settings") {
            why = where + "no setting " + key;
            return {};
        } else {
            args.push_back("--" + key);
            args.push_back(value);
        }
    }
    if (cable == "usb" && port.empty()) {
        args.insert(args.begin(), "--usb");
    } else if (cable == "serial" && !port.empty()) {
        args.insert(args.begin(), {"--serial", port});
    } else if (cable == "hid") {
        if (!port.empty())
            args.insert(args.begin(), {"--device", port});
        args.insert(args.begin(), "--hid");
    } else {
        why = path + ": cable is usb, serial (with a port) or hid (a port names its device)";
        return {};
    }
    if (output.empty()) {
        why = path + ": no output file";
        return {};
    }
    args.push_back(output);
    return args;
}

} // namespace kq::cli
