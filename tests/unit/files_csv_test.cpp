#include "files/csv_fields.h"
#include "files/log_csv.h"
#include "files_test_support.h"
#include "record/log_table.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

using kq::files::MemorySource;
using kq::files::test::rowTexts;
using kq::files::test::StringSink;
using kq::files::test::TrickleSource;
using kq::record::LogMoment;
using kq::record::LogTable;
using kq::record::RowVerdict;

namespace {

const std::string kHeader = "no,datetime,time,value,unit,verdict,text\r\n";

// 2026-12-10T14:03:07.250+01:00
constexpr LogMoment kMoment{1796907787250, 60};

std::string writeCsv(const LogTable& t) {
    StringSink sink;
    EXPECT_TRUE(kq::files::writeCsvLog(t, sink).ok());
    return sink.bytes();
}

TEST(CsvLog, RowsOfEachKind) {
    struct Case {
        const char* name;
        std::optional<std::int32_t> no;
        std::optional<const char*> time, value, unit;
        LogTable::Stamp stamp;
        const char* line;
    };
    const Case cases[] = {
        {"logged reading",
         1,
         "14:03:07",
         "12.5",
         "lux",
         {kMoment, RowVerdict::Pass},
         "1,2026-12-10T14:03:07.250+01:00,14:03:07,12.5,lux,Pass,12.5"},
        {"comma locale: the number gets a point, the text is quoted",
         2,
         "14.03.07",
         "-0,050",
         "lux",
         {kMoment, RowVerdict::Fail},
         "2,2026-12-10T14:03:07.250+01:00,14.03.07,-0.050,lux,Fail,\"-0,050\""},
        {"overload: no number, the glass in text",
         3,
         "10:15:02",
         "0L",
         "lux",
         {std::nullopt, RowVerdict::Fail},
         "3,,10:15:02,,lux,Fail,0L"},
        {"loaded from a text file: no moment, no verdict",
         4,
         "10:15:02",
         " 12.5",
         "NULL",
         {},
         "4,,10:15:02,12.5,NULL,, 12.5"},
        {"quotes and line breaks from another program's packet",
         5,
         "a\"b",
         "1\r\n2",
         "x,y",
         {},
         "5,,\"a\"\"b\",,\"x,y\",,\"1\r\n2\""},
        {"fields without value",
         std::nullopt,
         std::nullopt,
         std::nullopt,
         std::nullopt,
         {},
         ",,,,,,"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        LogTable t;
        t.append(c.no, c.time ? std::optional<std::string_view>(*c.time) : std::nullopt,
                 c.value ? std::optional<std::string_view>(*c.value) : std::nullopt,
                 c.unit ? std::optional<std::string_view>(*c.unit) : std::nullopt,
                 LogTable::kInserted, true, c.stamp);
        EXPECT_EQ(writeCsv(t), kHeader + c.line + "\r\n");
        EXPECT_EQ(kq::files::csvRow(t, 0), std::string(c.line) + "\r\n");
    }
    EXPECT_EQ(writeCsv(LogTable()), kHeader);
}

TEST(CsvLog, PlainNumberWhateverTheLocale) {
    struct Case {
        const char* text;
        const char* number;
    };
    const Case cases[] = {
        {"12.5", "12.5"}, {"12,5", "12.5"},   {"-0.050", "-0.050"}, {"+7", "7"}, {".5", "0.5"},
        {"5.", "5"},      {" 1999 ", "1999"}, {"0L", ""},           {"-", ""},   {"", ""},
        {"1.2.3", ""},    {"1 234", ""},      {"NULL", ""},         {"1e3", ""}, {"-.", ""},
    };
    for (const auto& c : cases)
        EXPECT_EQ(kq::files::plainNumber(c.text), c.number) << c.text;
}

TEST(CsvLog, WhatIsWrittenReadsBackWhole) {
    LogTable t;
    t.append(1, "23:59:59", "12,5", "lux", LogTable::kInserted, true,
             {LogMoment{1798757999900, 60}, RowVerdict::Pass});
    t.append(2, "00:00:00", "0L", "lux", LogTable::kInserted, true,
             {LogMoment{1798758000100, -330}, RowVerdict::Fail});
    t.append(3, "a\"b", "1\r\n2", "x,y");
    t.append(std::nullopt, std::nullopt, std::nullopt, std::nullopt);
    const std::string bytes = writeCsv(t);
    for (std::size_t step : {std::size_t{1}, std::size_t{3}, bytes.size()}) {
        SCOPED_TRACE(step);
        LogTable back;
        TrickleSource in(bytes, step);
        const auto r = kq::files::readCsvLog(back, in);
        ASSERT_TRUE(r.ok()) << r.error;
        EXPECT_EQ(r.rows, 4u);
        // A column that is empty reads as an empty text; the No of the last row has no value.
        EXPECT_EQ(rowTexts(back),
                  (std::vector<std::string>{"1|23:59:59|12,5|lux", "2|00:00:00|0L|lux",
                                            "3|a\"b|1\r\n2|x,y", "<null>|||"}));
        for (std::size_t i = 0; i < 4; ++i) {
            EXPECT_EQ(back.moment(i), t.moment(i)) << i;
            EXPECT_EQ(back.verdict(i), t.verdict(i)) << i;
            EXPECT_EQ(back.rowState(i), LogTable::kInserted);
        }
        EXPECT_EQ(writeCsv(back), bytes);
    }
}

TEST(CsvLog, ReaderTakesWhatSpreadsheetsWrite) {
    struct Case {
        const char* name;
        std::string bytes;
        std::vector<std::string> rows;
    };
    const Case cases[] = {
        {"byte-order mark, LF only, columns in another order and one unknown",
         "\xEF\xBB\xBFUnit,No,extra,Text\n"
         "lux,7,whatever,12.5\n"
         "fc,8,,3\n",
         {"7|<null>|12.5|lux", "8|<null>|3|fc"}},
        {"no text column: value stands in; blank lines skipped; last line without end",
         "no,time,value\r\n\r\n1,10:00:00,4.5\r\n\r\n2,10:00:01,5",
         {"1|10:00:00|4.5|<null>", "2|10:00:01|5|<null>"}},
        {"a quoted line break, a CR alone ending a line",
         "no,text\r1,\"a\r\nb\"\r2,c\r",
         {"1|<null>|a\r\nb|<null>", "2|<null>|c|<null>"}},
        {"fewer fields than the header", "no,time,value,unit\r\n3,t\r\n", {"3|t|<null>|<null>"}},
        {"header only", kHeader, {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        LogTable t;
        MemorySource in(c.bytes);
        const auto r = kq::files::readCsvLog(t, in);
        ASSERT_TRUE(r.ok()) << r.error;
        EXPECT_EQ(rowTexts(t), c.rows);
    }
}

TEST(CsvLog, BadRowsStopTheLoadAndKeepTheRowsBefore) {
    struct Case {
        const char* name;
        std::string bytes;
        std::uint64_t line;
    };
    const std::string good = "1,,10:00:00,1,lux,,1\r\n";
    const Case cases[] = {
        {"more fields than the header", kHeader + good + "2,,t,1,lux,,1,extra\r\n", 3},
        {"no is not an integer", kHeader + good + "x,,t,1,lux,,1\r\n", 3},
        {"no beyond 32 bits", kHeader + good + "2147483648,,t,1,lux,,1\r\n", 3},
        {"datetime without offset", kHeader + good + "2,2026-12-10T14:03:07,t,1,lux,,1\r\n", 3},
        {"datetime that is no day", kHeader + good + "2,2026-02-30T14:03:07Z,t,1,lux,,1\r\n", 3},
        {"verdict that is neither", kHeader + good + "2,,t,1,lux,OK,1\r\n", 3},
        {"a quote never closed", kHeader + good + "2,,\"t,1,lux,,1\r\n", 3},
        {"a header naming no column", "a,b\r\n1,2\r\n", 1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        LogTable t;
        t.append(100, "t", "v", "u");
        MemorySource in(c.bytes);
        const auto r = kq::files::readCsvLog(t, in);
        EXPECT_EQ(r.status, kq::files::LoadResult::Status::Failed);
        EXPECT_EQ(r.line, c.line);
        EXPECT_EQ(t.rowCount(), c.line == 1 ? 1u : 2u); // the table's row and the good one stay
    }
    LogTable t;
    MemorySource empty("");
    EXPECT_FALSE(kq::files::readCsvLog(t, empty).ok());
}

TEST(CsvLog, CancelledLoadTakesItsRowsBack) {
    std::string bytes = kHeader;
    for (int i = 0; i < 5000; ++i)
        bytes += std::to_string(i) + ",,10:00:00,1,lux,,1\r\n";
    LogTable t;
    t.append(1, "t", "v", "u");
    TrickleSource in(bytes, 4096);
    const auto r = kq::files::readCsvLog(
        t, in, [](std::uint64_t done, std::uint64_t) { return done < 20000; });
    EXPECT_EQ(r.status, kq::files::LoadResult::Status::Cancelled);
    EXPECT_EQ(t.rowCount(), 1u);
}

} // namespace
