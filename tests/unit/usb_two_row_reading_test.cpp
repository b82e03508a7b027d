// Two-row meters on the USB cable: the cable's frames light "usb.1" on the
// main row and carry the meter's reading on the second row. Read through the
// real poll over a scripted bridge.
#include "sim/meter_frames.h"

#include "decode/meter_state.h"
#include "links/usb_link.h"
#include "links/usbbridge_fake.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

using namespace kq::sim;
using kq::decode::Decoder;
using kq::decode::MeterState;
using kq::links::FakeUsbBridge;
using kq::links::UsbLink;

namespace {

struct Frame {
    const char* shown; // the second row as the meter shows it
    Unit unit;
};

struct After {
    std::string value, maxText, minText, unit;
    int pointState;
};

struct Case {
    const char* what;
    std::vector<Frame> frames;
    After after; // the state after the last frame
};

TEST(UsbTwoRowReading, MinMaxFollowsTheSecondRowThroughThePoll) {
    const Case cases[] = {
        // The first frame of a unit resets the extremes; the next frames enter them.
        {"rising and falling",
         {{"12.34", Unit::Ms}, {"15.00", Unit::Ms}, {"9.87", Unit::Ms}},
         {"9.87", "15.00", "9.87", "m|s", 2}},
        {"equal readings replace the texts",
         {{"1.0", Unit::Mph}, {"2.0", Unit::Mph}, {"2.0", Unit::Mph}},
         {"2.0", "2.0", "2.0", "MPH", 3}},
        {"a new point position starts again",
         {{"5.00", Unit::Ms}, {"6.00", Unit::Ms}, {"7.00", Unit::Ms}, {"1.000", Unit::Ms}},
         {"1.000", "7.00", "6.00", "m|s", 1}},
        {"a new unit starts again",
         {{"300", Unit::FtMin}, {"400", Unit::FtMin}, {"1.5", Unit::Ms}},
         {"1.5", "400", "400", "m|s", 3}},
        {"whole numbers",
         {{"2468", Unit::Cfm}, {"1357", Unit::Cfm}, {"13", Unit::Cfm}},
         {"13", "1357", "13", "CFM", 0}},
    };
    std::mt19937 rng(4);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        FakeUsbBridge bridge;
        bridge.setDeviceCount(1);
        UsbLink link(bridge);
        ASSERT_EQ(link.usb_dllClick().message, kq::links::UsbMessage::None);
        MeterState s;
        s.LocaleDecimalSeparator = ".";
        s.range.FullScale = 2000;
        for (const auto& f : c.frames) {
            bridge.queueRead(encodeFrame(Form::Usb24B, *parseGlass(f.shown), f.unit, rng));
            const auto tick = link.Timer1Timer(s, nullptr);
            ASSERT_EQ(tick.decoder, Decoder::D24B) << f.shown;
            // The glass still shows the cable's marker on the main row.
            EXPECT_EQ(s.display.digits, (std::array<std::string, 4>{"u", "s", "b", "1"}));
        }
        EXPECT_EQ(s.ValueText, c.after.value);
        EXPECT_EQ(s.display.MaxText, c.after.maxText);
        EXPECT_EQ(s.display.MinText, c.after.minText);
        EXPECT_EQ(s.display.MaxTextU, c.after.unit);
        EXPECT_EQ(s.PointState, c.after.pointState);
    }
}

} // namespace
