#include "decode_support.h"
#include "links/serial_framers.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

using namespace kq::links;
using kq::decode::Decoder;
using kq::decode::MeterState;
using kq::decode::ReceiveHandler;
using kq::decode::test::builtState;
using kq::decode::test::RecordingSink;

namespace {

using Bytes = std::vector<std::uint8_t>;

std::uint8_t nibbleOf(char hex) {
    return static_cast<std::uint8_t>(hex <= '9' ? hex - '0' : hex - 'A' + 10);
}

// A light-meter serial frame: byte k has k in its high nibble and frame
// position k of `digits` (14 hexadecimal digits) in its low one.
Bytes frame12B(const std::string& digits) {
    Bytes out;
    for (std::size_t k = 0; k < digits.size(); ++k)
        out.push_back(static_cast<std::uint8_t>(((k + 1) << 4) | nibbleOf(digits[k])));
    return out;
}

// A two-row serial frame: LF, data bytes whose low nibbles are `digits`
// (high nibbles 3, never a CR), CR.
Bytes frame24B(const std::string& digits) {
    Bytes out{0x0A};
    for (char c : digits)
        out.push_back(static_cast<std::uint8_t>(0x30 | nibbleOf(c)));
    out.push_back(0x0D);
    return out;
}

Bytes join(std::initializer_list<Bytes> parts) {
    Bytes out;
    for (const auto& p : parts)
        out.insert(out.end(), p.begin(), p.end());
    return out;
}

// 19.99 lux: digits 1, 9 with its point, 9, 9 at positions 3 to 10, the lux
// bit at position 14 (which the decoder repeats up to position 32).
const std::string kLux1999 = "00D7D7DF060008";
// The main row of a two-row frame showing 4 3 2 1, rightmost digit first.
const std::string kRow4321 = "060C7E56C";

SerialBatchResult feed(ReceiveHandler handler, MeterState& state, RecordingSink* sink,
                       const Bytes& bytes, std::size_t from, std::size_t to) {
    return receiveSerial(handler, state, sink, bytes.data() + from, to - from);
}

std::string digitsOf(const MeterState& s) {
    std::string out;
    for (const auto& d : s.display.digits)
        out += d.empty() ? "_" : d;
    return out;
}

struct Totals {
    int ended = 0;
    int decoded = 0;
    void add(const SerialBatchResult& r) {
        ended += r.framesEnded;
        decoded += r.framesDecoded;
    }
};

} // namespace

TEST(SerialFramers, LightMeterFrameFromTheWorkedExampleDecodes) {
    // Positions 1..14 are 1 2 3 4 5 6 7 8 9 0 1 2 3 4: only LcdDc shows a
    // digit (4), LcdP2 is lit, and positions 15 on repeat the 4 of position 14.
    MeterState state = builtState(".");
    RecordingSink sink;
    const Bytes bytes = frame12B("12345678901234");
    const auto r = H12BRData(state, &sink, bytes.data(), bytes.size());
    EXPECT_EQ(r.framesEnded, 1);
    EXPECT_EQ(r.framesDecoded, 1);
    EXPECT_EQ(state.FrameText, "12345678901234");
    EXPECT_EQ(digitsOf(state), "__4_");
    EXPECT_EQ(state.ValueText, ".4");
    EXPECT_EQ(state.ReadingValue, 4.0f);
    EXPECT_EQ(state.UnitText, "fc");
    EXPECT_EQ(sink.values, std::vector<std::string>{".4"});
    EXPECT_TRUE(state.RxDigits.empty());
    EXPECT_TRUE(state.RxMarks.empty());
}

TEST(SerialFramers, FrameSplitAnywhereIsAssembled) {
    struct Form {
        ReceiveHandler handler;
        Bytes bytes;
        std::string frameText;
        std::string digits;
        std::string value;
    };
    const Form forms[] = {
        {ReceiveHandler::H12BRData, frame12B(kLux1999), kLux1999, "1999", "19.99"},
        {ReceiveHandler::H24BRData, frame24B(kRow4321), "A" + kRow4321 + "D", "4321", "4321"},
    };
    for (const auto& f : forms) {
        const std::size_t n = f.bytes.size();
        // Three batches, cut at every pair of positions (empty batches included).
        for (std::size_t a = 0; a <= n; ++a) {
            for (std::size_t b = a; b <= n; ++b) {
                MeterState state = builtState(".");
                RecordingSink sink;
                Totals t;
                t.add(feed(f.handler, state, &sink, f.bytes, 0, a));
                EXPECT_EQ(t.ended, a == n ? 1 : 0);
                t.add(feed(f.handler, state, &sink, f.bytes, a, b));
                t.add(feed(f.handler, state, &sink, f.bytes, b, n));
                SCOPED_TRACE(f.frameText + " cut at " + std::to_string(a) + "," +
                             std::to_string(b));
                EXPECT_EQ(t.ended, 1);
                EXPECT_EQ(t.decoded, 1);
                EXPECT_EQ(state.FrameText, f.frameText);
                EXPECT_EQ(digitsOf(state), f.digits);
                EXPECT_EQ(state.ValueText, f.value);
            }
        }
    }
}

