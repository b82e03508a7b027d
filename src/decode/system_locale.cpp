#include "decode/system_locale.h"

#include <cstring>
#include <langinfo.h>
#include <locale.h>
#include <optional>
#include <vector>

namespace kq::decode {
namespace {

constexpr std::size_t kMaxSeparatorLength = 10;
constexpr std::string_view kCDecimalSeparator = ".";
constexpr std::string_view kCTimeSeparator = ":";

// A locale object for one category from the environment, freed on scope exit.
class EnvironmentLocale {
public:
    explicit EnvironmentLocale(int mask)
        : m_locale(newlocale(mask, "", static_cast<locale_t>(nullptr))) {}
    ~EnvironmentLocale() {
        if (m_locale != static_cast<locale_t>(nullptr))
            freelocale(m_locale);
    }
    EnvironmentLocale(const EnvironmentLocale&) = delete;
    EnvironmentLocale& operator=(const EnvironmentLocale&) = delete;

    // The item's text, or nothing when the locale could not be loaded.
    std::optional<std::string_view> item(nl_item what) const {
        if (m_locale == static_cast<locale_t>(nullptr))
            return std::nullopt;
        const char* text = nl_langinfo_l(what, m_locale);
        if (text == nullptr)
            return std::nullopt;
        return std::string_view(text);
    }

private:
    locale_t m_locale;
};

std::string cut(std::string_view text) {
    return std::string(text.substr(0, kMaxSeparatorLength));
}

// One piece of a time format: a conversion ("%H", "%-M", "%OS") or literal text.
struct Piece {
    bool conversion = false;
    char letter = '\0'; // the conversion's letter
    std::string text;   // the literal text
};

void split(std::string_view format, std::string_view ampmFormat, int depth,
           std::vector<Piece>& out) {
    std::size_t i = 0;
    while (i < format.size()) {
        if (format[i] != '%' || i + 1 == format.size()) {
            if (out.empty() || out.back().conversion)
                out.push_back({});
            out.back().text.push_back(format[i++]);
            continue;
        }
        std::size_t j = i + 1;
        // flags, width and the E/O modifiers sit between '%' and the letter
        while (j < format.size() && std::strchr("_-0^#EO123456789", format[j]) != nullptr)
            ++j;
        if (j == format.size())
            break;
        const char letter = format[j];
        i = j + 1;
        if (letter == '%') {
            if (out.empty() || out.back().conversion)
                out.push_back({});
            out.back().text.push_back('%');
        } else if (letter == 'T' && depth < 2) {
            split("%H:%M:%S", ampmFormat, depth + 1, out);
        } else if (letter == 'R' && depth < 2) {
            split("%H:%M", ampmFormat, depth + 1, out);
        } else if (letter == 'r' && depth < 2) {
            split(ampmFormat, ampmFormat, depth + 1, out);
        } else {
            out.push_back({true, letter, {}});
        }
    }
}

bool isHour(char c) {
    return c == 'H' || c == 'I' || c == 'k' || c == 'l';
}

} // namespace

std::string timeSeparatorOfFormat(std::string_view format, std::string_view ampmFormat) {
    std::vector<Piece> pieces;
    split(format, ampmFormat, 0, pieces);
    for (std::size_t k = 0; k + 4 < pieces.size(); ++k) {
        const Piece* p = &pieces[k];
        if (!p[0].conversion || !isHour(p[0].letter) || p[1].conversion || !p[2].conversion ||
            p[2].letter != 'M' || p[3].conversion || !p[4].conversion || p[4].letter != 'S')
            continue;
        if (p[1].text.empty() || p[1].text != p[3].text)
            return {};
        return p[1].text;
    }
    return {};
}

std::string systemDecimalSeparator() {
    const EnvironmentLocale locale(LC_NUMERIC_MASK);
    const auto radix = locale.item(RADIXCHAR);
    if (!radix || radix->empty())
        return std::string(kCDecimalSeparator);
    return cut(*radix);
}

std::string systemTimeSeparator() {
    const EnvironmentLocale locale(LC_TIME_MASK);
    const auto format = locale.item(T_FMT);
    const auto ampm = locale.item(T_FMT_AMPM);
    if (!format)
        return std::string(kCTimeSeparator);
    const std::string separator = timeSeparatorOfFormat(*format, ampm.value_or(""));
    return separator.empty() ? std::string(kCTimeSeparator) : cut(separator);
}

} // namespace kq::decode
