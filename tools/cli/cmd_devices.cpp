// devices: the HID devices and the USB bridge lines a meter may be on.
#include "cli_commands.h"
#include "command_help.h"

#include "hid_meter.h"
#include "links/hid_backend.h"
#include "links/hid_device.h"
#include "links/hid_link.h"
#include "links/hid_rules.h"
#include "links/usbbridge.h"
#include "links/usbbridge_tty.h"

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>

namespace kq::cli {

int runDevices(const std::vector<std::string>& args) {
    if (!args.empty()) {
        printCommandUsage("devices", stderr);
        return 2;
    }
    std::shared_ptr<links::HidBackend> backend = links::makeSystemHidBackend();
    links::HidCallQueue queue;
    links::THidDeviceController ctl(backend, queue.poster());
    std::puts("HID devices:");
    if (!backend->devicesReachable()) {
        std::printf("  %s\n", std::string(links::kNoHidrawText).c_str());
    } else {
        const auto listed = listHidDevices(ctl);
        if (listed.empty())
            std::puts("  none");
        for (const ListedHidDevice& l : listed) {
            if (!l.device)
                continue;
            // The IDs as a udev rule must spell them, so that a line filled in
            // from this listing matches.
            const links::HidInterfaceInfo& info = l.device->PnPInfo().Interface;
            std::printf("  %s\t%s\t%s\t%s\n", l.description.c_str(), info.devicePath.c_str(),
                        l.device->ReadWriteAccess() ? "read-write" : "no read access",
                        links::hidUdevIds(info).c_str());
            if (!l.device->ReadWriteAccess()) {
                const std::string hint = links::hidAccessHint(
                    l.device->OpenError(), info,
                    links::installedHidRulesFile(links::hidRulesFileCandidates()));
                if (!hint.empty())
                    std::printf("    %s\n", hint.c_str());
            }
        }
    }
    links::TtyUsbBridge::Discovery discovery;
    if (const char* list = std::getenv(links::kBridgeDevicesEnv))
        discovery.paths = links::TtyUsbBridge::splitDeviceList(list);
    const links::TtyUsbBridge bridges(discovery);
    std::puts("USB bridge lines:");
    const auto paths = bridges.devicePaths();
    if (paths.empty())
        std::puts("  none");
    for (const auto& path : paths)
        std::printf("  %s\n", path.c_str());
    return 0;
}

} // namespace kq::cli
