#include "decode/json_line.h"

#include <charconv>
#include <cmath>

namespace kq::decode {
namespace {

constexpr char kHex[] = "0123456789abcdef";

// Length of the valid UTF-8 sequence at the start of `s`, or 0.
std::size_t utf8SequenceLength(std::string_view s) {
    const auto b = [&](std::size_t i) { return static_cast<unsigned char>(s[i]); };
    const auto continuation = [&](std::size_t i) { return i < s.size() && (b(i) & 0xC0) == 0x80; };
    const unsigned char lead = b(0);
    if (lead < 0x80)
        return 1;
    if (lead >= 0xC2 && lead <= 0xDF)
        return continuation(1) ? 2 : 0;
    if (lead >= 0xE0 && lead <= 0xEF) {
        if (!continuation(1) || !continuation(2))
            return 0;
        if (lead == 0xE0 && b(1) < 0xA0) // overlong
            return 0;
        if (lead == 0xED && b(1) >= 0xA0) // UTF-16 surrogates
            return 0;
        return 3;
    }
    if (lead >= 0xF0 && lead <= 0xF4) {
        if (!continuation(1) || !continuation(2) || !continuation(3))
            return 0;
        if (lead == 0xF0 && b(1) < 0x90) // overlong
            return 0;
        if (lead == 0xF4 && b(1) >= 0x90) // beyond U+10FFFF
            return 0;
        return 4;
    }
    return 0;
}

} // namespace

void JsonLine::key(std::string_view key) {
    if (!m_first)
        m_text.push_back(',');
    m_first = false;
    quoted(key);
    m_text.push_back(':');
}

void JsonLine::quoted(std::string_view value) {
    m_text.push_back('"');
    for (std::size_t i = 0; i < value.size();) {
        const unsigned char c = static_cast<unsigned char>(value[i]);
        if (c == '"' || c == '\\') {
            m_text.push_back('\\');
            m_text.push_back(static_cast<char>(c));
            ++i;
        } else if (c == '\n') {
            m_text += "\\n";
            ++i;
        } else if (c == '\r') {
            m_text += "\\r";
            ++i;
        } else if (c == '\t') {
            m_text += "\\t";
            ++i;
        } else if (c < 0x20 || c == 0x7F) {
            m_text += "\\u00";
            m_text.push_back(kHex[c >> 4]);
            m_text.push_back(kHex[c & 15]);
            ++i;
        } else if (c < 0x80) {
            m_text.push_back(static_cast<char>(c));
            ++i;
        } else if (const std::size_t n = utf8SequenceLength(value.substr(i)); n > 0) {
            m_text.append(value.substr(i, n));
            i += n;
        } else {
            m_text += "\\u00";
            m_text.push_back(kHex[c >> 4]);
            m_text.push_back(kHex[c & 15]);
            ++i;
        }
    }
    m_text.push_back('"');
}

JsonLine& JsonLine::string(std::string_view k, std::string_view value) {
    key(k);
    quoted(value);
    return *this;
}

JsonLine& JsonLine::null(std::string_view k) {
    key(k);
    m_text += "null";
    return *this;
}

JsonLine& JsonLine::boolean(std::string_view k, bool value) {
    key(k);
    m_text += value ? "true" : "false";
    return *this;
}

JsonLine& JsonLine::integer(std::string_view k, long long value) {
    key(k);
    m_text += std::to_string(value);
    return *this;
}

namespace {

// JSON has no infinity or NaN; no reading of this program is one.
template <typename Real> void appendReal(std::string& text, Real value) {
    if (!std::isfinite(value)) {
        text += "null";
        return;
    }
    char buffer[64];
    const auto [end, ec] = std::to_chars(buffer, buffer + sizeof buffer, value);
    text.append(buffer, ec == std::errc() ? end : buffer);
}

} // namespace

JsonLine& JsonLine::number(std::string_view k, float value) {
    key(k);
    appendReal(m_text, value);
    return *this;
}

JsonLine& JsonLine::number(std::string_view k, double value) {
    key(k);
    appendReal(m_text, value);
    return *this;
}

JsonLine& JsonLine::object(std::string_view k, const JsonLine& inner) {
    key(k);
    m_text += inner.text();
    return *this;
}

JsonLine& JsonLine::strings(std::string_view k, const std::vector<std::string_view>& values) {
    key(k);
    m_text.push_back('[');
    for (std::size_t i = 0; i < values.size(); ++i) {
        if (i > 0)
            m_text.push_back(',');
        quoted(values[i]);
    }
    m_text.push_back(']');
    return *this;
}

} // namespace kq::decode
