#pragma once

#include "record/log_moment.h"
#include "record/log_table.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace kq::record {

class TChartControl;

// "hh:mm:ss" with the given separator, two digits each (values are clamped into their ranges).
std::string formatTimeOfDay(const TimeOfDay& t, std::string_view separator);

// The state of the reading log and the log strip's settings.
struct ReadingLogState {
    std::int32_t MaxRecords = 10000;
    std::int32_t LoggedCount = 0;   // rows appended since start-up or the last New
    std::int32_t RecordNo = 1;      // No of the next row; counts readings past limit and interval
    std::int32_t SampleTicks = 0;   // seconds still to wait before the next sampled row
    std::string LastRecordKey;      // ValueText + UnitText of the last appended row
    bool RepeatSet = true;          // checked: identical consecutive readings are all logged
    bool RecordSI = false;          // checked: at most one row per interval
    std::string RecordSITime = "1"; // the interval edit's text, in seconds
    std::string TimeSeparator = ":";
};

// What one reading offers to the log.
struct LogReading {
    std::string_view ValueText;
    std::string_view UnitText;
    float ReadingValue = 0.0f;
    bool LcdP1 = false;
    bool LcdP2 = false;
    bool LcdP3 = false;
    LogTable::Verdict verdict = LogTable::Verdict::None; // the judgement of this reading
};

// What INDataToTable did with a reading.
struct LogResult {
    enum class Outcome : std::uint8_t {
        Limited,   // the record-count limit is reached: nothing happened
        Sampled,   // inside the sampling interval: nothing happened
        Repeated,  // same key as the last row: numbered and charted, no row
        Appended,  // a row was appended, numbered and charted
        TableFull, // the table could not take the row: nothing happened
    };
    Outcome outcome = Outcome::Limited;
    bool rowAppended = false;
    std::size_t rowIndex = 0; // of the appended row
    std::int32_t number = 0;  // its No
    bool chartPointAdded = false;
    double chartValue = 0.0;
};

// The displayed value with its decimal point: ReadingValue divided by 1000, 100 or 10 for the
// first lit point LcdP1, LcdP2, LcdP3, else the count itself.
double chartValue(float readingValue, bool p1, bool p2, bool p3);
// The value-axis half range n (the axis shows -n ... n) for a chart value: 20, 200, 2000 or
// 20000, chosen by the size of the value, so a negative reading stays in view too.
double axisHalfRange(double value);

// The sampling interval in seconds from the edit's text. Empty, "-" and "+" count as 0, and so
// does any text that is not a whole decimal number (the edit takes only digits, but a peer or a
// paste may bring anything). A negative number counts as 0 (the count-down never reaches a
// negative count, so it would block the log for good); a number too large for 32 bits is
// clamped to the largest 32-bit value.
std::int32_t intervalFromText(std::string_view text);
// Key filter of the interval and page-length edits: digits and backspace pass.
bool intervalKeyAccepted(char32_t key);
// What a pasted text becomes in those edits: its digits, in order.
std::string digitsOnly(std::string_view text);

// Handlers of the log's timer and edit.
void TrecordTimer(ReadingLogState& s);
void RecordSITimeChange(ReadingLogState& s, std::string_view text);

// The record-count items of the "Record" menu, one radio group.
struct RecordCountItem {
    std::string_view name; // object name of the menu item
    std::string_view caption;
    std::int32_t maxRecords;
    bool checkedAtStart;
};
inline constexpr std::array<RecordCountItem, 6> kRecordCountItems = {{
    {"N10001", "1000", 1000, false},
    {"N50001", "5000", 5000, false},
    {"N100001", "10000", 10000, true},
    {"N500001", "50000", 50000, false},
    {"N1000001", "100000", 100000, false},
    {"limitess", "limitless", 10000000, false},
}};

// One reading offered to the log: the limit, the interval, the repeat filter, the row and the
// chart point, in that order. A row is stamped with `now`: its Time is the local time of day of
// that moment, and the table keeps the moment itself.
LogResult INDataToTable(ReadingLogState& s, LogTable& cds1, TChartControl& chart,
                        const LogReading& reading, const LogMoment& now);

// New, after its message was closed: empties the table and restarts the numbering. The chart,
// LastRecordKey, SampleTicks and MaxRecords stay.
void RecordNew(ReadingLogState& s, LogTable& cds1);

} // namespace kq::record
