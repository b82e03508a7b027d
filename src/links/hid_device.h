#pragma once

#include "links/hid_backend.h"
#include "links/hid_post.h"

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

namespace kq::links {

class THidDevice;
class THidDeviceController;

class EControllerError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Handlers are shared objects so that "the same handler" means the same
// object: the controller hands a new handler on only to the devices that
// still have its old one.
using THidPlugFn = std::function<void(THidDevice&)>;
using THidEnumerateFn = std::function<bool(THidDevice&, int)>;
using TNotifyFn = std::function<void(THidDeviceController&)>;
// (device, report ID, the bytes after the report ID, their count). The bytes
// are valid only during the call: the read thread reuses its buffer.
using THidDataFn =
    std::function<void(THidDevice&, std::uint8_t, const std::uint8_t*, std::uint16_t)>;
using THidDataErrorFn = std::function<void(THidDevice&, std::uint32_t)>;

using THidPlugEvent = std::shared_ptr<const THidPlugFn>;
using THidEnumerateEvent = std::shared_ptr<const THidEnumerateFn>;
using TNotifyEvent = std::shared_ptr<const TNotifyFn>;
using THidDataEvent = std::shared_ptr<const THidDataFn>;
using THidDataErrorEvent = std::shared_ptr<const THidDataErrorFn>;

template <class Fn, class F> std::shared_ptr<const Fn> makeHandler(F f) {
    return std::make_shared<const Fn>(std::move(f));
}

// The interface record of one device.
struct THidPnPInfo {
    HidInterfaceInfo Interface;
    const std::string& DevicePath() const { return Interface.devicePath; }
    const std::string& InstanceId() const { return Interface.instanceId; }
};

// Reads input reports of one device and hands each to the window thread,
// waiting until it was handled there. It owns the handle it reads from, so
// closing the device's other handles never pulls a handle from under a read.
class THidDeviceReadThread {
public:
    THidDeviceReadThread(THidDevice& device, std::shared_ptr<HidBackend> backend, HidPost post);
    ~THidDeviceReadThread();
    THidDeviceReadThread(const THidDeviceReadThread&) = delete;
    THidDeviceReadThread& operator=(const THidDeviceReadThread&) = delete;

    // Asks the thread to end, drops a report it is waiting to hand over, and
    // waits for it. Runs on the window thread.
    void Stop();

    int LastError() const { return m_lastError.load(); }

private:
    struct Pending;
    void run();
    // Hands `call` over and waits until it ran or the thread is stopped.
    void handOff(std::function<void(const std::vector<std::uint8_t>&)> call);
    void pause(int ms);

    THidDevice& m_device;
    std::shared_ptr<HidBackend> m_backend;
    HidPost m_post;
    HidInterfaceInfo m_info;
    std::vector<std::uint8_t> m_raw;    // as the platform delivers a report
    std::vector<std::uint8_t> m_report; // report ID first, always
    std::size_t m_reportSize = 0;
    std::atomic<int> m_lastError{0};
    std::atomic<bool> m_stop{false};
    std::mutex m_mutex;
    std::condition_variable m_wake;
    std::shared_ptr<Pending> m_pending;
    std::thread m_thread;
};

// One HID interface. Plain object; the controller owns those not checked out,
// the application those it checked out. Destroying a checked-out device gives
// it back to the controller (check-in).
class THidDevice {
public:
    ~THidDevice();
    THidDevice(const THidDevice&) = delete;
    THidDevice& operator=(const THidDevice&) = delete;

    THidDeviceController* Owner() const { return m_owner; }
    const THidPnPInfo& PnPInfo() const { return *m_pnp; }
    bool PluggedIn() const { return m_pluggedIn; }
    bool CheckedOut() const { return m_checkedOut; }
    bool Enumerating() const { return m_enumerating; }
    bool ReadWriteAccess() const { return m_readWriteAccess; }
    // The system error code of the last refused read-write open, 0 when none.
    int OpenError() const { return m_openError; }
    const HidAttributes& Attributes() const { return m_attributes; }
    std::size_t InputReportByteLength() const { return m_pnp->Interface.inputReportLength + 1; }

    // Cached after the first successful read; empty when not available.
    std::wstring ReadProductName();
    std::wstring ReadSerialNumber();
    // `report[0]` is the report ID. The general handle stays open afterwards.
    bool SendFeatureReport(const std::uint8_t* report, std::size_t size);

    void SetDataHandler(THidDataEvent handler);
    const THidDataEvent& DataHandler() const { return m_dataHandler; }
    void SetDataErrorHandler(THidDataErrorEvent handler) {
        m_dataErrorHandler = std::move(handler);
    }
    const THidDataErrorEvent& DataErrorHandler() const { return m_dataErrorHandler; }
    void SetUnplugHandler(THidPlugEvent handler) { m_unplugHandler = std::move(handler); }
    const THidPlugEvent& UnplugHandler() const { return m_unplugHandler; }

