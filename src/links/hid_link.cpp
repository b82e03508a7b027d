#include "links/hid_link.h"

#include "decode/meter_decoders.h"
#include "decode/meter_state.h"
#include "links/hid_backend.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <exception>

namespace kq::links {

namespace {

constexpr char kHex[] = "0123456789ABCDEF";

void appendHex(std::string& out, std::uint8_t byte) {
    out += kHex[byte >> 4];
    out += kHex[byte & 0x0F];
}

void appendUtf8(std::string& out, std::wstring_view text) {
    for (wchar_t wc : text) {
        auto c = static_cast<std::uint32_t>(wc);
        if (c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF))
            c = 0xFFFD; // a device string is untrusted: no invalid UTF-8 out of it
        if (c < 0x80) {
            out += static_cast<char>(c);
        } else if (c < 0x800) {
            out += static_cast<char>(0xC0 | (c >> 6));
            out += static_cast<char>(0x80 | (c & 0x3F));
        } else if (c < 0x10000) {
            out += static_cast<char>(0xE0 | (c >> 12));
            out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (c & 0x3F));
        } else {
            out += static_cast<char>(0xF0 | (c >> 18));
            out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
            out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (c & 0x3F));
        }
    }
}

} // namespace

HidReportResult HidDeviceData(decode::MeterState& state, HidLinkState& link,
                              decode::ReadingSink* sink, std::uint8_t reportId,
                              const std::uint8_t* data, std::size_t size) {
    HidReportResult result;
    if (!data)
        size = 0;
    std::string& line = result.historyLine;
    line.reserve(4 + 3 * size);
    line += "R ";
    appendHex(line, reportId);
    line += "  ";
    for (std::size_t k = 0; k < size; ++k) {
        appendHex(line, data[k]);
        line += ' ';
    }

    const int count = size > 0 ? (data[0] & 0x0F) : -1;
    if (count >= 0 && state.HidStallCount < INT_MAX)
        ++state.HidStallCount;

    if (count >= 1 && count <= 9) {
        state.HidStallCount = 0;
        link.HidFrameOpen = true;
        result.payload = true;
        // A count beyond the report's end takes the bytes that are there.
        const std::size_t present =
            std::min<std::size_t>(static_cast<std::size_t>(count), size - 1);
        for (std::size_t k = 1; k <= present; ++k) {
            if (link.HidRxText.size() >= 2 * kHidFrameBytes)
                break;
            appendHex(link.HidRxText, data[k]);
        }
        return result;
    }

    std::exception_ptr failure;
    if (link.HidFrameOpen) {
        std::string frame;
        for (std::size_t k = 1; k < link.HidRxText.size() && frame.size() < kHidFrameBytes; k += 2)
            frame += link.HidRxText[k]; // the low digit of each byte
        state.FrameText = std::move(frame);
        result.frameEnded = true;
        result.decoder = decode::selectHid(state.FrameText);
        try {
            decode::dispatch(state, sink, result.decoder);
        } catch (...) {
            failure = std::current_exception();
        }
        link.HidRxText.clear();
    }
    link.HidFrameOpen = false;
    if (failure)
        std::rethrow_exception(failure);
    return result;
}

std::uint32_t hidBitRate(const decode::ModelSwitchSet& switches) {
    using decode::ModelSwitch;
    std::uint32_t rate = 2400;
    // The last switch that is on decides, in this order.
    const std::pair<ModelSwitch, std::uint32_t> order[] = {{ModelSwitch::IFKQ810, 19200},
                                                           {ModelSwitch::ifkq510, 19200},
                                                           {ModelSwitch::IFKQ12E, 19200},
                                                           {ModelSwitch::IFKQ24B, 2400},
                                                           {ModelSwitch::IFKQ13C, 2400}};
    for (const auto& [which, value] : order) {
        if (switches.isChecked(which))
            rate = value;
    }
    return rate;
}

HidFeatureReport hidFeatureReport(const decode::ModelSwitchSet& switches) {
    const std::uint32_t rate = hidBitRate(switches);
    return {0x00,
            static_cast<std::uint8_t>(rate & 0xFF),
            static_cast<std::uint8_t>((rate >> 8) & 0xFF),
            static_cast<std::uint8_t>((rate >> 16) & 0xFF),
            static_cast<std::uint8_t>((rate >> 24) & 0xFF),
            0x03,
            0x00,
            0x00,
            0x00,
            0x00};
}

std::string featureHistoryLine(const HidFeatureReport& report) {
    std::string line;
    for (std::size_t k = 1; k < report.size(); ++k) {
        appendHex(line, report[k]);
        line += ' ';
    }
    return line;
}

bool hidReadingEnabled(const decode::ModelSwitchSet& switches) {
    using decode::ModelSwitch;
    return switches.isChecked(ModelSwitch::IFKQ24B) || switches.isChecked(ModelSwitch::ifkq510) ||
           switches.isChecked(ModelSwitch::IFKQ12E);
}

std::string HidDeviceDescription(const std::wstring& productName, std::uint16_t vendorId,
                                 std::uint16_t productId, const std::wstring& serialNumber) {
    std::string out;
    if (!productName.empty()) {
        appendUtf8(out, productName);
    } else {
        char buf[40];
        std::snprintf(buf, sizeof buf, "Device VID=%.4X PID=%.4X", unsigned{vendorId},
                      unsigned{productId});
        out = buf;
    }
    if (!serialNumber.empty()) {
        out += " (Serial=";
        appendUtf8(out, serialNumber);
        out += ')';
    }
    return out;
}

int lastBridgeIndex(const std::vector<std::string>& descriptions) {
    for (std::size_t k = descriptions.size(); k-- > 0;) {
        if (descriptions[k] == kHidBridgeName)
            return static_cast<int>(k);
    }
    return -1;
}

std::string readErrorLine(std::uint32_t error) {
    char text[256] = {};
    const char* message = strerror_r(static_cast<int>(error), text, sizeof text);
    char line[400];
    std::snprintf(line, sizeof line, "READ ERROR: %s (%X)", message ? message : "", error);
    return line;
}

} // namespace kq::links
