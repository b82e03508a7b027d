#include "files/log_csv.h"

#include "files/csv_fields.h"
#include "files/row_saving.h"
#include "record/log_moment.h"
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

// Every field the table keeps fits (20 characters of at most 4 bytes, an ISO
// moment); the rest of a longer field is dropped as it arrives.
constexpr std::size_t kFieldBytes = 128;
constexpr std::size_t kMaxColumns = 64;

enum Column : std::uint8_t { No, DateTime, Time, Value, Unit, Verdict, Text, kColumns, Other };

constexpr std::array<std::string_view, kColumns> kColumnNames = {
    "no", "datetime", "time", "value", "unit", "verdict", "text"};

std::string_view trimmed(std::string_view s) {
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t'))
        s.remove_prefix(1);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t'))
        s.remove_suffix(1);
    return s;
}

std::optional<std::int32_t> parseNo(std::string_view s) {
    if (!s.empty() && s.front() == '+')
        s.remove_prefix(1);
    std::int32_t v = 0;
    const auto r = std::from_chars(s.data(), s.data() + s.size(), v);
    if (s.empty() || r.ec != std::errc() || r.ptr != s.data() + s.size())
        return std::nullopt;
    return v;
}

bool sameLetters(std::string_view a, std::string_view b) {
    if (a.size() != b.size())
        return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        char c = a[i];
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
        if (c != b[i])
            return false;
    }
    return true;
}

class Field {
public:
    void clear() {
        m_used = 0;
        m_long = false;
    }
    void add(char c) {
        if (m_used < m_bytes.size())
            m_bytes[m_used++] = c;
        else
            m_long = true;
    }
    std::string_view view() const { return {m_bytes.data(), m_used}; }
    bool cutShort() const { return m_long; }

private:
    std::array<char, kFieldBytes> m_bytes{};
    std::size_t m_used = 0;
    bool m_long = false;
};

class CsvLogReader {
public:
    CsvLogReader(LogTable& table, ByteSource& in, const Progress& progress)
        : m_table(table), m_in(in), m_progress(progress) {}

    LoadResult run();

private:
    enum class State { FieldStart, Plain, Quoted, QuoteInQuoted };

    bool take(const char* p, std::size_t n);
    void add(char c) {
        if (m_count <= kMaxColumns)
            m_fields[m_count - 1].add(c);
    }
    void beginField() {
        if (++m_count <= kMaxColumns)
            m_fields[m_count - 1].clear();
    }
    bool endRecord();
    bool takeHeader();
    bool takeRow();
    bool fail(const std::string& why) {
        m_result.status = LoadResult::Status::Failed;
        m_result.line = m_recordLine;
        m_result.error = "line " + std::to_string(m_recordLine) + ": " + why;
        return false;
    }

    LogTable& m_table;
    ByteSource& m_in;
    const Progress& m_progress;
    LoadResult m_result;
    std::array<Field, kMaxColumns> m_fields;
    std::size_t m_count = 0; // fields begun in this record
    State m_state = State::FieldStart;
    bool m_recordOpen = false;
    bool m_afterCR = false;
    bool m_header = true;
    std::uint64_t m_line = 1;            // the physical line being read, from 1
    std::uint64_t m_recordLine = 1;      // where the record being read began
    std::vector<Column> m_columns;       // the header's columns in file order
    std::array<int, kColumns> m_where{}; // file column of each known column, -1 when absent
};

bool CsvLogReader::takeHeader() {
    m_where.fill(-1);
    bool any = false;
    for (std::size_t i = 0; i < m_count && i < kMaxColumns; ++i) {
        const std::string_view name = trimmed(m_fields[i].view());
        Column c = Other;
        for (std::size_t k = 0; k < kColumns; ++k)
            if (sameLetters(name, kColumnNames[k]) && m_where[k] < 0) {
                c = static_cast<Column>(k);
                m_where[k] = static_cast<int>(i);
                any = true;
            }
        m_columns.push_back(c);
    }
    if (m_count > kMaxColumns)
        return fail("more than " + std::to_string(kMaxColumns) + " columns");
    if (!any)
        return fail("the first line names none of the columns "
                    "no, datetime, time, value, unit, verdict, text");
    return true;
}

