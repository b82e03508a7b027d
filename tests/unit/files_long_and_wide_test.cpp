// Text loads of any line length, cancelled loads, and texts measured in
// characters through cut, save and load.
#include "files/log_file.h"
#include "files/log_text.h"
#include "files/log_xml.h"
#include "files_test_support.h"
#include "record/text_chars.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using kq::files::LoadResult;
using kq::files::MemorySource;
using kq::record::LogTable;
using namespace kq::files::test;

namespace {

const std::string kHeader = "No\tTime\tValue\tUnit\r\n";
const std::string kMiB(1u << 20, 'v');

std::string repeat(const std::string& s, int n) {
    std::string out;
    for (int i = 0; i < n; ++i)
        out += s;
    return out;
}

TEST(TextLogLongLines, LinesOfAMebibyteAreReadKeepingTwentyCharacters) {
    struct Case {
        const char* what;
        std::string line;
        std::string row; // expected row, empty when the line fails
    };
    const Case cases[] = {
        {"long value", "1\t10:00:00\t" + kMiB + "\tlux",
         "1|10:00:00|" + kMiB.substr(0, 20) + "|lux"},
        {"long unit, last field", "2\t10:00:00\t5\t" + kMiB, "2|10:00:00|5|" + kMiB.substr(0, 20)},
        {"long run of separators", "3" + std::string(1u << 20, '\t') + "t\tv\tu", "3|t|v|u"},
        {"long quoted field with tabs", "4\t\"" + repeat("a\tb", 400000) + "\"\tv\tu",
         "4|" + repeat("a\tb", 7).substr(0, 20) + "|v|u"},
        {"long field of leading zeros", std::string(1u << 20, '0') + "42\tt\tv\tu", "42|t|v|u"},
        {"signed leading zeros", "-" + std::string(1u << 20, '0') + "7\tt", "-7|t|<null>|<null>"},
        {"zeros only", std::string(1u << 20, '0') + "\tt", "0|t|<null>|<null>"},
        {"long number beyond 32 bits", std::string(1u << 20, '9') + "\tt", ""},
        {"letters after long zeros", std::string(1u << 20, '0') + "x\tt", ""},
        {"sign after zeros", "00-5\tt", ""},
        {"fifth field after a long one", "5\t" + kMiB + "\tv\tu\te", ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const std::string bytes = kHeader + "9\ta\tb\tc\r\n" + c.line + "\r\n8\td\te\tf\r\n";
        // Whole and in small pieces, so that every cut of the line between reads is met.
        for (const std::size_t step : {bytes.size(), std::size_t{4093}}) {
            LogTable t;
            TrickleSource in(bytes, step);
            const auto r = kq::files::readTextLog(t, in);
            if (c.row.empty()) {
                EXPECT_EQ(r.status, LoadResult::Status::Failed);
                EXPECT_EQ(r.line, 3u);
                EXPECT_EQ(rowTexts(t), std::vector<std::string>{"9|a|b|c"});
            } else {
                EXPECT_TRUE(r.ok()) << r.error;
                EXPECT_EQ(rowTexts(t), (std::vector<std::string>{"9|a|b|c", c.row, "8|d|e|f"}));
            }
        }
    }
}

TEST(TextLogCancel, CancelAtAnyPointLeavesTheTableAsItWas) {
    std::string bytes = kHeader;
    for (int i = 1; i <= 5000; ++i)
        bytes += std::to_string(i) + "\t10:00:00\t" + std::to_string(i) + ".5\tlux\r\n";
    const std::size_t step = 4096; // one progress call per piece
    const int pieces = static_cast<int>((bytes.size() + step - 1) / step);
    for (const int cancelAt : {1, 2, pieces / 2, pieces - 1, pieces}) {
        SCOPED_TRACE(cancelAt);
        LogTable t;
        t.append(1, "09:00:00", "1.5", "lux");
        t.append(2, "09:00:01", "2.5", "fc");
        const auto before = rowTexts(t);
        const auto logBefore = changeLog(t);
        TrickleSource in(bytes, step);
        int calls = 0;
        const auto r = kq::files::readTextLog(
            t, in, [&](std::uint64_t, std::uint64_t) { return ++calls < cancelAt; });
        EXPECT_EQ(r.status, LoadResult::Status::Cancelled);
        EXPECT_EQ(r.rows, 0u);
        EXPECT_EQ(rowTexts(t), before);
        EXPECT_EQ(changeLog(t), logBefore);
        // The log goes on after the rows that were there.
        t.append(3, "09:00:02", "3.5", "lux");
        EXPECT_EQ(changeLog(t), (std::vector<std::uint32_t>{1, 0, 4, 2, 0, 4, 3, 0, 4}));
    }
}

TEST(TextLogCancel, CancelledFileLoadLeavesTheTableAsItWas) {
    TempDir dir;
    std::string bytes = kHeader;
    for (int i = 1; i <= 200000; ++i)
        bytes += std::to_string(i) + "\t10:00:00\t1.5\tlux\r\n";
    writeFile(dir.file("big.txt"), bytes);
    LogTable t;
    t.append(1, "09:00:00", "1.5", "lux");
    int calls = 0;
    const auto r = kq::files::loadLog(t, dir.file("big.txt"),
                                      [&](std::uint64_t, std::uint64_t) { return ++calls < 2; });
    EXPECT_EQ(r.status, LoadResult::Status::Cancelled);
    EXPECT_EQ(rowTexts(t), std::vector<std::string>{"1|09:00:00|1.5|lux"});
}

TEST(TextCharacters, TextsAreCutAtTwentyCharactersNeverInsideOne) {
    const std::string e = "\xC3\xA9";             // é, two bytes
    const std::string euro = "\xE2\x82\xAC";      // €, three bytes
    const std::string smile = "\xF0\x9F\x98\x80"; // four bytes
    struct Case {
        const char* what;
        std::string text;
        std::string stored;
    };
    const Case cases[] = {
        {"ascii", std::string(25, 'a'), std::string(20, 'a')},
        {"twenty two-byte characters kept whole", repeat(e, 20), repeat(e, 20)},
        {"nineteen plus one wide at the end", std::string(19, 'a') + euro + "b",
         std::string(19, 'a') + euro},
        {"twenty-five two-byte characters", repeat(e, 25), repeat(e, 20)},
        {"four-byte characters", repeat(smile, 21), repeat(smile, 20)},
        {"bytes of another code page count one each", std::string(25, '\xE9'),
         std::string(20, '\xE9')},
        {"a broken sequence is one character per byte", "a\xC3" + std::string(20, 'b'),
         "a\xC3" + std::string(18, 'b')},
        {"overlong form is not one character", std::string("\xC0\xAF") + std::string(19, 'c'),
         std::string("\xC0\xAF") + std::string(18, 'c')},
        {"mixed", "x" + e + euro + smile + std::string(20, 'z'),
         "x" + e + euro + smile + std::string(16, 'z')},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        LogTable t;
        t.append(1, c.text, c.text, c.text);
        for (const auto f : {LogTable::Field::Time, LogTable::Field::Value, LogTable::Field::Unit})
            EXPECT_EQ(t.textString(0, f), c.stored);
        EXPECT_LE(kq::record::charCount(c.stored), 20u);
    }
}

TEST(TextCharacters, NonAsciiTextsSurviveSaveAndLoadInBothForms) {
    const std::string mu = "\xC2\xB5";  // µ
    const std::string deg = "\xC2\xB0"; // °
    const std::string sq = "\xC2\xB2";  // ²
    struct Row {
        std::string value;
        std::string unit;
    };
    const Row rows[] = {
        {"23" + deg, deg + "C"},
        {"12,5", mu + "W/cm" + sq},
        {repeat(mu, 20), repeat(deg, 20)},
        {std::string(19, '1') + "\xE2\x82\xAC", "\xE2\x84\xA6"},
        {"\xE9t\xE9", "lux"}, // a file in another code page: its bytes come back as they were
    };
    LogTable t;
    std::int32_t no = 1;
    for (const auto& r : rows)
        t.append(no++, "10:00:00", r.value, r.unit);
    const auto expected = rowTexts(t);
    // Twenty characters of two bytes each, and nineteen digits with a wide
    // twentieth, are kept whole.
    EXPECT_EQ(t.textString(2, LogTable::Field::Value), repeat(mu, 20));
    EXPECT_EQ(t.textString(2, LogTable::Field::Unit), repeat(deg, 20));
    EXPECT_EQ(t.textString(3, LogTable::Field::Value), std::string(19, '1') + "\xE2\x82\xAC");

    for (const char* form : {"text", "xml"}) {
        SCOPED_TRACE(form);
        StringSink sink;
        const bool xml = std::string(form) == "xml";
        ASSERT_TRUE(xml ? kq::files::writeXmlLog(t, sink).ok()
                        : kq::files::writeTextLog(t, sink).ok());
        LogTable back;
        MemorySource in(sink.bytes());
        const auto r = xml ? kq::files::readXmlLog(back, in) : kq::files::readTextLog(back, in);
        ASSERT_TRUE(r.ok()) << r.error;
        EXPECT_EQ(rowTexts(back), expected);
        // Saving what was loaded gives the same bytes.
        StringSink again;
        ASSERT_TRUE(xml ? kq::files::writeXmlLog(back, again).ok()
                        : kq::files::writeTextLog(back, again).ok());
        EXPECT_EQ(again.bytes(), sink.bytes());
    }
}

TEST(TextCharacters, CharacterReferencesCountAsOneCharacterEach) {
    // Twenty-two references: the stored text is their first twenty characters,
    // and a save writes those characters in the file's own encoding.
    std::string value;
    for (int i = 0; i < 22; ++i)
        value += "&#233;";
    const std::string bytes =
        "<?xml version=\"1.0\" standalone=\"yes\"?>  <DATAPACKET Version=\"2.0\"><METADATA>"
        "<FIELDS><FIELD attrname=\"No\" fieldtype=\"i4\"/>"
        "<FIELD attrname=\"Time\" fieldtype=\"string\" WIDTH=\"20\"/>"
        "<FIELD attrname=\"Value\" fieldtype=\"string\" WIDTH=\"20\"/>"
        "<FIELD attrname=\"Unit\" fieldtype=\"string\" WIDTH=\"20\"/></FIELDS><PARAMS/>"
        "</METADATA><ROWDATA><ROW No=\"1\" Value=\"" +
        value + "\" Unit=\"&#181;W\"/></ROWDATA></DATAPACKET>";
    LogTable t;
    MemorySource in(bytes);
    ASSERT_TRUE(kq::files::readXmlLog(t, in).ok());
    EXPECT_EQ(t.textString(0, LogTable::Field::Value), repeat("\xC3\xA9", 20));
    EXPECT_EQ(t.textString(0, LogTable::Field::Unit), "\xC2\xB5W");
    StringSink sink;
    ASSERT_TRUE(kq::files::writeTextLog(t, sink).ok());
    EXPECT_EQ(sink.bytes(), kHeader + "1\tNULL\t" + repeat("\xC3\xA9", 20) + "\t\xC2\xB5W\r\n");
}

} // namespace
