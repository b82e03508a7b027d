// Feeds arbitrary frame texts to the decoders, frame after frame on one state, and
// checks each against the literal text algorithm; then renders the state as a JSON
// line. The first byte picks the separator, the rest is frames, one per line.
#include "../reference/lcd_reference.h"
#include "decode/display_json.h"
#include "decode/frame_select.h"
#include "decode/json_line.h"
#include "decode/meter_decoders.h"
#include "decode/model_switch.h"
#include "decode/number_text.h"

#include <array>
#include <cstdlib>
#include <string>
#include <string_view>

namespace {

class CountingSink final : public kq::decode::ReadingSink {
public:
    void INDataToTable(const kq::decode::MeterState&) override { ++count; }
    int count = 0;
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const unsigned char* data, std::size_t size) {
    using namespace kq::decode;
    if (size == 0)
        return 0;
    static constexpr std::array<std::string_view, 4> separators = {".", ",", "", "<sep>"};
    std::string_view input(reinterpret_cast<const char*>(data) + 1, size - 1);

    ModelSwitchSet switches;
    switches.setChecked(static_cast<ModelSwitch>(data[0] % kModelSwitchCount), true);
    MeterState fast;
    applyStartup(fast, switches, std::string(separators[(data[0] >> 3) % separators.size()]));
    MeterState slow = fast;
    CountingSink fastSink, slowSink;

    while (!input.empty()) {
        const std::size_t end = input.find('\n');
        const std::string_view frame = input.substr(0, end);
        input = end == std::string_view::npos ? std::string_view{} : input.substr(end + 1);

        fast.FrameText = slow.FrameText = std::string(frame);
        const bool twoRow = selectUsb(frame) == Decoder::D24B || (frame.size() % 2) == 1;
        const DecodeStatus a = twoRow ? LcdDisplay24B(fast) : LcdDisplay12B(fast, &fastSink);
        const DecodeStatus b = twoRow ? kq::reference::referenceLcdDisplay24B(slow)
                                      : kq::reference::referenceLcdDisplay12B(slow, &slowSink);
        if (a.kind != b.kind || a.badCharacter != b.badCharacter || !(fast == slow) ||
            fastSink.count != slowSink.count)
            std::abort();

        // the other selections and the fixed display must not disturb anything either
        dispatch(fast, &fastSink, selectHid(frame));
        slow = fast;
        slowSink.count = fastSink.count;

        (void)textToNumber(frame, fast.LocaleDecimalSeparator);
        (void)textToInt32(frame);
        JsonLine line;
        appendDisplayMembers(line, fast, frame, selectHid(frame));
        if (line.text().find('\n') != std::string::npos)
            std::abort();
    }
    return 0;
}
