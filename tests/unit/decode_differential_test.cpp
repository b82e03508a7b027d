// The fast decoders against the literal text algorithm, frame after frame, on the
// whole state: glass, reading, MIN/MAX, judgement, log calls, bar graph.

#include "../reference/lcd_reference.h"
#include "decode/meter_decoders.h"
#include "decode_support.h"

#include <gtest/gtest.h>

#include <array>
#include <random>
#include <string>
#include <vector>

namespace kq::decode {
namespace {

constexpr char kHex[] = "0123456789ABCDEF";

// Light-meter digit patterns as frame position pairs, point clear and set.
const std::vector<std::string> k12BPatterns = {"B7", "BF", "06", "0E", "E5", "ED", "C7", "CF",
                                               "56", "5E", "D3", "DB", "F3", "FB", "07", "0F",
                                               "F7", "FF", "D7", "DF", "B0", "B8"};

// Two-row segment codes (a b c f g e d).
const std::vector<std::string> k24BCodes = {"1111011", "0110000", "1100111", "1110101", "0111100",
                                            "1011101", "1011111", "1110000", "1111111", "1111101",
                                            "0001011", "0011111", "0111011", "0000000"};

class FrameMaker {
public:
    explicit FrameMaker(std::uint32_t seed) : m_random(seed) {}

    int below(int n) { return std::uniform_int_distribution<int>(0, n - 1)(m_random); }
    char hexDigit() { return kHex[below(16)]; }

    std::string randomHex(std::size_t length) {
        std::string frame;
        for (std::size_t i = 0; i < length; ++i)
            frame.push_back(hexDigit());
        return frame;
    }

    // Digits the decoder recognises most of the time, annunciators at random.
    std::string lightMeterFrame() {
        std::string frame = randomHex(32);
        for (int position : {3, 5, 7, 9}) {
            if (below(5) != 0) {
                const std::string& p = k12BPatterns[static_cast<std::size_t>(
                    below(static_cast<int>(k12BPatterns.size())))];
                frame.replace(static_cast<std::size_t>(position - 1), 2, p);
            }
        }
        // overload now and then: L in the third digit after a 0
        if (below(10) == 0)
            frame.replace(4, 4, below(2) ? "B0B7" : "B8BF");
        // few units at a time, so MIN/MAX runs long enough to matter
        if (below(4) != 0)
            frame[18] = "8421"[below(4)];
        frame[30] = 'D';
        frame[31] = 'A';
        return frame;
    }

    std::string twoRowFrame() {
        std::string frame = randomHex(32);
        for (int position = 3; position <= 17; position += 2) {
            if (below(6) == 0)
                continue;
            const std::string& code =
                k24BCodes[static_cast<std::size_t>(below(static_cast<int>(k24BCodes.size())))];
            const auto b = [&](std::size_t i) { return code[i] == '1' ? 1 : 0; };
            const int first = b(0) << 3 | b(1) << 2 | b(2) << 1 | below(2);
            const int second = b(3) << 3 | b(4) << 2 | b(5) << 1 | b(6);
            frame[static_cast<std::size_t>(position - 1)] = kHex[first];
            frame[static_cast<std::size_t>(position)] = kHex[second];
        }
        if (below(3) != 0) {
            // a quiet annunciator field with one unit or none
            frame.replace(18, 11, std::string(11, '0'));
            if (below(4) != 0) {
                const int bit = 102 + below(11);
                frame[static_cast<std::size_t>((bit - 1) / 4)] = kHex[8 >> ((bit - 1) % 4)];
            }
            if (below(3) == 0)
                frame[21] = '2'; // minus sign, bit 87
        }
        return frame;
    }

    std::string shortFrame() { return randomHex(static_cast<std::size_t>(below(32))); }

    std::string corrupted(std::string frame) {
        const std::size_t at = static_cast<std::size_t>(below(static_cast<int>(frame.size()) + 8));
        const char c = static_cast<char>(below(256));
        if (at < frame.size())
            frame[at] = c;
        else
            frame.push_back(c);
        return frame;
    }

