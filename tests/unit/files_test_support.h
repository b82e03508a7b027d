#pragma once

#include "files/byte_io.h"
#include "record/log_table.h"
#include "support/temp_dir.h"

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <optional>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

#include <unistd.h>

namespace kq::files::test {

// Hands out the bytes a few at a time, so that every boundary case of the
// chunked readers is met (a CR LF split, a quote split, an entity split).
class TrickleSource final : public ByteSource {
public:
    TrickleSource(std::string_view bytes, std::size_t step) : m_bytes(bytes), m_step(step) {}
    std::ptrdiff_t read(char* buffer, std::size_t capacity) override {
        const std::size_t n = std::min({capacity, m_step, m_bytes.size() - m_pos});
        std::copy_n(m_bytes.data() + m_pos, n, buffer);
        m_pos += n;
        return static_cast<std::ptrdiff_t>(n);
    }
    std::uint64_t size() const override { return m_bytes.size(); }

private:
    std::string_view m_bytes;
    std::size_t m_step;
    std::size_t m_pos = 0;
};

// Collects what a writer produced.
class StringSink final : public ByteSink {
public:
    bool write(const char* data, std::size_t size) override {
        if (m_failAfter && m_bytes.size() + size > *m_failAfter)
            return false;
        m_bytes.append(data, size);
        return true;
    }
    std::string error() const override { return "No space left on device"; }
    void failAfter(std::size_t bytes) { m_failAfter = bytes; }
    const std::string& bytes() const { return m_bytes; }

private:
    std::string m_bytes;
    std::optional<std::size_t> m_failAfter;
};

using kq::test::TempDir;

inline std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline void writeFile(const std::string& path, std::string_view bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

inline std::string dataFile(const std::string& name) {
    return readFile(std::string(KQ_TEST_DATA_DIR) + "/files/" + name);
}

// One row as "No|Time|Value|Unit", a field without value shown as <null>.
inline std::string rowText(const record::LogTable& t, std::size_t i) {
    using F = record::LogTable::Field;
    auto f = [&](F field) {
        const auto s = t.textString(i, field);
        return s ? *s : std::string("<null>");
    };
    return f(F::No) + "|" + f(F::Time) + "|" + f(F::Value) + "|" + f(F::Unit);
}

inline std::vector<std::string> rowTexts(const record::LogTable& t) {
    std::vector<std::string> out;
    for (std::size_t i = 0; i < t.rowCount(); ++i)
        out.push_back(rowText(t, i));
    return out;
}

inline std::vector<std::uint32_t> changeLog(const record::LogTable& t) {
    std::vector<std::uint32_t> out;
    t.forEachChangeLogNumber([&](std::uint32_t n) { out.push_back(n); });
    return out;
}

} // namespace kq::files::test
