#pragma once

#include "links/hid_backend.h"

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace kq::links {

// In-process HID devices for tests: devices arrive and leave, send reports
// (as the platform delivers them), stall, refuse to open, fail mid-read. Safe
// to drive from the test thread while read threads read.
class FakeHidBackend final : public HidBackend {
public:
    struct Device {
        HidInterfaceInfo info;
        HidAttributes attributes;
        std::optional<std::wstring> product;
        std::optional<std::wstring> serial;
        HidIndexedAnswer index0;
        int readWriteError = 0;    // a read-write open fails with this (e.g. EACCES)
        bool cannotOpen = false;   // no open works at all
        bool unidentified = false; // attributes cannot be read
        bool featureFails = false; // feature reports are refused
    };

    FakeHidBackend();
    ~FakeHidBackend() override;

    // The device is there from now on (a later enumeration finds it). Neither
    // tells the controller: notifyChange() does, as the platform would.
    void arrive(Device device);
    void leave(const std::string& path);
    // Runs the change handler on the calling thread.
    void notifyChange();

    void report(const std::string& path, std::vector<std::uint8_t> raw);
    // The next read of the device fails with `error`.
    void failNextRead(const std::string& path, int error);
    // Waits until a reader of `path` has taken every report and is waiting
    // for the next; false after `timeoutMs`.
    bool waitUntilDrained(const std::string& path, int timeoutMs);
    // Waits until some reader of `path` has reported `count` failures.
    bool waitForFailures(const std::string& path, int count, int timeoutMs);

    std::vector<std::vector<std::uint8_t>> featureReports(const std::string& path) const;
    int openHandles(const std::string& path) const;
    void setReachable(bool reachable) { m_reachable = reachable; }

    std::vector<HidInterfaceInfo> enumerate() override;
    std::unique_ptr<HidHandle> open(const HidInterfaceInfo& info, bool readWrite,
                                    int& error) override;
    void setChangeHandler(std::function<void()> changed) override;
    bool devicesReachable() const override { return m_reachable; }

    struct Plugged {
        Device device;
        int generation = 0;
        std::deque<std::vector<std::uint8_t>> reports;
        std::vector<std::vector<std::uint8_t>> features;
        int failNext = 0;
        int failures = 0;
        int waitingReaders = 0;
        int handles = 0;
    };
    struct Shared {
        mutable std::mutex mutex;
        std::condition_variable changed;
        std::map<std::string, Plugged> devices; // by path, in arrival order of paths
        std::vector<std::string> order;
        int nextGeneration = 1;
    };

private:
    std::shared_ptr<Shared> m_shared;
    std::function<void()> m_changed;
    bool m_reachable = true;
};

} // namespace kq::links
