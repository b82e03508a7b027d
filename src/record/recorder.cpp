#include "record/recorder.h"

#include "decode/meter_state.h"
#include "decode/widget_id.h"

#include <utility>

namespace kq::record {

Recorder::Recorder(Clock clock) : m_clock(std::move(clock)) {
    if (!m_clock)
        m_clock = systemTimeOfDay;
}

void Recorder::INDataToTable(const decode::MeterState& state) {
    LogReading r;
    r.ValueText = state.ValueText;
    r.UnitText = state.UnitText;
    r.ReadingValue = state.ReadingValue;
    r.LcdP1 = state.display.isShown(decode::Widget::LcdP1);
    r.LcdP2 = state.display.isShown(decode::Widget::LcdP2);
    r.LcdP3 = state.display.isShown(decode::Widget::LcdP3);
    offer(r);
}

const LogResult& Recorder::offer(const LogReading& reading) {
    // The clock is read only for readings that may become a row.
    const bool mayAppend =
        m_log.LoggedCount < m_log.MaxRecords && !(m_log.RecordSI && m_log.SampleTicks != 0);
    const TimeOfDay now = mayAppend ? m_clock() : TimeOfDay{};
    m_last = record::INDataToTable(m_log, cds1, ChartPager, reading, now);
    return m_last;
}

} // namespace kq::record
