#include "files/log_xml.h"

#include "files/row_saving.h"
#include "record/log_table.h"

#include <string_view>

namespace kq::files {

using record::LogTable;

namespace {

constexpr std::string_view kHead =
    "<?xml version=\"1.0\" standalone=\"yes\"?>  <DATAPACKET Version=\"2.0\"><METADATA><FIELDS>"
    "<FIELD attrname=\"No\" fieldtype=\"i4\"/>"
    "<FIELD attrname=\"Time\" fieldtype=\"string\" WIDTH=\"20\"/>"
    "<FIELD attrname=\"Value\" fieldtype=\"string\" WIDTH=\"20\"/>"
    "<FIELD attrname=\"Unit\" fieldtype=\"string\" WIDTH=\"20\"/>"
    "</FIELDS>";

// The replacement of each byte in an attribute value, or null to copy it.
// CR, LF and TAB are written as references so that a reader's attribute
// normalisation cannot turn them into spaces.
const char* escapeOf(char c) {
    switch (c) {
    case '<':
        return "&lt;";
    case '>':
        return "&gt;";
    case '&':
        return "&amp;";
    case '\'':
        return "&apos;";
    case '"':
        return "&quot;";
    case '\r':
        return "&#013;";
    case '\n':
        return "&#010;";
    case '\t':
        return "&#009;";
    case '\\':
        return "&#092;";
    default:
        return nullptr;
    }
}

void putEscaped(BufferedWriter& w, std::string_view s) {
    std::size_t plain = 0;
    for (std::size_t i = 0; i < s.size(); ++i) {
        if (const char* e = escapeOf(s[i])) {
            w.put(s.substr(plain, i - plain));
            w.put(e);
            plain = i + 1;
        }
    }
    w.put(s.substr(plain));
}

void putTextAttribute(BufferedWriter& w, const LogTable& table, std::size_t row,
                      LogTable::Field field, std::string_view name) {
    LogTable::Text text;
    if (!table.text(row, field, text))
        return;
    w.put(' ');
    w.put(name);
    w.put("=\"");
    putEscaped(w, text.view());
    w.put('"');
}

} // namespace

SaveResult writeXmlLog(const LogTable& table, ByteSink& out, const Progress& progress) {
    BufferedWriter w(out);
    // Rows appended while the save runs are not part of it: the change log and
    // ROWDATA both stop at this count.
    const std::size_t rows = table.rowCount();

    w.put(kHead);
    bool haveLog = !table.loadedChangeLog().empty();
    for (std::size_t i = 0; i < rows && !haveLog; ++i)
        haveLog = table.insertLogged(i);
    if (haveLog) {
        w.put("<PARAMS CHANGE_LOG=\"");
        bool first = true;
        auto number = [&](std::uint64_t n) {
            if (!first)
                w.put(' ');
            first = false;
            w.putUnsigned(n);
        };
        for (std::uint32_t n : table.loadedChangeLog())
            number(n);
        for (std::size_t i = 0; i < rows; ++i) {
            if (table.insertLogged(i)) {
                number(i + 1);
                number(0);
                number(4);
            }
        }
        w.put("\"/>");
    } else {
        w.put("<PARAMS/>");
    }
    w.put("</METADATA><ROWDATA>");

    const bool whole = putRowsOfSave(w, rows, progress, [&](std::size_t i) {
        w.put("<ROW");
        if (const std::uint16_t state = table.rowState(i); state != 0) {
            w.put(" RowState=\"");
            w.putUnsigned(state);
            w.put('"');
        }
        if (const auto no = table.no(i)) {
            w.put(" No=\"");
            w.putInt(*no);
            w.put('"');
        }
        putTextAttribute(w, table, i, LogTable::Field::Time, "Time");
        putTextAttribute(w, table, i, LogTable::Field::Value, "Value");
        putTextAttribute(w, table, i, LogTable::Field::Unit, "Unit");
        w.put("/>");
    });
    if (!whole)
        return cancelledSave();
    w.put("</ROWDATA></DATAPACKET>");

    return finishSave(w, out, rows);
}

} // namespace kq::files
