#include "decode/meter_state.h"
#include "record/reading_log.h"
#include "record/recorder.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using kq::record::LogMoment;
using kq::record::LogReading;
using kq::record::LogResult;
using kq::record::LogTable;
using kq::record::Recorder;
using kq::record::TimeOfDay;
using Outcome = LogResult::Outcome;
using Field = LogTable::Field;

namespace {

// A recorder whose clock advances one second per row taken.
struct Fixture {
    int seconds = 0;
    Recorder rec{[this] {
        const int s = seconds++;
        return LogMoment{(12 * 3600 + s) * std::int64_t{1000}, 0};
    }};

    const LogResult& read(const char* value, const char* unit = "lux", float count = -1,
                          bool p3 = false) {
        LogReading r;
        r.ValueText = value;
        r.UnitText = unit;
        r.ReadingValue = count >= 0 ? count : std::stof(value);
        r.LcdP3 = p3;
        return rec.offer(r);
    }
    std::vector<int> numbers() const {
        std::vector<int> out;
        for (std::size_t i = 0; i < rec.cds1.rowCount(); ++i)
            out.push_back(*rec.cds1.no(i));
        return out;
    }
    std::string cell(std::size_t row, Field f) const { return *rec.cds1.textString(row, f); }
    std::size_t chartReadings() const { return rec.ChartPager.size() - 1; }
};

TEST(ReadingLog, StartSettingsLogEveryReadingNumberedFromOne) {
    Fixture f;
    for (const char* v : {"5", "5", "7", "5"})
        EXPECT_EQ(f.read(v).outcome, Outcome::Appended);
    EXPECT_EQ(f.numbers(), (std::vector<int>{1, 2, 3, 4}));
    EXPECT_EQ(f.cell(0, Field::Time), "12:00:00");
    EXPECT_EQ(f.cell(3, Field::Time), "12:00:03");
    EXPECT_EQ(f.cell(2, Field::Value), "7");
    EXPECT_EQ(f.cell(2, Field::Unit), "lux");
    EXPECT_EQ(f.rec.cds1.rowState(0), LogTable::kInserted);
    EXPECT_EQ(f.rec.log().LoggedCount, 4);
    EXPECT_EQ(f.rec.log().RecordNo, 5);
    EXPECT_EQ(f.chartReadings(), 4u);
}

TEST(ReadingLog, RepeatFilterDropsRowsButNumbersAndChartsEveryReading) {
    struct Case {
        const char* name;
        std::vector<std::pair<const char*, const char*>> readings;
        std::vector<int> numbers;
    };
    const Case cases[] = {
        {"same value thrice then another",
         {{"5", "lux"}, {"5", "lux"}, {"5", "lux"}, {"6", "lux"}},
         {1, 4}},
        {"the unit is part of the key", {{"5", "lux"}, {"5", "fc"}}, {1, 2}},
        {"only consecutive repeats drop", {{"5", "lux"}, {"6", "lux"}, {"5", "lux"}}, {1, 2, 3}},
        // the key is value and unit run together, so these two count as one
        {"the key is the plain concatenation", {{"5", "5lux"}, {"55", "lux"}}, {1}},
        {"case matters", {{"5", "lux"}, {"5", "LUX"}}, {1, 2}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Fixture f;
        f.rec.setRepeatSet(false);
        for (auto [v, u] : c.readings)
            f.read(v, u, 5);
        EXPECT_EQ(f.numbers(), c.numbers);
        EXPECT_EQ(f.chartReadings(), c.readings.size());
        EXPECT_EQ(f.rec.log().RecordNo, static_cast<int>(c.readings.size()) + 1);
    }
}

TEST(ReadingLog, RepeatedReadingIsReportedAsChartedWithoutRow) {
    Fixture f;
    f.rec.setRepeatSet(false);
    f.read("5");
    const LogResult& r = f.read("5");
    EXPECT_EQ(r.outcome, Outcome::Repeated);
    EXPECT_FALSE(r.rowAppended);
    EXPECT_TRUE(r.chartPointAdded);
    EXPECT_EQ(r.chartValue, 5.0);
}

TEST(ReadingLog, SamplingIntervalDropsReadingsUntilTheCountRunsOut) {
    Fixture f;
    f.rec.setRecordSI(true);
    f.rec.RecordSITimeChange("3");
    EXPECT_EQ(f.rec.log().SampleTicks, 3);
    // the typed interval restarts the count, so the first reading waits too
    EXPECT_EQ(f.read("1").outcome, Outcome::Sampled);
    for (int i = 0; i < 3; ++i)
        f.rec.TrecordTimer();
    EXPECT_EQ(f.rec.log().SampleTicks, 0);
    EXPECT_EQ(f.read("2").outcome, Outcome::Appended);
    EXPECT_EQ(f.rec.log().SampleTicks, 3);
    for (int tick = 0; tick < 3; ++tick) {
        EXPECT_EQ(f.read("3").outcome, Outcome::Sampled);
        f.rec.TrecordTimer();
    }
    EXPECT_EQ(f.read("4").outcome, Outcome::Appended);
    // a dropped reading numbers nothing and charts nothing
    EXPECT_EQ(f.numbers(), (std::vector<int>{1, 2}));
    EXPECT_EQ(f.chartReadings(), 2u);
    // the count never goes below 0 and does not run while sampling is off
    f.rec.setRecordSI(false);
    f.rec.TrecordTimer();
    EXPECT_EQ(f.rec.log().SampleTicks, 3);
    EXPECT_EQ(f.read("5").outcome, Outcome::Appended);
    f.rec.setRecordSI(true);
    for (int i = 0; i < 10; ++i)
        f.rec.TrecordTimer();
    EXPECT_EQ(f.rec.log().SampleTicks, 0);
}

TEST(ReadingLog, ARepeatDroppedInsideSamplingDoesNotRestartTheCount) {
    Fixture f;
    f.rec.setRepeatSet(false);
    f.rec.setRecordSI(true);
    f.rec.RecordSITimeChange("2");
    f.rec.TrecordTimer();
    f.rec.TrecordTimer();
    EXPECT_EQ(f.read("5").outcome, Outcome::Appended);
    f.rec.TrecordTimer();
    f.rec.TrecordTimer();
    EXPECT_EQ(f.read("5").outcome, Outcome::Repeated);
    EXPECT_EQ(f.rec.log().SampleTicks, 0);
    EXPECT_EQ(f.read("6").outcome, Outcome::Appended);
    EXPECT_EQ(f.numbers(), (std::vector<int>{1, 3}));
}

TEST(ReadingLog, EmptiedIntervalLetsEveryReadingPass) {
    Fixture f;
    f.rec.setRecordSI(true);
    f.rec.RecordSITimeChange("");
    for (int i = 0; i < 5; ++i)
        EXPECT_EQ(f.read("1").outcome, Outcome::Appended);
    EXPECT_EQ(f.rec.log().SampleTicks, 0);
}

TEST(ReadingLog, IntervalTextRule) {
    struct Case {
        const char* text;
        std::int32_t seconds;
    };
    const Case cases[] = {
        {"", 0},
        {"-", 0},
        {"+", 0},
        {"0", 0},
        {"3", 3},
        {"007", 7},
        {"+5", 5},
        {"2147483647", 2147483647},
        {"2147483648", 2147483647}, // too long for 32 bits: clamped
        {"99999999999999999999999", 2147483647},
        {"-5", 0}, // would block the log for good
        {"-2147483649", 0},
        {"1a", 0},
        {" 1", 0},
        {"1 ", 0},
        {"--1", 0},
        {"٣", 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(kq::record::intervalFromText(c.text), c.seconds);
    }
}

TEST(ReadingLog, IntervalKeyFilterAndPaste) {
    struct Case {
        char32_t key;
        bool passes;
    };
    const Case cases[] = {{U'0', true},  {U'9', true},  {8, true},    {U'-', false}, {U'+', false},
                          {U'.', false}, {U'a', false}, {127, false}, {U'٣', false}, {0, false}};
    for (const auto& c : cases)
        EXPECT_EQ(kq::record::intervalKeyAccepted(c.key), c.passes) << static_cast<int>(c.key);
    EXPECT_EQ(kq::record::digitsOnly("1a2 -3\t"), "123");
    EXPECT_EQ(kq::record::digitsOnly("abc"), "");
}

TEST(ReadingLog, LimitStopsEverythingAndALargerLimitResumes) {
    Fixture f;
    f.rec.setMaxRecords(1000);
    for (int i = 0; i < 1000; ++i)
        f.read("5");
    EXPECT_EQ(f.rec.cds1.rowCount(), 1000u);
    const auto chartBefore = f.chartReadings();
    const auto revision = f.rec.ChartPager.revision();
    for (int i = 0; i < 5; ++i)
        EXPECT_EQ(f.read("6").outcome, Outcome::Limited);
    EXPECT_EQ(f.rec.cds1.rowCount(), 1000u);
    EXPECT_EQ(f.chartReadings(), chartBefore);
    EXPECT_EQ(f.rec.ChartPager.revision(), revision);
    EXPECT_EQ(f.rec.log().RecordNo, 1001);
    f.rec.setMaxRecords(5000);
    EXPECT_EQ(f.read("7").outcome, Outcome::Appended);
    EXPECT_EQ(f.numbers().back(), 1001);
    // a limit at or below the rows logged stops at once
    f.rec.setMaxRecords(1000);
    EXPECT_EQ(f.read("8").outcome, Outcome::Limited);
}

TEST(ReadingLog, RecordCountItemsFormOneGroupWithTenThousandChecked) {
    int checked = 0;
    for (const auto& item : kq::record::kRecordCountItems) {
        checked += item.checkedAtStart;
        if (item.checkedAtStart) {
            EXPECT_EQ(item.maxRecords, kq::record::ReadingLogState{}.MaxRecords);
        }
    }
    EXPECT_EQ(checked, 1);
    EXPECT_EQ(kq::record::kRecordCountItems.back().caption, "limitless");
    EXPECT_EQ(kq::record::kRecordCountItems.back().maxRecords, 10000000);
}

TEST(ReadingLog, NewEmptiesTheTableButKeepsTheChartAndTheRepeatKey) {
    Fixture f;
    f.rec.setRepeatSet(false);
    f.rec.setRecordSI(true);
    f.rec.RecordSITimeChange("0");
    for (const char* v : {"1", "2", "3"})
        f.read(v);
    f.rec.log().SampleTicks = 4;
    f.rec.RecordNew();
    EXPECT_EQ(f.rec.cds1.rowCount(), 0u);
    EXPECT_EQ(f.rec.log().RecordNo, 1);
    EXPECT_EQ(f.rec.log().LoggedCount, 0);
    EXPECT_EQ(f.rec.log().SampleTicks, 4);
    EXPECT_EQ(f.rec.log().MaxRecords, 10000);
    EXPECT_EQ(f.chartReadings(), 3u);
    f.rec.log().SampleTicks = 0;
    EXPECT_EQ(f.read("3").outcome, Outcome::Repeated); // the last key survived New
    EXPECT_EQ(f.read("4").outcome, Outcome::Appended);
    EXPECT_EQ(f.numbers(), (std::vector<int>{2}));
    EXPECT_EQ(f.chartReadings(), 5u);
    EXPECT_EQ(f.rec.ChartPager.valueAt(5), 4.0); // after the old points
}

TEST(ReadingLog, NewAfterTheLimitResumesNumberingFromOne) {
    Fixture f;
    f.rec.setMaxRecords(3);
    for (int i = 0; i < 5; ++i)
        f.read("1");
    f.rec.RecordNew();
    f.read("1");
    EXPECT_EQ(f.numbers(), (std::vector<int>{1}));
}

TEST(ReadingLog, ChartValueAndAxisRangeFromTheLitPoint) {
    struct Case {
        float count;
        bool p1, p2, p3;
        double v;
        double range;
    };
    const Case cases[] = {
        {1500, false, false, true, 150, 200}, // 150.0
        {1500, true, false, false, 1.5, 20},  // 1.500
        {1500, false, true, false, 15, 20},   // 15.00
        {1500, false, false, false, 1500, 2000},
        {1500, true, true, true, 1.5, 20}, // the first lit point wins
        {1500, false, true, true, 15, 20},
        {20, false, false, false, 20, 20}, // the bounds belong to the lower range
        {21, false, false, false, 21, 200},
        {200, false, false, false, 200, 200},
        {2000, false, false, false, 2000, 2000},
        {2001, false, false, false, 2001, 20000},
        {9999, false, false, false, 9999, 20000},
        {0, false, false, false, 0, 20},
        {-1500, false, false, false, -1500, 2000}, // a negative reading stays in view
        {-5, false, false, false, -5, 20},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.count);
        const double v = kq::record::chartValue(c.count, c.p1, c.p2, c.p3);
        EXPECT_DOUBLE_EQ(v, c.v);
        EXPECT_EQ(kq::record::axisHalfRange(v), c.range);

        Fixture f;
        LogReading r;
        r.ValueText = "x";
        r.UnitText = "lux";
        r.ReadingValue = c.count;
        r.LcdP1 = c.p1;
        r.LcdP2 = c.p2;
        r.LcdP3 = c.p3;
        const LogResult& res = f.rec.offer(r);
        EXPECT_DOUBLE_EQ(res.chartValue, c.v);
        EXPECT_EQ(f.rec.ChartPager.valueAt(1), res.chartValue);
        EXPECT_EQ(f.rec.ChartPager.yAxisMax(), c.range);
        EXPECT_EQ(f.rec.ChartPager.yAxisMin(), -c.range);
    }
}

TEST(ReadingLog, PageNumberFollowsTheChart) {
    Fixture f;
    for (int i = 0; i < 101; ++i)
        f.read("1");
    EXPECT_EQ(f.rec.ChartPager.curPage(), 2);
}

TEST(ReadingLog, TimeOfDayFormat) {
    struct Case {
        TimeOfDay t;
        const char* sep;
        const char* text;
    };
    const Case cases[] = {
        {{9, 5, 3}, ":", "09:05:03"},
        {{23, 59, 59}, ":", "23:59:59"},
        {{0, 0, 0}, ".", "00.00.00"},
        {{25, -1, 61}, ":", "23:00:59"}, // out of range values are clamped, never garbage
        {{1, 2, 3}, "", "010203"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(kq::record::formatTimeOfDay(c.t, c.sep), c.text);
}

TEST(ReadingLog, LongTextsAreCutInTheTableButCompareWhole) {
    Fixture f;
    f.rec.setRepeatSet(false);
    const std::string a(25, '1');
    std::string b = a;
    b.back() = '2'; // differs only after the 20th character
    f.read(a.c_str(), "lux", 1);
    EXPECT_EQ(f.read(b.c_str(), "lux", 1).outcome, Outcome::Appended);
    EXPECT_EQ(f.cell(1, Field::Value), std::string(20, '1'));
}

TEST(ReadingLog, RecorderReadsTheMeterState) {
    Fixture f;
    kq::decode::MeterState s;
    s.ValueText = "150.0";
    s.UnitText = "lux";
    s.ReadingValue = 1500;
    s.display.setShown(kq::decode::Widget::LcdP3, true);
    f.rec.INDataToTable(s);
    const LogResult& r = f.rec.lastResult();
    EXPECT_TRUE(r.rowAppended);
    EXPECT_EQ(r.rowIndex, 0u);
    EXPECT_EQ(r.number, 1);
    EXPECT_TRUE(r.chartPointAdded);
    EXPECT_EQ(r.chartValue, 150.0);
    EXPECT_EQ(f.cell(0, Field::Value), "150.0");
    s.display.setShown(kq::decode::Widget::LcdP3, false);
    s.display.setShown(kq::decode::Widget::LcdP1, true);
    f.rec.INDataToTable(s);
    EXPECT_EQ(f.rec.lastResult().chartValue, 1.5);
    EXPECT_EQ(f.rec.lastResult().rowIndex, 1u);
}

TEST(ReadingLog, ClockIsNotReadForReadingsThatCannotBecomeRows) {
    Fixture f;
    f.rec.setMaxRecords(1);
    f.read("1");
    f.read("2");
    f.read("3");
    EXPECT_EQ(f.seconds, 1);
}

} // namespace
