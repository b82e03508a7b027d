#include "links/usbbridge_tty.h"
#include "support/pty.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>

#include <array>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <poll.h>
#include <string>
#include <termios.h>
#include <unistd.h>
#include <vector>

namespace fs = std::filesystem;
using namespace kq::links;
using kq::test::Pty;
using kq::test::TempDir;

namespace {

TtyUsbBridge bridgeOver(std::vector<std::string> paths) {
    TtyUsbBridge::Discovery d;
    d.paths = std::move(paths);
    return TtyUsbBridge(std::move(d));
}

std::vector<std::uint8_t> pattern(std::size_t n, std::uint8_t start = 0) {
    std::vector<std::uint8_t> v(n);
    for (std::size_t i = 0; i < n; ++i)
        v[i] = static_cast<std::uint8_t>(start + i * 37);
    return v;
}

// A short burst may take two reads: the first read's time can end before the
// line has been quiet for the time-out after the burst.
UB_STATUS readBurst(TtyUsbBridge& bridge, UB_HANDLE h, std::array<std::uint8_t, 64>& buf,
                    std::uint32_t& got) {
    UB_STATUS s = bridge.UB_Read(h, buf.data(), 32, &got);
    if (s == UB_NO_DATA)
        s = bridge.UB_Read(h, buf.data(), 32, &got);
    return s;
}

TEST(TtyUsbBridge, DeviceListSplitsOnColonsAndDropsEmptyParts) {
    struct Case {
        std::string list;
        std::vector<std::string> paths;
    };
    const Case cases[] = {
        {"", {}},
        {":", {}},
        {"/dev/pts/3", {"/dev/pts/3"}},
        {"/a:/b", {"/a", "/b"}},
        {"::/a::/b:", {"/a", "/b"}},
    };
    for (const auto& c : cases)
        EXPECT_EQ(TtyUsbBridge::splitDeviceList(c.list), c.paths) << c.list;
}

TEST(TtyUsbBridge, DiscoveryListsUsbSerialLinesInNumericOrder) {
    TempDir sys;
    for (const char* name : {"ttyUSB10", "ttyUSB2", "ttyS0", "ttyUSB", "ttyUSBx", "ttyUSB0"})
        fs::create_directory(sys.file(name));
    TtyUsbBridge::Discovery d;
    d.sysfsDir = sys.path();
    d.devDir = "/devroot";
    TtyUsbBridge bridge(d);
    EXPECT_EQ(
        bridge.devicePaths(),
        (std::vector<std::string>{"/devroot/ttyUSB0", "/devroot/ttyUSB2", "/devroot/ttyUSB10"}));
    std::uint32_t n = 99;
    EXPECT_EQ(bridge.UB_GetNumDevices(&n), UB_OK);
    EXPECT_EQ(n, 3u);
    // The listed lines do not exist under /devroot: opening one fails.
    UB_HANDLE h = 77;
    EXPECT_EQ(bridge.UB_Open(0, &h), UB_DEVICE_NOT_OPENED);
    EXPECT_EQ(h, 77u);

    d.sysfsDir = sys.file("missing");
    TtyUsbBridge none(d);
    EXPECT_EQ(none.UB_GetNumDevices(&n), UB_OK);
    EXPECT_EQ(n, 0u);
}

TEST(TtyUsbBridge, OverrideCountsOnlyLinesThatExistNow) {
    TempDir dir;
    const auto plain = dir.file("file");
    std::ofstream(plain) << "x";
    auto pty = std::make_unique<Pty>();
    auto bridge = bridgeOver({dir.file("gone"), plain, pty->path()});
    EXPECT_EQ(bridge.devicePaths(), std::vector<std::string>{pty->path()});
    // The meter's pseudo-terminal disappears with it.
    pty.reset();
    std::uint32_t n = 99;
    EXPECT_EQ(bridge.UB_GetNumDevices(&n), UB_OK);
    EXPECT_EQ(n, 0u);
}

TEST(TtyUsbBridge, OpenRefusesBadIndexesAndCharacterDevicesThatAreNoLine) {
    Pty pty;
    auto bridge = bridgeOver({"/dev/null", pty.path()});
    struct Case {
        int index;
        UB_STATUS status;
    };
    for (const Case& c : {Case{-1, UB_DEVICE_NOT_FOUND}, Case{2, UB_DEVICE_NOT_FOUND},
                          Case{0, UB_DEVICE_NOT_OPENED}, Case{1, UB_OK}}) {
        UB_HANDLE h = 0;
        EXPECT_EQ(bridge.UB_Open(c.index, &h), c.status) << c.index;
        EXPECT_EQ(h != 0, c.status == UB_OK) << c.index;
    }
    EXPECT_EQ(bridge.UB_Open(1, nullptr), UB_INVALID_PARAMETER);
    EXPECT_EQ(bridge.UB_GetNumDevices(nullptr), UB_INVALID_PARAMETER);
}

TEST(TtyUsbBridge, SpeedsOfTheLineAreTakenOthersRefused) {
    Pty pty;
    auto bridge = bridgeOver({pty.path()});
    UB_HANDLE h = 0;
    ASSERT_EQ(bridge.UB_Open(0, &h), UB_OK);
    struct Case {
        std::uint32_t baud;
        UB_STATUS status;
    };
    for (const Case& c : {Case{19200, UB_OK}, Case{2400, UB_OK}, Case{115200, UB_OK},
                          Case{12345, UB_INVALID_BAUD_RATE}, Case{0, UB_INVALID_BAUD_RATE}})
        EXPECT_EQ(bridge.UB_SetBaudRate(h, c.baud), c.status) << c.baud;
    EXPECT_EQ(bridge.UB_SetBaudRate(h + 1, 19200), UB_INVALID_HANDLE);
}

TEST(TtyUsbBridge, ABurstArrivesWholeAndUntranslated) {
    Pty pty;
    auto bridge = bridgeOver({pty.path()});
    UB_HANDLE h = 0;
    ASSERT_EQ(bridge.UB_Open(0, &h), UB_OK);
    ASSERT_EQ(bridge.UB_SetBaudRate(h, 19200), UB_OK);
    ASSERT_EQ(bridge.UB_SetTimeouts(10, 10), UB_OK);

    // CR, LF, XON, XOFF, interrupt and erase characters must pass unchanged.
    std::vector<std::uint8_t> frame = pattern(30);
    frame[3] = 0x11;
    frame[4] = 0x13;
    frame[5] = 0x03;
    frame[6] = 0x7F;
    frame[7] = 0x0D;
    frame[8] = 0x00;
    frame.push_back(0x0D);
    frame.push_back(0x0A);
    ASSERT_TRUE(pty.send(frame));

    std::array<std::uint8_t, 64> buf{};
    std::uint32_t got = 0;
    ASSERT_EQ(bridge.UB_Read(h, buf.data(), 32, &got), UB_OK);
    ASSERT_EQ(got, 32u);
    EXPECT_TRUE(std::equal(frame.begin(), frame.end(), buf.begin()));
}

TEST(TtyUsbBridge, ReadStopsAtTheCountAndFlushDropsTheRest) {
    Pty pty;
    auto bridge = bridgeOver({pty.path()});
    UB_HANDLE h = 0;
    ASSERT_EQ(bridge.UB_Open(0, &h), UB_OK);
    const auto sent = pattern(40, 5);
    ASSERT_TRUE(pty.send(sent));
    std::array<std::uint8_t, 64> buf{};
    std::uint32_t got = 0;
    ASSERT_EQ(bridge.UB_Read(h, buf.data(), 32, &got), UB_OK);
    ASSERT_EQ(got, 32u);
    EXPECT_TRUE(std::equal(buf.begin(), buf.begin() + 32, sent.begin()));
    EXPECT_EQ(buf[32], 0u) << "nothing beyond the count is written";

    EXPECT_EQ(bridge.UB_FlushBuffers(h, 1, 1), UB_OK);
    got = 99;
    EXPECT_EQ(bridge.UB_Read(h, buf.data(), 32, &got), UB_NO_DATA);
    EXPECT_EQ(got, 0u);

    // A short burst is returned short, with success, once the line has been
    // quiet after it for the time-out (by the next read at the latest).
    ASSERT_TRUE(pty.send(pattern(10, 9)));
    ASSERT_EQ(readBurst(bridge, h, buf, got), UB_OK);
    EXPECT_EQ(got, 10u);
}

// A frame that reaches the line in pieces, the way a bridge passes bytes on
// in USB packets: no read waits beyond the time-out, and the pieces a read
// finds are kept until the burst is whole.
TEST(TtyUsbBridge, PiecesOfABurstAreKeptAcrossReads) {
    struct Step {
        enum Kind { Send, Read, Flush, HangUp } kind;
        std::size_t bytes;         // Send: how many of the next pattern bytes
        UB_STATUS status = UB_OK;  // Read: expected status
        std::size_t got = 0;       // Read: expected count
        std::size_t firstByte = 0; // Read: index into everything sent of buf[0]
    };
    struct Case {
        const char* what;
        std::vector<Step> steps;
    };
    const Case cases[] = {
        {"two halves",
         {{Step::Send, 16},
          {Step::Read, 0, UB_NO_DATA},
          {Step::Send, 16},
          {Step::Read, 0, UB_OK, 32, 0}}},
        {"four packets over several reads",
         {{Step::Send, 8},
          {Step::Read, 0, UB_NO_DATA},
          {Step::Send, 8},
          {Step::Read, 0, UB_NO_DATA},
          {Step::Send, 8},
          {Step::Send, 8},
          {Step::Read, 0, UB_OK, 32, 0}}},
        {"a piece that stays alone is handed out short once the line is quiet",
         {{Step::Send, 12}, {Step::Read, 0, UB_NO_DATA}, {Step::Read, 0, UB_OK, 12, 0}}},
        {"more than the count: the count now, the rest with the next burst",
         {{Step::Send, 20},
          {Step::Read, 0, UB_NO_DATA},
          {Step::Send, 20},
          {Step::Read, 0, UB_OK, 32, 0}}},
        {"a flush drops the kept piece",
         {{Step::Send, 16},
          {Step::Read, 0, UB_NO_DATA},
          {Step::Flush, 0},
          {Step::Send, 32},
          {Step::Read, 0, UB_OK, 32, 16}}},
        {"a hang-up hands out the kept piece, then fails",
         {{Step::Send, 10},
          {Step::Read, 0, UB_NO_DATA},
          {Step::HangUp, 0},
          {Step::Read, 0, UB_OK, 10, 0},
          {Step::Read, 0, UB_IO_ERROR, 0}}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        auto pty = std::make_unique<Pty>();
        auto bridge = bridgeOver({pty->path()});
        UB_HANDLE h = 0;
        ASSERT_EQ(bridge.UB_Open(0, &h), UB_OK);
        // Longer than the poll's 10 ms, so that a busy machine cannot make a
        // piece sent before a read arrive after its time.
        ASSERT_EQ(bridge.UB_SetTimeouts(30, 30), UB_OK);
        const auto all = pattern(256, 3);
        std::size_t sent = 0;
        int stepNo = 0;
        for (const auto& step : c.steps) {
            SCOPED_TRACE(stepNo++);
            switch (step.kind) {
            case Step::Send:
                ASSERT_TRUE(pty->send(
                    std::vector<std::uint8_t>(all.begin() + static_cast<long>(sent),
                                              all.begin() + static_cast<long>(sent + step.bytes))));
                sent += step.bytes;
                break;
            case Step::Read: {
                std::array<std::uint8_t, 64> buf{};
                std::uint32_t got = 99;
                EXPECT_EQ(bridge.UB_Read(h, buf.data(), 32, &got), step.status);
                EXPECT_EQ(got, step.got);
                if (step.got > 0) {
                    EXPECT_TRUE(std::equal(buf.begin(), buf.begin() + static_cast<long>(step.got),
                                           all.begin() + static_cast<long>(step.firstByte)));
                }
                break;
            }
            case Step::Flush:
                EXPECT_EQ(bridge.UB_FlushBuffers(h, 1, 1), UB_OK);
                break;
            case Step::HangUp:
                pty.reset();
                break;
            }
        }
    }
}

TEST(TtyUsbBridge, SilentLineGivesNoDataAndAHangUpAnError) {
    auto pty = std::make_unique<Pty>();
    auto bridge = bridgeOver({pty->path()});
    UB_HANDLE h = 0;
    ASSERT_EQ(bridge.UB_Open(0, &h), UB_OK);
    std::array<std::uint8_t, 64> buf{};
    std::uint32_t got = 5;
    EXPECT_EQ(bridge.UB_Read(h, buf.data(), 32, &got), UB_NO_DATA);
    EXPECT_EQ(got, 0u);

    ASSERT_TRUE(pty->send(pattern(6)));
    EXPECT_EQ(readBurst(bridge, h, buf, got), UB_OK);
    EXPECT_EQ(got, 6u);
    // The meter goes away: every read fails at once instead of waiting.
    pty.reset();
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(bridge.UB_Read(h, buf.data(), 32, &got), UB_IO_ERROR);
        EXPECT_EQ(got, 0u);
    }
    EXPECT_EQ(bridge.UB_Close(h), UB_OK);
}

TEST(TtyUsbBridge, ClosedAndForeignHandlesFailEveryCall) {
    Pty pty;
    auto bridge = bridgeOver({pty.path()});
    UB_HANDLE first = 0;
    ASSERT_EQ(bridge.UB_Open(0, &first), UB_OK);
    EXPECT_EQ(bridge.UB_Close(first), UB_OK);
    UB_HANDLE second = 0;
    ASSERT_EQ(bridge.UB_Open(0, &second), UB_OK);
    EXPECT_NE(first, second) << "a closed handle must not reach a device opened later";

    std::array<std::uint8_t, 64> buf{};
    std::uint32_t got = 0;
    for (UB_HANDLE bad : {UB_HANDLE{0}, first, second + 100}) {
        SCOPED_TRACE(bad);
        EXPECT_EQ(bridge.UB_Read(bad, buf.data(), 32, &got), UB_INVALID_HANDLE);
        EXPECT_EQ(bridge.UB_FlushBuffers(bad, 1, 1), UB_INVALID_HANDLE);
        EXPECT_EQ(bridge.UB_SetBaudRate(bad, 19200), UB_INVALID_HANDLE);
        EXPECT_EQ(bridge.UB_Close(bad), UB_INVALID_HANDLE);
    }
    EXPECT_EQ(bridge.UB_Read(second, nullptr, 32, &got), UB_INVALID_PARAMETER);
    EXPECT_EQ(bridge.UB_Read(second, buf.data(), 32, nullptr), UB_INVALID_PARAMETER);
    EXPECT_EQ(bridge.UB_Close(second), UB_OK);
    EXPECT_EQ(bridge.UB_Close(second), UB_INVALID_HANDLE);
}

TEST(TtyUsbBridge, OpenStartsWithEmptyBuffers) {
    Pty pty;
    // Another reader keeps the line alive so that bytes sent now are held.
    const int keep = ::open(pty.path().c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    ASSERT_GE(keep, 0);
    termios tio{};
    ASSERT_EQ(::tcgetattr(keep, &tio), 0);
    ::cfmakeraw(&tio);
    ASSERT_EQ(::tcsetattr(keep, TCSANOW, &tio), 0);
    ASSERT_TRUE(pty.send(pattern(20)));
    pollfd p{keep, POLLIN, 0};
    ASSERT_EQ(::poll(&p, 1, 5000), 1) << "the bytes must be held by the line";

    auto bridge = bridgeOver({pty.path()});
    UB_HANDLE h = 0;
    ASSERT_EQ(bridge.UB_Open(0, &h), UB_OK);
    std::array<std::uint8_t, 64> buf{};
    std::uint32_t got = 0;
    EXPECT_EQ(bridge.UB_Read(h, buf.data(), 32, &got), UB_NO_DATA);
    ::close(keep);
}

TEST(UbStatus, EveryCodeHasItsOwnName) {
    std::vector<std::string_view> names;
    for (UB_STATUS s = 0; s <= UB_SET_FAILED; ++s)
        names.push_back(ubStatusName(s));
    std::sort(names.begin(), names.end());
    EXPECT_EQ(std::adjacent_find(names.begin(), names.end()), names.end());
    EXPECT_EQ(ubStatusName(12345), "UB_UNKNOWN_STATUS");
}

} // namespace
