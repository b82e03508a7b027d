#include "links/hid_rules.h"

#include "links/hid_link.h"

#include <cerrno>
#include <unistd.h>

namespace kq::links {

namespace {

constexpr const char* kRulesName = "60-kqmeter.rules";

std::string quoted(const std::string& text) {
    return "\"" + text + "\"";
}

} // namespace

std::vector<std::string> hidRulesFileCandidates() {
    return {std::string(kHidRulesFile), std::string("/usr/lib/udev/rules.d/") + kRulesName,
            std::string("/lib/udev/rules.d/") + kRulesName};
}

std::string installedHidRulesFile(const std::vector<std::string>& candidates) {
    for (const auto& path : candidates) {
        if (::access(path.c_str(), F_OK) == 0)
            return path;
    }
    return {};
}

bool hidNameRuleMatches(const HidInterfaceInfo& info) {
    return !info.usbVendorId.empty() && info.usbProductName == kHidBridgeName;
}

std::string hidRuleLineFor(const HidInterfaceInfo& info) {
    if (!info.usbVendorId.empty())
        return "SUBSYSTEM==\"hidraw\", ATTRS{idVendor}==" + quoted(info.usbVendorId) +
               ", ATTRS{idProduct}==" + quoted(info.usbProductId) + ", TAG+=\"uaccess\"";
    if (info.hidName.empty())
        return {};
    // "0003:1A2B:00CD.0004": the number after the dot changes on every plug-in.
    const std::string stable = info.hidName.substr(0, info.hidName.rfind('.'));
    return "SUBSYSTEM==\"hidraw\", KERNELS==" + quoted(stable + ".*") + ", TAG+=\"uaccess\"";
}

std::string hidUdevIds(const HidInterfaceInfo& info) {
    if (!info.usbVendorId.empty())
        return "idVendor=" + info.usbVendorId + " idProduct=" + info.usbProductId;
    if (!info.hidName.empty())
        return "no USB device (HID device " + info.hidName + ")";
    return "no USB device";
}

std::string hidAccessHint(int error, const HidInterfaceInfo& info, const std::string& rulesFile) {
    if (error != EACCES && error != EPERM)
        return {};
    std::string out = "You may not open the HID cable (permission denied). ";
    const std::string line = hidRuleLineFor(info);
    const std::string rules =
        rulesFile.empty() ? std::string("kqmeter's udev rules") : "The rules of " + rulesFile;
    // A line of one's own goes to /etc: the package's file is replaced on
    // every update, and a file of the same name in /etc would hide it.
    const std::string own = rulesFile.rfind("/etc/", 0) == 0
                                ? rulesFile
                                : std::string("/etc/udev/rules.d/61-kqmeter-cable.rules");
    // Where the system told nothing of what udev sees, the rules are the best
    // there is to offer.
    const bool unknown = info.usbVendorId.empty() && info.hidName.empty();
    if (hidNameRuleMatches(info) || unknown) {
        if (rulesFile.empty())
            out += std::string("Install kqmeter's udev rules as ") + kHidRulesFile + ", load";
        else
            out += "The rules file " + rulesFile + " is installed; load";
        out += " it with \"sudo udevadm control --reload && sudo udevadm trigger\", and plug "
               "the cable in again.";
        return out;
    }
    if (info.usbVendorId.empty())
        out += rules + " cannot match this cable: it is no USB device, so udev sees neither its "
                       "product name nor its USB IDs.";
    else
        out += rules + " cannot match this cable: it names itself " + quoted(info.usbProductName) +
               ", not " + quoted(std::string(kHidBridgeName)) + ".";
    if (!line.empty())
        out += " Add this line to " + own + ": " + line + " and";
    else
        out += " Then";
    out += " run \"sudo udevadm control --reload && sudo udevadm trigger\", and plug the cable "
           "in again.";
    return out;
}

} // namespace kq::links
