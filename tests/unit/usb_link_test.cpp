#include "decode/connection_indicator.h"
#include "decode/meter_state.h"
#include "decode/reading_sink.h"
#include "links/usb_frame_assembler.h"
#include "links/usb_link.h"
#include "links/usbbridge_fake.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <random>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

using kq::decode::Decoder;
using kq::decode::MeterState;
using kq::decode::Widget;
using kq::links::FakeUsbBridge;
using kq::links::UsbLink;
using kq::links::UsbMessage;
using Call = FakeUsbBridge::Call;

namespace {

// Frames as the meter sends them: low nibbles from the text, high nibbles
// from `high` (the meter leaves them undefined).
std::vector<std::uint8_t> bytes(const std::string& lowNibbles, std::uint8_t high = 0x50) {
    std::vector<std::uint8_t> out;
    for (char c : lowNibbles) {
        const int v = c <= '9' ? c - '0' : c - 'A' + 10;
        out.push_back(static_cast<std::uint8_t>(((high & 0x0F) << 4) | v));
        high = static_cast<std::uint8_t>(high * 7 + 3); // a different high nibble per byte
    }
    return out;
}

// 19.99 lux and 20.00 lux in the light-meter form of the cable.
const std::string k1999Lux = "00D7D7DF06"
                             "00000000"
                             "800000"
                             "000000"
                             "DA";
const std::string k2000Lux = "00B7B7BFE5"
                             "00000000"
                             "800000"
                             "000000"
                             "DA";

struct CountingSink : kq::decode::ReadingSink {
    std::vector<std::string> values;
    void INDataToTable(const MeterState& s) override { values.push_back(s.ValueText); }
};

struct ThrowingSink : kq::decode::ReadingSink {
    void INDataToTable(const MeterState&) override { throw std::length_error("log full"); }
};

MeterState lightMeter() {
    MeterState s;
    s.LocaleDecimalSeparator = ".";
    s.range.ScaleCode = "2";
    s.range.FullScale = 2000;
    s.range.FullScaleDiv100 = 20;
    return s;
}

std::vector<Call> callKinds(const FakeUsbBridge& b) {
    std::vector<Call> out;
    for (const auto& r : b.calls())
        out.push_back(r.call);
    return out;
}

std::string shownDigits(const MeterState& s) {
    std::string out;
    for (const auto& d : s.display.digits)
        out += d.empty() ? "_" : d;
    return out;
}

// Connects a fake with one device; the script starts after the connect step.
struct Connected {
    FakeUsbBridge bridge;
    UsbLink link{bridge};
    MeterState state = lightMeter();
    Connected() {
        bridge.setDeviceCount(1);
        EXPECT_EQ(link.usb_dllClick().message, UsbMessage::None);
        bridge.clearCalls();
    }
};

TEST(UsbLink, ConnectStepFollowsEveryRowOfTheFailureTable) {
    struct Case {
        const char* name;
        std::uint32_t devices;
        kq::links::UB_STATUS openStatus;
        kq::links::UB_STATUS baudStatus;
        UsbMessage message;
        bool release;
        bool openTried;
        std::vector<Call> calls;
        bool closeOnButtonUp;
    };
    const Case cases[] = {
        {"no device", 0, 0, 0, UsbMessage::NotConnected, true, false, {Call::GetNumDevices}, false},
        {"two devices",
         2,
         0,
         0,
         UsbMessage::NotConnected,
         true,
         false,
         {Call::GetNumDevices},
         false},
        {"open fails",
         1,
         kq::links::UB_DEVICE_NOT_OPENED,
         0,
         UsbMessage::OpenFailed,
         false,
         true,
         {Call::GetNumDevices, Call::Open},
         true},
        {"speed refused",
         1,
         0,
         kq::links::UB_SET_FAILED,
         UsbMessage::TimeOut,
         false,
         true,
         {Call::GetNumDevices, Call::Open, Call::SetBaudRate},
         true},
        {"all well",
         1,
         0,
         0,
         UsbMessage::None,
         false,
         true,
         {Call::GetNumDevices, Call::Open, Call::SetBaudRate, Call::SetTimeouts},
         true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        FakeUsbBridge bridge;
        bridge.setDeviceCount(c.devices);
        bridge.setStatus(Call::Open, c.openStatus);
        bridge.setStatus(Call::SetBaudRate, c.baudStatus);
        UsbLink link(bridge);
        const auto r = link.usb_dllClick();
        EXPECT_EQ(r.message, c.message);
        EXPECT_EQ(r.releaseButton, c.release);
        EXPECT_EQ(link.state().UsbOpenTried, c.openTried);
        EXPECT_EQ(link.state().UsbDeviceCount, c.devices);
        EXPECT_EQ(callKinds(bridge), c.calls);

        bridge.clearCalls();
        link.buttonUp();
        EXPECT_EQ(bridge.count(Call::Close), c.closeOnButtonUp ? 1u : 0u);
        EXPECT_EQ(bridge.openCount(), 0u) << "nothing may stay open after the button is up";
    }
}

TEST(UsbLink, ConnectStepUsesTheFixedArguments) {
    FakeUsbBridge bridge;
    bridge.setDeviceCount(1);
    UsbLink link(bridge);
    ASSERT_EQ(link.usb_dllClick().message, UsbMessage::None);
    const auto& calls = bridge.calls();
    ASSERT_EQ(calls.size(), 4u);
    EXPECT_EQ(calls[1].a, 0u);     // device index
    EXPECT_EQ(calls[2].a, 19200u); // speed
    EXPECT_EQ(calls[2].handle, link.state().UsbHandle);
    EXPECT_NE(link.state().UsbHandle, 0u);
    EXPECT_EQ(calls[3].a, 10u); // read time-out
    EXPECT_EQ(calls[3].b, 10u); // write time-out
}

TEST(UsbLink, MessagesReadExactlyAsTheUserSeesThem) {
    EXPECT_EQ(kq::links::usbMessageText(UsbMessage::NotConnected),
              "USB interface cable is not connected properly, please check and re-try.");
    EXPECT_EQ(kq::links::usbMessageText(UsbMessage::OpenFailed), "Open the equipments mistake");
    EXPECT_EQ(kq::links::usbMessageText(UsbMessage::TimeOut), "Time out");
    EXPECT_EQ(kq::links::usbMessageText(UsbMessage::None), "");
}

TEST(UsbLink, ReconnectingStartsTheOpenTriedFlagAfresh) {
    FakeUsbBridge bridge;
    bridge.setDeviceCount(1);
    bridge.setStatus(Call::Open, kq::links::UB_DEVICE_NOT_OPENED);
    UsbLink link(bridge);
    EXPECT_EQ(link.usb_dllClick().message, UsbMessage::OpenFailed);
    EXPECT_TRUE(link.state().UsbOpenTried);
    bridge.setDeviceCount(0); // cable pulled before the next try
    EXPECT_EQ(link.usb_dllClick().message, UsbMessage::NotConnected);
    EXPECT_FALSE(link.state().UsbOpenTried);
    bridge.clearCalls();
    link.buttonUp();
    EXPECT_EQ(bridge.count(Call::Close), 0u);
}

TEST(UsbLink, IdlePollReadsNothingAndShowsNotConnected) {
    FakeUsbBridge bridge; // never connected: the handle is 0
    UsbLink link(bridge);
    MeterState s = lightMeter();
    s.display.setShown(Widget::conok, true);
    s.FrameText = "old";
    s.RxDigits = "12";
    s.RxMarks = "34";
    const auto r = link.Timer1Timer(s, nullptr);
    EXPECT_FALSE(r.readOk);
    EXPECT_TRUE(r.changed);
    EXPECT_FALSE(s.display.isShown(Widget::conok));
    EXPECT_TRUE(s.display.isShown(Widget::conokn));
    EXPECT_EQ(callKinds(bridge), (std::vector<Call>{Call::GetNumDevices, Call::Read}));
    EXPECT_EQ(s.FrameText, "old");
    EXPECT_EQ(s.RxDigits, "12"); // a failed read leaves the serial framer alone
    EXPECT_EQ(s.RxMarks, "34");
    // A second idle tick changes nothing the window shows.
    EXPECT_FALSE(link.Timer1Timer(s, nullptr).changed);
}

TEST(UsbLink, WholeFrameIsDecodedThenTheBridgeIsFlushedTwice) {
    Connected c;
    CountingSink sink;
    c.state.RxDigits = "123";
    c.state.RxMarks = "456";
    c.bridge.queueRead(bytes(k1999Lux));
    const auto r = c.link.Timer1Timer(c.state, &sink);
    EXPECT_TRUE(r.readOk);
    EXPECT_EQ(r.decoder, Decoder::D12B);
    EXPECT_TRUE(r.changed);
    EXPECT_EQ(c.state.FrameText, k1999Lux);
    EXPECT_EQ(shownDigits(c.state), "1999");
    EXPECT_EQ(c.state.ValueText, "19.99");
    EXPECT_EQ(c.state.UnitText, "lux");
    EXPECT_TRUE(c.state.display.isShown(Widget::conok));
    EXPECT_EQ(sink.values, std::vector<std::string>{"19.99"});
    EXPECT_TRUE(c.state.RxDigits.empty());
    EXPECT_TRUE(c.state.RxMarks.empty());

    EXPECT_EQ(callKinds(c.bridge), (std::vector<Call>{Call::GetNumDevices, Call::Read,
                                                      Call::FlushBuffers, Call::FlushBuffers}));
    const auto& calls = c.bridge.calls();
    EXPECT_EQ(calls[1].a, 32u);
    EXPECT_EQ(calls[1].handle, c.link.state().UsbHandle);
    for (std::size_t i : {2u, 3u}) {
        EXPECT_EQ(calls[i].a, 1u);
        EXPECT_EQ(calls[i].b, 1u);
    }
}

TEST(UsbLink, HighNibblesNeverReachTheFrameText) {
    for (std::uint8_t high : {0x00, 0x10, 0x7F, 0xF0, 0xA5}) {
        SCOPED_TRACE(int(high));
        Connected c;
        c.bridge.queueRead(bytes(k1999Lux, high));
        c.link.Timer1Timer(c.state, nullptr);
        EXPECT_EQ(c.state.FrameText, k1999Lux);
    }
}

TEST(UsbLink, FrameFormSelectsTheDecoder) {
    struct Case {
        const char* name;
        std::string frame;
        Decoder decoder;
    };
    const std::string head24 = "03603FAD6B";
    const Case cases[] = {
        {"12B with 0 at position 2", k1999Lux, Decoder::D12B},
        {"12B with F at position 2", "0F" + k1999Lux.substr(2), Decoder::D12B},
        {"E at position 2", "0E" + k1999Lux.substr(2), Decoder::None},
        {"1 at position 2 is for the HID cable only", "01" + k1999Lux.substr(2), Decoder::None},
        {"no CR LF tail", k1999Lux.substr(0, 30) + "AD", Decoder::None},
        {"24B head, any tail", head24 + std::string(20, '0') + "37", Decoder::D24B},
        {"24B head with a 12B tail goes to 24B", head24 + k1999Lux.substr(10), Decoder::D24B},
        {"all zeros", std::string(32, '0'), Decoder::None},
    };
    for (const auto& k : cases) {
        SCOPED_TRACE(k.name);
        Connected c;
        c.bridge.queueRead(bytes(k.frame));
        const auto r = c.link.Timer1Timer(c.state, nullptr);
        EXPECT_TRUE(r.readOk);
        EXPECT_EQ(r.decoder, k.decoder);
        // The frame text is replaced whether or not a decoder takes it.
        EXPECT_EQ(c.state.FrameText, k.frame);
        EXPECT_EQ(c.bridge.count(Call::FlushBuffers), 2u);
    }
}

TEST(UsbLink, ShortReadsMixWithWhatTheBufferHeldBefore) {
    struct Case {
        const char* name;
        std::vector<std::string> before; // whole reads first
        std::string shortRead;           // then this many bytes only
        std::string frameText;
        Decoder decoder;
        std::string digits;
    };
    const Case cases[] = {
        // Zeros at first: ten fresh digits and 22 zeros, no CR LF tail.
        {"first read short",
         {},
         k1999Lux.substr(0, 10),
         k1999Lux.substr(0, 10) + std::string(22, '0'),
         Decoder::None,
         "____"},
        // The digits of a new frame over the tail of the previous one.
        {"new digits, old tail",
         {k1999Lux},
         k2000Lux.substr(0, 10),
         k2000Lux,
         Decoder::D12B,
         "2000"},
        // Stray bytes that end short of the tail: an old tail and a 0 at
        // position 2 make the mixed text a 12B frame.
        {"stray bytes over old frame",
         {k1999Lux},
         "30",
         "30" + k1999Lux.substr(2),
         Decoder::D12B,
         "1999"},
        {"nothing but a status of success", {k1999Lux}, "", k1999Lux, Decoder::D12B, "1999"},
    };
    for (const auto& k : cases) {
        SCOPED_TRACE(k.name);
        Connected c;
        for (const auto& f : k.before) {
            c.bridge.queueRead(bytes(f));
            c.link.Timer1Timer(c.state, nullptr);
        }
        c.bridge.queueRead(bytes(k.shortRead));
        const auto r = c.link.Timer1Timer(c.state, nullptr);
        EXPECT_TRUE(r.readOk);
        EXPECT_EQ(c.state.FrameText, k.frameText);
        EXPECT_EQ(r.decoder, k.decoder);
        EXPECT_EQ(shownDigits(c.state), k.digits);
    }
}

TEST(UsbLink, FailedReadChangesNothingButTheIndicatorOfALinkThatIsDown) {
    for (auto status :
         {kq::links::UB_IO_ERROR, kq::links::UB_NO_DATA, kq::links::UB_INVALID_HANDLE}) {
        SCOPED_TRACE(status);
        Connected c;
        CountingSink sink;
        c.bridge.queueRead(bytes(k1999Lux));
        c.link.Timer1Timer(c.state, &sink);
        const MeterState before = c.state;
        c.state.RxDigits = "9";
        c.bridge.clearCalls();
        c.bridge.queueReadFailure(status);
        const auto r = c.link.Timer1Timer(c.state, &sink);
        EXPECT_FALSE(r.readOk);
        EXPECT_EQ(c.link.state().UsbStatus, status);
        EXPECT_EQ(c.state.FrameText, before.FrameText);
        EXPECT_EQ(c.state.display.digits, before.display.digits);
        EXPECT_EQ(c.state.ValueText, before.ValueText);
        EXPECT_EQ(c.state.RxDigits, "9");
        // A quiet line is left to the connection timer; a failing link is "not connected".
        const bool down = status != kq::links::UB_NO_DATA;
        EXPECT_EQ(c.state.display.isShown(Widget::conok), !down);
        EXPECT_EQ(c.state.display.isShown(Widget::conokn), down);
        EXPECT_EQ(r.changed, down);
        EXPECT_EQ(c.bridge.count(Call::FlushBuffers), 0u);
        EXPECT_EQ(sink.values.size(), 1u);
        // The next tick reads again and a whole frame is decoded as before.
        c.bridge.queueRead(bytes(k2000Lux));
        EXPECT_EQ(c.link.Timer1Timer(c.state, &sink).decoder, Decoder::D12B);
        EXPECT_EQ(c.state.ValueText, "20.00");
    }
}

TEST(UsbLink, PrintBusyKeepsReadingAndFlushingButDecodesNothing) {
    Connected c;
    CountingSink sink;
    c.bridge.queueRead(bytes(k1999Lux));
    c.link.Timer1Timer(c.state, &sink);
    c.state.PrintBusy = true;
    c.state.RxDigits = "1";
    c.bridge.clearCalls();
    c.bridge.queueRead(bytes(k2000Lux));
    const auto r = c.link.Timer1Timer(c.state, &sink);
    EXPECT_TRUE(r.readOk);
    EXPECT_EQ(r.decoder, Decoder::None);
    EXPECT_EQ(c.state.FrameText, k1999Lux);
    EXPECT_EQ(shownDigits(c.state), "1999");
    EXPECT_EQ(sink.values.size(), 1u);
    EXPECT_TRUE(c.state.RxDigits.empty());
    EXPECT_EQ(c.bridge.count(Call::FlushBuffers), 2u);

    c.state.PrintBusy = false;
    c.bridge.queueRead(bytes(k2000Lux));
    c.link.Timer1Timer(c.state, &sink);
    EXPECT_EQ(c.state.ValueText, "20.00");
}

TEST(UsbLink, QuietTicksLeaveTheIndicatorToTheConnectionTimer) {
    Connected c;
    c.bridge.queueRead(bytes(k1999Lux));
    EXPECT_TRUE(c.link.Timer1Timer(c.state, nullptr).changed);
    EXPECT_TRUE(c.state.display.isShown(Widget::conok));
    EXPECT_FALSE(c.state.display.isShown(Widget::conokn));
    // Silence between frames: the poll keeps "connected" and reports no change;
    // the connection timer turns it off after three of its own ticks.
    for (int i = 0; i < 20; ++i)
        EXPECT_FALSE(c.link.Timer1Timer(c.state, nullptr).changed);
    EXPECT_TRUE(c.state.display.isShown(Widget::conok));
    for (int tick = 0; tick < 3; ++tick)
        kq::decode::ConTimerTimer(c.state);
    EXPECT_FALSE(c.state.display.isShown(Widget::conok));
    EXPECT_TRUE(c.state.display.isShown(Widget::conokn));
}

TEST(UsbLink, ALogThatThrowsStillLeavesTheBridgeFlushed) {
    Connected c;
    ThrowingSink sink;
    c.bridge.queueRead(bytes(k1999Lux));
    EXPECT_THROW(c.link.Timer1Timer(c.state, &sink), std::length_error);
    EXPECT_EQ(c.bridge.count(Call::FlushBuffers), 2u);
    EXPECT_TRUE(c.state.RxMarks.empty());
    c.bridge.queueRead(bytes(k2000Lux));
    EXPECT_EQ(c.link.Timer1Timer(c.state, nullptr).decoder, Decoder::D12B);
}

TEST(UsbLink, ClosedDeviceFailsEveryReadUntilReconnected) {
    Connected c;
    c.link.buttonUp();
    c.bridge.queueRead(bytes(k1999Lux));
    EXPECT_FALSE(c.link.Timer1Timer(c.state, nullptr).readOk);
    EXPECT_EQ(c.link.state().UsbStatus, kq::links::UB_INVALID_HANDLE);
    EXPECT_EQ(c.bridge.pendingReads(), 1u);
    ASSERT_EQ(c.link.usb_dllClick().message, UsbMessage::None);
    EXPECT_EQ(c.link.Timer1Timer(c.state, nullptr).decoder, Decoder::D12B);
}

// Whatever a line delivers (garbage, short and long bursts, failures), the
// poll keeps its shape: a 32-digit frame text, the accumulators emptied, and
// a whole frame after it decoded.
TEST(UsbLink, RandomTrafficNeverBreaksThePoll) {
    Connected c;
    std::mt19937 rng(2024);
    std::uniform_int_distribution<int> len(0, 40), byte(0, 255), kind(0, 9);
    for (int i = 0; i < 20000; ++i) {
        std::vector<std::uint8_t> junk(static_cast<std::size_t>(len(rng)));
        for (auto& b : junk)
            b = static_cast<std::uint8_t>(byte(rng));
        const int k = kind(rng);
        if (k == 0)
            c.bridge.queueReadFailure(kq::links::UB_IO_ERROR);
        else if (k == 1)
            c.bridge.queueRead(bytes(k1999Lux));
        else
            c.bridge.queueRead(junk);
        c.state.RxDigits = "5";
        const auto r = c.link.Timer1Timer(c.state, nullptr);
        ASSERT_EQ(r.readOk, k != 0);
        if (r.readOk) {
            ASSERT_EQ(c.state.FrameText.size(), 32u);
            ASSERT_EQ(c.state.FrameText.find_first_not_of("0123456789ABCDEF"), std::string::npos);
            ASSERT_TRUE(c.state.RxDigits.empty());
        }
        if (k == 1) {
            ASSERT_EQ(c.state.ValueText, "19.99");
        }
    }
}

TEST(UsbLink, FrameTextUsesOnlyTheFirst32BytesInUpperCase) {
    std::array<std::uint8_t, 64> buf{};
    for (std::size_t i = 0; i < buf.size(); ++i)
        buf[i] = static_cast<std::uint8_t>(i * 17 + 0x3A);
    const std::string t = UsbLink::frameText(buf);
    ASSERT_EQ(t.size(), 32u);
    for (std::size_t i = 0; i < 32; ++i)
        EXPECT_EQ(t[i], "0123456789ABCDEF"[buf[i] & 0x0F]) << i;
}

} // namespace

namespace {

std::vector<std::uint8_t> joined(std::initializer_list<std::vector<std::uint8_t>> parts) {
    std::vector<std::uint8_t> out;
    for (const auto& p : parts)
        out.insert(out.end(), p.begin(), p.end());
    return out;
}

std::vector<std::uint8_t> part(const std::vector<std::uint8_t>& v, std::size_t from,
                               std::size_t to = 32) {
    return {v.begin() + static_cast<std::ptrdiff_t>(from),
            v.begin() + static_cast<std::ptrdiff_t>(to)};
}

// 19.99 lux with "D" and "A" in the second row: data that reads as CR LF.
const std::string k1999LuxDaInside = "00D7D7DF06"
                                     "00000000"
                                     "800000"
                                     "DA0000"
                                     "DA";

} // namespace

// The window reads on a thread of its own, from a line that does not keep in
// step with the reads: joined in the middle of a frame, a frame cut across
// reads, stray bytes with a CR LF among them, frames piled up, a failure in
// the middle of one. Every whole frame reaches the log, in order, and nothing
// else; nothing is flushed; closing stops the reading before the device goes.
TEST(UsbLink, ReadingThreadHandsOverEveryWholeFrameAndStopsBeforeTheClose) {
    Connected c;
    const auto f1 = bytes(k1999Lux), f2 = bytes(k2000Lux), inside = bytes(k1999LuxDaInside);
    c.bridge.queueRead(part(f2, 20));                 // the tail of a frame sent before
    c.bridge.queueRead(joined({f1, part(f2, 0, 7)})); // a frame and the head of the next
    c.bridge.queueRead(part(f2, 7));                  // its rest
    c.bridge.queueRead({0x0D, 0x0A, 0x55});           // stray bytes
    c.bridge.queueRead(joined({f1, f2, inside}));     // piled up while nobody read
    c.bridge.queueRead(part(f1, 0, 16));              // half a frame, then the line fails
    c.bridge.queueReadFailure(kq::links::UB_IO_ERROR);
    c.bridge.queueRead(joined({part(f1, 16), f2})); // the rest of it, then a whole frame
    const std::vector<std::string> expected = {"19.99", "20.00",  "19.99", "20.00",
                                               "19.99", "failed", "20.00"};
    struct Trace : kq::decode::ReadingSink {
        std::vector<std::string> seen;
        void INDataToTable(const MeterState& s) override { seen.push_back(s.ValueText); }
    } trace;
    std::atomic<int> wakeUps{0};
    c.link.startReading([&] { ++wakeUps; });
    ASSERT_TRUE(c.link.reading());
    for (int i = 0; i < 2000 && trace.seen.size() < expected.size(); ++i) {
        // Lit before each tick: only a failed read puts it out.
        c.state.display.setShown(Widget::conok, true);
        c.state.display.setShown(Widget::conokn, false);
        (void)c.link.Timer1Timer(c.state, &trace);
        if (c.state.display.isShown(Widget::conokn))
            trace.seen.push_back("failed");
        if (!c.link.readWaiting())
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    EXPECT_EQ(trace.seen, expected);
    EXPECT_GE(wakeUps.load(), 1);
    EXPECT_EQ(c.bridge.count(Call::FlushBuffers), 0u);
    for (const auto& r : c.bridge.calls()) {
        if (r.call == Call::Read) {
            EXPECT_LE(r.a, 32u) << "a read asks for no more than a frame";
        }
    }

    c.link.buttonUp();
    EXPECT_FALSE(c.link.reading());
    const auto calls = c.bridge.calls();
    ASSERT_GE(calls.size(), 2u);
    EXPECT_EQ(calls.back().call, Call::Close) << "nothing is read once the device is closed";
    // The thread waits longer for the line than a tick may, and gives the
    // bridge its 10 ms back.
    EXPECT_EQ(calls[calls.size() - 2].call, Call::SetTimeouts);
    EXPECT_EQ(calls[calls.size() - 2].a, UsbLink::kReadTimeoutMs);
    EXPECT_GT(c.bridge.calls().front().a, UsbLink::kReadTimeoutMs);
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    EXPECT_EQ(callKinds(c.bridge).back(), Call::Close);
}

// However the line cuts the bytes into reads, the same frames come out.
TEST(UsbFrameAssembler, FramesDoNotDependOnHowTheBytesArrive) {
    const auto f1 = bytes(k1999Lux), f2 = bytes(k2000Lux), inside = bytes(k1999LuxDaInside);
    const auto stream = joined({part(f1, 9), f2, {0x3D, 0x4A}, inside, f1, {0x7A}, f2});
    const std::vector<std::vector<std::uint8_t>> expected = {f2, inside, f1, f2};
    std::mt19937 rng(7);
    for (int round = 0; round < 200; ++round) {
        kq::links::UsbFrameAssembler frames;
        std::vector<std::vector<std::uint8_t>> out;
        std::size_t at = 0;
        while (at < stream.size()) {
            // As the thread reads: never more than the frame begun needs.
            const std::size_t most = std::min(frames.wanted(), stream.size() - at);
            const std::size_t n = round == 0 ? most : 1 + rng() % most;
            frames.feed(stream.data() + at, n,
                        [&](const auto& f) { out.emplace_back(f.begin(), f.end()); });
            at += n;
        }
        ASSERT_EQ(out, expected) << "round " << round;
    }
}
