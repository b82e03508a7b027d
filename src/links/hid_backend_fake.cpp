#include "links/hid_backend_fake.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>

namespace kq::links {

namespace {

class FakeHandle final : public HidHandle {
public:
    FakeHandle(std::shared_ptr<FakeHidBackend::Shared> shared, std::string path, int generation,
               bool readWrite)
        : m_shared(std::move(shared)), m_path(std::move(path)), m_generation(generation),
          m_readWrite(readWrite) {
        if (auto* d = device())
            ++d->handles;
    }
    ~FakeHandle() override {
        const std::lock_guard lock(m_shared->mutex);
        if (auto* d = device())
            --d->handles;
    }

    std::optional<HidAttributes> attributes() override {
        const std::lock_guard lock(m_shared->mutex);
        auto* d = device();
        if (!d || d->device.unidentified)
            return fail(ENODEV), std::nullopt;
        return d->device.attributes;
    }
    std::optional<std::wstring> productString() override {
        const std::lock_guard lock(m_shared->mutex);
        auto* d = device();
        return d ? d->device.product : std::nullopt;
    }
    std::optional<std::wstring> serialNumberString() override {
        const std::lock_guard lock(m_shared->mutex);
        auto* d = device();
        return d ? d->device.serial : std::nullopt;
    }
    HidIndexedAnswer indexedString(int) override {
        const std::lock_guard lock(m_shared->mutex);
        auto* d = device();
        return d ? d->device.index0 : HidIndexedAnswer{HidIndexedAnswer::Kind::Failed, {}};
    }
    bool sendFeatureReport(const std::uint8_t* report, std::size_t size) override {
        const std::lock_guard lock(m_shared->mutex);
        auto* d = device();
        if (!d || !m_readWrite || d->device.featureFails)
            return fail(d ? EPIPE : ENODEV), false;
        d->features.emplace_back(report, report + size);
        return true;
    }
    int read(std::uint8_t* buffer, std::size_t size, int timeoutMs) override {
        std::unique_lock lock(m_shared->mutex);
        auto* d = device();
        if (!d || !m_readWrite)
            return fail(ENODEV), -1;
        ++d->waitingReaders;
        m_shared->changed.notify_all();
        m_shared->changed.wait_for(lock, std::chrono::milliseconds(timeoutMs), [&] {
            auto* now = device();
            return !now || !now->reports.empty() || now->failNext != 0;
        });
        d = device();
        if (!d)
            return fail(ENODEV), -1;
        --d->waitingReaders;
        if (d->failNext != 0) {
            fail(d->failNext);
            d->failNext = 0;
            ++d->failures;
            m_shared->changed.notify_all();
            return -1;
        }
        if (d->reports.empty())
            return 0;
        const auto report = std::move(d->reports.front());
        d->reports.pop_front();
        const std::size_t n = std::min(size, report.size());
        std::memcpy(buffer, report.data(), n);
        m_shared->changed.notify_all();
        return static_cast<int>(n);
    }
    int lastError() const override { return m_error; }

private:
    // With the mutex held: the device this handle was opened on, or null once
    // it has left (a device that came back is another device).
    FakeHidBackend::Plugged* device() {
        auto it = m_shared->devices.find(m_path);
        if (it == m_shared->devices.end() || it->second.generation != m_generation)
            return nullptr;
        return &it->second;
    }
    void fail(int error) { m_error = error; }

