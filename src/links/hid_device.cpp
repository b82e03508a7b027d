#include "links/hid_device.h"

#include "links/hid_report_ids.h"

#include <algorithm>
#include <cerrno>
#include <chrono>

namespace kq::links {

namespace {

// The text caches hold at most this many wide characters.
constexpr std::size_t kMaxWideText = 254;
constexpr int kMinReadSleep = 10;
constexpr int kMaxReadSleep = 10000;
// Bigger reports than this are no meter cable's; the buffer stays bounded.
constexpr std::size_t kMaxReportLength = 4096;

// How many controllers exist in this program. One at most: the controller
// answers the machine's device changes, and two would check the same devices out.
std::atomic<int>& controllerCount() {
    static std::atomic<int> count{0};
    return count;
}

std::wstring capped(std::wstring text) {
    if (text.size() > kMaxWideText)
        text.resize(kMaxWideText);
    return text;
}

} // namespace

std::wstring serialNumberRule(const std::wstring& serial, const HidIndexedAnswer& index0) {
    if (index0.kind == HidIndexedAnswer::Kind::Unsupported)
        return capped(serial);
    // The answer lands in a buffer of 0xFFFF characters: what it left alone
    // marks its end, and a closing 0 does not count.
    std::vector<wchar_t> answer(kMaxWideText, static_cast<wchar_t>(0xFFFF));
    if (index0.kind == HidIndexedAnswer::Kind::Text) {
        const std::size_t n = std::min(index0.text.size(), kMaxWideText);
        std::copy_n(index0.text.begin(), n, answer.begin());
        if (n < kMaxWideText)
            answer[n] = 0;
    }
    std::size_t n = kMaxWideText;
    while (n > 0 && answer[n - 1] == static_cast<wchar_t>(0xFFFF))
        --n;
    if (n > 0 && answer[n - 1] == 0)
        --n;
    for (std::size_t k = 0; k < n; ++k) {
        const wchar_t mine = k < serial.size() ? serial[k] : 0;
        if (mine != answer[k])
            return capped(serial);
    }
    return {};
}

// ---------------------------------------------------------------- read thread

struct THidDeviceReadThread::Pending {
    std::mutex mutex;
    std::condition_variable finished;
    bool done = false;
    bool cancelled = false;
    std::vector<std::uint8_t> report; // a copy: the thread reads on meanwhile
};

THidDeviceReadThread::THidDeviceReadThread(THidDevice& device, std::shared_ptr<HidBackend> backend,
                                           HidPost post)
    : m_device(device), m_backend(std::move(backend)), m_post(std::move(post)),
      m_info(device.PnPInfo().Interface) {
    const std::size_t length =
        std::clamp<std::size_t>(m_info.inputReportLength, 1, kMaxReportLength);
    m_raw.assign(length + 1, 0);
    m_report.assign(length + 1, 0);
    m_thread = std::thread([this] { run(); });
}

THidDeviceReadThread::~THidDeviceReadThread() {
    Stop();
}

void THidDeviceReadThread::Stop() {
    m_stop.store(true);
    std::shared_ptr<Pending> pending;
    {
        const std::lock_guard lock(m_mutex);
        pending = m_pending;
    }
    if (pending) {
        const std::lock_guard lock(pending->mutex);
        pending->cancelled = true;
        pending->finished.notify_all();
    }
    m_wake.notify_all();
    if (m_thread.joinable() && m_thread.get_id() != std::this_thread::get_id())
        m_thread.join();
}

void THidDeviceReadThread::pause(int ms) {
    std::unique_lock lock(m_mutex);
    m_wake.wait_for(lock, std::chrono::milliseconds(ms), [this] { return m_stop.load(); });
}

void THidDeviceReadThread::handOff(std::function<void(const std::vector<std::uint8_t>&)> call) {
    auto pending = std::make_shared<Pending>();
    pending->report.assign(m_report.begin(),
                           m_report.begin() + static_cast<std::ptrdiff_t>(m_reportSize));
    {
        const std::lock_guard lock(m_mutex);
        if (m_stop.load())
            return;
        m_pending = pending;
    }
    // The window thread runs the call unless the thread was stopped first; the
    // call reaches nothing of this thread object, which may be gone by then.
    const bool posted = m_post([pending, call = std::move(call)] {
        {
            const std::lock_guard lock(pending->mutex);
            if (pending->cancelled)
                return;
        }
        call(pending->report);
        const std::lock_guard lock(pending->mutex);
        pending->done = true;
        pending->finished.notify_all();
    });
    if (posted) {
        std::unique_lock lock(pending->mutex);
        pending->finished.wait(lock, [&] { return pending->done || pending->cancelled; });
    }
    const std::lock_guard lock(m_mutex);
    m_pending.reset();
}

void THidDeviceReadThread::run() {
    THidDevice* device = &m_device;
    std::unique_ptr<HidHandle> handle;
    const auto reportError = [&](int error) {
        m_lastError.store(error);
        m_reportSize = 0;
        // The node of a pulled cable fails so. Where no device manager tells
        // of the removal (no udevd), the list is refreshed here, so that the
        // cable is released after one error instead of failing on forever.
        const bool gone = error == ENODEV || error == EIO;
        handOff([device, error, gone](const std::vector<std::uint8_t>&) {
            THidDeviceController* owner = device->Owner();
            if (const THidDataErrorEvent handler = device->DataErrorHandler())
                (*handler)(*device, static_cast<std::uint32_t>(error));
            if (gone && owner && device->PluggedIn())
                owner->DeviceChange(); // may free the device
        });
        // A device that fails keeps failing for a while: one attempt per
        // slice instead of a loop that eats a core.
        pause(device->ReadSleepTime());
    };

    while (!m_stop.load()) {
        if (!handle) {
            if (!device->m_readable.load()) {
                // Unplugged: its removal has been told, and there is nothing
                // to read until the device is given back.
                pause(device->ReadSleepTime());
                continue;
            }
            int error = ENODEV;
            handle = m_backend->open(m_info, true, error);
            if (!handle) {
                reportError(error != 0 ? error : EIO);
                continue;
            }
        }
        std::fill(m_raw.begin(), m_raw.end(), std::uint8_t{0});
        const int got = handle->read(m_raw.data(), m_raw.size(), device->ReadSleepTime());
        if (m_stop.load())
            break;
        if (!device->m_readable.load()) {
            // Unplugged or given back meanwhile: whatever the read brought is
            // dropped, and the next round fails.
            handle.reset();
            continue;
        }
        if (got < 0) {
            const int error = handle->lastError();
            handle.reset();
            reportError(error != 0 ? error : EIO);
            continue;
        }
        if (got == 0)
            continue;
        m_reportSize =
            normaliseInputReport(m_raw.data(), static_cast<std::size_t>(got),
                                 m_info.numberedReports, m_report.data(), m_report.size());
        if (m_reportSize == 0)
            continue;
        handOff([device](const std::vector<std::uint8_t>& report) {
            // The handler in place when the report arrives takes it.
            if (const THidDataEvent handler = device->DataHandler())
                (*handler)(*device, report[0], report.data() + 1,
                           static_cast<std::uint16_t>(report.size() - 1));
        });
    }
}

} // namespace kq::links

