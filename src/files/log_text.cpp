#include "files/log_text.h"

#include "record/log_table.h"

#include <array>
#include <charconv>
#include <cstring>
#include <new>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace kq::files {

using record::LogTable;

namespace {

constexpr std::size_t kRowsPerProgress = 65536;

// Codes 1..32 separate fields; 0 never reaches here (it ends the text).
bool isSeparator(char c) {
    return static_cast<unsigned char>(c) <= 32;
}

std::string_view trimmed(std::string_view s) {
    while (!s.empty() && static_cast<unsigned char>(s.front()) <= 32)
        s.remove_prefix(1);
    while (!s.empty() && static_cast<unsigned char>(s.back()) <= 32)
        s.remove_suffix(1);
    return s;
}

void putText(BufferedWriter& w, const LogTable& table, std::size_t row, LogTable::Field field) {
    LogTable::Text text;
    std::string_view s;
    if (table.text(row, field, text))
        s = trimmed(text.view());
    w.put(s.empty() ? std::string_view("NULL") : s);
}

// Decimal, with an optional sign, the whole field, within 32 bits.
std::optional<std::int32_t> parseNo(std::string_view s) {
    if (!s.empty() && s.front() == '+') {
        s.remove_prefix(1);
        if (!s.empty() && s.front() == '-')
            return std::nullopt;
    }
    std::int32_t v = 0;
    const auto r = std::from_chars(s.data(), s.data() + s.size(), v);
    if (r.ec != std::errc() || r.ptr != s.data() + s.size())
        return std::nullopt;
    return v;
}

// One line cut into fields. Unquoted fields point into the line; quoted
// fields are unescaped into their own storage.
class LineFields {
public:
    enum class Result { Ok, TooMany };

    Result split(std::string_view line) {
        m_count = 0;
        std::size_t i = 0;
        const std::size_t n = line.size();
        while (i < n && isSeparator(line[i]))
            ++i;
        while (i < n) {
            if (m_count == m_fields.size())
                return Result::TooMany;
            Field& f = m_fields[m_count++];
            if (line[i] == '"') {
                // Runs to the matching closing quote ("" stands for one quote),
                // or to the end of the line when there is none.
                f.storage.clear();
                ++i;
                while (i < n) {
                    if (line[i] == '"') {
                        if (i + 1 < n && line[i + 1] == '"') {
                            f.storage.push_back('"');
                            i += 2;
                            continue;
                        }
                        ++i;
                        break;
                    }
                    f.storage.push_back(line[i++]);
                }
                f.view = f.storage;
            } else {
                const std::size_t start = i;
                while (i < n && !isSeparator(line[i]))
                    ++i;
                f.view = line.substr(start, i - start);
            }
            while (i < n && isSeparator(line[i]))
                ++i;
        }
        return Result::Ok;
    }

    std::size_t count() const { return m_count; }
    std::string_view operator[](std::size_t i) const { return m_fields[i].view; }

private:
    struct Field {
        std::string_view view;
        std::string storage;
    };
    std::array<Field, 4> m_fields;
    std::size_t m_count = 0;
};

class TextLogReader {
public:
    TextLogReader(LogTable& table, ByteSource& in, const Progress& progress)
        : m_table(table), m_in(in), m_progress(progress) {}

    LoadResult run();

private:
    bool takeLine(std::string_view line);
    void failLine(const char* why) {
        m_result.status = LoadResult::Status::Failed;
        m_result.line = m_lineNo;
        m_result.error = "line " + std::to_string(m_lineNo) + ": " + why;
    }

