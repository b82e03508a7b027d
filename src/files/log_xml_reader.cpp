#include "files/log_xml.h"
#include "files/xml_scanner.h"

#include "record/log_table.h"

#include <array>
#include <charconv>
#include <limits>
#include <new>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace kq::files {

using record::LogTable;

namespace {

bool equalsNoCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size())
        return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        char x = a[i], y = b[i];
        if (x >= 'A' && x <= 'Z')
            x = static_cast<char>(x - 'A' + 'a');
        if (y >= 'A' && y <= 'Z')
            y = static_cast<char>(y - 'A' + 'a');
        if (x != y)
            return false;
    }
    return true;
}

template <class T> std::optional<T> parseWhole(std::string_view s) {
    T v{};
    const auto r = std::from_chars(s.data(), s.data() + s.size(), v);
    if (s.empty() || r.ec != std::errc() || r.ptr != s.data() + s.size())
        return std::nullopt;
    return v;
}

// The change log as read from CHANGE_LOG, kept compact: a table of ten million
// inserted rows logs thirty million numbers, which are all of the form
// (position, 0, 4) with rising positions. Those trailing triples are kept as
// runs of positions and become the rows' own insert marks; everything else is
// kept number for number. Always: verbatim followed by the runs' triples is
// the log as read.
class ChangeLogBuilder {
public:
    bool chars(std::string_view s) {
        for (char c : s) {
            if (c >= '0' && c <= '9') {
                m_current = m_current * 10 + static_cast<std::uint64_t>(c - '0');
                if (m_current > std::numeric_limits<std::uint32_t>::max())
                    return false;
                m_inNumber = true;
            } else if (c == ' ') {
                endNumber();
            } else {
                return false;
            }
        }
        return true;
    }

    void end() {
        endNumber();
        if (m_pendingCount > 0) {
            flushRuns();
            m_verbatim.insert(m_verbatim.end(), m_pending.begin(),
                              m_pending.begin() + static_cast<std::ptrdiff_t>(m_pendingCount));
            m_pendingCount = 0;
        }
        m_complete = true;
    }

    bool complete() const { return m_complete; }

    // Moves every run into the verbatim numbers (the rows carry no marks).
    void flushRuns() {
        for (const auto& [first, count] : m_runs)
            for (std::uint32_t k = 0; k < count; ++k) {
                m_verbatim.push_back(first + k);
                m_verbatim.push_back(0);
                m_verbatim.push_back(4);
            }
        m_runs.clear();
    }

    std::uint32_t lastRunPosition() const {
        return m_runs.empty() ? 0 : m_runs.back().first + m_runs.back().second - 1;
    }

    const std::vector<std::pair<std::uint32_t, std::uint32_t>>& runs() const { return m_runs; }
    std::vector<std::uint32_t> takeVerbatim() { return std::move(m_verbatim); }

private:
    void endNumber() {
        if (!m_inNumber)
            return;
        m_pending[m_pendingCount++] = static_cast<std::uint32_t>(m_current);
        m_current = 0;
        m_inNumber = false;
        if (m_pendingCount == 3) {
            triple(m_pending[0], m_pending[1], m_pending[2]);
            m_pendingCount = 0;
        }
    }

    void triple(std::uint32_t position, std::uint32_t a, std::uint32_t b) {
        if (a == 0 && b == 4 && position > 0 && position > lastRunPosition()) {
            if (!m_runs.empty() && position == lastRunPosition() + 1)
                ++m_runs.back().second;
            else
                m_runs.emplace_back(position, 1);
            return;
        }
        flushRuns();
        m_verbatim.push_back(position);
        m_verbatim.push_back(a);
        m_verbatim.push_back(b);
    }

    std::vector<std::uint32_t> m_verbatim;
    std::vector<std::pair<std::uint32_t, std::uint32_t>> m_runs; // first position, count
    std::array<std::uint32_t, 3> m_pending{};
    std::size_t m_pendingCount = 0;
    std::uint64_t m_current = 0;
    bool m_inNumber = false;
    bool m_complete = false;
};

class PacketReader final : public XmlScanner::Handler {
public:
    explicit PacketReader(LogTable& table) : m_table(table) {}

    bool startElement(std::string_view name, const XmlScanner::Attribute* attributes,
                      std::size_t count, std::size_t depth) override;
    bool endElement(std::string_view name, std::size_t depth) override;
    bool streamAttribute(std::string_view element, std::string_view attribute,
                         std::size_t depth) override;
    bool streamChars(std::string_view chars) override {
        return m_log.chars(chars) || reject("malformed CHANGE_LOG");
    }
    bool streamEnd() override {
        m_log.end();
        return true;
    }

