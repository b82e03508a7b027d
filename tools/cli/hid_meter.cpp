// A HID cable made ready to read, as the links of the commands use it.
#include "hid_meter.h"

#include "links/hid_link.h"
#include "links/hid_rules.h"

#include <cstdio>
#include <memory>
#include <string>

namespace kq::cli {

std::vector<ListedHidDevice> listHidDevices(links::THidDeviceController& ctl) {
    std::vector<ListedHidDevice> out;
    ctl.SetOnEnumerate(links::makeHandler<links::THidEnumerateFn>([&](links::THidDevice& d,
                                                                      int index) {
        ListedHidDevice l;
        l.description = links::HidDeviceDescription(d.ReadProductName(), d.Attributes().vendorId,
                                                    d.Attributes().productId, d.ReadSerialNumber());
        l.device = ctl.CheckOutDevice(index);
        out.push_back(std::move(l));
        return true;
    }));
    ctl.EnumerateDevices();
    return out;
}

int openHidMeter(const std::string& devicePath, const decode::ModelSwitchSet& switches,
                 HidMeter& meter) {
    meter.backend = links::makeSystemHidBackend();
    if (!meter.backend->devicesReachable()) {
        std::fprintf(stderr, "kqmeter-cli: %s\n", std::string(links::kNoHidrawText).c_str());
        return 1;
    }
    meter.ctl = std::make_unique<links::THidDeviceController>(meter.backend, meter.queue.poster());
    auto listed = listHidDevices(*meter.ctl);
    ListedHidDevice* chosen = nullptr;
    for (auto& l : listed) {
        if (!l.device)
            continue;
        if (devicePath.empty() ? l.description == links::kHidBridgeName
                               : l.device->PnPInfo().DevicePath() == devicePath)
            chosen = &l; // the last one that fits
    }
    if (!chosen) {
        std::fprintf(stderr, "%s\n",
                     devicePath.empty() ? std::string(links::kHidNotConnectedText).c_str()
                                        : ("kqmeter-cli: no HID device at " + devicePath).c_str());
        return 1;
    }
    meter.device = std::move(chosen->device);
    links::THidDevice* device = meter.device.get();
    if (!device->ReadWriteAccess()) {
        const std::string hint =
            links::hidAccessHint(device->OpenError(), device->PnPInfo().Interface,
                                 links::installedHidRulesFile(links::hidRulesFileCandidates()));
        std::fprintf(stderr, "kqmeter-cli: %s\n",
                     hint.empty() ? "the HID device cannot be opened for reading" : hint.c_str());
        return 1;
    }
    const links::HidFeatureReport report = links::hidFeatureReport(switches);
    if (!device->SendFeatureReport(report.data(), report.size()))
        std::fputs("kqmeter-cli: the cable did not take the bit-rate report\n", stderr);
    if (!links::hidReadingEnabled(switches)) {
        std::fputs("kqmeter-cli: this build's meter model does not read from a HID cable\n",
                   stderr);
        return 1;
    }
    return 0;
}

bool hidDeviceStillThere(links::HidBackend& backend, const std::string& path) {
    for (const auto& info : backend.enumerate()) {
        if (info.devicePath == path)
            return true;
    }
    return false;
}

} // namespace kq::cli
