// The HID cable: frame assembly from input reports, the feature report, the
// device texts, and the controller with its read threads over the fake backend.
#include "decode/meter_state.h"
#include "decode_support.h"
#include "links/hid_backend_fake.h"
#include "links/hid_device.h"
#include "links/hid_link.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <string>
#include <vector>

using kq::decode::Decoder;
using kq::decode::MeterState;
using kq::decode::ModelSwitch;
using kq::decode::ModelSwitchSet;
using namespace kq::links;
using Bytes = std::vector<std::uint8_t>;

namespace {

// Meter bytes whose low digits spell `digits`; the high digits vary, as the
// meter leaves them undefined.
Bytes meterBytes(const std::string& digits) {
    Bytes out;
    std::uint8_t high = 0x3;
    for (char c : digits) {
        const int v = c <= '9' ? c - '0' : c - 'A' + 10;
        out.push_back(static_cast<std::uint8_t>(high << 4 | v));
        high = static_cast<std::uint8_t>((high * 5 + 1) & 0x0F);
    }
    return out;
}

// A report carrying `payload` (at most 9 bytes) behind its count byte.
Bytes payloadReport(const Bytes& payload, std::uint8_t countHigh = 0xF0) {
    Bytes r{static_cast<std::uint8_t>(countHigh | payload.size())};
    r.insert(r.end(), payload.begin(), payload.end());
    return r;
}

struct Feed {
    MeterState state = kq::decode::test::builtState();
    HidLinkState link;
    kq::decode::test::RecordingSink sink;
    std::vector<HidReportResult> results;

    void report(const Bytes& data, std::uint8_t id = 0) {
        results.push_back(HidDeviceData(state, link, &sink, id, data.data(), data.size()));
    }
    // The payload in reports of `chunk` bytes, cut once more at `cut`.
    void frame(const Bytes& payload, std::size_t chunk, std::size_t cut) {
        std::size_t at = 0;
        while (at < payload.size()) {
            std::size_t end = std::min(payload.size(), at + chunk);
            if (at < cut && cut < end)
                end = cut;
            report(payloadReport(Bytes(payload.begin() + static_cast<std::ptrdiff_t>(at),
                                       payload.begin() + static_cast<std::ptrdiff_t>(end))));
            at = end;
        }
    }
};

// A frame of the third form: position 2 is "2", the tail is CR LF.
const std::string k36BFrame = "0210000000000000000000000000C0DA";
// 19.99 lux in the light-meter form.
const std::string k1999Lux = "00D7D7DF06000000008000000000"
                             "00DA";

} // namespace

TEST(HidFrameAssembly, A36BFrameSplitAtEveryByteShowsTheFixedDisplay) {
    const Bytes payload = meterBytes(k36BFrame);
    ASSERT_EQ(payload.size(), 32u);
    for (std::size_t chunk = 1; chunk <= 9; ++chunk) {
        for (std::size_t cut = 0; cut <= payload.size(); ++cut) {
            SCOPED_TRACE("chunk " + std::to_string(chunk) + " cut " + std::to_string(cut));
            Feed f;
            f.frame(payload, chunk, cut);
            EXPECT_EQ(f.state.FrameText, "") << "no frame ends while payload comes";
            f.report({0x00});
            EXPECT_EQ(f.state.FrameText, k36BFrame);
            EXPECT_EQ(f.results.back().decoder, Decoder::D36B);
            EXPECT_TRUE(f.results.back().frameEnded);
            const std::array<std::string, 4> usb1{"u", "s", "b", "1"};
            EXPECT_EQ(f.state.display.digits, usb1);
            EXPECT_TRUE(f.sink.values.empty()) << "the fixed display is no reading";
            EXPECT_TRUE(f.link.HidRxText.empty());
            EXPECT_FALSE(f.link.HidFrameOpen);
        }
    }
}

TEST(HidFrameAssembly, EveryCountDigitOutsideOneToNineEndsAFrame) {
    for (std::uint8_t count : {0x00, 0x0A, 0x0B, 0x0C, 0x0D, 0x0E, 0x0F, 0x10, 0x5A, 0xF0}) {
        SCOPED_TRACE(count);
        Feed f;
        f.frame(meterBytes(k1999Lux), 9, 0);
        f.report({count, 0x11, 0x22});
        EXPECT_EQ(f.state.FrameText, k1999Lux);
        EXPECT_EQ(f.results.back().decoder, Decoder::D12B);
        EXPECT_EQ(f.state.ValueText, "19.99");
        EXPECT_EQ(f.sink.values, std::vector<std::string>{"19.99"});
    }
}

