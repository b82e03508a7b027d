#pragma once

#include "files/byte_io.h"
#include "files/log_file.h"

namespace kq::record {
class LogTable;
}

namespace kq::files {

// The CSV form (RFC 4180, UTF-8 without byte-order mark, CRLF): the header
// `no,datetime,time,value,unit,verdict,text`, then one line per row.
SaveResult writeCsvLog(const record::LogTable& table, ByteSink& out, const Progress& progress = {});

// Appends the rows of a CSV log to the table, as a text load does. Columns are
// found by their names in the header line (any order; unknown columns are
// skipped); a column that is missing leaves its field without value. `text`
// is the row's Value (`value` when there is no `text` column), `datetime` its
// moment and `verdict` its verdict. Quoted fields may hold commas, quotes and
// line breaks. A row that fails (more fields than the header, a `no` that is
// not an integer, a `datetime` that is not an ISO 8601 moment, a `verdict` other
// than Pass or Fail) stops the load; the rows before it stay. A cancelled load
// takes back every row it added.
LoadResult readCsvLog(record::LogTable& table, ByteSource& in, const Progress& progress = {});

} // namespace kq::files
