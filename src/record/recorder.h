#pragma once

#include "decode/reading_sink.h"
#include "record/chart_pager.h"
#include "record/log_table.h"
#include "record/reading_log.h"
#include "record/recording_split.h"

#include <cstdint>
#include <deque>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kq::record {

// The record of the readings: the log table cds1, the reading-log state and the chart pager
// (page length 100). The 12B reading steps hand every reading to INDataToTable; the window's
// handlers and the command-line tool call the rest.
class Recorder : public decode::ReadingSink {
public:
    using Clock = std::function<LogMoment()>;

    // `clock` gives the moment each row is stamped with; an empty one means the system clock.
    explicit Recorder(Clock clock = {});

    void INDataToTable(const decode::MeterState& state) override;
    // The same with the reading given directly.
    const LogResult& offer(const LogReading& reading);
    // What the last INDataToTable / offer did with its reading.
    const LogResult& lastResult() const { return m_last; }

    // Every second: the sampling interval counts down.
    void TrecordTimer();
    // The interval edit's text changed (restarts the count).
    void RecordSITimeChange(std::string_view text) { record::RecordSITimeChange(m_log, text); }
    void setRepeatSet(bool checked) { m_log.RepeatSet = checked; }
    void setRecordSI(bool checked) { m_log.RecordSI = checked; }
    void setTimeSeparator(std::string_view sep) { m_log.TimeSeparator.assign(sep); }
    // A record-count item was chosen; LoggedCount stays.
    void setMaxRecords(std::int32_t maxRecords) { m_log.MaxRecords = maxRecords; }
    // New, after its message was closed: the table empties, numbering restarts, chart stays.
    void RecordNew() { record::RecordNew(m_log, cds1); }

    // Cuts a long recording into pieces: before the first row of each new piece
    // `nextPiece` is called, which takes the finished piece's rows out of cds1
    // (into their file). The row then opens the next piece, so no row is in two
    // pieces or in none. Numbering goes on across pieces.
    void splitInto(SplitRule rule, std::function<void()> nextPiece) {
        m_split.emplace(rule);
        m_nextPiece = std::move(nextPiece);
    }

    const ReadingLogState& log() const { return m_log; }
    ReadingLogState& log() { return m_log; }

    // While a long save or load works on cds1, the glass keeps following the
    // meter but the log step waits: readings (and the interval's seconds) are
    // kept, each with the time it arrived, and logged in order on release.
    void holdLog() { m_holding = true; }
    // Logs what was kept; returns how many readings had arrived meanwhile.
    std::size_t releaseLog();
    bool logHeld() const { return m_holding; }
    // Readings that arrived while the log was held and could not be kept
    // (more than kMaxHeld); counted until the next release.
    std::size_t droppedWhileHeld() const { return m_heldDropped; }
    static constexpr std::size_t kMaxHeld = std::size_t{1} << 18;

    // Whether the chart point at x (from 1) plots a number the glass showed; false for an
    // overload, which the chart draws at full scale. Points the recorder did not add count
    // as numbers.
    bool chartPointIsNumber(std::size_t x) const {
        return x == 0 || x > m_chartNumbers.size() || m_chartNumbers[x - 1];
    }

    // Bytes held by the table's rows and the chart's points.
    std::size_t memoryBytes() const {
        return cds1.memoryBytes() + ChartPager.memoryBytes() + m_chartNumbers.capacity() / 8;
    }

    LogTable cds1;
    TChartControl ChartPager{100};

private:
    // A reading, or a second of the interval timer, that came while the log was held.
    struct Held {
        bool tick = false;
        std::string value, unit;
        float readingValue = 0.0f;
        bool p1 = false, p2 = false, p3 = false;
        LogTable::Verdict verdict = LogTable::Verdict::None;
        LogMoment at;
    };
    const LogResult& offerAt(const LogReading& reading, const LogMoment* at);

    Clock m_clock;
    std::optional<PieceSplitter> m_split;
    std::function<void()> m_nextPiece;
    ReadingLogState m_log;
    LogResult m_last;
    bool m_holding = false;
    std::deque<Held> m_held;
    std::size_t m_heldDropped = 0;
    std::vector<bool> m_chartNumbers; // one bit per chart point after the seed
};

} // namespace kq::record