    std::string limitText() {
        static const std::array<const char*, 10> texts = {"2000",  "-2000", "100",     "abc", "",
                                                          "19.99", "19,99", "-999999", "1e3", "0"};
        return texts[static_cast<std::size_t>(below(static_cast<int>(texts.size())))];
    }

private:
    std::mt19937 m_random;
};

struct DifferentialRun {
    std::string separator;
    ModelSwitch model;
};

TEST(DecoderDifferential, FastDecodersMatchTheTextAlgorithmOnRandomFrames) {
    const std::vector<DifferentialRun> runs = {{".", ModelSwitch::ifkq510},
                                               {",", ModelSwitch::IFKQ13C},
                                               {"", ModelSwitch::IFKQ12E},
                                               {"dec", ModelSwitch::IFKQ12D}};
    constexpr int kFramesPerRun = 30000;
    int frames = 0;
    int readings12B = 0;
    int readings24B = 0;
    int badFrames = 0;
    for (std::size_t r = 0; r < runs.size(); ++r) {
        FrameMaker maker(static_cast<std::uint32_t>(7919 * (r + 1)));
        ModelSwitchSet switches;
        switches.setChecked(runs[r].model, true);
        MeterState fast;
        applyStartup(fast, switches, runs[r].separator);
        MeterState slow = fast;
        test::RecordingSink fastSink;
        test::RecordingSink slowSink;

        for (int i = 0; i < kFramesPerRun; ++i) {
            std::string frame;
            bool twoRow = false;
            switch (maker.below(8)) {
            case 0:
                frame = maker.randomHex(32);
                twoRow = maker.below(2) != 0;
                break;
            case 1:
            case 2:
                frame = maker.twoRowFrame();
                twoRow = true;
                break;
            case 3:
                frame = maker.shortFrame();
                twoRow = maker.below(2) != 0;
                break;
            default:
                frame = maker.lightMeterFrame();
                break;
            }
            if (maker.below(40) == 0)
                frame = maker.corrupted(frame);
            if (maker.below(50) == 0) {
                fast.T1HI = slow.T1HI = maker.limitText();
                fast.T1LO = slow.T1LO = maker.limitText();
            }
            fast.FrameText = slow.FrameText = frame;

            const DecodeStatus a = twoRow ? LcdDisplay24B(fast) : LcdDisplay12B(fast, &fastSink);
            const DecodeStatus b = twoRow ? reference::referenceLcdDisplay24B(slow)
                                          : reference::referenceLcdDisplay12B(slow, &slowSink);
            ++frames;
            if (a.kind == DecodeStatus::Kind::Reading)
                ++(twoRow ? readings24B : readings12B);
            if (a.kind == DecodeStatus::Kind::BadCharacter)
                ++badFrames;
            ASSERT_EQ(a.kind, b.kind) << "frame '" << frame << "' run " << r << " #" << i;
            ASSERT_EQ(a.badCharacter, b.badCharacter) << "frame '" << frame << "'";
            ASSERT_TRUE(fast == slow)
                << "frame '" << frame << "' (" << (twoRow ? "24B" : "12B") << ") run " << r << " #"
                << i << ": ValueText '" << fast.ValueText << "' vs '" << slow.ValueText << "'";
            ASSERT_EQ(fastSink.values.size(), slowSink.values.size()) << "frame '" << frame << "'";
        }
        EXPECT_EQ(fastSink.values, slowSink.values);
    }
    // The mix must exercise every path, or the comparison proves little.
    EXPECT_GE(frames, 100000);
    EXPECT_GT(readings12B, 20000);
    EXPECT_GT(readings24B, 5000);
    EXPECT_GT(badFrames, 1000);
}

// The reference builds its patterns from the segments each glyph lights; they
// must come out as the meters' pattern tables give them, character for character.
TEST(DecoderDifferential, ReferenceGlyphsGiveTheMetersPatterns) {
    struct Pattern12 {
        const char* text;
        const char* pointClear;
        const char* pointSet;
    };
    const Pattern12 light[] = {
        {"0", "10110111", "10111111"}, {"1", "00000110", "00001110"}, {"2", "11100101", "11101101"},
        {"3", "11000111", "11001111"}, {"4", "01010110", "01011110"}, {"5", "11010011", "11011011"},
        {"6", "11110011", "11111011"}, {"7", "00000111", "00001111"}, {"8", "11110111", "11111111"},
        {"9", "11010111", "11011111"}, {"@", "10110000", "10111000"}};
    const auto& glyphs = reference::glyphs12();
    ASSERT_EQ(glyphs.size(), std::size(light));
    for (std::size_t i = 0; i < glyphs.size(); ++i) {
        SCOPED_TRACE(light[i].text);
        EXPECT_EQ(glyphs[i].text, light[i].text);
        EXPECT_EQ(reference::pattern12(glyphs[i], false), light[i].pointClear);
        EXPECT_EQ(reference::pattern12(glyphs[i], true), light[i].pointSet);
    }

    struct Code24 {
        const char* segments;
        const char* code;
    };
    const Code24 twoRow[] = {{"abcdef", "1111011"}, {"bc", "0110000"},   {"abged", "1100111"},
                             {"abcgd", "1110101"},  {"bcfg", "0111100"}, {"acdfg", "1011101"},
                             {"acdefg", "1011111"}, {"abc", "1110000"},  {"abcdefg", "1111111"},
                             {"abcdfg", "1111101"}, {"def", "0001011"},  {"cdefg", "0011111"},
                             {"bcdef", "0111011"},  {"", "0000000"}};
    for (const auto& c : twoRow)
        EXPECT_EQ(reference::segmentCode24(c.segments), c.code) << c.segments;
}

} // namespace
} // namespace kq::decode