namespace kq::links {

// --------------------------------------------------------------------- device

THidDevice::THidDevice(THidDeviceController& owner, std::unique_ptr<THidPnPInfo> pnp)
    : m_owner(&owner), m_backend(owner.m_backend), m_post(owner.m_post), m_pnp(std::move(pnp)) {
    SetDataHandler(owner.m_onDeviceData);
    m_unplugHandler = owner.m_onDeviceUnplug;
    if (!openGeneralHandle())
        throw EControllerError("device cannot be opened");
    const auto attributes = m_general->attributes();
    if (!attributes)
        throw EControllerError("device cannot be identified");
    m_attributes = *attributes;
    m_general.reset();
}

THidDevice::~THidDevice() {
    // Check-in: the read thread ends before anything it could reach goes.
    const THidDataEvent data = m_dataHandler;
    const THidPlugEvent unplug = m_unplugHandler;
    SetDataHandler(nullptr);
    m_unplugHandler = nullptr;
    CloseHandles();
    if (m_owner && m_owner->lists(this)) {
        THidDeviceController& owner = *m_owner;
        auto& list = owner.m_devices;
        const auto at = std::find(list.begin(), list.end(), this);
        if (m_pluggedIn) {
            try {
                auto fresh = std::unique_ptr<THidDevice>(new THidDevice(owner, std::move(m_pnp)));
                fresh->SetDataHandler(data);
                fresh->m_unplugHandler = unplug;
                fresh->m_readSleepTime.store(m_readSleepTime.load());
                *at = fresh.release();
                return;
            } catch (const EControllerError&) {
                // It went between the last refresh and now: the next refresh
                // would find it gone anyway.
            }
        }
        list.erase(at);
    }
}

void THidDevice::SetReadSleepTime(int ms) {
    if (ms >= kMinReadSleep && ms <= kMaxReadSleep)
        m_readSleepTime.store(ms);
}

bool THidDevice::OpenGeneral() {
    if (m_general)
        return true;
    if (!Accessible())
        return false;
    return openGeneralHandle();
}

bool THidDevice::openGeneralHandle() {
    int error = 0;
    m_general = m_backend->open(m_pnp->Interface, true, error);
    m_readWriteAccess = m_general != nullptr;
    if (!m_general) {
        m_openError = error;
        m_general = m_backend->open(m_pnp->Interface, false, error);
    }
    return m_general != nullptr;
}

void THidDevice::CloseHandles() {
    m_general.reset();
}

std::wstring THidDevice::ReadProductName() {
    if (m_productName.empty() && OpenGeneral()) {
        if (auto name = m_general->productString())
            m_productName = capped(std::move(*name));
        CloseHandles();
    }
    return m_productName;
}

std::wstring THidDevice::ReadSerialNumber() {
    if (m_serialNumber.empty() && OpenGeneral()) {
        if (auto serial = m_general->serialNumberString())
            m_serialNumber = serialNumberRule(*serial, m_general->indexedString(0));
        CloseHandles();
    }
    return m_serialNumber;
}

bool THidDevice::SendFeatureReport(const std::uint8_t* report, std::size_t size) {
    if (!report || size == 0 || !OpenGeneral())
        return false;
    return m_general->sendFeatureReport(report, size);
}

void THidDevice::SetDataHandler(THidDataEvent handler) {
    if (!handler)
        StopThread();
    m_dataHandler = std::move(handler);
    StartThreadIfReady();
}

void THidDevice::StartThreadIfReady() {
    if (m_dataHandler && m_pluggedIn && m_checkedOut && m_readWriteAccess && !m_readThread) {
        m_readable.store(true);
        m_readThread = std::make_unique<THidDeviceReadThread>(*this, m_backend, m_post);
    }
}

void THidDevice::StopThread() {
    if (m_readThread) {
        m_readThread->Stop();
        m_readThread.reset();
    }
}

void THidDevice::Unplug() {
    m_readable.store(false);
    CloseHandles();
    m_pluggedIn = false;
    if (const THidPlugEvent handler = m_unplugHandler)
        (*handler)(*this);
    m_unplugHandler = nullptr;
}

// ----------------------------------------------------------------- controller

THidDeviceController::THidDeviceController(std::shared_ptr<HidBackend> backend, HidPost post)
    : m_backend(std::move(backend)), m_post(std::move(post)) {
    if (controllerCount().fetch_add(1) + 1 > 1) {
        controllerCount().fetch_sub(1);
        throw EControllerError("Only one THidDeviceController allowed per program");
    }
    for (auto& device : enumerate())
        m_devices.push_back(device.release());
    m_backend->setChangeHandler([this] { DeviceChange(); });
}

THidDeviceController::~THidDeviceController() {
    controllerCount().fetch_sub(1);
    m_backend->setChangeHandler(nullptr);
    m_onDeviceChange = nullptr;
    m_onDeviceUnplug = nullptr;
    m_onEnumerate = nullptr;
    const std::vector<THidDevice*> devices = std::move(m_devices);
    m_devices.clear();
    for (THidDevice* device : devices) {
        device->m_owner = nullptr;
        if (device->m_checkedOut)
            device->Unplug(); // its owner frees it
        else
            delete device;
    }
}

std::vector<std::unique_ptr<THidDevice>> THidDeviceController::enumerate() {
    std::vector<std::unique_ptr<THidDevice>> out;
    for (auto& info : m_backend->enumerate()) {
        auto pnp = std::make_unique<THidPnPInfo>();
        pnp->Interface = std::move(info);
        try {
            out.emplace_back(new THidDevice(*this, std::move(pnp)));
        } catch (const EControllerError&) {
            // A device that cannot be opened or identified is left out.
        }
    }
    return out;
}

bool THidDeviceController::lists(const THidDevice* device) const {
    return std::find(m_devices.begin(), m_devices.end(), device) != m_devices.end();
}

void THidDeviceController::raiseWhileEnumerating(const THidPlugEvent& event, THidDevice& device) {
    if (!event)
        return;
    device.m_enumerating = true;
    (*event)(device);
    device.m_enumerating = false;
}

int THidDeviceController::EnumerateDevices() {
    int reached = 0;
    // The handler checks devices out, which leaves the list as it is.
    for (std::size_t i = 0; i < m_devices.size(); ++i) {
        THidDevice* device = m_devices[i];
        if (!device->m_pluggedIn)
            continue;
        ++reached;
        device->m_enumerating = true;
        const THidEnumerateEvent handler = m_onEnumerate;
        const bool goOn = handler && (*handler)(*device, static_cast<int>(i));
        device->m_enumerating = false;
        if (!device->m_checkedOut)
            device->CloseHandles();
        if (!goOn)
            break;
    }
    return reached;
}

std::unique_ptr<THidDevice> THidDeviceController::CheckOutDevice(int index) {
    if (index < 0 || static_cast<std::size_t>(index) >= m_devices.size())
        return nullptr;
    THidDevice* device = m_devices[static_cast<std::size_t>(index)];
    if (device->m_checkedOut)
        return nullptr;
    device->m_checkedOut = true;
    device->StartThreadIfReady();
    return std::unique_ptr<THidDevice>(device);
}

void THidDeviceController::DeviceChange() {
    auto fresh = enumerate();
    const auto freshHas = [&](const std::string& id) {
        return std::any_of(fresh.begin(), fresh.end(),
                           [&](const auto& d) { return d->PnPInfo().InstanceId() == id; });
    };
    bool changed = false;
    for (std::size_t i = m_devices.size(); i-- > 0;) {
        if (i >= m_devices.size())
            continue; // a handler gave devices back meanwhile
        THidDevice* device = m_devices[i];
        if (device->m_pluggedIn && freshHas(device->PnPInfo().InstanceId()))
            continue;
        device->Unplug();
        raiseWhileEnumerating(m_onRemoval, *device);
        if (!device->m_checkedOut) {
            m_devices.erase(m_devices.begin() + static_cast<std::ptrdiff_t>(i));
            delete device;
        }
        changed = true;
    }
    for (auto& device : fresh) {
        const std::string& id = device->PnPInfo().InstanceId();
        const bool known = std::any_of(m_devices.begin(), m_devices.end(), [&](THidDevice* d) {
            return d->m_pluggedIn && d->PnPInfo().InstanceId() == id;
        });
        if (known) {
            device->m_owner = nullptr; // so that freeing it leaves the list alone
            device.reset();
            continue;
        }
        THidDevice* added = device.release();
        m_devices.push_back(added);
        changed = true;
        raiseWhileEnumerating(m_onArrival, *added);
    }
    if (changed || !m_deviceChangeAssigned) {
        if (const TNotifyEvent handler = m_onDeviceChange)
            (*handler)(*this);
    }
}

int THidDeviceController::CheckedInCount() const {
    return static_cast<int>(std::count_if(m_devices.begin(), m_devices.end(), [](THidDevice* d) {
        return d->m_pluggedIn && !d->m_checkedOut;
    }));
}

int THidDeviceController::CheckedOutCount() const {
    return static_cast<int>(std::count_if(m_devices.begin(), m_devices.end(), [](THidDevice* d) {
        return d->m_pluggedIn && d->m_checkedOut;
    }));
}

int THidDeviceController::UnpluggedCount() const {
    return static_cast<int>(std::count_if(m_devices.begin(), m_devices.end(),
                                          [](THidDevice* d) { return !d->m_pluggedIn; }));
}

void THidDeviceController::SetDevThreadSleepTime(int ms) {
    for (THidDevice* device : m_devices) {
        if (device->ReadSleepTime() == m_devThreadSleepTime)
            device->SetReadSleepTime(ms);
    }
    m_devThreadSleepTime = ms;
}

void THidDeviceController::SetOnDeviceChange(TNotifyEvent h) {
    if (h == m_onDeviceChange)
        return;
    m_onDeviceChange = std::move(h);
    DeviceChange();
    m_deviceChangeAssigned = true;
}

void THidDeviceController::SetOnDeviceData(THidDataEvent h) {
    for (THidDevice* device : m_devices) {
        if (device->m_dataHandler == m_onDeviceData)
            device->SetDataHandler(h);
    }
    m_onDeviceData = std::move(h);
}

void THidDeviceController::SetOnDeviceDataError(THidDataErrorEvent h) {
    for (THidDevice* device : m_devices) {
        if (device->m_dataErrorHandler == m_onDeviceDataError)
            device->m_dataErrorHandler = h;
    }
    m_onDeviceDataError = std::move(h);
}

void THidDeviceController::SetOnDeviceUnplug(THidPlugEvent h) {
    for (THidDevice* device : m_devices) {
        if (device->m_unplugHandler == m_onDeviceUnplug)
            device->m_unplugHandler = h;
    }
    m_onDeviceUnplug = std::move(h);
}

} // namespace kq::links
