#include "files/csv_fields.h"

#include "record/log_moment.h"

#include <algorithm>
#include <cstring>

namespace kq::files {

using record::LogTable;

namespace {

bool needsQuotes(std::string_view s) {
    for (const char c : s)
        if (c == ',' || c == '"' || c == '\r' || c == '\n')
            return true;
    return false;
}

bool isDigit(char c) {
    return c >= '0' && c <= '9';
}

// Writes through either a BufferedWriter or a string.
template <class Out> void putField(Out& out, std::string_view s) {
    if (!needsQuotes(s)) {
        out.put(s);
        return;
    }
    out.put('"');
    for (std::size_t start = 0;;) {
        const std::size_t q = s.find('"', start);
        if (q == std::string_view::npos) {
            out.put(s.substr(start));
            break;
        }
        out.put(s.substr(start, q + 1 - start));
        out.put('"');
        start = q + 1;
    }
    out.put('"');
}

struct StringOut {
    std::string& s;
    void put(char c) { s.push_back(c); }
    void put(std::string_view v) { s.append(v); }
    void putInt(std::int64_t v) { s.append(std::to_string(v)); }
};

template <class Out>
void putRow(Out& out, const LogTable& table, std::size_t row, record::IsoDateTimeWriter& iso) {
    if (const auto no = table.no(row))
        out.putInt(*no);
    out.put(',');
    if (const auto moment = table.moment(row)) {
        char buf[record::kIsoDateTimeBytes];
        out.put(std::string_view(buf, iso.write(*moment, buf)));
    }
    out.put(',');
    LogTable::Text text;
    if (table.text(row, LogTable::Field::Time, text))
        putField(out, text.view());
    out.put(',');
    LogTable::Text value;
    const bool hasValue = table.text(row, LogTable::Field::Value, value);
    if (hasValue) {
        char buf[LogTable::kTextBytes + 2];
        out.put(std::string_view(buf, plainNumber(value.view(), buf)));
    }
    out.put(',');
    if (table.text(row, LogTable::Field::Unit, text))
        putField(out, text.view());
    out.put(',');
    out.put(verdictText(table.verdict(row)));
    out.put(',');
    if (hasValue)
        putField(out, value.view());
    out.put("\r\n");
}

} // namespace

void putCsvField(BufferedWriter& w, std::string_view field) {
    putField(w, field);
}

void appendCsvField(std::string& out, std::string_view field) {
    StringOut o{out};
    putField(o, field);
}

std::string plainNumber(std::string_view s) {
    std::string out(s.size() + 2, '\0');
    out.resize(plainNumber(s, out.data()));
    return out;
}

std::size_t plainNumber(std::string_view s, char* out) {
    while (!s.empty() && static_cast<unsigned char>(s.front()) <= 32)
        s.remove_prefix(1);
    while (!s.empty() && static_cast<unsigned char>(s.back()) <= 32)
        s.remove_suffix(1);
    bool negative = false;
    if (!s.empty() && (s.front() == '-' || s.front() == '+')) {
        negative = s.front() == '-';
        s.remove_prefix(1);
    }
    std::size_t i = 0;
    while (i < s.size() && isDigit(s[i]))
        ++i;
    const std::string_view whole = s.substr(0, i);
    std::string_view fraction;
    if (i < s.size() && (s[i] == '.' || s[i] == ',')) {
        const std::size_t start = ++i;
        while (i < s.size() && isDigit(s[i]))
            ++i;
        fraction = s.substr(start, i - start);
    }
    if (i != s.size() || (whole.empty() && fraction.empty()))
        return 0;
    char* p = out;
    if (negative)
        *p++ = '-';
    if (whole.empty())
        *p++ = '0';
    p = std::copy(whole.begin(), whole.end(), p);
    if (!fraction.empty()) {
        *p++ = '.';
        p = std::copy(fraction.begin(), fraction.end(), p);
    }
    return static_cast<std::size_t>(p - out);
}

std::string_view verdictText(record::RowVerdict verdict) {
    switch (verdict) {
    case record::RowVerdict::Pass:
        return "Pass";
    case record::RowVerdict::Fail:
        return "Fail";
    case record::RowVerdict::None:
        break;
    }
    return {};
}

void CsvRowWriter::put(BufferedWriter& w, const LogTable& table, std::size_t row) {
    putRow(w, table, row, m_dateTime);
}

void putCsvRow(BufferedWriter& w, const LogTable& table, std::size_t row) {
    CsvRowWriter().put(w, table, row);
}

std::string csvRow(const LogTable& table, std::size_t row) {
    std::string s;
    StringOut o{s};
    record::IsoDateTimeWriter iso;
    putRow(o, table, row, iso);
    return s;
}

} // namespace kq::files
