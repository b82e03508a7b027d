#pragma once

#include "decode/frame_select.h"
#include "decode/model_switch.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace kq::decode {
struct MeterState;
class ReadingSink;
} // namespace kq::decode

namespace kq::links {

// The frame assembly state between reports.
struct HidLinkState {
    // Two hex digits per payload byte since the last frame end. Only the first
    // 32 bytes ever reach a frame, so no more are kept.
    std::string HidRxText;
    bool HidFrameOpen = false;
};

struct HidReportResult {
    // "R <id>  <bytes>"; the history list shows it for payload reports only.
    std::string historyLine;
    bool payload = false;
    bool frameEnded = false; // FrameText was replaced
    decode::Decoder decoder = decode::Decoder::None;
};

// The bytes of a full frame: one hex digit of FrameText per byte.
inline constexpr std::size_t kHidFrameBytes = 32;

// One input report into the frame assembly: counts HidStallCount, collects
// payload, and at a frame end stores FrameText and runs the decoder its
// content selects. Exceptions of the decoders (a log that cannot take a
// reading) pass on after the assembly state is consistent again.
HidReportResult HidDeviceData(decode::MeterState& state, HidLinkState& link,
                              decode::ReadingSink* sink, std::uint8_t reportId,
                              const std::uint8_t* data, std::size_t size);

// The ten-byte feature report that sets the bridge's bit rate, report ID first.
using HidFeatureReport = std::array<std::uint8_t, 10>;
std::uint32_t hidBitRate(const decode::ModelSwitchSet& switches);
HidFeatureReport hidFeatureReport(const decode::ModelSwitchSet& switches);
// Bytes 1 to 9, each as two hex digits and a blank.
std::string featureHistoryLine(const HidFeatureReport& report);

// Whether the build's model reads from a HID cable at all.
bool hidReadingEnabled(const decode::ModelSwitchSet& switches);

// The text a device is listed with (UTF-8).
std::string HidDeviceDescription(const std::wstring& productName, std::uint16_t vendorId,
                                 std::uint16_t productId, const std::wstring& serialNumber);

inline constexpr std::string_view kHidBridgeName = "USB to Serial";
// Index of the last entry that is exactly the bridge's name, or -1.
int lastBridgeIndex(const std::vector<std::string>& descriptions);

// "READ ERROR: <system message> (<code in hex>)".
std::string readErrorLine(std::uint32_t error);

inline constexpr std::string_view kHidNotConnectedText =
    "USB interface cable is not securely connected, please check and re-try.";
inline constexpr std::string_view kHidStalledText =
    "USB interface cable is connected properly, please check the USB connection status of "
    "the DMM.";
inline constexpr std::string_view kNoHidrawText =
    "This system offers no HID device nodes (/sys/class/hidraw is missing): a HID cable cannot "
    "be reached. Load the hidraw kernel module.";

} // namespace kq::links
