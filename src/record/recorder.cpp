#include "record/recorder.h"

#include "decode/meter_state.h"
#include "decode/reading_steps.h"
#include "decode/widget_id.h"
#include "record/reading_stats.h"

#include <utility>

namespace kq::record {

Recorder::Recorder(Clock clock) : m_clock(std::move(clock)) {
    if (!m_clock)
        m_clock = systemMoment;
}

void Recorder::INDataToTable(const decode::MeterState& state) {
    LogReading r;
    r.ValueText = state.ValueText;
    r.UnitText = state.UnitText;
    r.ReadingValue = state.ReadingValue;
    r.LcdP1 = state.display.isShown(decode::Widget::LcdP1);
    r.LcdP2 = state.display.isShown(decode::Widget::LcdP2);
    r.LcdP3 = state.display.isShown(decode::Widget::LcdP3);
    switch (decode::judgement(state)) {
    case decode::DisplayModel::Verdict::Pass:
        r.verdict = LogTable::Verdict::Pass;
        break;
    case decode::DisplayModel::Verdict::Fail:
        r.verdict = LogTable::Verdict::Fail;
        break;
    case decode::DisplayModel::Verdict::None:
        break;
    }
    offer(r);
}

const LogResult& Recorder::offer(const LogReading& reading) {
    if (!m_holding)
        return offerAt(reading, nullptr);
    if (m_held.size() >= kMaxHeld) {
        ++m_heldDropped;
    } else {
        Held h;
        h.value.assign(reading.ValueText);
        h.unit.assign(reading.UnitText);
        h.readingValue = reading.ReadingValue;
        h.p1 = reading.LcdP1;
        h.p2 = reading.LcdP2;
        h.p3 = reading.LcdP3;
        h.verdict = reading.verdict;
        h.at = m_clock();
        m_held.push_back(std::move(h));
    }
    m_last = LogResult{};
    return m_last;
}

const LogResult& Recorder::offerAt(const LogReading& reading, const LogMoment* at) {
    // The clock is read only for readings that may become a row.
    const bool mayAppend =
        m_log.LoggedCount < m_log.MaxRecords && !(m_log.RecordSI && m_log.SampleTicks != 0);
    const LogMoment now = at ? *at : mayAppend ? m_clock() : LogMoment{};
    if (m_split && mayAppend &&
        m_split->beginsNextPiece(now.utcMs, now.offsetMinutes, cds1.rowCount()) && m_nextPiece)
        m_nextPiece();
    m_last = record::INDataToTable(m_log, cds1, ChartPager, reading, now);
    if (m_split && m_last.rowAppended && cds1.rowCount() == 1)
        m_split->pieceBegan(now.utcMs, now.offsetMinutes);
    if (m_last.chartPointAdded && m_chartNumbers.size() + 2 == ChartPager.size())
        m_chartNumbers.push_back(readingNumber(reading.ValueText).has_value());
    return m_last;
}

void Recorder::TrecordTimer() {
    if (!m_holding) {
        record::TrecordTimer(m_log);
        return;
    }
    // The seconds keep their place among the readings, so the sampling
    // interval decides afterwards as it would have at the time.
    if (m_held.size() < kMaxHeld) {
        Held h;
        h.tick = true;
        m_held.push_back(std::move(h));
    }
}

std::size_t Recorder::releaseLog() {
    m_holding = false;
    std::size_t readings = m_heldDropped;
    while (!m_held.empty()) {
        const Held h = std::move(m_held.front());
        m_held.pop_front();
        if (h.tick) {
            record::TrecordTimer(m_log);
            continue;
        }
        ++readings;
        LogReading r;
        r.ValueText = h.value;
        r.UnitText = h.unit;
        r.ReadingValue = h.readingValue;
        r.LcdP1 = h.p1;
        r.LcdP2 = h.p2;
        r.LcdP3 = h.p3;
        r.verdict = h.verdict;
        offerAt(r, &h.at);
    }
    m_heldDropped = 0;
    return readings;
}

} // namespace kq::record
