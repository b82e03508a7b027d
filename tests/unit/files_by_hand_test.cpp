// The two file forms written out by hand, byte by byte, from the rules of the
// forms (character codes, attribute order, entity table), then compared with
// what the writers produce, with the files kept in tests/data/files, and with
// what the readers make of them. A kept file checked only against the writers
// would pass whatever the writers do; these checks hold it to the rules.
#include "files/log_text.h"
#include "files/log_xml.h"
#include "files_test_support.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using kq::files::MemorySource;
using kq::record::LogTable;
using namespace kq::files::test;

namespace {

// ---- the text form -------------------------------------------------------

const std::string TAB(1, char(9));
const std::string CRLF = std::string(1, char(13)) + char(10);

std::string textLine(const std::vector<std::string>& fields) {
    std::string line;
    for (std::size_t i = 0; i < fields.size(); ++i)
        line += (i ? TAB : "") + fields[i];
    return line + CRLF;
}

const std::string kTextHeader = textLine({"No", "Time", "Value", "Unit"});

std::string writeText(const LogTable& t) {
    StringSink sink;
    EXPECT_TRUE(kq::files::writeTextLog(t, sink).ok());
    return sink.bytes();
}

TEST(LogFormsByHand, TextHeaderIsTheColumnTitlesWithTabsAndCrLf) {
    // N o TAB T i m e TAB V a l u e TAB U n i t CR LF
    const std::string codes = {78,  111, 9,   84, 105, 109, 101, 9,   86, 97,
                               108, 117, 101, 9,  85,  110, 105, 116, 13, 10};
    EXPECT_EQ(kTextHeader, codes);
    EXPECT_EQ(writeText(LogTable{}), codes);
    EXPECT_EQ(dataFile("empty.txt"), codes);
}

TEST(LogFormsByHand, TextRowsOfEachFieldKind) {
    struct Case {
        const char* what;
        std::optional<std::int32_t> no;
        std::optional<std::string> time, value, unit;
        std::vector<std::string> fields;
    };
    const std::string controls = std::string(1, char(1)) + char(31) + char(32);
    const Case cases[] = {
        {"the one-row example", 1, "10:15:02", " 12.5", "lux", {"1", "10:15:02", "12.5", "lux"}},
        {"No at its limits, low", INT32_MIN, "t", "v", "u", {"-2147483648", "t", "v", "u"}},
        {"No at its limits, high", INT32_MAX, "t", "v", "u", {"2147483647", "t", "v", "u"}},
        {"No without value is empty, not NULL", std::nullopt, "t", "v", "u", {"", "t", "v", "u"}},
        {"codes 0..32 trimmed at both ends, kept inside",
         7,
         controls + "a" + controls + "b" + controls,
         "x",
         "y",
         {"7", "a" + controls + "b", "x", "y"}},
        {"code 127 is not trimmed",
         8,
         "t",
         std::string("5") + char(127),
         "u",
         {"8", "t", std::string("5") + char(127), "u"}},
        {"empty texts and texts without value are NULL",
         9,
         "",
         std::nullopt,
         controls,
         {"9", "NULL", "NULL", "NULL"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        LogTable t;
        auto view = [](const std::optional<std::string>& s) {
            return s ? std::optional<std::string_view>(*s) : std::nullopt;
        };
        t.append(c.no, view(c.time), view(c.value), view(c.unit));
        EXPECT_EQ(writeText(t), kTextHeader + textLine(c.fields));
    }
}

TEST(LogFormsByHand, KeptTextFilesFollowTheRules) {
    EXPECT_EQ(dataFile("one_row.txt"), kTextHeader + textLine({"1", "10:15:02", "12.5", "lux"}));
    EXPECT_EQ(dataFile("null_texts.txt"), kTextHeader + textLine({"1", "08:00:00", "5", "NULL"}) +
                                              textLine({"2", "NULL", "NULL", "NULL"}) +
                                              textLine({"", "08:00:02", "7.5", "fc"}));
    std::string five = kTextHeader;
    for (int i = 1; i <= 5; ++i)
        five += textLine({std::to_string(10 + i), "12:00:0" + std::to_string(i - 1),
                          "1." + std::to_string(i), "lux"});
    EXPECT_EQ(dataFile("five_rows.txt"), five);
}

TEST(LogFormsByHand, TextReaderTakesFieldsByPosition) {
    const std::string bytes = kTextHeader + textLine({"1", "10:15:02", "12.5", "lux"}) +
                              textLine({"2", "NULL", "NULL", "NULL"}) + "3" + TAB + TAB + "x" +
                              char(13) +                                     // two TABs, a CR alone
                              "\"4\"" + TAB + "\"a \"\"b\"\"\"" + char(10) + // quotes, LF alone
                              "-5" + TAB + "last line without";
    LogTable t;
    MemorySource in(bytes);
    ASSERT_TRUE(kq::files::readTextLog(t, in).ok());
    EXPECT_EQ(rowTexts(t), (std::vector<std::string>{
                               "1|10:15:02|12.5|lux",
                               "2|NULL|NULL|NULL",
                               "3|x|<null>|<null>",
                               "4|a \"b\"|<null>|<null>",
                               "-5|last|line|without",
                           }));
    for (std::size_t i = 0; i < 4; ++i)
        EXPECT_EQ(t.rowState(i), 4u) << "a row loaded from text is an inserted row";
}

// ---- the XML form --------------------------------------------------------

std::string attr(const std::string& name, const std::string& value) {
    return " " + name + "=" + '"' + value + '"';
}

// The field list, typed from the table of the form.
const std::string kFieldList = "<FIELDS>"
                               "<FIELD" +
                               attr("attrname", "No") + attr("fieldtype", "i4") + "/>" + "<FIELD" +
                               attr("attrname", "Time") + attr("fieldtype", "string") +
                               attr("WIDTH", "20") + "/>" + "<FIELD" + attr("attrname", "Value") +
                               attr("fieldtype", "string") + attr("WIDTH", "20") + "/>" + "<FIELD" +
                               attr("attrname", "Unit") + attr("fieldtype", "string") +
                               attr("WIDTH", "20") + "/>" + "</FIELDS>";

std::string packetOf(const std::string& params, const std::string& rows) {
    return "<?xml version=\"1.0\" standalone=\"yes\"?>" + std::string(2, ' ') + "<DATAPACKET" +
           attr("Version", "2.0") + ">" + "<METADATA>" + kFieldList + params + "</METADATA>" +
           "<ROWDATA>" + rows + "</ROWDATA>" + "</DATAPACKET>";
}

std::string writeXml(const LogTable& t) {
    StringSink sink;
    EXPECT_TRUE(kq::files::writeXmlLog(t, sink).ok());
    return sink.bytes();
}

TEST(LogFormsByHand, XmlFieldListAndEmptyTable) {
    const std::string empty = packetOf("<PARAMS/>", "");
    EXPECT_EQ(writeXml(LogTable{}), empty);
    EXPECT_EQ(dataFile("empty.xml"), empty);
    EXPECT_EQ(empty.find(char(10)), std::string::npos);
    EXPECT_EQ(empty.find(char(13)), std::string::npos);
}

TEST(LogFormsByHand, XmlRowsKeepTheirTextsAndLogTheirInserts) {
    LogTable one;
    one.append(1, "10:15:02", " 12.5", "lux");
    const std::string oneRow =
        packetOf("<PARAMS" + attr("CHANGE_LOG", "1 0 4") + "/>",
                 "<ROW" + attr("RowState", "4") + attr("No", "1") + attr("Time", "10:15:02") +
                     attr("Value", " 12.5") + attr("Unit", "lux") + "/>");
    EXPECT_EQ(writeXml(one), oneRow);
    EXPECT_EQ(dataFile("one_row.xml"), oneRow);

    // Three appended rows: the example's change log; a field without value
    // has no attribute.
    LogTable three;
    three.append(-1, "a", "b", "c");
    three.append(2, std::nullopt, std::nullopt, std::nullopt);
    three.append(std::nullopt, "x", "y", "z");
    EXPECT_EQ(writeXml(three),
              packetOf("<PARAMS" + attr("CHANGE_LOG", "1 0 4 2 0 4 3 0 4") + "/>",
                       "<ROW" + attr("RowState", "4") + attr("No", "-1") + attr("Time", "a") +
                           attr("Value", "b") + attr("Unit", "c") + "/>" + "<ROW" +
                           attr("RowState", "4") + attr("No", "2") + "/>" + "<ROW" +
                           attr("RowState", "4") + attr("Time", "x") + attr("Value", "y") +
                           attr("Unit", "z") + "/>"));
}

TEST(LogFormsByHand, XmlEntityTable) {
    struct Entity {
        char c;
        const char* written;
    };
    const Entity entities[] = {{'<', "&lt;"},        {'>', "&gt;"},       {'&', "&amp;"},
                               {'\'', "&apos;"},     {'"', "&quot;"},     {char(13), "&#013;"},
                               {char(10), "&#010;"}, {char(9), "&#009;"}, {'\\', "&#092;"}};
    for (const auto& e : entities) {
        SCOPED_TRACE(e.written);
        LogTable t;
        const std::string value = std::string("a") + e.c + "b";
        t.append(1, "t", value, "u");
        const std::string bytes = writeXml(t);
        EXPECT_NE(bytes.find(attr("Value", std::string("a") + e.written + "b")), std::string::npos)
            << bytes;
        // and back
        LogTable back;
        MemorySource in(bytes);
        ASSERT_TRUE(kq::files::readXmlLog(back, in).ok());
        EXPECT_EQ(back.textString(0, LogTable::Field::Value), value);
    }
    EXPECT_EQ(dataFile("escapes.xml"),
              packetOf("<PARAMS" + attr("CHANGE_LOG", "1 0 4") + "/>",
                       "<ROW" + attr("RowState", "4") + attr("No", "1") +
                           attr("Time", "a&lt;b&gt;c&amp;d") +
                           attr("Value", "&apos;&quot;&#013;&#010;&#009;&#092;") +
                           attr("Unit", "x") + "/>"));
}

TEST(LogFormsByHand, XmlReaderKeepsStatesAndChangeLogOfAnotherProgram) {
    // An unchanged row (no RowState), a modified one (8) and an inserted one,
    // with the change log of another session.
    const std::string packet =
        packetOf("<PARAMS" + attr("CHANGE_LOG", "2 1 8 1 0 4 3 0 4") + "/>",
                 "<ROW" + attr("No", "1") + attr("Time", "09:00:00") + attr("Value", "1.0") +
                     attr("Unit", "lux") + "/>" + "<ROW" + attr("RowState", "8") + attr("No", "2") +
                     attr("Time", "09:00:01") + attr("Value", "2.0") + attr("Unit", "fc") + "/>" +
                     "<ROW" + attr("RowState", "4") + attr("No", "3") + attr("Time", "09:00:02") +
                     attr("Value", "3.0") + attr("Unit", "cd") + "/>");
    EXPECT_EQ(dataFile("foreign_log.xml"), packet);
    LogTable t;
    MemorySource in(packet);
    ASSERT_TRUE(kq::files::readXmlLog(t, in).ok());
    EXPECT_EQ(rowTexts(t), (std::vector<std::string>{"1|09:00:00|1.0|lux", "2|09:00:01|2.0|fc",
                                                     "3|09:00:02|3.0|cd"}));
    EXPECT_EQ(t.rowState(0), 0u);
    EXPECT_EQ(t.rowState(1), 8u);
    EXPECT_EQ(t.rowState(2), 4u);
    EXPECT_EQ(changeLog(t), (std::vector<std::uint32_t>{2, 1, 8, 1, 0, 4, 3, 0, 4}));
    // Saved again, the packet is the same bytes.
    EXPECT_EQ(writeXml(t), packet);
}

} // namespace
