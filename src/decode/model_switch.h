#pragma once

#include "decode/meter_state.h"

#include <array>
#include <bitset>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace kq::decode {

// The model switches a build can set, in the order start-up applies them.
enum class ModelSwitch : std::uint8_t {
    IFKQ12E,
    ifkq510,
    KQ530,
    IFKQ24B,
    IFKQ12D,
    IFKQ810,
    IFRV4400,
    IFKQ13C,
    Count
};

inline constexpr std::size_t kModelSwitchCount = static_cast<std::size_t>(ModelSwitch::Count);

inline constexpr std::array<std::string_view, kModelSwitchCount> kModelSwitchNames = {
    "IFKQ12E", "ifkq510", "KQ530", "IFKQ24B", "IFKQ12D", "IFKQ810", "IFRV4400", "IFKQ13C"};

// Which switches are checked.
class ModelSwitchSet {
public:
    constexpr bool isChecked(ModelSwitch s) const {
        return (m_bits >> static_cast<unsigned>(s) & 1u) != 0;
    }
    constexpr void setChecked(ModelSwitch s, bool on) {
        const auto bit = static_cast<std::uint8_t>(1u << static_cast<unsigned>(s));
        m_bits = static_cast<std::uint8_t>(on ? (m_bits | bit) : (m_bits & ~bit));
    }
    constexpr bool operator==(const ModelSwitchSet&) const = default;

private:
    std::uint8_t m_bits = 0;
};

// Result of reading a switch list such as "ifkq510" or "IFKQ12E;KQ530": names are
// separated by ';' (or ','), blanks around them and empty items are ignored, and
// case does not matter. An unknown name makes the whole list invalid.
struct ModelSwitchParse {
    ModelSwitchSet set;
    bool ok = true;
    std::string_view unknown; // the first name that is no switch
};

constexpr bool equalsIgnoringCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size())
        return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        const auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c; };
        if (lower(a[i]) != lower(b[i]))
            return false;
    }
    return true;
}

constexpr ModelSwitchParse parseModelSwitches(std::string_view list) {
    ModelSwitchParse result;
    while (!list.empty()) {
        const std::size_t end = list.find_first_of(";,");
        std::string_view item = list.substr(0, end);
        list = end == std::string_view::npos ? std::string_view{} : list.substr(end + 1);
        while (!item.empty() && (item.front() == ' ' || item.front() == '\t'))
            item.remove_prefix(1);
        while (!item.empty() && (item.back() == ' ' || item.back() == '\t'))
            item.remove_suffix(1);
        if (item.empty())
            continue;
        bool found = false;
        for (std::size_t i = 0; i < kModelSwitchCount; ++i) {
            if (equalsIgnoringCase(item, kModelSwitchNames[i])) {
                result.set.setChecked(static_cast<ModelSwitch>(i), true);
                found = true;
            }
        }
        if (!found && result.ok) {
            result.ok = false;
            result.unknown = item;
        }
    }
    return result;
}

// The switches this program was built with (KQ_MODEL_SWITCHES); a list with an
// unknown name does not build.
ModelSwitchSet builtModelSwitches();

// The serial framer start-up installs as the serial component's receive handler.
enum class ReceiveHandler { None, H12BRData, H24BRData };

struct StartupResult {
    std::string title;                             // the window's caption
    ReceiveHandler handler = ReceiveHandler::None; // none: bytes from the port are dropped
    int serialSpeed = 2400;                        // bit/s of the serial component
};

// The start-up sequence of the window over the decoding state: the design state of
// every widget and value, the default range, the switches in table order, then the
// range table. `state` is replaced as a whole. The separator is cut to 10 characters.
StartupResult applyStartup(MeterState& state, const ModelSwitchSet& switches,
                           std::string localeDecimalSeparator);

} // namespace kq::decode
