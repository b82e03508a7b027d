#pragma once

#include <string>
#include <vector>

namespace kq::cli {

// A recording's settings file, as a service runs it: "key = value" lines, '#'
// comments. `cable` is usb, serial or hid; `port` the serial port or the HID
// device; `output` the log file; every other key is a record option without
// its dashes (split, duration, interval, repeat, max-records, mqtt, mqtt-user,
// mqtt-cafile). Returns the options as a command line would give them, or an
// empty list with `why` set.
std::vector<std::string> recordSettingsArguments(const std::string& path, std::string& why);

} // namespace kq::cli
