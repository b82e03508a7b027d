#pragma once

#include "files/byte_io.h"
#include "files/log_file.h"

#include <cstddef>

namespace kq::record {
class LogTable;
}

namespace kq::files {

// A tag (from "<" to ">") longer than this fails the load; the CHANGE_LOG
// attribute, which grows with the table, is read as a stream and not counted.
inline constexpr std::size_t kMaxXmlTagBytes = 64 * 1024;
// Elements nested deeper than this fail the load.
inline constexpr std::size_t kMaxXmlDepth = 64;

// The table's data packet on one line: METADATA with the four fields and
// PARAMS (CHANGE_LOG when there are logged changes), then ROWDATA with one
// ROW per row carrying RowState and the fields that have a value.
SaveResult writeXmlLog(const record::LogTable& table, ByteSink& out, const Progress& progress = {});

// Reads a data packet into `table`, which must be empty: its rows, row states
// and change log. Packets carrying more (other fields, parameters, attributes,
// elements, comments) are read; a document type declaration, an unknown
// entity, a packet without the fields No, Time, Value and Unit, or any
// malformed markup fails. On failure or cancel the table may hold a part of
// the packet: load into a fresh table and keep it only on success.
LoadResult readXmlLog(record::LogTable& table, ByteSource& in, const Progress& progress = {});

} // namespace kq::files