bool CsvLogReader::takeRow() {
    if (m_count > m_columns.size())
        return fail("more fields than the header names");
    auto field = [&](Column c) -> std::optional<std::string_view> {
        const int i = m_where[c];
        if (i < 0 || static_cast<std::size_t>(i) >= m_count)
            return std::nullopt;
        return m_fields[static_cast<std::size_t>(i)].view();
    };
    auto cutShort = [&](Column c) {
        const int i = m_where[c];
        return i >= 0 && static_cast<std::size_t>(i) < m_count &&
               m_fields[static_cast<std::size_t>(i)].cutShort();
    };

    std::optional<std::int32_t> no;
    if (const auto f = field(No); f && !trimmed(*f).empty()) {
        no = cutShort(No) ? std::nullopt : parseNo(trimmed(*f));
        if (!no)
            return fail("the no field is not an integer");
    }
    LogTable::Stamp stamp;
    if (const auto f = field(DateTime); f && !trimmed(*f).empty()) {
        stamp.moment = cutShort(DateTime) ? std::nullopt : record::parseIsoDateTime(trimmed(*f));
        if (!stamp.moment)
            return fail("the datetime field is not an ISO 8601 time with offset");
    }
    if (const auto f = field(Verdict); f && !trimmed(*f).empty()) {
        const std::string_view v = trimmed(*f);
        if (sameLetters(v, "pass"))
            stamp.verdict = record::RowVerdict::Pass;
        else if (sameLetters(v, "fail"))
            stamp.verdict = record::RowVerdict::Fail;
        else
            return fail("the verdict field is neither Pass nor Fail");
    }
    const auto value = m_where[Text] >= 0 ? field(Text) : field(Value);
    try {
        m_table.append(no, field(Time), value, field(Unit), LogTable::kInserted, true, stamp);
    } catch (const std::length_error&) {
        return fail("the log table is full");
    } catch (const std::bad_alloc&) {
        return fail("out of memory");
    }
    ++m_result.rows;
    return true;
}

bool CsvLogReader::endRecord() {
    bool ok = true;
    if (m_recordOpen) {
        if (m_header) {
            ok = takeHeader();
            m_header = false;
        } else {
            ok = takeRow();
        }
    }
    m_count = 0;
    m_recordOpen = false;
    m_state = State::FieldStart;
    return ok;
}

bool CsvLogReader::take(const char* p, std::size_t n) {
    for (std::size_t i = 0; i < n; ++i) {
        const char c = p[i];
        const bool lineEnd = c == '\r' || c == '\n';
        if (c == '\n' && m_afterCR) {
            // The LF of a CR LF: the line was counted at its CR.
            m_afterCR = false;
            if (m_state == State::Quoted)
                add(c);
            continue;
        }
        m_afterCR = c == '\r';
        if (!m_recordOpen && !lineEnd) {
            m_recordOpen = true;
            m_recordLine = m_line;
            beginField();
        }
        if (lineEnd)
            ++m_line;
        switch (m_state) {
        case State::FieldStart:
            if (c == '"') {
                m_state = State::Quoted;
            } else if (c == ',') {
                beginField();
            } else if (lineEnd) {
                if (!endRecord())
                    return false;
            } else {
                add(c);
                m_state = State::Plain;
            }
            break;
        case State::Plain:
            if (c == ',') {
                beginField();
                m_state = State::FieldStart;
            } else if (lineEnd) {
                if (!endRecord())
                    return false;
            } else {
                add(c);
            }
            break;
        case State::Quoted:
            if (c == '"')
                m_state = State::QuoteInQuoted;
            else
                add(c);
            break;
        case State::QuoteInQuoted:
            if (c == '"') {
                add('"');
                m_state = State::Quoted;
            } else if (c == ',') {
                beginField();
                m_state = State::FieldStart;
            } else if (lineEnd) {
                if (!endRecord())
                    return false;
            } else {
                // Text after a closing quote is kept as the field's own.
                add(c);
                m_state = State::Plain;
            }
            break;
        }
    }
    return true;
}

LoadResult CsvLogReader::run() {
    const std::uint64_t total = m_in.size();
    const std::size_t chunk = readChunkBytes(total);
    std::vector<char> buffer(chunk);
    const std::size_t rowsBefore = m_table.rowCount();
    std::uint64_t bytesRead = 0;
    bool first = true;
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
        // A zero byte ends the text, as in the tab-separated form.
        if (const void* zero = std::memchr(buffer.data(), 0, fresh)) {
            fresh = static_cast<std::size_t>(static_cast<const char*>(zero) - buffer.data());
            end = true;
        }
        const char* p = buffer.data();
        // Spreadsheets often start their UTF-8 files with a byte-order mark.
        if (first && fresh >= 3 && std::memcmp(p, "\xEF\xBB\xBF", 3) == 0) {
            p += 3;
            fresh -= 3;
        }
        first = false;
        if (!take(p, fresh))
            return m_result;
        if (end)
            break;
        if (m_progress && !m_progress(bytesRead, total)) {
            m_table.truncate(rowsBefore);
            m_result.rows = 0;
            m_result.status = LoadResult::Status::Cancelled;
            return m_result;
        }
    }
    if (m_state == State::Quoted) {
        fail("a quoted field is not closed");
        return m_result;
    }
    if (m_recordOpen && !endRecord())
        return m_result;
    if (m_header) {
        m_result.status = LoadResult::Status::Failed;
        m_result.error = "the file is empty";
    }
    return m_result;
}

} // namespace

SaveResult writeCsvLog(const LogTable& table, ByteSink& out, const Progress& progress) {
    BufferedWriter w(out);
    w.put(kCsvHeader);
    const std::size_t rows = table.rowCount();
    CsvRowWriter rowWriter;
    const bool whole =
        putRowsOfSave(w, rows, progress, [&](std::size_t i) { rowWriter.put(w, table, i); });
    if (!whole)
        return cancelledSave();
    return finishSave(w, out, rows);
}

LoadResult readCsvLog(LogTable& table, ByteSource& in, const Progress& progress) {
    CsvLogReader reader(table, in, progress);
    return reader.run();
}

} // namespace kq::files
