#include "record/reading_log.h"

#include "record/chart_pager.h"
#include "record/log_table.h"

#include <algorithm>
#include <cmath>
#include <exception>
#include <limits>

namespace kq::record {

std::string formatTimeOfDay(const TimeOfDay& t, std::string_view separator) {
    std::string out;
    out.reserve(6 + 2 * separator.size());
    const int parts[3] = {std::clamp(t.hour, 0, 23), std::clamp(t.minute, 0, 59),
                          std::clamp(t.second, 0, 59)};
    for (int i = 0; i < 3; ++i) {
        if (i)
            out.append(separator);
        out.push_back(static_cast<char>('0' + parts[i] / 10));
        out.push_back(static_cast<char>('0' + parts[i] % 10));
    }
    return out;
}

double chartValue(float readingValue, bool p1, bool p2, bool p3) {
    const double count = readingValue;
    if (p1)
        return count / 1000;
    if (p2)
        return count / 100;
    if (p3)
        return count / 10;
    return count;
}

double axisHalfRange(double value) {
    const double size = std::fabs(value);
    if (size <= 20)
        return 20;
    if (size <= 200)
        return 200;
    if (size <= 2000)
        return 2000;
    return 20000;
}

std::int32_t intervalFromText(std::string_view text) {
    std::size_t i = 0;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
        negative = text[i] == '-';
        ++i;
    }
    if (i == text.size())
        return 0; // "", "-", "+"
    std::int64_t value = 0;
    constexpr std::int64_t kMax = std::numeric_limits<std::int32_t>::max();
    for (; i < text.size(); ++i) {
        const char c = text[i];
        if (c < '0' || c > '9')
            return 0;
        value = std::min(kMax + 1, value * 10 + (c - '0'));
    }
    if (negative)
        return 0;
    return static_cast<std::int32_t>(std::min(value, kMax));
}

bool intervalKeyAccepted(char32_t key) {
    return (key >= U'0' && key <= U'9') || key == 8;
}

std::string digitsOnly(std::string_view text) {
    std::string out;
    for (char c : text)
        if (c >= '0' && c <= '9')
            out.push_back(c);
    return out;
}

void TrecordTimer(ReadingLogState& s) {
    if (s.RecordSI && s.SampleTicks > 0)
        --s.SampleTicks;
}

void RecordSITimeChange(ReadingLogState& s, std::string_view text) {
    s.RecordSITime.assign(text);
    s.SampleTicks = intervalFromText(text);
}

LogResult INDataToTable(ReadingLogState& s, LogTable& cds1, TChartControl& chart,
                        const LogReading& reading, const LogMoment& now) {
    LogResult result;
    if (s.LoggedCount >= s.MaxRecords) {
        result.outcome = LogResult::Outcome::Limited;
        return result;
    }
    if (s.RecordSI && s.SampleTicks != 0) {
        result.outcome = LogResult::Outcome::Sampled;
        return result;
    }

    const bool sameAsLast =
        reading.ValueText.size() + reading.UnitText.size() == s.LastRecordKey.size() &&
        s.LastRecordKey.starts_with(reading.ValueText) &&
        s.LastRecordKey.ends_with(reading.UnitText);
    if (!s.RepeatSet && sameAsLast) {
        result.outcome = LogResult::Outcome::Repeated;
    } else {
        // The row goes in first: if the table cannot take it, nothing of this reading counts,
        // so the state never claims a row that is not there.
        const std::size_t index = cds1.rowCount();
        try {
            cds1.append(s.RecordNo, formatTimeOfDay(localTimeOfDay(now), s.TimeSeparator),
                        reading.ValueText, reading.UnitText, LogTable::kInserted, true,
                        LogTable::Stamp{now, reading.verdict});
        } catch (const std::exception&) {
            cds1.truncate(index);
            result.outcome = LogResult::Outcome::TableFull;
            return result;
        }
        s.LastRecordKey.assign(reading.ValueText);
        s.LastRecordKey.append(reading.UnitText);
        s.SampleTicks = intervalFromText(s.RecordSITime);
        ++s.LoggedCount;
        result.outcome = LogResult::Outcome::Appended;
        result.rowAppended = true;
        result.rowIndex = index;
        result.number = s.RecordNo;
    }
    // RecordNo is 32-bit like the table's No field; it stops at the largest value instead of
    // wrapping to negative numbers.
    if (s.RecordNo < std::numeric_limits<std::int32_t>::max())
        ++s.RecordNo;

    const double v = chartValue(reading.ReadingValue, reading.LcdP1, reading.LcdP2, reading.LcdP3);
    const double n = axisHalfRange(v);
    chart.SetYMax(n);
    chart.SetYMin(-n);
    result.chartPointAdded = chart.AddValue(v);
    result.chartValue = v;
    return result;
}

void RecordNew(ReadingLogState& s, LogTable& cds1) {
    if (!cds1.empty())
        cds1.clear();
    s.RecordNo = 1;
    s.LoggedCount = 0;
}

} // namespace kq::record
