#pragma once

#include "files/byte_io.h"
#include "files/log_file.h"

#include <cstddef>
#include <string_view>

namespace kq::record {
class LogTable;
}

namespace kq::files {

// The first line of the tab-separated form.
inline constexpr std::string_view kTextLogHeader = "No\tTime\tValue\tUnit\r\n";

// One row of the table as a line of the tab-separated form, CR LF included.
void putTextRow(BufferedWriter& w, const record::LogTable& table, std::size_t row);

// The tab-separated form: a header line "No Time Value Unit", then one line
// per row, every line ending in CR LF; texts trimmed of codes 0..32 and an
// empty text written as NULL.
SaveResult writeTextLog(const record::LogTable& table, ByteSink& out,
                        const Progress& progress = {});

// Appends the rows of a text log to the table. Lines end at CR LF, CR or LF; a
// zero byte ends the text; the first line is dropped. Lines of any length are
// read (each text keeps its first 20 characters). A line that fails (more than
// four fields, a first field that is not an integer) stops the load; the rows
// before it stay and the failing line posts nothing. A cancelled load takes
// back every row it added. `maxRows` (0: no limit) ends the load after that
// many rows with `cut` set, for a stream that may never end.
LoadResult readTextLog(record::LogTable& table, ByteSource& in, const Progress& progress = {},
                       std::uint64_t maxRows = 0);

// The same for the recovery journal, which a crash or a power cut may have
// damaged: every line that reads as a row (four fields, a number first) is
// kept and every other one is counted in `unreadLines` and left out, a line
// with a zero byte in it included; the header line may be missing.
LoadResult readTextJournal(record::LogTable& table, ByteSource& in);

} // namespace kq::files
