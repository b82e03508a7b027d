// Feeds arbitrary bytes to the CSV log reader. Whatever loads must come back
// with the same rows, moments and verdicts when saved as CSV and loaded again
// (a text without value comes back empty), and a second save must give the
// same bytes as the first.
#include "files/byte_io.h"
#include "files/log_csv.h"
#include "record/log_table.h"
#include "string_sink.h"

#include <cstdlib>
#include <string>

namespace {

using Field = kq::record::LogTable::Field;

bool sameRows(const kq::record::LogTable& a, const kq::record::LogTable& b) {
    if (a.rowCount() != b.rowCount())
        return false;
    for (std::size_t row = 0; row < a.rowCount(); ++row) {
        if (a.no(row) != b.no(row) || a.moment(row) != b.moment(row) ||
            a.verdict(row) != b.verdict(row))
            return false;
        for (Field f : {Field::Time, Field::Value, Field::Unit})
            if (a.textString(row, f).value_or("") != b.textString(row, f).value_or(""))
                return false;
    }
    return true;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const unsigned char* data, std::size_t size) {
    const std::string_view input(reinterpret_cast<const char*>(data), size);
    kq::record::LogTable table;
    kq::files::MemorySource in(input);
    if (!kq::files::readCsvLog(table, in).ok())
        return 0;
    StringSink csv;
    kq::files::writeCsvLog(table, csv);
    kq::record::LogTable back;
    kq::files::MemorySource csvIn(csv.bytes);
    if (!kq::files::readCsvLog(back, csvIn).ok() || !sameRows(table, back))
        std::abort();
    StringSink again;
    kq::files::writeCsvLog(back, again);
    if (again.bytes != csv.bytes)
        std::abort();
    return 0;
}