TEST(HidFrameAssembly, ReportSequencesGiveTheirFrameText) {
    struct Case {
        const char* name;
        std::vector<Bytes> reports;
        std::string frame; // FrameText afterwards
        bool ended;        // the last report ended a frame
        int stall;         // HidStallCount afterwards
    };
    const Case cases[] = {
        {"counts 3 3 2 0 give eight digits and no decoder",
         {{0x03, 0x11, 0x22, 0x33}, {0x03, 0x44, 0x55, 0x66}, {0x02, 0x77, 0x88}, {0x00}},
         "12345678",
         true,
         1},
        {"a count of 0 with no frame open changes only the stall count",
         {{0x00}, {0x00, 0x31}},
         "",
         false,
         2},
        {"an empty report ends a frame and is not counted",
         {{0x02, 0x1A, 0x2B}, {}},
         "AB",
         true,
         0},
        {"count byte 0xF2 carries two bytes", {{0xF2, 0x41, 0x42, 0x43}, {0x30}}, "12", true, 1},
        {"a count beyond the report takes the bytes present",
         {{0x09, 0x41, 0x42}, {0x00}},
         "12",
         true,
         1},
        {"payload resets the stall count", {{0x00}, {0x00}, {0x01, 0x45}}, "", false, 0},
        {"bytes beyond 32 are dropped",
         {{0x09, 1, 2, 3, 4, 5, 6, 7, 8, 9},
          {0x09, 1, 2, 3, 4, 5, 6, 7, 8, 9},
          {0x09, 1, 2, 3, 4, 5, 6, 7, 8, 9},
          {0x09, 1, 2, 3, 4, 5, 6, 7, 8, 9},
          {0x00}},
         "12345678912345678912345678912345",
         true,
         1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Feed f;
        for (const Bytes& r : c.reports)
            f.report(r);
        EXPECT_EQ(f.state.FrameText, c.frame);
        EXPECT_EQ(f.results.back().frameEnded, c.ended);
        EXPECT_EQ(f.state.HidStallCount, c.stall);
        EXPECT_EQ(f.results.back().decoder, Decoder::None);
    }
}

TEST(HidFrameAssembly, FrameContentSelectsTheDecoder) {
    struct Case {
        std::string frame;
        Decoder decoder;
    };
    const Case cases[] = {
        {"00D7D7DF060000000080000000000"
         "0DA",
         Decoder::D12B},
        {"01D7D7DF060000000080000000000"
         "0DA",
         Decoder::D12B},
        {"0FD7D7DF060000000080000000000"
         "0DA",
         Decoder::D12B},
        {"02D7D7DF060000000080000000000"
         "0DA",
         Decoder::D36B},
        {"03D7D7DF060000000080000000000"
         "0DA",
         Decoder::None},
        {"00D7D7DF060000000080000000000"
         "0AD",
         Decoder::None},
        {"03603FAD6B000000000000000000"
         "0000",
         Decoder::D24B},
        {"03603FAD6B0000000000000000000"
         "0DA",
         Decoder::D24B},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.frame);
        Feed f;
        f.frame(meterBytes(c.frame), 7, 0);
        f.report({0x0E});
        EXPECT_EQ(f.results.back().decoder, c.decoder);
        EXPECT_EQ(f.state.FrameText, c.frame);
    }
}

TEST(HidFrameAssembly, AFrameCutOffLeavesItsBytesBeforeTheNextWhichIsDropped) {
    Feed f;
    f.frame(meterBytes(k1999Lux.substr(0, 5)), 5, 0); // reading stopped here
    f.frame(meterBytes(k1999Lux), 9, 0);
    f.report({0x00});
    EXPECT_EQ(f.results.back().decoder, Decoder::None);
    EXPECT_EQ(f.state.FrameText, (k1999Lux.substr(0, 5) + k1999Lux).substr(0, 32));
    f.frame(meterBytes(k1999Lux), 9, 0);
    f.report({0x00});
    EXPECT_EQ(f.results.back().decoder, Decoder::D12B);
}

TEST(HidFrameAssembly, StallOf1900ReportsIsCounted) {
    Feed f;
    f.report({0x01, 0x30});
    for (int k = 0; k < 1900; ++k)
        f.report({0x00, 0x00});
    EXPECT_EQ(f.state.HidStallCount, 1900);
}

TEST(HidFrameAssembly, HistoryLineShowsReportIdAndEveryDataByte) {
    struct Case {
        std::uint8_t id;
        Bytes data;
        std::string line;
        bool payload; // only these reach the history list
    };
    const Case cases[] = {
        {0x00, {0x03, 0x41, 0xB2, 0x0C}, "R 00  03 41 B2 0C ", true},
        {0x07, {0x19}, "R 07  19 ", true},
        {0x5E, {}, "R 5E  ", false},
        {0xFF, {0x00, 0x00}, "R FF  00 00 ", false},
        {0x00, {0x1A, 0x00}, "R 00  1A 00 ", false},
    };
    for (const Case& c : cases) {
        Feed f;
        f.report(c.data, c.id);
        EXPECT_EQ(f.results.back().historyLine, c.line);
        EXPECT_EQ(f.results.back().payload, c.payload) << c.line;
    }
}

