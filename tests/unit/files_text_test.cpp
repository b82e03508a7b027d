#include "files/log_file.h"
#include "files/log_text.h"
#include "files_test_support.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using kq::files::LoadResult;
using kq::files::MemorySource;
using kq::record::LogTable;
using namespace kq::files::test;

namespace {

const std::string kHeader = "No\tTime\tValue\tUnit\r\n";

std::string saveText(const LogTable& t) {
    StringSink sink;
    EXPECT_TRUE(kq::files::writeTextLog(t, sink).ok());
    return sink.bytes();
}

TEST(TextLogWrite, TrimsTextsAndWritesNullForEmptyOnes) {
    struct Case {
        const char* what;
        std::optional<std::int32_t> no;
        std::optional<std::string> value;
        std::string line;
    };
    const Case cases[] = {
        {"leading space trimmed", 1, " 12.5", "1\t10:15:02\t12.5\tlux\r\n"},
        {"control codes both ends", 2, std::string("\t\x01 7.0 \x1f\x7f", 9),
         "2\t10:15:02\t7.0 \x1f\x7f\tlux\r\n"},
        {"inner space kept", 3, "1 234", "3\t10:15:02\t1 234\tlux\r\n"},
        {"only spaces", 4, "   ", "4\t10:15:02\tNULL\tlux\r\n"},
        {"empty", 5, "", "5\t10:15:02\tNULL\tlux\r\n"},
        {"without value", 6, std::nullopt, "6\t10:15:02\tNULL\tlux\r\n"},
        {"negative number", -7, "x", "-7\t10:15:02\tx\tlux\r\n"},
        {"No without value", std::nullopt, "x", "\t10:15:02\tx\tlux\r\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        LogTable t;
        std::optional<std::string_view> v;
        if (c.value)
            v = *c.value;
        t.append(c.no, "10:15:02", v, "lux");
        EXPECT_EQ(saveText(t), kHeader + c.line);
    }
}

TEST(TextLogWrite, ExpectedFilesByteForByte) {
    LogTable one;
    one.append(1, "10:15:02", " 12.5", "lux");
    EXPECT_EQ(saveText(one), dataFile("one_row.txt"));

    LogTable empty;
    EXPECT_EQ(saveText(empty), dataFile("empty.txt"));

    LogTable nulls;
    nulls.append(1, "08:00:00", "5", "");
    nulls.append(2, std::nullopt, std::nullopt, std::nullopt);
    nulls.append(std::nullopt, "08:00:02", "7.5", "fc");
    EXPECT_EQ(saveText(nulls), dataFile("null_texts.txt"));
}

TEST(TextLogWrite, ReportsAFailingSink) {
    LogTable t;
    for (int i = 0; i < 100000; ++i)
        t.append(i, "10:00:00", "1.0", "lux");
    StringSink sink;
    sink.failAfter(1000);
    const auto r = kq::files::writeTextLog(t, sink);
    EXPECT_EQ(r.status, kq::files::SaveResult::Status::Failed);
    EXPECT_EQ(r.error, "No space left on device");
}

struct LoadCase {
    const char* what;
    std::string bytes;
    LoadResult::Status status;
    std::vector<std::string> rows;
    std::uint64_t failedLine = 0;
};

std::vector<LoadCase> loadCases() {
    using S = LoadResult::Status;
    return {
        {"header only", kHeader, S::Loaded, {}},
        {"one row", kHeader + "1\t10:15:02\t12.5\tlux\r\n", S::Loaded, {"1|10:15:02|12.5|lux"}},
        {"empty file", "", S::Failed, {}},
        {"zero byte first", std::string("\0No\r\n1\r\n", 8), S::Failed, {}},
        {"header without line end", "No\tTime", S::Loaded, {}},
        {"only a line end", "\r\n", S::Loaded, {}},
        {"CR line ends", "h\r1 a\r2 b\r", S::Loaded, {"1|a|<null>|<null>", "2|b|<null>|<null>"}},
        {"LF line ends", "h\n1 a\n2 b\n", S::Loaded, {"1|a|<null>|<null>", "2|b|<null>|<null>"}},
        {"mixed and last line open",
         "h\r\n1 a\n\r2 b\r3 c",
         S::Loaded,
         {"1|a|<null>|<null>", "2|b|<null>|<null>", "3|c|<null>|<null>"}},
        {"CR CR LF is an empty line", "h\r\r\n1 a", S::Loaded, {"1|a|<null>|<null>"}},
        {"zero byte ends the text",
         std::string("h\r\n1 a\r\n2 b\0\r\n3 c", 17),
         S::Loaded,
         {"1|a|<null>|<null>", "2|b|<null>|<null>"}},
        {"runs of separators", "h\r\n \t 1 \t\t\x01 x\x1f y  \r\n", S::Loaded, {"1|x|y|<null>"}},
        {"blank lines skipped", "h\r\n\r\n \t \r\n5\r\n", S::Loaded, {"5|<null>|<null>|<null>"}},
        {"NULL stays four letters",
         "h\r\n1\tNULL\tNULL\tNULL\r\n",
         S::Loaded,
         {"1|NULL|NULL|NULL"}},
        {"space in a value shifts fields",
         "h\r\n1\t10:00:00\t1 234\r\n",
         S::Loaded,
         {"1|10:00:00|1|234"}},
        {"space in a value makes five fields",
         "h\r\n1\t10:00:00\t1 234\tlux\r\n",
         S::Failed,
         {},
         2},
        {"quoted fields",
         "h\r\n\"5\"\t\"a b\"\t\"say \"\"hi\"\"\"\t\"\"\r\n",
         S::Loaded,
         {"5|a b|say \"hi\"|"}},
        {"quote without end runs to line end",
         "h\r\n1\t\"abc\tdef\r\n2 x\r\n",
         S::Loaded,
         {"1|abc\tdef|<null>|<null>", "2|x|<null>|<null>"}},
        {"text after a closing quote is a field",
         "h\r\n1 \"ab\"cd\r\n",
         S::Loaded,
         {"1|ab|cd|<null>"}},
        {"texts cut to twenty",
         "h\r\n1 123456789012345678901234\r\n",
         S::Loaded,
         {"1|12345678901234567890|<null>|<null>"}},
        {"five fields on line 3 keeps line 2",
         "h\r\n1 a\r\n2 a b c d\r\n3 a\r\n",
         S::Failed,
         {"1|a|<null>|<null>"},
         3},
        {"first field not an integer", "h\r\n1 a\r\nx a\r\n", S::Failed, {"1|a|<null>|<null>"}, 3},
        {"decimal first field", "h\r\n1.5 a\r\n", S::Failed, {}, 2},
        {"signed first fields",
         "h\r\n+7 a\r\n-3 b\r\n",
         S::Loaded,
         {"7|a|<null>|<null>", "-3|b|<null>|<null>"}},
        {"double sign", "h\r\n+-3 b\r\n", S::Failed, {}, 2},
        {"integer limits",
         "h\r\n2147483647\r\n-2147483648\r\n",
         S::Loaded,
         {"2147483647|<null>|<null>|<null>", "-2147483648|<null>|<null>|<null>"}},
        {"beyond 32 bits", "h\r\n2147483648\r\n", S::Failed, {}, 2},
        {"quoted empty first field", "h\r\n\"\" a\r\n", S::Failed, {}, 2},
        {"bytes above 127 are text",
         "h\r\n1 \xb0"
         "C\r\n",
         S::Loaded,
         {"1|\xb0"
          "C|<null>|<null>"}},
    };
}

TEST(TextLogRead, SplitsLinesAndFieldsAtEveryChunkSize) {
    for (const auto& c : loadCases()) {
        for (std::size_t step :
             {std::size_t{1}, std::size_t{2}, std::size_t{7}, c.bytes.size() + 1}) {
            SCOPED_TRACE(std::string(c.what) + ", chunks of " + std::to_string(step));
            LogTable t;
            TrickleSource in(c.bytes, step);
            const auto r = kq::files::readTextLog(t, in);
            EXPECT_EQ(r.status, c.status) << r.error;
            EXPECT_EQ(rowTexts(t), c.rows);
            EXPECT_EQ(r.rows, c.rows.size());
            if (c.failedLine) {
                EXPECT_EQ(r.line, c.failedLine);
            }
        }
    }
}

TEST(TextLogRead, LoadingAppendsInsertedRows) {
    LogTable t;
    for (int i = 1; i <= 10; ++i)
        t.append(i, "11:00:00", std::to_string(i), "lux");
    const std::string file = dataFile("five_rows.txt");
    MemorySource in(file);
    const auto r = kq::files::readTextLog(t, in);
    ASSERT_TRUE(r.ok()) << r.error;
    ASSERT_EQ(t.rowCount(), 15u);
    EXPECT_EQ(rowText(t, 9), "10|11:00:00|10|lux");
    EXPECT_EQ(rowText(t, 10), "11|12:00:00|1.1|lux");
    EXPECT_EQ(rowText(t, 14), "15|12:00:04|1.5|lux");
    for (std::size_t i = 10; i < 15; ++i) {
        EXPECT_EQ(t.rowState(i), LogTable::kInserted);
        EXPECT_TRUE(t.insertLogged(i));
    }
}

TEST(TextLogRead, SavedFileLoadsBackWithNullAsText) {
    LogTable t;
    t.append(1, "08:00:00", " 5", "");
    t.append(2, "08:00:01", "6", "lux");
    const std::string bytes = saveText(t);
    LogTable back;
    MemorySource in(bytes);
    ASSERT_TRUE(kq::files::readTextLog(back, in).ok());
    EXPECT_EQ(rowTexts(back), (std::vector<std::string>{"1|08:00:00|5|NULL", "2|08:00:01|6|lux"}));
}

TEST(TextLogRead, LongHeaderAndLongDataLinesAreRead) {
    const std::string longField(70 * 1024, 'x');
    {
        LogTable t;
        const std::string bytes = longField + "\r\n1 a\r\n";
        MemorySource in(bytes);
        const auto r = kq::files::readTextLog(t, in);
        EXPECT_TRUE(r.ok()) << r.error;
        EXPECT_EQ(rowTexts(t), std::vector<std::string>{"1|a|<null>|<null>"});
    }
    {
        // Spans chunks: the line is read as it streams past, keeping 20 characters.
        const std::string huge(3u << 20, 'y');
        LogTable t;
        const std::string bytes = "h\r\n1 a\r\n2 " + huge + "\r\n3 b\r\n";
        MemorySource in(bytes);
        const auto r = kq::files::readTextLog(t, in);
        EXPECT_TRUE(r.ok()) << r.error;
        EXPECT_EQ(rowTexts(t),
                  (std::vector<std::string>{"1|a|<null>|<null>",
                                            "2|" + std::string(20, 'y') + "|<null>|<null>",
                                            "3|b|<null>|<null>"}));
    }
}

TEST(TextLogRead, CancelTakesBackEveryRowOfTheLoad) {
    std::string bytes = kHeader;
    const int lines = 200000; // about 5 MiB: several chunks
    for (int i = 1; i <= lines; ++i)
        bytes += std::to_string(i) + "\t10:00:00\t" + std::to_string(i * 3) + ".25\tlux\r\n";
    LogTable t;
    t.append(7, "09:00:00", "1", "lux");
    MemorySource in(bytes);
    int calls = 0;
    const auto r = kq::files::readTextLog(t, in, [&](std::uint64_t done, std::uint64_t total) {
        EXPECT_EQ(total, bytes.size());
        EXPECT_LE(done, total);
        return ++calls < 2;
    });
    EXPECT_EQ(r.status, LoadResult::Status::Cancelled);
    EXPECT_EQ(r.rows, 0u);
    EXPECT_EQ(rowTexts(t), std::vector<std::string>{"7|09:00:00|1|lux"});
}

} // namespace
