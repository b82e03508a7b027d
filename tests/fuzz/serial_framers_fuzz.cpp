// Feeds arbitrary byte streams to both serial framers, cut into batches at
// places the input chooses, on one meter state. Checks that the collected
// digits stay bounded, that a frame ends at every end byte, and that each
// frame is judged and stored as the plain unbounded rule would: valid 12B
// frames have marks exactly 1..E, valid 24B frames digit 1 "A" and digit 11
// "D". The first byte picks the framer and the separator, the second the
// batch sizes.
#include "decode/meter_state.h"
#include "decode/model_switch.h"
#include "decode/reading_sink.h"
#include "links/serial_framers.h"

#include <cstdlib>
#include <string>
#include <string_view>

namespace {

constexpr char kHex[] = "0123456789ABCDEF";

class CountingSink final : public kq::decode::ReadingSink {
public:
    void INDataToTable(const kq::decode::MeterState&) override { ++count; }
    int count = 0;
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const unsigned char* data, std::size_t size) {
    using namespace kq;
    if (size < 2)
        return 0;
    const bool twoRow = (data[0] & 1) != 0;
    const decode::ReceiveHandler handler =
        twoRow ? decode::ReceiveHandler::H24BRData : decode::ReceiveHandler::H12BRData;
    decode::ModelSwitchSet switches;
    switches.setChecked(twoRow ? decode::ModelSwitch::IFKQ810 : decode::ModelSwitch::ifkq510, true);
    decode::MeterState state;
    decode::applyStartup(state, switches, (data[0] & 2) ? "," : ".");
    const std::size_t batchBase = 1 + data[1] % 64;
    const unsigned char* bytes = data + 2;
    const std::size_t n = size - 2;

    // The rule written out plainly, with unbounded texts.
    std::string refDigits, refMarks, refFrame;
    int refEnded = 0, refValid = 0;
    bool refFrameValid = false;
    for (std::size_t i = 0; i < n; ++i) {
        refDigits += kHex[bytes[i] & 0x0F];
        refMarks += kHex[bytes[i] >> 4];
        const bool end = twoRow ? bytes[i] == 0x0D : (bytes[i] >> 4) == 0xE;
        if (!end)
            continue;
        refFrameValid =
            twoRow ? (refDigits.size() >= 11 && refDigits[0] == 'A' && refDigits[10] == 'D')
                   : refMarks == "123456789ABCDE";
        refFrame = refDigits;
        ++refEnded;
        refValid += refFrameValid;
        refDigits.clear();
        refMarks.clear();
    }

    CountingSink sink;
    int ended = 0, decoded = 0;
    for (std::size_t at = 0, k = 0; at < n; ++k) {
        const std::size_t len = std::min(n - at, batchBase + (k * 7) % batchBase);
        const auto r = links::receiveSerial(handler, state, &sink, bytes + at, len);
        ended += r.framesEnded;
        decoded += r.framesDecoded;
        at += len;
        if (state.RxDigits.size() > links::kMaxSerialFrameDigits ||
            state.RxMarks.size() != state.RxDigits.size() ||
            state.FrameText.size() > links::kMaxSerialFrameDigits)
            std::abort();
    }
    if (ended != refEnded || decoded != refValid)
        std::abort();
    if (refEnded > 0 && state.FrameText != refFrame.substr(0, links::kMaxSerialFrameDigits))
        std::abort();
    if (state.RxDigits != refDigits.substr(0, links::kMaxSerialFrameDigits))
        std::abort();
    // Only the light-meter family logs, and only decoded frames can.
    if (sink.count > decoded || (twoRow && sink.count != 0))
        std::abort();
    return 0;
}
