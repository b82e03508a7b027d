#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace kq::record {

// How a long recording is cut into files: at each full local hour, at each
// local midnight, or after a number of rows.
struct SplitRule {
    enum class Kind : std::uint8_t { Hourly, Daily, Rows };
    Kind kind = Kind::Hourly;
    std::size_t rows = 0; // Rows: the rows of one file
};

// "hourly", "daily" or a number of rows from 1 to 10000000.
std::optional<SplitRule> parseSplitRule(std::string_view text);
// How long a recording runs: a whole number and s, m, h or d ("8h", "90m"), at
// most ten years; a bare number counts seconds.
std::optional<std::chrono::seconds> parseDuration(std::string_view text);

// Decides which rows of a recording share a file. A row's time is its UTC
// milliseconds since the epoch and the local offset in minutes at that moment:
// a piece ends where the clock on the wall shows a new hour or a new day, and
// where the offset changes (summer time), so that no file holds the same hour
// of the wall clock twice.
class PieceSplitter {
public:
    explicit PieceSplitter(SplitRule rule) : m_rule(rule) {}

    // A row is about to be logged at that time into a piece that holds
    // `rowsInPiece` rows: true when it belongs to the next piece.
    bool beginsNextPiece(std::int64_t utcMs, int offsetMinutes, std::size_t rowsInPiece) const;
    // The first row of a piece was logged at that time.
    void pieceBegan(std::int64_t utcMs, int offsetMinutes);

    const SplitRule& rule() const { return m_rule; }

private:
    std::int64_t period(std::int64_t localMs) const;

    SplitRule m_rule;
    std::int64_t m_period = 0;
    int m_offset = 0;
};

// The file of a piece: OUT "DIR/STEM.EXT" becomes "DIR/STEM-YYYYMMDD-HHMM.EXT"
// from the local time of the piece's first row; `serial` from 2 on adds "-N"
// before the extension, for a name that is already taken.
std::string pieceFileName(std::string_view out, std::int64_t utcMs, int offsetMinutes,
                          int serial = 1);

} // namespace kq::record