TEST(SerialFramers, LightMeterFramesAreRejectedUnlessTheMarksRunOneToE) {
    const Bytes good = frame12B(kLux1999);
    Bytes early = good; // byte 7 carries E: the frame ends there
    early[6] = 0xE7;
    Bytes swapped = good; // bytes 3 and 4 in the wrong order
    std::swap(swapped[2], swapped[3]);
    struct Case {
        const char* name;
        Bytes bytes;
        int ended;
        int decoded;
        std::string lastFrameText; // FrameText after the batch
    };
    const Case cases[] = {
        {"whole frame", good, 1, 1, kLux1999},
        {"stray byte before it", join({{0x05}, good}), 1, 0, "5" + kLux1999},
        {"stray byte, then a good frame", join({{0x05}, good, good}), 2, 1, kLux1999},
        {"stray byte with high nibble E ends a frame of its own", join({{0xE5}, good}), 2, 1,
         kLux1999},
        {"early end byte", early, 2, 0, "F060008"},
        {"early end byte, then a good frame", join({early, good}), 3, 1, kLux1999},
        {"marks out of order", swapped, 1, 0, "007DD7DF060008"},
        {"two frames in one batch", join({good, good}), 2, 2, kLux1999},
        {"no end byte: nothing ends", Bytes(good.begin(), good.end() - 1), 0, 0, ""},
        {"a lone end byte", {0xE0}, 1, 0, "0"},
    };
    for (const auto& c : cases) {
        MeterState state = builtState(".");
        RecordingSink sink;
        const auto r = H12BRData(state, &sink, c.bytes.data(), c.bytes.size());
        EXPECT_EQ(r.framesEnded, c.ended) << c.name;
        EXPECT_EQ(r.framesDecoded, c.decoded) << c.name;
        EXPECT_EQ(state.FrameText, c.lastFrameText) << c.name;
        EXPECT_EQ(sink.values.size(), static_cast<std::size_t>(c.decoded)) << c.name;
    }
}

TEST(SerialFramers, TwoRowFramesNeedAFirstAndAnEleventhD) {
    const Bytes good = frame24B(kRow4321);
    const Bytes shortFrame = frame24B(kRow4321.substr(0, 8)); // ten digits with the CR
    // Twelve data bytes: the length is not checked, only digits 1 and 11.
    const Bytes longWithD = frame24B("060C7E56CD12");
    const Bytes longWithoutD = frame24B("060C7E56C412");
    const Bytes midFrame(good.begin() + 4, good.end()); // the port opened mid-frame
    struct Case {
        const char* name;
        Bytes bytes;
        int ended;
        int decoded;
        std::string lastFrameText;
    };
    const Case cases[] = {
        {"whole frame", good, 1, 1, "A060C7E56CD"},
        {"short frame", shortFrame, 1, 0, "A060C7E56D"},
        {"long frame, D eleventh", longWithD, 1, 1, "A060C7E56CD12D"},
        {"long frame, no D eleventh", longWithoutD, 1, 0, "A060C7E56C412D"},
        {"first frame caught mid-way, then whole ones", join({midFrame, good}), 2, 1,
         "A060C7E56CD"},
        {"a lone CR", {0x0D}, 1, 0, "D"},
        {"0x?D bytes other than CR end nothing", {0x0A, 0x1D, 0x2D, 0xFD}, 0, 0, ""},
        {"stray byte after the LF", join({{0x0A, 0x99}, Bytes(good.begin() + 1, good.end())}), 1, 0,
         "A9060C7E56CD"},
    };
    for (const auto& c : cases) {
        MeterState state = builtState(".");
        const auto r = H24BRData(state, nullptr, c.bytes.data(), c.bytes.size());
        EXPECT_EQ(r.framesEnded, c.ended) << c.name;
        EXPECT_EQ(r.framesDecoded, c.decoded) << c.name;
        EXPECT_EQ(state.FrameText, c.lastFrameText) << c.name;
    }
}

TEST(SerialFramers, RejectedFrameChangesOnlyFrameTextAndTheAccumulators) {
    struct Case {
        ReceiveHandler handler;
        Bytes bytes;
    };
    for (const Case& c : {Case{ReceiveHandler::H12BRData, join({{0x42}, frame12B(kLux1999)})},
                          Case{ReceiveHandler::H24BRData, frame24B("0600")}}) {
        MeterState state = builtState(".");
        state.RxDigits = "1";
        state.RxMarks = "1";
        MeterState expected = state;
        const auto r = receiveSerial(c.handler, state, nullptr, c.bytes.data(), c.bytes.size());
        ASSERT_EQ(r.framesEnded, 1);
        expected.FrameText = state.FrameText;
        expected.RxDigits.clear();
        expected.RxMarks.clear();
        EXPECT_EQ(state, expected) << state.FrameText;
    }
}

