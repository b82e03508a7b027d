// Feeds arbitrary input report sequences through the report-ID normalisation,
// the frame assembly and the decoders on one state, and checks the assembly
// against a literal model that keeps every payload byte.
// Input: one byte of flags (model switch, numbered reports), then reports,
// each a length byte followed by that many bytes as the platform delivers them.
#include "decode/frame_select.h"
#include "decode/meter_state.h"
#include "decode/model_switch.h"
#include "decode/reading_sink.h"
#include "links/hid_link.h"
#include "links/hid_report_ids.h"

#include <array>
#include <cstdlib>
#include <string>

namespace {

class CountingSink final : public kq::decode::ReadingSink {
public:
    void INDataToTable(const kq::decode::MeterState&) override { ++count; }
    int count = 0;
};

bool isHexText(const std::string& s) {
    for (char c : s) {
        if (!((c >= '0' && c <= '9') || (c >= 'A' && c <= 'F')))
            return false;
    }
    return true;
}

// The assembly as written down: every payload byte kept until the frame ends.
struct LiteralModel {
    std::string rx;
    bool open = false;
    std::string frame;

    void report(const std::uint8_t* data, std::size_t size) {
        static constexpr char kHex[] = "0123456789ABCDEF";
        if (size == 0) {
            end();
            return;
        }
        const int n = data[0] & 0x0F;
        if (n >= 1 && n <= 9) {
            open = true;
            for (int k = 1; k <= n && static_cast<std::size_t>(k) < size; ++k) {
                rx += kHex[data[k] >> 4];
                rx += kHex[data[k] & 0x0F];
            }
            return;
        }
        end();
    }
    void end() {
        if (open) {
            frame.clear();
            for (std::size_t k = 1; k < rx.size() && frame.size() < 32; k += 2)
                frame += rx[k];
            rx.clear();
        }
        open = false;
    }
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const unsigned char* data, std::size_t size) {
    using namespace kq;
    if (size == 0)
        return 0;
    decode::ModelSwitchSet switches;
    switches.setChecked(static_cast<decode::ModelSwitch>(data[0] % decode::kModelSwitchCount),
                        true);
    const bool numbered = (data[0] & 0x80) != 0;
    decode::MeterState state;
    decode::applyStartup(state, switches, ".");
    links::HidLinkState link;
    LiteralModel model;
    CountingSink sink;
    // As big as the read thread's buffer for a 64-byte report.
    std::array<std::uint8_t, 65> report{};

    std::size_t at = 1;
    while (at < size) {
        const std::size_t length = std::min<std::size_t>(data[at], size - at - 1);
        const std::uint8_t* raw = data + at + 1;
        at += 1 + length;
        const std::size_t n =
            links::normaliseInputReport(raw, length, numbered, report.data(), report.size());
        if (n == 0)
            continue; // nothing was read: no report reaches the handler
        if (n > report.size() || (!numbered && n != std::min<std::size_t>(length + 1, 65)))
            std::abort();
        const std::uint8_t id = n > 0 ? report[0] : 0;
        const std::uint8_t* payload = n > 0 ? report.data() + 1 : nullptr;
        const std::size_t payloadSize = n > 0 ? n - 1 : 0;

        links::HidReportResult result;
        try {
            result = links::HidDeviceData(state, link, &sink, id, payload, payloadSize);
        } catch (...) {
            std::abort(); // the sink never throws: nothing else may
        }
        model.report(payload, payloadSize);

        if (result.historyLine.size() != 6 + 3 * payloadSize)
            std::abort();
        if (link.HidRxText.size() > 2 * links::kHidFrameBytes || link.HidRxText.size() % 2 != 0 ||
            !isHexText(link.HidRxText) || link.HidFrameOpen != model.open)
            std::abort();
        if (result.frameEnded) {
            if (state.FrameText != model.frame || !isHexText(state.FrameText) ||
                result.decoder != decode::selectHid(state.FrameText))
                std::abort();
        }
        if (state.HidStallCount < 0)
            std::abort();
    }
    return 0;
}
