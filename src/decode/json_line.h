#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace kq::decode {

// Builds one JSON object on one line, members in the order they are added. Texts from
// a device or a file may hold anything: control characters are escaped, and a byte
// that is not part of valid UTF-8 is written as the code point of the same number
// (\u0080..\u00FF), so the line is always valid UTF-8 JSON.
class JsonLine {
public:
    JsonLine& string(std::string_view key, std::string_view value);
    JsonLine& null(std::string_view key);
    JsonLine& boolean(std::string_view key, bool value);
    JsonLine& integer(std::string_view key, long long value);
    // The shortest text that reads back as the same float.
    JsonLine& number(std::string_view key, float value);
    JsonLine& number(std::string_view key, double value);
    // A member whose value is another object.
    JsonLine& object(std::string_view key, const JsonLine& inner);
    JsonLine& strings(std::string_view key, const std::vector<std::string_view>& values);
    template <typename Range> JsonLine& stringArray(std::string_view key, const Range& values) {
        std::vector<std::string_view> views;
        for (const auto& v : values)
            views.emplace_back(v);
        return strings(key, views);
    }

    // The object with its closing brace, no line end.
    std::string text() const { return m_text + "}"; }

private:
    void key(std::string_view key);
    void quoted(std::string_view value);

    std::string m_text = "{";
    bool m_first = true;
};

} // namespace kq::decode
