#include "files/log_text.h"

#include "files/row_saving.h"
#include "record/log_table.h"

#include <algorithm>
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

// Cuts one data line into fields as its bytes arrive, so a line of any
// length is read in bounded memory: each field keeps only what the table can
// store of it.
class LineSplitter {
public:
    enum class Result { Ok, TooMany };

    void reset() {
        m_count = 0;
        m_state = State::Between;
        m_tooMany = false;
    }

    void feed(std::string_view part) {
        for (std::size_t i = 0; i < part.size() && !m_tooMany;) {
            const char c = part[i];
            switch (m_state) {
            case State::Between:
                if (isSeparator(c)) {
                    ++i;
                    continue;
                }
                if (m_count == m_fields.size()) {
                    m_tooMany = true;
                    return;
                }
                m_fields[m_count].clear(m_count == 0); // the first field is the number
                ++m_count;
                ++i;
                if (c == '"') {
                    m_state = State::Quoted;
                } else {
                    m_fields[m_count - 1].add(c);
                    m_state = State::Plain;
                }
                continue;
            case State::Plain: {
                // The common case: a run of ordinary bytes.
                std::size_t j = i;
                while (j < part.size() && !isSeparator(part[j]))
                    ++j;
                m_fields[m_count - 1].add(part.substr(i, j - i));
                i = j;
                if (i < part.size())
                    m_state = State::Between;
                continue;
            }
            case State::Quoted:
                if (c == '"')
                    m_state = State::QuoteInQuoted;
                else
                    m_fields[m_count - 1].add(c);
                ++i;
                continue;
            case State::QuoteInQuoted:
                // Two quotes stand for one; anything else ends the field and
                // is read again as what follows it.
                if (c == '"') {
                    m_fields[m_count - 1].add('"');
                    m_state = State::Quoted;
                    ++i;
                } else {
                    m_state = State::Between;
                }
                continue;
            }
        }
    }

    Result finish() const { return m_tooMany ? Result::TooMany : Result::Ok; }
    std::size_t count() const { return m_count; }
    std::string_view operator[](std::size_t i) const { return m_fields[i].text(); }

private:
    enum class State { Between, Plain, Quoted, QuoteInQuoted };

    // The start of a field, as much as the table keeps (a character has at
    // most four bytes, so the first kTextBytes bytes hold the first kTextWidth
    // characters). The number field drops leading zeros so that any length
    // of them still reads as the number it is.
    class Field {
    public:
        void clear(bool number) {
            m_used = 0;
            m_number = number;
            m_zeros = false;
            m_broken = false;
        }
        void add(char c) { add(std::string_view(&c, 1)); }
        void add(std::string_view s) {
            if (!m_number) {
                const std::size_t n = std::min(s.size(), m_bytes.size() - m_used);
                std::memcpy(m_bytes.data() + m_used, s.data(), n);
                m_used += n;
                return;
            }
            for (const char c : s) {
                const bool onlySign =
                    m_used == 0 || (m_used == 1 && (m_bytes[0] == '+' || m_bytes[0] == '-'));
                if (c == '0' && onlySign) {
                    m_zeros = true;
                    continue;
                }
                if (m_zeros && onlySign && (c < '0' || c > '9'))
                    m_broken = true;
                if (m_used < m_bytes.size())
                    m_bytes[m_used++] = c;
                else
                    m_broken = true;
            }
        }
        std::string_view text() const {
            if (!m_number)
                return {m_bytes.data(), m_used};
            if (m_broken)
                return "x"; // not a number, whatever it held
            if (m_zeros) {
                const bool onlySign =
                    m_used == 0 || (m_used == 1 && (m_bytes[0] == '+' || m_bytes[0] == '-'));
                if (onlySign) {
                    m_spare.assign(m_bytes.data(), m_used);
                    m_spare.push_back('0');
                    return m_spare;
                }
            }
            return {m_bytes.data(), m_used};
        }

    private:
        std::array<char, LogTable::kTextBytes> m_bytes{};
        std::size_t m_used = 0;
        bool m_number = false;
        bool m_zeros = false;  // leading zeros were dropped
        bool m_broken = false; // longer than any 32-bit number, or junk after zeros
        mutable std::string m_spare;
    };

    std::array<Field, 4> m_fields;
    std::size_t m_count = 0;
    State m_state = State::Between;
    bool m_tooMany = false;
};

class TextLogReader {
public:
    TextLogReader(LogTable& table, ByteSource& in, const Progress& progress, bool journal = false,
                  std::uint64_t maxRows = 0)
        : m_table(table), m_in(in), m_progress(progress), m_journal(journal), m_maxRows(maxRows),
          m_inHeader(!journal) {}

    LoadResult run();

private:
    void feed(std::string_view part) {
        // A journal line with a zero byte in it was torn (a power cut leaves
        // zeros where the data did not reach the disk): none of it counts.
        if (m_journal && std::memchr(part.data(), 0, part.size()) != nullptr)
            m_torn = true;
        if (!m_inHeader && !m_torn)
            m_fields.feed(part);
        if (!part.empty())
            m_lineOpen = true;
    }
    // Journal: a line that cannot be a row is counted and left out.
    bool unreadLine() {
        ++m_result.unreadLines;
        m_fields.reset();
        return true;
    }
    bool isHeader() const {
        return m_fields.count() == 4 && m_fields[0] == "No" && m_fields[1] == "Time" &&
               m_fields[2] == "Value" && m_fields[3] == "Unit";
    }
    bool endLine();
    bool takeBytes(const char* p, std::size_t n);
    void failLine(const char* why) {
        m_result.status = LoadResult::Status::Failed;
        m_result.line = m_lineNo;
        m_result.error = "line " + std::to_string(m_lineNo) + ": " + why;
    }