TEST(HidFeatureReport, BitRateFollowsTheLastSwitchOnInTheLinkOrder) {
    struct Case {
        std::vector<ModelSwitch> on;
        HidFeatureReport bytes;
    };
    const HidFeatureReport r19200{0x00, 0x00, 0x4B, 0x00, 0x00, 0x03, 0x00, 0x00, 0x00, 0x00};
    const HidFeatureReport r2400{0x00, 0x60, 0x09, 0x00, 0x00, 0x03, 0x00, 0x00, 0x00, 0x00};
    const Case cases[] = {
        {{ModelSwitch::ifkq510}, r19200},
        {{}, r2400},
        {{ModelSwitch::KQ530}, r2400},
        {{ModelSwitch::IFRV4400}, r2400},
        {{ModelSwitch::IFKQ12D}, r2400},
        {{ModelSwitch::IFKQ810}, r19200},
        {{ModelSwitch::IFKQ12E}, r19200},
        {{ModelSwitch::IFKQ24B}, r2400},
        {{ModelSwitch::IFKQ810, ModelSwitch::IFKQ24B}, r2400},
        {{ModelSwitch::ifkq510, ModelSwitch::IFKQ13C}, r2400},
        {{ModelSwitch::IFKQ24B, ModelSwitch::IFKQ12E}, r2400},
        {{ModelSwitch::IFKQ810, ModelSwitch::ifkq510}, r19200},
    };
    for (const Case& c : cases) {
        ModelSwitchSet set;
        for (ModelSwitch s : c.on)
            set.setChecked(s, true);
        EXPECT_EQ(hidFeatureReport(set), c.bytes) << c.on.size();
    }
    EXPECT_EQ(featureHistoryLine(r19200), "00 4B 00 00 03 00 00 00 00 ");
}

TEST(HidTexts, DeviceDescriptionReadsAsListed) {
    struct Case {
        std::wstring product;
        std::uint16_t vid, pid;
        std::wstring serial;
        std::string text;
    };
    const Case cases[] = {
        {L"USB to Serial", 0x10C4, 0xEA80, L"", "USB to Serial"},
        {L"", 0x10C4, 0xEA80, L"", "Device VID=10C4 PID=EA80"},
        {L"", 0x000a, 0x00ff, L"", "Device VID=000A PID=00FF"},
        {L"USB to Serial", 1, 2, L"0001", "USB to Serial (Serial=0001)"},
        {L"", 1, 2, L"X", "Device VID=0001 PID=0002 (Serial=X)"},
        {L"Lux\u00b5", 1, 2, L"", "Lux\xc2\xb5"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(HidDeviceDescription(c.product, c.vid, c.pid, c.serial), c.text);
}

TEST(HidTexts, TheLastBridgeInTheListIsSelected) {
    struct Case {
        std::vector<std::string> items;
        int selected;
    };
    const Case cases[] = {
        {{}, -1},
        {{"Keyboard"}, -1},
        {{"USB to Serial", "Keyboard", "USB to Serial"}, 2},
        {{"USB to Serial", "USB to Serial (Serial=1)"}, 0},
        {{"usb to serial", "USB to Serial "}, -1},
    };
    for (const Case& c : cases)
        EXPECT_EQ(lastBridgeIndex(c.items), c.selected);
}

TEST(HidTexts, ReadErrorLineGivesTheSystemTextAndTheCodeInHex) {
    EXPECT_EQ(readErrorLine(EIO), "READ ERROR: Input/output error (5)");
    EXPECT_EQ(readErrorLine(ENODEV), "READ ERROR: No such device (13)");
    EXPECT_EQ(readErrorLine(EPROTO), "READ ERROR: Protocol error (47)");
}

TEST(HidTexts, SerialNumberEqualToTheIndexZeroAnswerIsAbsent) {
    using K = HidIndexedAnswer::Kind;
    struct Case {
        const char* name;
        std::wstring serial;
        HidIndexedAnswer answer;
        std::wstring kept;
    };
    const Case cases[] = {
        {"language list answer", L"A1B2", {K::Text, L"\x0409"}, L"A1B2"},
        {"serial equal to the answer", L"\x0409", {K::Text, L"\x0409"}, L""},
        {"serial that starts with the answer", L"\x0409Z", {K::Text, L"\x0409"}, L""},
        {"answer that wrote nothing", L"A1B2", {K::Failed, L""}, L""},
        {"answer of an empty text", L"A1B2", {K::Text, L""}, L""},
        {"platform cannot ask", L"A1B2", {K::Unsupported, L""}, L"A1B2"},
        {"long serial kept to 254",
         std::wstring(300, L'7'),
         {K::Unsupported, L""},
         std::wstring(254, L'7')},
    };
    for (const Case& c : cases)
        EXPECT_EQ(serialNumberRule(c.serial, c.answer), c.kept) << c.name;
}
