#pragma once

#include "files/byte_io.h"
#include "files/log_file.h"

#include <cstddef>

namespace kq::files {

// Puts rows 0 to rows - 1 of a save with `putRow`. Every 65536 rows the progress hears
// how far the save is and may cancel it (false back); a sink that has already failed
// stops the rows there, and finishSave then tells its reason.
template <typename PutRow>
bool putRowsOfSave(BufferedWriter& w, std::size_t rows, const Progress& progress, PutRow&& putRow) {
    constexpr std::size_t kRowsPerProgress = 65536;
    for (std::size_t i = 0; i < rows; ++i) {
        if (i % kRowsPerProgress == 0 && i > 0) {
            if (w.failed())
                break;
            if (progress && !progress(i, rows))
                return false;
        }
        putRow(i);
    }
    return true;
}

inline SaveResult cancelledSave() {
    SaveResult result;
    result.status = SaveResult::Status::Cancelled;
    return result;
}

} // namespace kq::files