    LogTable& m_table;
    ByteSource& m_in;
    const Progress& m_progress;
    const bool m_journal;
    std::uint64_t m_maxRows;
    LoadResult m_result;
    LineSplitter m_fields;
    std::uint64_t m_lineNo = 0;
    bool m_inHeader;
    bool m_torn = false;     // journal: the line holds a zero byte
    bool m_lineOpen = false; // bytes of an unfinished line have been fed
    bool m_afterCR = false;  // the last line ended with CR: a following LF belongs to it
};

bool TextLogReader::endLine() {
    ++m_lineNo;
    m_lineOpen = false;
    if (m_inHeader) {
        m_inHeader = false;
        m_fields.reset();
        return true;
    }
    const bool tooMany = m_fields.finish() == LineSplitter::Result::TooMany;
    const std::size_t n = m_fields.count();
    LineSplitter& f = m_fields;
    if (m_journal) {
        // Every row the journal writes has four fields and a number; its
        // header may be missing, and then the first line is a row.
        const bool torn = m_torn;
        m_torn = false;
        if (torn)
            return unreadLine();
        if (n == 0) {
            f.reset();
            return true;
        }
        if (m_lineNo == 1 && isHeader()) {
            f.reset();
            return true;
        }
        if (tooMany || n != 4 || !parseNo(f[0]))
            return unreadLine();
    }
    if (tooMany) {
        failLine("more than four fields");
        return false;
    }
    if (n == 0) {
        f.reset();
        return true;
    }
    const auto no = parseNo(f[0]);
    if (!no) {
        failLine("the first field is not an integer");
        return false;
    }
    auto textAt = [&](std::size_t i) -> std::optional<std::string_view> {
        if (i < n)
            return f[i];
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
    f.reset();
    if (m_result.rows == m_maxRows) {
        m_result.cut = true;
        return false;
    }
    return true;
}

bool TextLogReader::takeBytes(const char* p, std::size_t n) {
    std::size_t start = 0;
    for (std::size_t i = 0; i < n; ++i) {
        const char c = p[i];
        if (c != '\r' && c != '\n')
            continue;
        if (c == '\n' && m_afterCR && i == start && !m_lineOpen) {
            m_afterCR = false;
            start = i + 1;
            continue;
        }
        feed(std::string_view(p + start, i - start));
        if (!endLine())
            return false;
        m_afterCR = c == '\r';
        start = i + 1;
    }
    if (start < n) {
        m_afterCR = false;
        feed(std::string_view(p + start, n - start));
    }
    return true;
}

LoadResult TextLogReader::run() {
    // Lines are cut as the bytes arrive, so nothing but one chunk is held.
    const std::uint64_t total = m_in.size();
    const std::size_t chunk = readChunkBytes(total);
    std::vector<char> buffer(chunk);
    const std::size_t rowsBefore = m_table.rowCount();
    std::uint64_t bytesRead = 0;
    bool sawText = false;
    m_fields.reset();

    for (bool end = false; !end;) {
        const std::ptrdiff_t got = m_in.read(buffer.data(), chunk);
        if (got < 0) {
            m_result.status = LoadResult::Status::Failed;
            m_result.error = "the file cannot be read";
            return m_result;
        }
        std::size_t fresh = static_cast<std::size_t>(got);
        end = fresh == 0;
        bytesRead += fresh;
        // A zero byte ends the text (a journal goes on past it).
        if (const void* zero = m_journal ? nullptr : std::memchr(buffer.data(), 0, fresh)) {
            fresh = static_cast<std::size_t>(static_cast<const char*>(zero) - buffer.data());
            end = true;
        }
        if (fresh > 0)
            sawText = true;
        if (!takeBytes(buffer.data(), fresh))
            return m_result;
        if (end) {
            // A last line without an ending counts.
            if (m_lineOpen && !endLine() && !m_result.cut)
                return m_result;
            break;
        }
        if (m_progress && !m_progress(bytesRead, total)) {
            // A cancelled load takes back what it added: the user gets the
            // table as it was, not a part of the file.
            m_table.truncate(rowsBefore);
            m_result.rows = 0;
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
    BufferedWriter w(out);
    w.put(kTextLogHeader);
    const std::size_t rows = table.rowCount();
    const bool whole =
        putRowsOfSave(w, rows, progress, [&](std::size_t i) { putTextRow(w, table, i); });
    if (!whole)
        return cancelledSave();
    return finishSave(w, out, rows);
}

LoadResult readTextLog(LogTable& table, ByteSource& in, const Progress& progress,
                       std::uint64_t maxRows) {
    TextLogReader reader(table, in, progress, false, maxRows);
    return reader.run();
}

LoadResult readTextJournal(LogTable& table, ByteSource& in) {
    const Progress none;
    TextLogReader reader(table, in, none, true);
    return reader.run();
}

} // namespace kq::files