    LogTable& m_table;
    ByteSource& m_in;
    const Progress& m_progress;
    LoadResult m_result;
    LineFields m_fields;
    std::uint64_t m_lineNo = 0;
    bool m_inHeader = true;
};

bool TextLogReader::takeLine(std::string_view line) {
    ++m_lineNo;
    if (m_inHeader) {
        m_inHeader = false;
        return true;
    }
    if (line.size() > kMaxTextLineBytes) {
        failLine("line too long");
        return false;
    }
    if (m_fields.split(line) == LineFields::Result::TooMany) {
        failLine("more than four fields");
        return false;
    }
    const std::size_t n = m_fields.count();
    if (n == 0)
        return true;
    const auto no = parseNo(m_fields[0]);
    if (!no) {
        failLine("the first field is not an integer");
        return false;
    }
    auto textAt = [&](std::size_t i) -> std::optional<std::string_view> {
        if (i < n)
            return m_fields[i];
        return std::nullopt;
    };
    try {
        m_table.append(no, textAt(1), textAt(2), textAt(3));
    } catch (const std::length_error&) {
        failLine("the log table is full");
        return false;
    } catch (const std::bad_alloc&) {
        failLine("out of memory");
        return false;
    }
    ++m_result.rows;
    return true;
}

LoadResult TextLogReader::run() {
    // The buffer holds an unfinished line (at most kMaxTextLineBytes, or any
    // length of the header, which is dropped as it comes) plus one new chunk.
    const std::uint64_t total = m_in.size();
    const std::size_t chunk = readChunkBytes(total);
    std::vector<char> buffer(chunk + kMaxTextLineBytes + 1);
    std::size_t have = 0;
    std::uint64_t bytesRead = 0;
    bool end = false;
    bool sawText = false;
    bool afterCR = false; // the last line ended with CR: a following LF belongs to it

    while (!end) {
        const std::ptrdiff_t got = m_in.read(buffer.data() + have, chunk);
        if (got < 0) {
            m_result.status = LoadResult::Status::Failed;
            m_result.error = "the file cannot be read";
            return m_result;
        }
        if (got == 0)
            end = true;
        std::size_t fresh = static_cast<std::size_t>(got);
        bytesRead += fresh;
        // A zero byte ends the text.
        if (const void* zero = std::memchr(buffer.data() + have, 0, fresh)) {
            fresh =
                static_cast<std::size_t>(static_cast<const char*>(zero) - (buffer.data() + have));
            end = true;
        }
        if (fresh > 0)
            sawText = true;
        have += fresh;

        std::size_t start = 0;
        for (std::size_t i = 0; i < have; ++i) {
            const char c = buffer[i];
            if (c != '\r' && c != '\n') {
                afterCR = false;
                continue;
            }
            if (c == '\n' && afterCR && i == start) {
                afterCR = false;
                start = i + 1;
                continue;
            }
            if (!takeLine(std::string_view(buffer.data() + start, i - start)))
                return m_result;
            afterCR = c == '\r';
            start = i + 1;
        }
        std::size_t rest = have - start;
        if (end) {
            if (rest > 0 && !takeLine(std::string_view(buffer.data() + start, rest)))
                return m_result;
            break;
        }
        if (rest > kMaxTextLineBytes) {
            if (!m_inHeader) {
                ++m_lineNo;
                failLine("line too long");
                return m_result;
            }
            rest = 0; // the header is dropped anyway
        }
        std::memmove(buffer.data(), buffer.data() + have - rest, rest);
        have = rest;
        if (m_progress && !m_progress(bytesRead, total)) {
            m_result.status = LoadResult::Status::Cancelled;
            return m_result;
        }
    }
    if (!sawText) {
        m_result.status = LoadResult::Status::Failed;
        m_result.error = "the file is empty";
    }
    return m_result;
}

} // namespace

void putTextRow(BufferedWriter& w, const LogTable& table, std::size_t row) {
    if (const auto no = table.no(row))
        w.putInt(*no);
    w.put('\t');
    putText(w, table, row, LogTable::Field::Time);
    w.put('\t');
    putText(w, table, row, LogTable::Field::Value);
    w.put('\t');
    putText(w, table, row, LogTable::Field::Unit);
    w.put("\r\n");
}

SaveResult writeTextLog(const LogTable& table, ByteSink& out, const Progress& progress) {
    SaveResult result;
    BufferedWriter w(out);
    w.put(kTextLogHeader);
    const std::size_t rows = table.rowCount();
    for (std::size_t i = 0; i < rows; ++i) {
        if (i % kRowsPerProgress == 0 && i > 0) {
            if (w.failed())
                break;
            if (progress && !progress(i, rows)) {
                result.status = SaveResult::Status::Cancelled;
                return result;
            }
        }
        putTextRow(w, table, i);
    }
    return finishSave(w, out, rows);
}

LoadResult readTextLog(LogTable& table, ByteSource& in, const Progress& progress) {
    TextLogReader reader(table, in, progress);
    return reader.run();
}

} // namespace kq::files
