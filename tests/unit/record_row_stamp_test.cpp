#include "decode/meter_state.h"
#include "record/log_moment.h"
#include "record/recorder.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <optional>
#include <string>
#include <vector>

using kq::record::isoDateTime;
using kq::record::LogMoment;
using kq::record::LogTable;
using kq::record::parseIsoDateTime;

namespace {

TEST(LogMoment, IsoDateTimeIsLocalTimeWithMillisecondsAndOffset) {
    struct Case {
        const char* name;
        LogMoment m;
        const char* text;
    };
    const Case cases[] = {
        {"east of UTC", {1796907787250, 60}, "2026-12-10T14:03:07.250+01:00"},
        {"last millisecond before the epoch", {-1, 0}, "1969-12-31T23:59:59.999+00:00"},
        {"leap day", {1709251199999, 0}, "2024-02-29T23:59:59.999+00:00"},
        {"west of UTC, half hours", {1709251199999, -330}, "2024-02-29T18:29:59.999-05:30"},
        {"the offset moves the date", {1709251199999, 1}, "2024-03-01T00:00:59.999+00:01"},
        {"last year written", {253402300799999, 0}, "9999-12-31T23:59:59.999+00:00"},
        {"beyond year 9999", {253402300800000, 0}, ""},
        {"before year 0", {-62167219200001, 0}, ""},
        {"no overflow at the limits", {std::numeric_limits<std::int64_t>::min(), -600}, ""},
        {"no overflow at the top", {std::numeric_limits<std::int64_t>::max(), 600}, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(isoDateTime(c.m), c.text);
        if (*c.text) {
            EXPECT_EQ(parseIsoDateTime(c.text), std::optional<LogMoment>(c.m));
        }
    }
}

TEST(LogMoment, ParseTakesOnlyRealMoments) {
    struct Case {
        const char* text;
        std::optional<LogMoment> m;
    };
    const Case cases[] = {
        {"2026-12-10T13:03:07.250Z", LogMoment{1796907787250, 0}},
        {"2026-12-10T13:03:07Z", LogMoment{1796907787000, 0}},
        {"2026-12-10T13:03:07.5Z", LogMoment{1796907787500, 0}},
        {"2026-12-10T14:03:07+01:00", LogMoment{1796907787000, 60}},
        {"2026-02-29T00:00:00Z", std::nullopt}, // no such day
        {"2026-12-10 13:03:07Z", std::nullopt}, // the T is required
        {"2026-12-10T24:00:00Z", std::nullopt}, // hour 24
        {"2026-12-10T13:60:00Z", std::nullopt}, // minute 60
        {"2026-12-10T13:03:07", std::nullopt},  // no offset: the moment is unknown
        {"2026-12-10T13:03:07.2500Z", std::nullopt},
        {"2026-12-10T13:03:07.Z", std::nullopt},
        {"2026-12-10T13:03:07+19:00", std::nullopt},
        {"2026-12-10T13:03:07+01:60", std::nullopt},
        {"2026-12-10T13:03:07Z ", std::nullopt},
        {"2026-1-10T13:03:07Z", std::nullopt},
        {"", std::nullopt},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(parseIsoDateTime(c.text), c.m);
    }
}

TEST(LogMoment, RecordingOverMidnightKeepsEachRowsDate) {
    // The clock stands at 23:59:59.900 on 31 December (UTC+1), then 200 ms later.
    std::vector<LogMoment> clock = {{1798757999900, 60}, {1798758000100, 60}};
    std::size_t read = 0;
    kq::record::Recorder rec([&] { return clock[read++]; });
    kq::record::LogReading r;
    r.ValueText = "12.5";
    r.UnitText = "lux";
    rec.offer(r);
    rec.offer(r);
    ASSERT_EQ(rec.cds1.rowCount(), 2u);
    EXPECT_EQ(*rec.cds1.textString(0, LogTable::Field::Time), "23:59:59");
    EXPECT_EQ(*rec.cds1.textString(1, LogTable::Field::Time), "00:00:00");
    EXPECT_EQ(isoDateTime(*rec.cds1.moment(0)), "2026-12-31T23:59:59.900+01:00");
    EXPECT_EQ(isoDateTime(*rec.cds1.moment(1)), "2027-01-01T00:00:00.100+01:00");
}

TEST(LogMoment, HeldReadingsKeepTheMomentTheyArrived) {
    std::int64_t now = 1798757999000;
    kq::record::Recorder rec([&] { return LogMoment{now, 0}; });
    kq::record::LogReading r;
    r.ValueText = "1";
    r.UnitText = "lux";
    rec.holdLog();
    rec.offer(r);
    now += 5000;
    rec.releaseLog();
    ASSERT_EQ(rec.cds1.rowCount(), 1u);
    EXPECT_EQ(rec.cds1.moment(0), std::optional<LogMoment>(LogMoment{1798757999000, 0}));
}

TEST(RowStamp, EachRowKeepsTheJudgementOfItsOwnReading) {
    struct Case {
        const char* value;
        const char* hi;
        LogTable::Verdict verdict;
    };
    // Limits 0..100; a limit that is no number gives no judgement, even right
    // after a reading that failed (the panel keeps its colour, the row does not).
    const Case cases[] = {
        {"50", "100", LogTable::Verdict::Pass},  {"150", "100", LogTable::Verdict::Fail},
        {"0L", "100", LogTable::Verdict::Fail},  {"50", "x", LogTable::Verdict::None},
        {"100", "100", LogTable::Verdict::Pass},
    };
    kq::record::Recorder rec([] { return LogMoment{0, 0}; });
    kq::decode::MeterState s;
    s.UnitText = "lux";
    s.T1LO = "0";
    for (const auto& c : cases) {
        s.ValueText = c.value;
        s.T1HI = c.hi;
        rec.INDataToTable(s);
    }
    ASSERT_EQ(rec.cds1.rowCount(), std::size(cases));
    for (std::size_t i = 0; i < std::size(cases); ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(rec.cds1.verdict(i), cases[i].verdict);
    }
}

TEST(LogMoment, RowsWithoutMomentStayUnknown) {
    LogTable t;
    t.append(1, "10:15:02", "1", "lux");
    t.append(2, "10:15:03", "2", "lux", LogTable::kInserted, true,
             LogTable::Stamp{LogMoment{-5, -720}, LogTable::Verdict::Fail});
    EXPECT_FALSE(t.moment(0).has_value());
    EXPECT_EQ(t.verdict(0), LogTable::Verdict::None);
    EXPECT_EQ(t.verdict(1), LogTable::Verdict::Fail);
    EXPECT_EQ(t.moment(1), std::optional<LogMoment>(LogMoment{-5, -720}));
}

} // namespace
