#pragma once

#include "decode/model_switch.h"
#include "links/hid_backend.h"
#include "links/hid_device.h"

#include <memory>
#include <string>
#include <vector>

namespace kq::cli {

// A HID cable made ready to read, as monitor --hid and record --hid use it:
// the device checked out and the bit-rate report sent.
struct HidMeter {
    std::shared_ptr<links::HidBackend> backend;
    links::HidCallQueue queue;
    std::unique_ptr<links::THidDeviceController> ctl;
    std::unique_ptr<links::THidDevice> device;
};

// A plugged-in device, checked out as the window's list does (null when it
// could not be), and the line that describes it.
struct ListedHidDevice {
    std::unique_ptr<links::THidDevice> device;
    std::string description;
};
std::vector<ListedHidDevice> listHidDevices(links::THidDeviceController& ctl);

// Picks the last "USB to Serial" device (or the one at `devicePath`); 0 when
// it is ready, else the exit status, the reason printed.
int openHidMeter(const std::string& devicePath, const decode::ModelSwitchSet& switches,
                 HidMeter& meter);
// Whether a device is still plugged in (a read error of a pulled cable).
bool hidDeviceStillThere(links::HidBackend& backend, const std::string& path);

} // namespace kq::cli