    // After the whole packet: settles the change log. False if the packet
    // was incomplete.
    bool finish();
    const std::string& error() const { return m_error; }

private:
    enum class Kind : std::uint8_t { Other, Packet, Metadata, Fields, Params, RowData, Row };

    bool reject(std::string why) {
        if (m_error.empty())
            m_error = std::move(why);
        return false;
    }
    bool readField(const XmlScanner::Attribute* attributes, std::size_t count);
    bool readRow(const XmlScanner::Attribute* attributes, std::size_t count);

    LogTable& m_table;
    std::string m_error;
    std::vector<Kind> m_kinds; // kind of each open element, root first
    bool m_seenMetadata = false;
    bool m_seenFields = false;
    bool m_seenRowData = false;
    bool m_logStarted = false;
    bool m_streamedInTag = false; // the tag being read streamed its CHANGE_LOG
    // Row attribute names of No, Time, Value and Unit as the packet declares them.
    std::array<std::string, 4> m_fieldNames;
    std::array<bool, 4> m_haveField{};
    ChangeLogBuilder m_log;
    bool m_marksApplied = false; // rows got insert marks from the runs
    std::size_t m_runIndex = 0;
};

bool PacketReader::streamAttribute(std::string_view element, std::string_view attribute,
                                   std::size_t depth) {
    // Only the first CHANGE_LOG streams; a second one is collected like any
    // attribute and refused when its element is complete.
    if (m_logStarted || depth != 3 || m_kinds.size() < 2 || m_kinds[1] != Kind::Metadata ||
        element != "PARAMS" || attribute != "CHANGE_LOG")
        return false;
    m_logStarted = true;
    m_streamedInTag = true;
    return true;
}

bool PacketReader::readField(const XmlScanner::Attribute* attributes, std::size_t count) {
    static constexpr std::array<std::string_view, 4> kNames = {"No", "Time", "Value", "Unit"};
    const XmlScanner::Attribute* name = nullptr;
    const XmlScanner::Attribute* type = nullptr;
    for (std::size_t i = 0; i < count; ++i) {
        if (attributes[i].name == "attrname")
            name = &attributes[i];
        else if (attributes[i].name == "fieldtype")
            type = &attributes[i];
    }
    if (name == nullptr)
        return reject("FIELD without attrname");
    for (std::size_t f = 0; f < kNames.size(); ++f) {
        if (!equalsNoCase(name->value, kNames[f]))
            continue;
        if (m_haveField[f])
            return reject("field declared twice");
        const std::string_view t = type ? std::string_view(type->value) : std::string_view();
        const bool integer = t == "i1" || t == "i2" || t == "i4" || t == "ui1" || t == "ui2";
        const bool text = t.starts_with("string");
        if (f == 0 ? !integer : !text)
            return reject("field " + std::string(kNames[f]) + " has another type");
        m_haveField[f] = true;
        m_fieldNames[f] = name->value;
    }
    return true; // other fields are carried along unread
}

bool PacketReader::readRow(const XmlScanner::Attribute* attributes, std::size_t count) {
    std::uint16_t state = 0;
    std::optional<std::int32_t> no;
    std::array<std::optional<std::string_view>, 3> texts;
    for (std::size_t i = 0; i < count; ++i) {
        const auto& a = attributes[i];
        if (a.name == "RowState") {
            const auto v = parseWhole<std::uint16_t>(a.value);
            if (!v)
                return reject("RowState is not a number");
            state = *v;
        } else if (a.name == m_fieldNames[0]) {
            no = parseWhole<std::int32_t>(a.value);
            if (!no)
                return reject("No is not an integer");
        } else {
            for (std::size_t f = 1; f < 4; ++f)
                if (a.name == m_fieldNames[f])
                    texts[f - 1] = a.value;
        }
    }
    bool logged = false;
    if (m_marksApplied) {
        const auto position = static_cast<std::uint64_t>(m_table.rowCount()) + 1;
        const auto& runs = m_log.runs();
        while (m_runIndex < runs.size() &&
               std::uint64_t{runs[m_runIndex].first} + runs[m_runIndex].second <= position)
            ++m_runIndex;
        logged = m_runIndex < runs.size() && runs[m_runIndex].first <= position;
    }
    try {
        m_table.append(no, texts[0], texts[1], texts[2], state, logged);
    } catch (const std::length_error&) {
        return reject("the log table is full");
    } catch (const std::bad_alloc&) {
        return reject("out of memory");
    }
    return true;
}

