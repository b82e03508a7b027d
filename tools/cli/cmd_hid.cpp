// The HID cable without a window: the device listing and the monitor.
#include "cli_commands.h"
#include "command_help.h"

#include "decode/meter_state.h"
#include "decode/model_switch.h"
#include "hid_meter.h"
#include "links/hid_backend.h"
#include "links/hid_device.h"
#include "links/hid_link.h"
#include "links/usbbridge.h"
#include "links/usbbridge_tty.h"
#include "monitor_line.h"

#include <cerrno>
#include <charconv>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <exception>
#include <memory>
#include <string>

namespace kq::cli {

namespace {

void hidMonitorUsage() {
    printCommandUsage("monitor", stderr);
}

bool stopRequested(const sigset_t& stop) {
    const timespec none{0, 0};
    return sigtimedwait(&stop, nullptr, &none) > 0;
}

struct Listed {
    std::unique_ptr<links::THidDevice> device;
    std::string description;
};

// Checks every plugged-in device out, as the window's list does.
std::vector<Listed> listDevices(links::THidDeviceController& ctl) {
    std::vector<Listed> out;
    ctl.SetOnEnumerate(links::makeHandler<links::THidEnumerateFn>([&](links::THidDevice& d,
                                                                      int index) {
        Listed l;
        l.description = links::HidDeviceDescription(d.ReadProductName(), d.Attributes().vendorId,
                                                    d.Attributes().productId, d.ReadSerialNumber());
        l.device = ctl.CheckOutDevice(index);
        out.push_back(std::move(l));
        return true;
    }));
    ctl.EnumerateDevices();
    return out;
}

bool stillThere(links::HidBackend& backend, const std::string& path) {
    for (const auto& info : backend.enumerate()) {
        if (info.devicePath == path)
            return true;
    }
    return false;
}

} // namespace

int openHidMeter(const std::string& devicePath, const decode::ModelSwitchSet& switches,
                 HidMeter& meter) {
    meter.backend = links::makeSystemHidBackend();
    if (!meter.backend->devicesReachable()) {
        std::fprintf(stderr, "kqmeter-cli: %s\n", std::string(links::kNoHidrawText).c_str());
        return 1;
    }
    meter.ctl = std::make_unique<links::THidDeviceController>(meter.backend, meter.queue.poster());
    auto listed = listDevices(*meter.ctl);
    Listed* chosen = nullptr;
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
        const std::string hint = links::hidAccessHint(device->OpenError());
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
    return stillThere(backend, path);
}

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
        const auto listed = listDevices(ctl);
        if (listed.empty())
            std::puts("  none");
        for (const Listed& l : listed) {
            if (!l.device)
                continue;
            std::printf("  %s\t%s\t%s\n", l.description.c_str(),
                        l.device->PnPInfo().DevicePath().c_str(),
                        l.device->ReadWriteAccess() ? "read-write" : "no read access");
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

// Picks the last "USB to Serial" device (or the one named), sends the
// bit-rate report and prints one line per decoded frame, as the USB monitor.
int runHidMonitor(const std::vector<std::string>& args) {
    std::string devicePath;
    unsigned long long count = 0;
    for (std::size_t i = 0; i < args.size(); ++i) {
        if (args[i] == "--hid") {
            continue;
        } else if (args[i] == "--device" && i + 1 < args.size()) {
            devicePath = args[++i];
        } else if (args[i] == "--count" && i + 1 < args.size()) {
            const std::string& v = args[++i];
            auto [end, ec] = std::from_chars(v.data(), v.data() + v.size(), count);
            if (ec != std::errc{} || end != v.data() + v.size() || count == 0) {
                std::fprintf(stderr, "kqmeter-cli monitor: --count needs a positive number\n");
                return 2;
            }
        } else {
            hidMonitorUsage();
            return 2;
        }
    }

    sigset_t stop;
    sigemptyset(&stop);
    sigaddset(&stop, SIGINT);
    sigaddset(&stop, SIGTERM);
    sigprocmask(SIG_BLOCK, &stop, nullptr);

    const decode::ModelSwitchSet switches = decode::builtModelSwitches();
    decode::MeterState state;
    decode::applyStartup(state, switches, decode::systemDecimalSeparator());
    HidMeter meter;
    if (const int status = openHidMeter(devicePath, switches, meter))
        return status;
    links::THidDevice* device = meter.device.get();
    std::shared_ptr<links::HidBackend>& backend = meter.backend;
    links::HidCallQueue& queue = meter.queue;

    links::HidLinkState link;
    MonitorLines out;
    unsigned long long lines = 0;
    int status = 0;
    bool gone = false;
    device->SetDataErrorHandler(
        links::makeHandler<links::THidDataErrorFn>([&](links::THidDevice& d, std::uint32_t error) {
            std::fprintf(stderr, "kqmeter-cli: %s\n", links::readErrorLine(error).c_str());
            // A cable that was pulled will not come back: a headless monitor stops.
            if (!stillThere(*backend, d.PnPInfo().DevicePath()))
                gone = true;
        }));
    device->SetDataHandler(links::makeHandler<links::THidDataFn>(
        [&](links::THidDevice&, std::uint8_t id, const std::uint8_t* data, std::uint16_t size) {
            links::HidReportResult result;
            try {
                result = links::HidDeviceData(state, link, &out.verdict, id, data, size);
            } catch (const std::exception& e) {
                std::fprintf(stderr, "kqmeter-cli: %s\n", e.what());
            }
            if (result.decoder == decode::Decoder::None || (count != 0 && lines >= count))
                return;
            out.print(state);
            ++lines;
        }));

    while ((count == 0 || lines < count) && !gone) {
        queue.runPending(100);
        if (stopRequested(stop))
            break;
    }
    if (gone) {
        std::fputs("kqmeter-cli: the HID cable has gone\n", stderr);
        status = 1;
    }
    device->SetDataHandler(nullptr);
    return status;
}

} // namespace kq::cli
