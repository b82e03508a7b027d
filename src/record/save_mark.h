#pragma once

#include "record/log_table.h"

#include <cstddef>
#include <cstdint>

namespace kq::record {

// Which rows of the log table are already in a file: the first `rows` rows of
// the table as it was at `generation`. Rows taken away (New, an XML load)
// start a new generation, after which every row counts as unsaved again.
struct SaveMark {
    std::uint64_t generation = 0;
    std::size_t rows = 0;

    // Every row the table holds now is in a file.
    void markAll(const LogTable& table) {
        generation = table.generation();
        rows = table.rowCount();
    }
    // Rows at the end of the table that no file holds.
    std::size_t unsaved(const LogTable& table) const {
        if (table.generation() != generation || table.rowCount() < rows)
            return table.rowCount();
        return table.rowCount() - rows;
    }
};

} // namespace kq::record