    std::shared_ptr<FakeHidBackend::Shared> m_shared;
    std::string m_path;
    int m_generation;
    bool m_readWrite;
    int m_error = 0;
};

} // namespace

FakeHidBackend::FakeHidBackend() : m_shared(std::make_shared<Shared>()) {}
FakeHidBackend::~FakeHidBackend() = default;

void FakeHidBackend::arrive(Device device) {
    const std::lock_guard lock(m_shared->mutex);
    const std::string path = device.info.devicePath;
    Plugged plugged;
    plugged.device = std::move(device);
    plugged.generation = m_shared->nextGeneration++;
    m_shared->devices[path] = std::move(plugged);
    m_shared->order.erase(std::remove(m_shared->order.begin(), m_shared->order.end(), path),
                          m_shared->order.end());
    m_shared->order.push_back(path);
    m_shared->changed.notify_all();
}

void FakeHidBackend::leave(const std::string& path) {
    const std::lock_guard lock(m_shared->mutex);
    m_shared->devices.erase(path);
    m_shared->order.erase(std::remove(m_shared->order.begin(), m_shared->order.end(), path),
                          m_shared->order.end());
    m_shared->changed.notify_all();
}

void FakeHidBackend::notifyChange() {
    if (m_changed)
        m_changed();
}

void FakeHidBackend::report(const std::string& path, std::vector<std::uint8_t> raw) {
    const std::lock_guard lock(m_shared->mutex);
    auto it = m_shared->devices.find(path);
    if (it != m_shared->devices.end())
        it->second.reports.push_back(std::move(raw));
    m_shared->changed.notify_all();
}

void FakeHidBackend::failNextRead(const std::string& path, int error) {
    const std::lock_guard lock(m_shared->mutex);
    auto it = m_shared->devices.find(path);
    if (it != m_shared->devices.end())
        it->second.failNext = error;
    m_shared->changed.notify_all();
}

bool FakeHidBackend::waitUntilDrained(const std::string& path, int timeoutMs) {
    std::unique_lock lock(m_shared->mutex);
    return m_shared->changed.wait_for(lock, std::chrono::milliseconds(timeoutMs), [&] {
        auto it = m_shared->devices.find(path);
        return it != m_shared->devices.end() && it->second.reports.empty() &&
               it->second.waitingReaders > 0;
    });
}

bool FakeHidBackend::waitForFailures(const std::string& path, int count, int timeoutMs) {
    std::unique_lock lock(m_shared->mutex);
    return m_shared->changed.wait_for(lock, std::chrono::milliseconds(timeoutMs), [&] {
        auto it = m_shared->devices.find(path);
        return it != m_shared->devices.end() && it->second.failures >= count;
    });
}

std::vector<std::vector<std::uint8_t>>
FakeHidBackend::featureReports(const std::string& path) const {
    const std::lock_guard lock(m_shared->mutex);
    auto it = m_shared->devices.find(path);
    return it == m_shared->devices.end() ? std::vector<std::vector<std::uint8_t>>{}
                                         : it->second.features;
}

int FakeHidBackend::openHandles(const std::string& path) const {
    const std::lock_guard lock(m_shared->mutex);
    auto it = m_shared->devices.find(path);
    return it == m_shared->devices.end() ? 0 : it->second.handles;
}

std::vector<HidInterfaceInfo> FakeHidBackend::enumerate() {
    const std::lock_guard lock(m_shared->mutex);
    std::vector<HidInterfaceInfo> out;
    for (const auto& path : m_shared->order)
        out.push_back(m_shared->devices.at(path).device.info);
    return out;
}

std::unique_ptr<HidHandle> FakeHidBackend::open(const HidInterfaceInfo& info, bool readWrite,
                                                int& error) {
    const std::lock_guard lock(m_shared->mutex);
    auto it = m_shared->devices.find(info.devicePath);
    if (it == m_shared->devices.end()) {
        error = ENOENT;
        return nullptr;
    }
    const Device& d = it->second.device;
    if (d.cannotOpen) {
        error = EIO;
        return nullptr;
    }
    if (readWrite && d.readWriteError != 0) {
        error = d.readWriteError;
        return nullptr;
    }
    error = 0;
    return std::make_unique<FakeHandle>(m_shared, info.devicePath, it->second.generation,
                                        readWrite);
}

void FakeHidBackend::setChangeHandler(std::function<void()> changed) {
    m_changed = std::move(changed);
}

} // namespace kq::links