TEST(SerialFramers, WithoutAFramerBytesAreDropped) {
    MeterState state = builtState(".");
    state.RxDigits = "12";
    state.RxMarks = "12";
    const MeterState before = state;
    const Bytes bytes = join({frame12B(kLux1999), frame24B(kRow4321)});
    const auto r = receiveSerial(ReceiveHandler::None, state, nullptr, bytes.data(), bytes.size());
    EXPECT_EQ(r.framesEnded, 0);
    EXPECT_EQ(state, before);
}

TEST(SerialFramers, NoiseNeverGrowsTheAccumulatorsBeyondTheirBound) {
    // 64 KiB of bytes that end no frame (no high nibble E, no CR), then two
    // good frames: the first joins the noise and is rejected, the second is
    // decoded, and nothing ever held more than the bound.
    struct Form {
        ReceiveHandler handler;
        Bytes good;
        bool (*endsFrame)(std::uint8_t);
    };
    const Form forms[] = {
        {ReceiveHandler::H12BRData, frame12B(kLux1999),
         [](std::uint8_t b) { return (b >> 4) == 0xE; }},
        {ReceiveHandler::H24BRData, frame24B(kRow4321), [](std::uint8_t b) { return b == 0x0D; }},
    };
    for (const auto& f : forms) {
        std::mt19937 rng(7);
        std::uniform_int_distribution<int> byte(0, 255);
        Bytes noise;
        while (noise.size() < 65536) {
            const auto b = static_cast<std::uint8_t>(byte(rng));
            // Not an end byte, and (for the two-row form) no A as a first digit.
            if (!f.endsFrame(b) && (noise.size() > 0 || (b & 0x0F) != 0xA))
                noise.push_back(b);
        }
        MeterState state = builtState(".");
        state.FrameText = "before";
        Totals t;
        std::uniform_int_distribution<std::size_t> batch(1, 3000);
        for (std::size_t at = 0; at < noise.size();) {
            const std::size_t end = std::min(noise.size(), at + batch(rng));
            t.add(feed(f.handler, state, nullptr, noise, at, end));
            at = end;
            ASSERT_LE(state.RxDigits.size(), kMaxSerialFrameDigits);
            ASSERT_EQ(state.RxMarks.size(), state.RxDigits.size());
        }
        EXPECT_EQ(t.ended, 0);
        EXPECT_EQ(state.FrameText, "before");
        t.add(feed(f.handler, state, nullptr, f.good, 0, f.good.size()));
        EXPECT_EQ(t.ended, 1);
        EXPECT_EQ(t.decoded, 0);
        EXPECT_EQ(state.FrameText.size(), kMaxSerialFrameDigits);
        // The first digits of the overlong frame are kept, the rest dropped.
        std::string firstDigits;
        for (std::size_t i = 0; i < kMaxSerialFrameDigits; ++i)
            firstDigits += "0123456789ABCDEF"[noise[i] & 0x0F];
        EXPECT_EQ(state.FrameText, firstDigits);
        t.add(feed(f.handler, state, nullptr, f.good, 0, f.good.size()));
        EXPECT_EQ(t.ended, 2);
        EXPECT_EQ(t.decoded, 1);
        EXPECT_TRUE(state.RxDigits.empty());
    }
}

TEST(SerialFramers, ALogStepThatThrowsCostsNoLaterFrame) {
    class FailingOnceSink : public kq::decode::ReadingSink {
    public:
        void INDataToTable(const MeterState& s) override {
            if (calls++ == 0)
                throw std::runtime_error("log is full");
            values.push_back(s.ValueText);
        }
        int calls = 0;
        std::vector<std::string> values;
    };
    MeterState state = builtState(".");
    FailingOnceSink sink;
    std::vector<Decoder> seen;
    // 19.99 and the worked example (.4), one batch.
    const Bytes bytes = join({frame12B(kLux1999), frame12B("12345678901234")});
    const auto r =
        H12BRData(state, &sink, bytes.data(), bytes.size(), [&](Decoder d) { seen.push_back(d); });
    EXPECT_EQ(r.framesDecoded, 2);
    EXPECT_EQ(r.decodeFailures, 1);
    EXPECT_EQ(r.firstFailure, "log is full");
    EXPECT_EQ(sink.values, std::vector<std::string>{".4"});
    EXPECT_EQ(seen, (std::vector<Decoder>{Decoder::D12B, Decoder::D12B}));
    EXPECT_TRUE(state.RxDigits.empty());
}

TEST(SerialFramers, EachFrameIsDecodedBeforeTheRestOfItsBatch) {
    MeterState state = builtState(".");
    std::vector<std::string> values;
    // 4 3 2 1, then 4 3 2 2, then the start of a third frame.
    const Bytes bytes = join({frame24B(kRow4321), frame24B("0C7C7E56C"), {0x0A, 0x31}});
    const auto r = H24BRData(state, nullptr, bytes.data(), bytes.size(),
                             [&](Decoder) { values.push_back(state.ValueText); });
    EXPECT_EQ(r.framesDecoded, 2);
    EXPECT_EQ(values, (std::vector<std::string>{"4321", "4322"}));
    EXPECT_EQ(state.RxDigits, "A1");
    EXPECT_EQ(state.RxMarks, "03");
}
