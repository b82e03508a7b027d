#pragma once

#include "record/log_moment.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace kq::record {

// The judgement of a logged reading against the limits (None: no judgement).
enum class RowVerdict : std::uint8_t { None = 0, Pass = 1, Fail = 2 };

// What the program knows of a row beyond its four fields: the moment it was
// logged and its verdict. Rows read from a text or XML file have neither.
struct RowStamp {
    std::optional<LogMoment> moment;
    RowVerdict verdict = RowVerdict::None;
};

// The log table cds1: rows of No (32-bit integer), Time, Value and Unit
// (texts of at most 20 characters), each field possibly without a value, plus
// the row state and change log that the XML data packet carries, and the moment
// a row was logged when it is known (rows read from a text or XML file have only
// their Time text). Texts are
// UTF-8 and their width counts characters (record/text_chars.h).
//
// Rows live in fixed-size blocks of small records and their texts in a chunked
// arena, so ten million rows cost a few tens of bytes each, appending never
// moves earlier rows, and there is no allocation per row or per cell.
class LogTable {
public:
    enum class Field : std::uint8_t { No = 0, Time = 1, Value = 2, Unit = 3 };
    static constexpr std::size_t kTextWidth = 20;             // characters
    static constexpr std::size_t kTextBytes = kTextWidth * 4; // a character has at most 4 bytes
    static constexpr std::uint16_t kInserted = 4;
    using Verdict = RowVerdict;
    using Stamp = RowStamp;

    // A text field as stored: at most kTextWidth characters, returned by value
    // so that readers need no allocation.
    struct Text {
        char data[kTextBytes] = {};
        std::uint8_t size = 0;
        std::string_view view() const { return {data, size}; }
    };

    LogTable();
    ~LogTable();
    LogTable(const LogTable&) = delete;
    LogTable& operator=(const LogTable&) = delete;
    LogTable(LogTable&&) noexcept;
    LogTable& operator=(LogTable&&) noexcept;

    std::size_t rowCount() const { return m_rows; }
    bool empty() const { return m_rows == 0; }

    // Appends one row; texts longer than 20 characters are cut. A row that the
    // program appends or loads from a text file is an inserted row (state 4)
    // and its insertion is written to the change log; rows read from an XML
    // packet carry their own state and no implicit log entry.
    // Throws std::length_error when the text store is exhausted (beyond 2 GiB).
    void append(std::optional<std::int32_t> no, std::optional<std::string_view> time,
                std::optional<std::string_view> value, std::optional<std::string_view> unit,
                std::uint16_t rowState = kInserted, bool logInsert = true, const Stamp& stamp = {});

    std::optional<std::int32_t> no(std::size_t row) const;
    // False when the field has no value.
    bool text(std::size_t row, Field field, Text& out) const;
    std::optional<std::string> textString(std::size_t row, Field field) const;
    std::uint16_t rowState(std::size_t row) const;
    // When the row was logged; none for rows whose full time is unknown.
    std::optional<LogMoment> moment(std::size_t row) const;
    Verdict verdict(std::size_t row) const;
    bool insertLogged(std::size_t row) const;

    // Empties the table: every row, its state and the whole change log go.
    void clear();
    // Drops rows from `count` on (used to take back a row that failed half-way).
    void truncate(std::size_t count);

    // The change log as written to CHANGE_LOG: first the numbers read from a
    // packet, then the triple (position from 1, 0, 4) of every logged insert
    // in row order.
    void setLoadedChangeLog(std::vector<std::uint32_t> numbers);
    const std::vector<std::uint32_t>& loadedChangeLog() const { return m_loadedLog; }
    bool hasChangeLog() const;
    template <class F> void forEachChangeLogNumber(F&& f) const {
        for (std::uint32_t n : m_loadedLog)
            f(n);
        for (std::size_t i = 0; i < m_rows; ++i)
            if (insertLogged(i)) {
                f(static_cast<std::uint32_t>(i + 1));
                f(0u);
                f(4u);
            }
    }

    // Changes whenever rows are taken away (clear, truncate), so that a view can tell a table
    // that was emptied and filled again from one that only grew.
    std::uint64_t generation() const { return m_generation.value; }

    // Bytes the rows, their texts and the unit list occupy.
    std::size_t memoryBytes() const;

private:
    struct Row;
    struct TextHash {
        using is_transparent = void;
        std::size_t operator()(std::string_view s) const noexcept {
            return std::hash<std::string_view>{}(s);
        }
    };

    Row& rowAt(std::size_t i);
    const Row& rowAt(std::size_t i) const;
    std::uint32_t storeText(std::string_view s);
    std::string_view arenaText(std::uint32_t ref) const;
    std::uint32_t unitRef(std::string_view s, bool& inArena);

    std::vector<std::unique_ptr<Row[]>> m_blocks;
    std::vector<std::unique_ptr<char[]>> m_chunks;
    std::size_t m_chunkUsed = 0; // bytes used in the last chunk
    std::size_t m_rows = 0;
    std::vector<std::string> m_units;
    std::unordered_map<std::string, std::uint32_t, TextHash, std::equal_to<>> m_unitIndex;
    std::uint32_t m_lastUnitRef = 0;
    std::string m_lastUnit;
    bool m_haveLastUnit = false;
    std::vector<std::uint32_t> m_loadedLog;
    std::size_t m_loggedInserts = 0;
    // A table moved into this one replaces every row, so it counts as a new generation.
    struct Generation {
        std::uint64_t value = 0;
        Generation() = default;
        Generation(Generation&&) noexcept = default;
        Generation& operator=(Generation&& o) noexcept {
            value = (value > o.value ? value : o.value) + 1;
            return *this;
        }
    };
    Generation m_generation;
};

} // namespace kq::record
