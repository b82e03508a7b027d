#include "files/log_file.h"
#include "files/log_xml.h"
#include "files_test_support.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using kq::files::LoadResult;
using kq::files::MemorySource;
using kq::record::LogTable;
using namespace kq::files::test;

namespace {

const std::string kFields = "<FIELDS><FIELD attrname=\"No\" fieldtype=\"i4\"/>"
                            "<FIELD attrname=\"Time\" fieldtype=\"string\" WIDTH=\"20\"/>"
                            "<FIELD attrname=\"Value\" fieldtype=\"string\" WIDTH=\"20\"/>"
                            "<FIELD attrname=\"Unit\" fieldtype=\"string\" WIDTH=\"20\"/></FIELDS>";
const std::string kDecl = "<?xml version=\"1.0\" standalone=\"yes\"?>  ";

std::string packet(const std::string& params, const std::string& rows) {
    return kDecl + "<DATAPACKET Version=\"2.0\"><METADATA>" + kFields + params +
           "</METADATA><ROWDATA>" + rows + "</ROWDATA></DATAPACKET>";
}

std::string saveXml(const LogTable& t) {
    StringSink sink;
    EXPECT_TRUE(kq::files::writeXmlLog(t, sink).ok());
    return sink.bytes();
}

LoadResult loadXml(LogTable& t, const std::string& bytes, std::size_t step = 1u << 20) {
    TrickleSource in(bytes, step);
    return kq::files::readXmlLog(t, in);
}

TEST(XmlLogWrite, ExpectedFilesByteForByte) {
    LogTable one;
    one.append(1, "10:15:02", " 12.5", "lux");
    EXPECT_EQ(saveXml(one), dataFile("one_row.xml"));

    LogTable empty;
    EXPECT_EQ(saveXml(empty), dataFile("empty.xml"));

    LogTable escapes;
    escapes.append(1, "a<b>c&d", "'\"\r\n\t\\", "x");
    EXPECT_EQ(saveXml(escapes), dataFile("escapes.xml"));
}

TEST(XmlLogWrite, ChangeLogNamesEveryInsertedRow) {
    LogTable t;
    for (int i = 1; i <= 3; ++i)
        t.append(i, "10:00:00", "1", "lux");
    const std::string bytes = saveXml(t);
    EXPECT_NE(bytes.find("<PARAMS CHANGE_LOG=\"1 0 4 2 0 4 3 0 4\"/>"), std::string::npos);
    EXPECT_NE(bytes.find("<ROW RowState=\"4\" No=\"3\""), std::string::npos);

    // Rows without a logged insert and state 0 carry neither.
    LogTable plain;
    plain.append(1, std::nullopt, "", std::nullopt, 0, false);
    EXPECT_EQ(saveXml(plain), packet("<PARAMS/>", "<ROW No=\"1\" Value=\"\"/>"));
}

TEST(XmlLogRead, RoundTripKeepsRowsStatesAndChangeLog) {
    struct Case {
        const char* what;
        std::string bytes;
        std::vector<std::string> rows;
        std::vector<std::uint16_t> states;
        std::vector<std::uint32_t> log;
    };
    const Case cases[] = {
        {"own form", dataFile("one_row.xml"), {"1|10:15:02| 12.5|lux"}, {4}, {1, 0, 4}},
        {"empty", dataFile("empty.xml"), {}, {}, {}},
        {"escapes", dataFile("escapes.xml"), {"1|a<b>c&d|'\"\r\n\t\\|x"}, {4}, {1, 0, 4}},
        {"foreign change log",
         dataFile("foreign_log.xml"),
         {"1|09:00:00|1.0|lux", "2|09:00:01|2.0|fc", "3|09:00:02|3.0|cd"},
         {0, 8, 4},
         {2, 1, 8, 1, 0, 4, 3, 0, 4}},
        {"falling positions",
         packet("<PARAMS CHANGE_LOG=\"2 0 4 1 0 4\"/>",
                "<ROW RowState=\"4\" No=\"1\"/><ROW RowState=\"4\" No=\"2\"/>"),
         {"1|<null>|<null>|<null>", "2|<null>|<null>|<null>"},
         {4, 4},
         {2, 0, 4, 1, 0, 4}},
        {"positions beyond the rows",
         packet("<PARAMS CHANGE_LOG=\"1 0 4 5 0 4\"/>", "<ROW RowState=\"4\" No=\"1\"/>"),
         {"1|<null>|<null>|<null>"},
         {4},
         {1, 0, 4, 5, 0, 4}},
        {"a log not in triples",
         packet("<PARAMS CHANGE_LOG=\"1 0 4 7\"/>", "<ROW RowState=\"4\" No=\"1\"/>"),
         {"1|<null>|<null>|<null>"},
         {4},
         {1, 0, 4, 7}},
        {"inserted rows without a log",
         packet("<PARAMS/>", "<ROW RowState=\"4\" No=\"1\"/><ROW No=\"2\"/>"),
         {"1|<null>|<null>|<null>", "2|<null>|<null>|<null>"},
         {4, 0},
         {}},
        {"empty attribute is an empty text",
         packet("<PARAMS/>", "<ROW No=\"1\" Unit=\"\"/>"),
         {"1|<null>|<null>|"},
         {0},
         {}},
    };
    for (const auto& c : cases) {
        for (std::size_t step : {std::size_t{1}, std::size_t{5}, c.bytes.size()}) {
            SCOPED_TRACE(std::string(c.what) + ", chunks of " + std::to_string(step));
            LogTable t;
            const auto r = loadXml(t, c.bytes, step);
            ASSERT_TRUE(r.ok()) << r.error;
            EXPECT_EQ(rowTexts(t), c.rows);
            std::vector<std::uint16_t> states;
            for (std::size_t i = 0; i < t.rowCount(); ++i)
                states.push_back(t.rowState(i));
            EXPECT_EQ(states, c.states);
            EXPECT_EQ(changeLog(t), c.log);
            // Saving again writes the same packet.
            if (c.bytes.starts_with(kDecl)) {
                EXPECT_EQ(saveXml(t), c.bytes);
            }
        }
    }
}

TEST(XmlLogRead, RowsLoggedAfterALoadExtendTheChangeLog) {
    LogTable t;
    ASSERT_TRUE(loadXml(t, dataFile("foreign_log.xml")).ok());
    t.append(4, "09:00:03", "4.0", "lux");
    EXPECT_EQ(changeLog(t), (std::vector<std::uint32_t>{2, 1, 8, 1, 0, 4, 3, 0, 4, 4, 0, 4}));
}

TEST(XmlLogRead, OwnChangeLogOfManyRowsIsKeptAsRowMarks) {
    LogTable t;
    for (int i = 0; i < 200000; ++i)
        t.append(i, "10:00:00", "1.5", "lux");
    const std::string bytes = saveXml(t);
    LogTable back;
    ASSERT_TRUE(loadXml(back, bytes).ok());
    ASSERT_EQ(back.rowCount(), t.rowCount());
    EXPECT_TRUE(back.loadedChangeLog().empty());
    EXPECT_EQ(saveXml(back), bytes);
}

TEST(XmlLogRead, AcceptsPacketsCarryingMore) {
    const std::string rich =
        "<?xml version=\"1.0\" standalone=\"yes\"?>\r\n<!-- written elsewhere -->\n"
        "<DATAPACKET Version=\"2.0\" Extra='1'>\n <METADATA>\n  <FIELDS>"
        "<FIELD attrname=\"no\" fieldtype=\"i4\" required=\"true\"/>"
        "<FIELD attrname=\"TIME\" fieldtype=\"string\" WIDTH=\"8\"/>"
        "<FIELD attrname=\"Value\" fieldtype=\"string.uni\" WIDTH=\"40\"/>"
        "<FIELD attrname=\"Note\" fieldtype=\"string\" WIDTH=\"20\"/>"
        "<FIELD attrname=\"Unit\" fieldtype=\"string\" WIDTH=\"20\"/></FIELDS>"
        "<PARAMS LCID=\"1033\" CHANGE_LOG = '1 0 4'/><OTHER><X/></OTHER></METADATA>\n"
        "<ROWDATA><?pi data?><ROW RowState=\"4\" no=\"7\" TIME='10:00:00' Value=\"&#x41;&#66;\tz\""
        " Note=\"n\" Unit=\"lux\" Flag=\"x\"></ROW><![CDATA[ <ROW> ]]></ROWDATA>"
        "</DATAPACKET>\r\n<!-- end -->\r\n";
    LogTable t;
    const auto r = loadXml(t, rich);
    ASSERT_TRUE(r.ok()) << r.error;
    EXPECT_EQ(rowTexts(t), std::vector<std::string>{"7|10:00:00|AB z|lux"});
    EXPECT_EQ(changeLog(t), (std::vector<std::uint32_t>{1, 0, 4}));
}

TEST(XmlLogRead, RawWhitespaceInValuesIsNormalisedAndControlBytesKept) {
    const std::string bytes = packet(
        "<PARAMS/>", std::string("<ROW No=\"1\" Time=\"a\r\nb\rc\nd\" Value=\"\x01\x7f\xb0\"/>"));
    for (std::size_t step : {std::size_t{1}, bytes.size()}) {
        SCOPED_TRACE(step);
        LogTable t;
        ASSERT_TRUE(loadXml(t, bytes, step).ok());
        EXPECT_EQ(rowText(t, 0), "1|a b c d|\x01\x7f\xb0|<null>");
    }
}

TEST(XmlLogRead, ByteOrderMarkOnlyWhole) {
    const std::string body = packet("<PARAMS/>", "<ROW No=\"1\"/>");
    struct Case {
        std::string lead;
        bool ok;
    };
    for (const Case& c : {Case{"", true}, Case{"\xEF\xBB\xBF", true}, Case{"\xEF\xBB", false},
                          Case{"\xBB\xBF", false}, Case{"\xEF\xBB\xBF\xEF\xBB\xBF", false}}) {
        for (std::size_t step : {std::size_t{1}, c.lead.size() + body.size()}) {
            LogTable t;
            EXPECT_EQ(loadXml(t, c.lead + body, step).ok(), c.ok) << c.lead.size() << " " << step;
        }
    }
}

TEST(XmlLogRead, MalformedPacketsFail) {
    const std::string row = "<ROW No=\"1\"/>";
    struct Case {
        const char* what;
        std::string bytes;
    };
    const std::string deep = std::string(70 * 3, ' ');
    std::string nested;
    for (int i = 0; i < 70; ++i)
        nested += "<A>";
    for (int i = 0; i < 70; ++i)
        nested += "</A>";
    const Case cases[] = {
        {"empty file", ""},
        {"not XML", "No\tTime\tValue\tUnit\r\n1\t2\t3\t4\r\n"},
        {"other root", "<PACKET><METADATA>" + kFields + "</METADATA><ROWDATA/></PACKET>"},
        {"ends early", packet("<PARAMS/>", row).substr(0, 300)},
        {"no ROWDATA", kDecl + "<DATAPACKET><METADATA>" + kFields + "</METADATA></DATAPACKET>"},
        {"ROWDATA before the fields",
         kDecl + "<DATAPACKET><ROWDATA/><METADATA>" + kFields + "</METADATA></DATAPACKET>"},
        {"missing Unit field",
         "<DATAPACKET><METADATA><FIELDS><FIELD attrname=\"No\" fieldtype=\"i4\"/>"
         "<FIELD attrname=\"Time\" fieldtype=\"string\"/><FIELD attrname=\"Value\" "
         "fieldtype=\"string\"/></FIELDS></METADATA><ROWDATA/></DATAPACKET>"},
        {"No declared as text",
         "<DATAPACKET><METADATA><FIELDS><FIELD attrname=\"No\" fieldtype=\"string\"/>"
         "<FIELD attrname=\"Time\" fieldtype=\"string\"/><FIELD attrname=\"Value\" "
         "fieldtype=\"string\"/><FIELD attrname=\"Unit\" fieldtype=\"string\"/></FIELDS>"
         "</METADATA><ROWDATA/></DATAPACKET>"},
        {"No not an integer", packet("<PARAMS/>", "<ROW No=\"1x\"/>")},
        {"No beyond 32 bits", packet("<PARAMS/>", "<ROW No=\"4294967296\"/>")},
        {"RowState not a number", packet("<PARAMS/>", "<ROW RowState=\"-1\" No=\"1\"/>")},
        {"attribute given twice", packet("<PARAMS/>", "<ROW No=\"1\" No=\"2\"/>")},
        {"mismatched tags", packet("<PARAMS/>", "<ROW No=\"1\"></ROWX>")},
        {"two roots", packet("<PARAMS/>", row) + "<DATAPACKET/>"},
        {"text outside the root", packet("<PARAMS/>", row) + "junk"},
        {"document type with entity",
         "<!DOCTYPE DATAPACKET [<!ENTITY e \"12\">]>" + packet("<PARAMS/>", "<ROW Time=\"&e;\"/>")},
        {"external entity",
         "<!DOCTYPE d [<!ENTITY x SYSTEM \"file:///etc/passwd\">]><DATAPACKET/>"},
        {"unknown entity", packet("<PARAMS/>", "<ROW No=\"1\" Time=\"&e;\"/>")},
        {"character reference zero", packet("<PARAMS/>", "<ROW No=\"1\" Time=\"&#0;\"/>")},
        {"character reference too big", packet("<PARAMS/>", "<ROW Time=\"&#x110000;\"/>")},
        {"less-than in a value", packet("<PARAMS/>", "<ROW No=\"1\" Time=\"a<b\"/>")},
        {"unquoted value", packet("<PARAMS/>", "<ROW No=1/>")},
        {"CHANGE_LOG with letters", packet("<PARAMS CHANGE_LOG=\"1 0 x\"/>", row)},
        {"CHANGE_LOG beyond 32 bits", packet("<PARAMS CHANGE_LOG=\"4294967296 0 4\"/>", row)},
        {"CHANGE_LOG given twice",
         packet("<PARAMS CHANGE_LOG=\"1 0 4\"/><PARAMS CHANGE_LOG=\"1 0 4\"/>", row)},
        {"tag too long",
         packet("<PARAMS/>", "<ROW No=\"1\" X=\"" + std::string(70000, 'a') + "\"/>")},
        {"nested too deeply", packet("<PARAMS/>", nested)},
    };
    for (const auto& c : cases) {
        for (std::size_t step : {std::size_t{3}, c.bytes.size() + 1}) {
            SCOPED_TRACE(std::string(c.what) + ", chunks of " + std::to_string(step));
            LogTable t;
            const auto r = loadXml(t, c.bytes, step);
            EXPECT_EQ(r.status, LoadResult::Status::Failed);
            EXPECT_FALSE(r.error.empty());
        }
    }
}

TEST(XmlLogRead, HugeChangeLogIsReadAsAStream) {
    // Far beyond the tag bound: only CHANGE_LOG may be this long.
    std::string log;
    for (int i = 1; i <= 100000; ++i)
        log += (i > 1 ? " " : "") + std::to_string(i) + " 0 4";
    LogTable t;
    const auto r = loadXml(t, packet("<PARAMS CHANGE_LOG=\"" + log + "\"/>", "<ROW No=\"1\"/>"));
    ASSERT_TRUE(r.ok()) << r.error;
    EXPECT_EQ(changeLog(t).size(), 300000u);
}

} // namespace
