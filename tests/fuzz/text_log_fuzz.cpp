// Feeds arbitrary bytes to the text log reader. Whatever loads must come back with
// the same rows when saved as text and loaded again, and must survive a save as a
// data packet and a load back unchanged.
#include "files/byte_io.h"
#include "files/log_text.h"
#include "files/log_xml.h"
#include "record/log_table.h"
#include "string_sink.h"

#include <algorithm>
#include <cstdlib>
#include <optional>
#include <string>

namespace {

using Field = kq::record::LogTable::Field;
constexpr Field kTextFields[] = {Field::Time, Field::Value, Field::Unit};

bool separator(char c) {
    return c != 0 && static_cast<unsigned char>(c) <= 32;
}

// The text form trims each text of codes 0..32 and writes an empty one as "NULL",
// which loads back as those four letters. A text that still holds a separator, or
// opens with a quote, is split or unquoted on the way back: the form cannot carry
// it, so such inputs prove nothing here.
std::optional<std::string> savedForm(const std::optional<std::string>& text) {
    std::string t = text.value_or("");
    auto trim = [](char c) { return static_cast<unsigned char>(c) <= 32; };
    while (!t.empty() && trim(t.back()))
        t.pop_back();
    std::size_t first = 0;
    while (first < t.size() && trim(t[first]))
        ++first;
    t.erase(0, first);
    if (t.empty())
        return "NULL";
    if (t.front() == '"' || std::any_of(t.begin(), t.end(), separator))
        return std::nullopt;
    return t;
}

bool carriedByTextForm(const kq::record::LogTable& t) {
    for (std::size_t row = 0; row < t.rowCount(); ++row)
        for (Field f : kTextFields)
            if (!savedForm(t.textString(row, f)))
                return false;
    return true;
}

// Whether the reloaded rows are what the saved form promises.
bool sameAfterTextRoundTrip(const kq::record::LogTable& a, const kq::record::LogTable& b) {
    if (a.rowCount() != b.rowCount())
        return false;
    for (std::size_t row = 0; row < a.rowCount(); ++row) {
        if (a.no(row) != b.no(row))
            return false;
        for (Field f : kTextFields)
            if (b.textString(row, f) != savedForm(a.textString(row, f)))
                return false;
    }
    return true;
}

bool sameRows(const kq::record::LogTable& a, const kq::record::LogTable& b) {
    if (a.rowCount() != b.rowCount())
        return false;
    for (std::size_t row = 0; row < a.rowCount(); ++row) {
        if (a.no(row) != b.no(row))
            return false;
        for (Field f : kTextFields)
            if (a.textString(row, f).value_or("") != b.textString(row, f).value_or(""))
                return false;
    }
    return true;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const unsigned char* data, std::size_t size) {
    const std::string_view input(reinterpret_cast<const char*>(data), size);
    kq::record::LogTable table;
    kq::files::MemorySource in(input);
    if (!kq::files::readTextLog(table, in).ok())
        return 0;

    if (carriedByTextForm(table)) {
        StringSink text;
        kq::files::writeTextLog(table, text);
        kq::record::LogTable reloaded;
        kq::files::MemorySource textIn(text.bytes);
        if (!kq::files::readTextLog(reloaded, textIn).ok() ||
            !sameAfterTextRoundTrip(table, reloaded))
            std::abort();
    }

    StringSink packet;
    kq::files::writeXmlLog(table, packet);
    kq::record::LogTable back;
    kq::files::MemorySource packetIn(packet.bytes);
    if (!kq::files::readXmlLog(back, packetIn).ok() || !sameRows(table, back))
        std::abort();
    StringSink again;
    kq::files::writeXmlLog(back, again);
    if (again.bytes != packet.bytes)
        std::abort();
    return 0;
}
