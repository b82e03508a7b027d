// The permission advice for a HID cable: it must lead to a rule that matches
// the cable, spelled as udev compares (case-sensitively) and in the file that
// is actually installed.
#include "links/hid_rules.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdio>
#include <fstream>
#include <string>

using namespace kq::links;

namespace {

HidInterfaceInfo usbCable(const std::string& product) {
    HidInterfaceInfo info;
    info.devicePath = "/dev/hidraw3";
    info.usbVendorId = "1a2b";
    info.usbProductId = "00cd";
    info.usbProductName = product;
    info.hidName = "0003:1A2B:00CD.0007";
    return info;
}

} // namespace

TEST(HidRules, AdviceLeadsToARuleThatMatchesThisCable) {
    HidInterfaceInfo virtualCable;
    virtualCable.hidName = "0003:1A2B:00CD.0002"; // on no USB device (uhid, Bluetooth)
    struct Case {
        const char* name;
        HidInterfaceInfo info;
        std::string rulesFile;
        std::vector<std::string> has;
        std::vector<std::string> hasNot;
    };
    const Case cases[] = {
        {"the bridge by name, rules installed by the package",
         usbCable("USB to Serial"),
         "/usr/lib/udev/rules.d/60-kqmeter.rules",
         {"/usr/lib/udev/rules.d/60-kqmeter.rules is installed", "udevadm control --reload"},
         {"dist/udev", "cannot match", "Add this line"}},
        {"the bridge by name, no rules installed",
         usbCable("USB to Serial"),
         "",
         {"/etc/udev/rules.d/60-kqmeter.rules"},
         {"dist/udev", "cannot match"}},
        {"nothing known of what udev sees: the rules file all the same",
         HidInterfaceInfo{},
         "",
         {"/etc/udev/rules.d/60-kqmeter.rules", "plug the cable in again"},
         {"cannot match"}},
        {"a cable named otherwise gets the line with udev's lower-case IDs",
         usbCable("Meter Cable"),
         "/etc/udev/rules.d/60-kqmeter.rules",
         {"cannot match this cable: it names itself \"Meter Cable\"",
          "SUBSYSTEM==\"hidraw\", ATTRS{idVendor}==\"1a2b\", ATTRS{idProduct}==\"00cd\", "
          "TAG+=\"uaccess\""},
         {"1A2B", "00CD\""}},
        {"a line of one's own goes to /etc, not into the package's file",
         usbCable("Meter Cable"),
         "/usr/lib/udev/rules.d/60-kqmeter.rules",
         {"The rules of /usr/lib/udev/rules.d/60-kqmeter.rules cannot match",
          "Add this line to /etc/udev/rules.d/61-kqmeter-cable.rules: "},
         {"Add this line to /usr"}},
        {"no USB device: the kernel's HID name, without its plug-in number",
         virtualCable,
         "/etc/udev/rules.d/60-kqmeter.rules",
         {"cannot match this cable: it is no USB device",
          "SUBSYSTEM==\"hidraw\", KERNELS==\"0003:1A2B:00CD.*\", TAG+=\"uaccess\""},
         {"idVendor", ".0002"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string text = hidAccessHint(EACCES, c.info, c.rulesFile);
        for (const auto& part : c.has)
            EXPECT_NE(text.find(part), std::string::npos) << text << "\nlacks: " << part;
        for (const auto& part : c.hasNot)
            EXPECT_EQ(text.find(part), std::string::npos) << text << "\nhas: " << part;
    }
    EXPECT_EQ(hidAccessHint(ENOENT, usbCable("USB to Serial"), ""), "");
    EXPECT_EQ(hidUdevIds(usbCable("x")), "idVendor=1a2b idProduct=00cd");
}

TEST(HidRules, TheInstalledFileIsTheFirstThatExists) {
    const std::string dir = ::testing::TempDir();
    const std::string second = dir + "/kq-rules-second";
    std::ofstream(second) << "#\n";
    EXPECT_EQ(installedHidRulesFile({dir + "/kq-rules-missing", second}), second);
    EXPECT_EQ(installedHidRulesFile({dir + "/kq-rules-missing"}), "");
    std::remove(second.c_str());
}