bool PacketReader::startElement(std::string_view name, const XmlScanner::Attribute* attributes,
                                std::size_t count, std::size_t depth) {
    const Kind parent = depth >= 2 ? m_kinds[depth - 2] : Kind::Other;
    Kind kind = Kind::Other;
    if (depth == 1) {
        if (name != "DATAPACKET")
            return reject("the root element is not DATAPACKET");
        kind = Kind::Packet;
    } else if (parent == Kind::Packet && name == "METADATA") {
        if (m_seenMetadata)
            return reject("METADATA given twice");
        m_seenMetadata = true;
        kind = Kind::Metadata;
    } else if (parent == Kind::Packet && name == "ROWDATA") {
        if (m_seenRowData)
            return reject("ROWDATA given twice");
        if (!m_seenFields)
            return reject("ROWDATA before the fields");
        m_seenRowData = true;
        kind = Kind::RowData;
        // The change log comes before the rows in a packet: only then can the
        // rows take over its insert marks as they are read.
        m_marksApplied = m_log.complete();
    } else if (parent == Kind::Metadata && name == "FIELDS") {
        if (m_seenFields)
            return reject("FIELDS given twice");
        kind = Kind::Fields;
    } else if (parent == Kind::Metadata && name == "PARAMS") {
        kind = Kind::Params;
        std::size_t logs = 0;
        for (std::size_t i = 0; i < count; ++i)
            logs += attributes[i].name == "CHANGE_LOG";
        if (logs > (m_streamedInTag ? 1u : 0u))
            return reject("CHANGE_LOG given twice");
    } else if (parent == Kind::Fields && name == "FIELD") {
        if (!readField(attributes, count))
            return false;
    } else if (parent == Kind::RowData && name == "ROW") {
        if (!readRow(attributes, count))
            return false;
        kind = Kind::Row;
    }
    m_streamedInTag = false;
    if (m_kinds.size() < depth)
        m_kinds.resize(depth);
    m_kinds[depth - 1] = kind;
    return true;
}

bool PacketReader::endElement(std::string_view, std::size_t depth) {
    const Kind kind = m_kinds[depth - 1];
    if (kind == Kind::Fields) {
        for (bool have : m_haveField)
            if (!have)
                return reject("the packet lacks one of the fields No, Time, Value, Unit");
        m_seenFields = true;
    } else if (kind == Kind::Packet) {
        if (!m_seenRowData)
            return reject("the packet has no ROWDATA");
    }
    return true;
}

bool PacketReader::finish() {
    if (!m_marksApplied) {
        m_log.flushRuns();
    } else if (m_log.lastRunPosition() > m_table.rowCount()) {
        // The log names rows the packet does not have; keep the log exactly as
        // read and take the marks off the rows again.
        LogTable plain;
        LogTable::Text t[3];
        const LogTable::Field fields[3] = {LogTable::Field::Time, LogTable::Field::Value,
                                           LogTable::Field::Unit};
        for (std::size_t i = 0; i < m_table.rowCount(); ++i) {
            std::optional<std::string_view> v[3];
            for (int f = 0; f < 3; ++f)
                if (m_table.text(i, fields[f], t[f]))
                    v[f] = t[f].view();
            plain.append(m_table.no(i), v[0], v[1], v[2], m_table.rowState(i), false);
        }
        m_table = std::move(plain);
        m_log.flushRuns();
    }
    m_table.setLoadedChangeLog(m_log.takeVerbatim());
    return true;
}

} // namespace

LoadResult readXmlLog(LogTable& table, ByteSource& in, const Progress& progress) {
    LoadResult result;
    table.clear();
    PacketReader reader(table);
    XmlScanner scanner(reader, kMaxXmlTagBytes, kMaxXmlDepth);
    const std::uint64_t total = in.size();
    std::vector<char> buffer(readChunkBytes(total));
    std::uint64_t bytesRead = 0;
    auto failed = [&](std::string why) {
        result.status = LoadResult::Status::Failed;
        result.error = std::move(why);
        return result;
    };
    for (;;) {
        const std::ptrdiff_t got = in.read(buffer.data(), buffer.size());
        if (got < 0)
            return failed("the file cannot be read");
        if (got == 0)
            break;
        bytesRead += static_cast<std::uint64_t>(got);
        if (!scanner.feed(buffer.data(), static_cast<std::size_t>(got)))
            return failed(reader.error().empty() ? scanner.error() : reader.error());
        if (progress && !progress(bytesRead, total)) {
            result.status = LoadResult::Status::Cancelled;
            return result;
        }
    }
    if (!scanner.finish())
        return failed(scanner.error());
    try {
        reader.finish();
    } catch (const std::exception&) {
        return failed("out of memory");
    }
    result.rows = table.rowCount();
    return result;
}

} // namespace kq::files
