#pragma once

#include "links/hid_backend.h"

#include <string>
#include <vector>

namespace kq::links {

// The udev rules that let the logged-in user open a HID cable: which file
// holds them, whether they can match a given cable, and the line that would.

// Where the rules file may be installed, in the order udev lets one override
// the next (a copy in /etc wins).
std::vector<std::string> hidRulesFileCandidates();
// The first candidate that exists, or empty.
std::string installedHidRulesFile(const std::vector<std::string>& candidates);

// Whether the rule of the installed file that matches by product name
// matches this cable (a USB device naming itself "USB to Serial").
bool hidNameRuleMatches(const HidInterfaceInfo& info);
// A rule line that matches this cable by its IDs, spelled as udev compares
// them: the USB device's idVendor/idProduct in lower-case hex, or for a cable
// that is no USB device the kernel's name of the HID device.
std::string hidRuleLineFor(const HidInterfaceInfo& info);
// The IDs as that line names them ("idVendor=1a2b idProduct=00cd"), or a
// note that the cable is no USB device.
std::string hidUdevIds(const HidInterfaceInfo& info);

// The message for a cable the user may not open, or empty when `error` is no
// permission problem. `rulesFile` is the installed rules file, empty if none.
std::string hidAccessHint(int error, const HidInterfaceInfo& info, const std::string& rulesFile);

} // namespace kq::links
