#include "record/recorder.h"
#include "record/recording_split.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

using kq::record::PieceSplitter;
using kq::record::SplitRule;

namespace {

// Local wall-clock milliseconds of a date and time (days from 1970-01-01 by
// the civil calendar, written out here rather than taken from the code under test).
std::int64_t localMs(int y, unsigned m, unsigned d, int hh, int mm, int ss, int ms = 0) {
    const int yy = y - (m <= 2);
    const int era = (yy >= 0 ? yy : yy - 399) / 400;
    const unsigned yoe = static_cast<unsigned>(yy - era * 400);
    const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    const std::int64_t days = std::int64_t(era) * 146097 + doe - 719468;
    return ((days * 24 + hh) * 60 + mm) * 60'000 + ss * 1000 + ms;
}

// A row's time: local wall-clock milliseconds and the offset in force.
struct At {
    std::int64_t local;
    int offset = 60;
    std::int64_t utc() const { return local - offset * 60'000LL; }
};

// Rows offered one by one as a recorder does: returns the index of each row
// that opens a new piece (the first row always does).
std::vector<std::size_t> pieceStarts(SplitRule rule, const std::vector<At>& rows) {
    PieceSplitter s(rule);
    std::vector<std::size_t> starts;
    std::size_t inPiece = 0;
    for (std::size_t i = 0; i < rows.size(); ++i) {
        if (s.beginsNextPiece(rows[i].utc(), rows[i].offset, inPiece))
            inPiece = 0;
        if (inPiece == 0) {
            s.pieceBegan(rows[i].utc(), rows[i].offset);
            starts.push_back(i);
        }
        ++inPiece;
    }
    return starts;
}

TEST(RecordingSplit, PiecesEndAtTheHourMidnightOrRowCount) {
    const SplitRule hourly{SplitRule::Kind::Hourly, 0};
    const SplitRule daily{SplitRule::Kind::Daily, 0};
    const SplitRule three{SplitRule::Kind::Rows, 3};
    const std::vector<At> overMidnight = {
        {localMs(2026, 12, 31, 22, 59, 59, 999)}, // 0
        {localMs(2026, 12, 31, 23, 0, 0, 0)},     // 1: a new hour, exactly on it
        {localMs(2026, 12, 31, 23, 30, 0)},       // 2
        {localMs(2026, 12, 31, 23, 59, 59, 999)}, // 3
        {localMs(2027, 1, 1, 0, 0, 0, 0)},        // 4: a new hour, day and year
        {localMs(2027, 1, 1, 0, 0, 0, 1)},        // 5
        {localMs(2027, 1, 1, 2, 0, 0)},           // 6: two hours on, one piece
    };
    EXPECT_EQ(pieceStarts(hourly, overMidnight), (std::vector<std::size_t>{0, 1, 4, 6}));
    EXPECT_EQ(pieceStarts(daily, overMidnight), (std::vector<std::size_t>{0, 4}));
    EXPECT_EQ(pieceStarts(three, overMidnight), (std::vector<std::size_t>{0, 3, 6}));
    // The same hour of another day is another piece; the wall clock set back
    // an hour (end of summer time) starts one too, so no file holds 02:xx twice.
    EXPECT_EQ(pieceStarts(hourly, std::vector<At>{{localMs(2026, 3, 1, 10, 0, 0)},
                                                  {localMs(2026, 3, 2, 10, 0, 0)}}),
              (std::vector<std::size_t>{0, 1}));
    EXPECT_EQ(pieceStarts(daily, std::vector<At>{{localMs(2026, 10, 25, 2, 59, 0), 120},
                                                 {localMs(2026, 10, 25, 2, 0, 0), 60},
                                                 {localMs(2026, 10, 25, 23, 0, 0), 60}}),
              (std::vector<std::size_t>{0, 1}));
    // The hour is the wall clock's, also where the offset is not whole hours.
    EXPECT_EQ(pieceStarts(hourly, std::vector<At>{{localMs(2026, 5, 1, 9, 59, 0), 330},
                                                  {localMs(2026, 5, 1, 10, 0, 0), 330},
                                                  {localMs(2026, 5, 1, 10, 31, 0), 330}}),
              (std::vector<std::size_t>{0, 1}));
    // Before 1970 the hour still begins at :00.
    EXPECT_EQ(pieceStarts(hourly, std::vector<At>{{localMs(1969, 12, 31, 23, 0, 1)},
                                                  {localMs(1969, 12, 31, 23, 59, 0)},
                                                  {localMs(1970, 1, 1, 0, 0, 0)}}),
              (std::vector<std::size_t>{0, 2}));
}

// The recorder with its clock injected, over an hour and a midnight: each piece
// is taken out as the recorder asks, and every row is in exactly one piece, in
// order, with the pieces' times in one hour each.
TEST(RecordingSplit, RecorderHandsOverEachPieceBeforeItsNextRow) {
    const std::vector<At> times = {
        {localMs(2026, 12, 31, 22, 59, 58)}, {localMs(2026, 12, 31, 22, 59, 59, 999)},
        {localMs(2026, 12, 31, 23, 0, 0)},   {localMs(2026, 12, 31, 23, 59, 59, 500)},
        {localMs(2027, 1, 1, 0, 0, 0, 500)}, {localMs(2027, 1, 1, 0, 0, 1)},
    };
    std::size_t tick = 0;
    kq::record::Recorder recorder([&] {
        const At& t = times[std::min(tick, times.size() - 1)];
        return kq::record::LogMoment{t.utc(), static_cast<std::int16_t>(t.offset)};
    });
    recorder.setMaxRecords(10000000);
    std::vector<std::vector<std::int32_t>> pieces;
    std::vector<std::string> firstTimes;
    auto takePiece = [&] {
        std::vector<std::int32_t> rows;
        for (std::size_t i = 0; i < recorder.cds1.rowCount(); ++i)
            rows.push_back(*recorder.cds1.no(i));
        firstTimes.push_back(*recorder.cds1.textString(0, kq::record::LogTable::Field::Time));
        pieces.push_back(rows);
        recorder.cds1.clear();
    };
    recorder.splitInto({SplitRule::Kind::Hourly, 0}, takePiece);
    // Repeat off: the second reading of each pair is a repeat and makes no row,
    // yet it is numbered; a repeat must not open a piece of its own.
    recorder.setRepeatSet(false);
    const char* values[] = {"1", "2", "2", "3", "4", "5"};
    for (tick = 0; tick < times.size(); ++tick) {
        kq::record::LogReading r;
        r.ValueText = values[tick];
        r.UnitText = "lux";
        recorder.offer(r);
    }
    takePiece(); // the recording ends
    EXPECT_EQ(pieces, (std::vector<std::vector<std::int32_t>>{{1, 2}, {4}, {5, 6}}));
    EXPECT_EQ(firstTimes, (std::vector<std::string>{"22:59:58", "23:59:59", "00:00:00"}));
    EXPECT_EQ(recorder.log().RecordNo, 7);
}

TEST(RecordingSplit, PieceNamesCarryTheFirstRowsLocalDateAndTime) {
    // Named by the local time: 00:05 on New Year's Day at +01:00 is still 2026 in UTC.
    const std::int64_t t = localMs(2027, 1, 1, 0, 5, 59, 999) - 60 * 60'000;
    struct Case {
        const char* out;
        int serial;
        const char* name;
    };
    const Case cases[] = {
        {"meter.txt", 1, "meter-20270101-0005.txt"},
        {"/var/log/kq/meter.xml", 1, "/var/log/kq/meter-20270101-0005.xml"},
        {"meter", 1, "meter-20270101-0005"},
        {"logs.d/meter", 1, "logs.d/meter-20270101-0005"}, // a dot in a folder is no extension
        {"a.b.csv", 1, "a.b-20270101-0005.csv"},
        {"meter.txt", 3, "meter-20270101-0005-3.txt"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.out);
        EXPECT_EQ(kq::record::pieceFileName(c.out, t, 60, c.serial), c.name);
    }
    EXPECT_EQ(kq::record::pieceFileName("m.txt", localMs(2028, 2, 29, 23, 59, 0), 0),
              "m-20280229-2359.txt");
}

TEST(RecordingSplit, OptionTextsAreReadOrRefused) {
    EXPECT_EQ(kq::record::parseSplitRule("hourly")->kind, SplitRule::Kind::Hourly);
    EXPECT_EQ(kq::record::parseSplitRule("daily")->kind, SplitRule::Kind::Daily);
    EXPECT_EQ(kq::record::parseSplitRule("3600")->rows, 3600u);
    for (const char* bad : {"", "0", "-5", "10000001", "Hourly", "12x", " 12"}) {
        SCOPED_TRACE(bad);
        EXPECT_FALSE(kq::record::parseSplitRule(bad));
    }
    struct Case {
        const char* text;
        long long seconds; // 0: refused
    };
    const Case durations[] = {{"8h", 8 * 3600},
                              {"90m", 5400},
                              {"45s", 45},
                              {"45", 45},
                              {"2d", 172800},
                              {"0h", 0},
                              {"h", 0},
                              {"8H", 0},
                              {"-1h", 0},
                              {"1.5h", 0},
                              {"8h ", 0},
                              {"3654d", 0},
                              {"99999999999999999999", 0}};
    for (const Case& c : durations) {
        SCOPED_TRACE(c.text);
        const auto d = kq::record::parseDuration(c.text);
        EXPECT_EQ(d ? d->count() : 0, c.seconds);
    }
}

} // namespace
