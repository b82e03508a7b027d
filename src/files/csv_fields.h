#pragma once

#include "files/byte_io.h"
#include "record/log_moment.h"
#include "record/log_table.h"

#include <cstddef>
#include <string>
#include <string_view>

namespace kq::files {

// The first line of a CSV log.
inline constexpr std::string_view kCsvHeader = "no,datetime,time,value,unit,verdict,text\r\n";

// One field as RFC 4180 writes it: in double quotes (a quote inside doubled)
// when it holds a comma, a quote, CR or LF, else as it is.
void putCsvField(BufferedWriter& w, std::string_view field);
void appendCsvField(std::string& out, std::string_view field);

// The reading of a value text as a plain number with '.' whatever the locale
// ("12,5" and "12.5" give "12.5", ".5" gives "0.5"); empty when the text is no
// number (the overload "0L", blanks, dashes).
std::string plainNumber(std::string_view valueText);
// The same into `out` (at least valueText.size() + 2 bytes); returns the bytes written.
std::size_t plainNumber(std::string_view valueText, char* out);

// "Pass", "Fail" or empty.
std::string_view verdictText(record::RowVerdict verdict);

// One row of the table as a CSV line, CRLF included:
// no, datetime (ISO 8601 or empty), time, value, unit, verdict, text.
void putCsvRow(BufferedWriter& w, const record::LogTable& table, std::size_t row);
std::string csvRow(const record::LogTable& table, std::size_t row);

// Writes rows one after another, as fast as a save of millions needs.
class CsvRowWriter {
public:
    void put(BufferedWriter& w, const record::LogTable& table, std::size_t row);

private:
    record::IsoDateTimeWriter m_dateTime;
};

} // namespace kq::files