    int ReadSleepTime() const { return m_readSleepTime.load(); }
    // Takes values from 10 to 10000 ms; others leave it as it is.
    void SetReadSleepTime(int ms);
    bool Reading() const { return m_readThread != nullptr; }
    bool GeneralHandleOpen() const { return m_general != nullptr; }

private:
    friend class THidDeviceController;
    friend class THidDeviceReadThread;

    // Opens the device once to learn its access and attributes; throws
    // EControllerError when it cannot be opened or identified.
    THidDevice(THidDeviceController& owner, std::unique_ptr<THidPnPInfo> pnp);

    bool Accessible() const { return m_pluggedIn && (m_checkedOut || m_enumerating); }
    bool OpenGeneral();
    // Read-write where the system allows it, else a handle that only answers
    // attributes and strings; the refusal of read-write is kept.
    bool openGeneralHandle();
    void CloseHandles();
    void Unplug();
    void StartThreadIfReady();
    void StopThread();

    THidDeviceController* m_owner;
    std::shared_ptr<HidBackend> m_backend;
    HidPost m_post;
    std::unique_ptr<THidPnPInfo> m_pnp;
    bool m_pluggedIn = true;
    bool m_checkedOut = false;
    bool m_enumerating = false;
    bool m_readWriteAccess = false;
    int m_openError = 0;
    // The read thread re-opens its handle only while this holds.
    std::atomic<bool> m_readable{true};
    std::unique_ptr<HidHandle> m_general;
    HidAttributes m_attributes;
    std::wstring m_productName;
    std::wstring m_serialNumber;
    std::atomic<int> m_readSleepTime{100};
    THidDataEvent m_dataHandler;
    THidDataErrorEvent m_dataErrorHandler;
    THidPlugEvent m_unplugHandler;
    std::unique_ptr<THidDeviceReadThread> m_readThread;
};

// The list of HID interfaces on the machine, kept current, with check-out and
// check-in of devices. Only one may exist at a time in a program.
class THidDeviceController {
public:
    static constexpr const char* kVersion = "1.0.22";

    // Throws EControllerError when another controller exists.
    THidDeviceController(std::shared_ptr<HidBackend> backend, HidPost post);
    ~THidDeviceController();
    THidDeviceController(const THidDeviceController&) = delete;
    THidDeviceController& operator=(const THidDeviceController&) = delete;

    const std::vector<THidDevice*>& DeviceList() const { return m_devices; }
    const char* Version() const { return kVersion; }
    HidBackend& Backend() { return *m_backend; }

    // Calls OnEnumerate for each plugged-in device in list order until it
    // answers false; returns how many devices it reached.
    int EnumerateDevices();
    // Null when the index is outside the list or the device is checked out.
    std::unique_ptr<THidDevice> CheckOutDevice(int index);
    // Matches a fresh enumeration against the list by InstanceId.
    void DeviceChange();

    int CheckedInCount() const;
    int CheckedOutCount() const;
    int UnpluggedCount() const;

    int DevThreadSleepTime() const { return m_devThreadSleepTime; }
    void SetDevThreadSleepTime(int ms);

    void SetOnArrival(THidPlugEvent h) { m_onArrival = std::move(h); }
    void SetOnRemoval(THidPlugEvent h) { m_onRemoval = std::move(h); }
    void SetOnEnumerate(THidEnumerateEvent h) { m_onEnumerate = std::move(h); }
    // A new handler runs a refresh at once, which reports a change.
    void SetOnDeviceChange(TNotifyEvent h);
    void SetOnDeviceData(THidDataEvent h);
    void SetOnDeviceDataError(THidDataErrorEvent h);
    void SetOnDeviceUnplug(THidPlugEvent h);

private:
    friend class THidDevice;

    std::vector<std::unique_ptr<THidDevice>> enumerate();
    bool lists(const THidDevice* device) const;
    void checkIn(THidDevice& device);
    void raiseWhileEnumerating(const THidPlugEvent& event, THidDevice& device);

    std::shared_ptr<HidBackend> m_backend;
    HidPost m_post;
    std::vector<THidDevice*> m_devices;
    int m_devThreadSleepTime = 100;
    bool m_deviceChangeAssigned = false;
    THidPlugEvent m_onArrival, m_onRemoval, m_onDeviceUnplug;
    THidEnumerateEvent m_onEnumerate;
    TNotifyEvent m_onDeviceChange;
    THidDataEvent m_onDeviceData;
    THidDataErrorEvent m_onDeviceDataError;
};

// Applies the device rule for serial numbers: a serial number that equals the
// device's answer for string index 0 in that answer's length, or any serial
// number when the answer failed, counts as absent. Where the platform cannot
// ask at all, the serial number stands as read.
std::wstring serialNumberRule(const std::wstring& serial, const HidIndexedAnswer& index0);

} // namespace kq::links
