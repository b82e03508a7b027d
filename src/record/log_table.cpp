#include "record/log_table.h"

#include "record/text_chars.h"

#include <algorithm>
#include <cstring>
#include <stdexcept>

namespace kq::record {

namespace {

constexpr std::size_t kBlockRows = 65536;
constexpr std::size_t kChunkBytes = 1u << 20;
constexpr std::uint32_t kMaxArenaRef = 0x7FFFFFFFu;
// A Time of the program's own form "hh:mm:ss" is kept as a number with this
// bit set instead of as text.
constexpr std::uint32_t kPackedTime = 0x80000000u;
constexpr std::size_t kMaxInternedUnits = 4096;

enum Flags : std::uint8_t {
    HasNo = 1,
    HasTime = 2,
    HasValue = 4,
    HasUnit = 8,
    UnitInArena = 16,
    InsertLogged = 32,
    HasMoment = 64,
};

bool isDigit(char c) {
    return c >= '0' && c <= '9';
}

std::string_view cut(std::string_view s) {
    return s.substr(0, charPrefixBytes(s, LogTable::kTextWidth));
}

bool packTime(std::string_view t, std::uint32_t& code) {
    if (t.size() != 8 || t[2] != ':' || t[5] != ':')
        return false;
    for (int i : {0, 1, 3, 4, 6, 7})
        if (!isDigit(t[i]))
            return false;
    auto two = [&](int i) {
        return static_cast<std::uint32_t>((t[i] - '0') * 10 + (t[i + 1] - '0'));
    };
    code = kPackedTime | (two(0) * 10000 + two(3) * 100 + two(6));
    return true;
}

void unpackTime(std::uint32_t code, LogTable::Text& out) {
    std::uint32_t v = code & ~kPackedTime;
    const std::uint32_t parts[3] = {v / 10000, (v / 100) % 100, v % 100};
    char* p = out.data;
    for (int i = 0; i < 3; ++i) {
        if (i)
            *p++ = ':';
        *p++ = static_cast<char>('0' + parts[i] / 10);
        *p++ = static_cast<char>('0' + parts[i] % 10);
    }
    out.size = 8;
}

void copyOut(std::string_view s, LogTable::Text& out) {
    out.size = static_cast<std::uint8_t>(s.size());
    std::memcpy(out.data, s.data(), s.size());
}

} // namespace

struct LogTable::Row {
    std::int64_t utcMs; // with HasMoment
    std::int32_t no;
    std::uint32_t time;  // packed time or arena reference
    std::uint32_t value; // arena reference
    std::uint32_t unit;  // index into m_units, or arena reference with UnitInArena
    std::uint16_t state;
    std::int16_t offsetMinutes; // with HasMoment
    std::uint8_t flags;
    Verdict verdict;
};

LogTable::LogTable() = default;
LogTable::~LogTable() = default;
LogTable::LogTable(LogTable&&) noexcept = default;
LogTable& LogTable::operator=(LogTable&&) noexcept = default;

LogTable::Row& LogTable::rowAt(std::size_t i) {
    return m_blocks[i / kBlockRows][i % kBlockRows];
}
const LogTable::Row& LogTable::rowAt(std::size_t i) const {
    return m_blocks[i / kBlockRows][i % kBlockRows];
}

std::uint32_t LogTable::storeText(std::string_view s) {
    // Each entry is a length byte and the characters; it never spans chunks.
    const std::size_t need = 1 + s.size();
    if (m_chunks.empty() || m_chunkUsed + need > kChunkBytes) {
        if ((m_chunks.size() + 1) * kChunkBytes > kMaxArenaRef)
            throw std::length_error("the log table is full");
        m_chunks.push_back(std::make_unique_for_overwrite<char[]>(kChunkBytes));
        m_chunkUsed = 0;
    }
    char* p = m_chunks.back().get() + m_chunkUsed;
    p[0] = static_cast<char>(s.size());
    std::memcpy(p + 1, s.data(), s.size());
    const auto ref = static_cast<std::uint32_t>((m_chunks.size() - 1) * kChunkBytes + m_chunkUsed);
    m_chunkUsed += need;
    return ref;
}

std::string_view LogTable::arenaText(std::uint32_t ref) const {
    const char* p = m_chunks[ref / kChunkBytes].get() + ref % kChunkBytes;
    return {p + 1, static_cast<unsigned char>(p[0])};
}

std::uint32_t LogTable::unitRef(std::string_view s, bool& inArena) {
    inArena = false;
    if (m_haveLastUnit && s == m_lastUnit)
        return m_lastUnitRef;
    auto it = m_unitIndex.find(s);
    std::uint32_t ref;
    if (it != m_unitIndex.end()) {
        ref = it->second;
    } else if (m_units.size() < kMaxInternedUnits) {
        ref = static_cast<std::uint32_t>(m_units.size());
        m_units.emplace_back(s);
        m_unitIndex.emplace(std::string(s), ref);
    } else {
        inArena = true;
        return storeText(s);
    }
    m_lastUnit.assign(s);
    m_lastUnitRef = ref;
    m_haveLastUnit = true;
    return ref;
}

void LogTable::append(std::optional<std::int32_t> no, std::optional<std::string_view> time,
                      std::optional<std::string_view> value, std::optional<std::string_view> unit,
                      std::uint16_t rowState, bool logInsert, const Stamp& stamp) {
    static_assert(sizeof(Row) <= 32, "ten million rows stay within the memory goal");
    Row r{};
    r.state = rowState;
    if (stamp.moment) {
        r.flags |= HasMoment;
        r.utcMs = stamp.moment->utcMs;
        r.offsetMinutes = stamp.moment->offsetMinutes;
    }
    r.verdict = stamp.verdict;
    if (no) {
        r.flags |= HasNo;
        r.no = *no;
    }
    if (time) {
        r.flags |= HasTime;
        const std::string_view t = cut(*time);
        if (!packTime(t, r.time))
            r.time = storeText(t);
    }
    if (value) {
        r.flags |= HasValue;
        r.value = storeText(cut(*value));
    }
    if (unit) {
        r.flags |= HasUnit;
        bool inArena = false;
        r.unit = unitRef(cut(*unit), inArena);
        if (inArena)
            r.flags |= UnitInArena;
    }
    if (logInsert) {
        r.flags |= InsertLogged;
        ++m_loggedInserts;
    }
    if (m_rows % kBlockRows == 0 && m_rows / kBlockRows == m_blocks.size())
        m_blocks.push_back(std::make_unique_for_overwrite<Row[]>(kBlockRows));
    rowAt(m_rows) = r;
    ++m_rows;
}

std::optional<std::int32_t> LogTable::no(std::size_t row) const {
    const Row& r = rowAt(row);
    if (!(r.flags & HasNo))
        return std::nullopt;
    return r.no;
}

bool LogTable::text(std::size_t row, Field field, Text& out) const {
    const Row& r = rowAt(row);
    switch (field) {
    case Field::No:
        if (!(r.flags & HasNo))
            return false;
        copyOut(std::to_string(r.no), out);
        return true;
    case Field::Time:
        if (!(r.flags & HasTime))
            return false;
        if (r.time & kPackedTime)
            unpackTime(r.time, out);
        else
            copyOut(arenaText(r.time), out);
        return true;
    case Field::Value:
        if (!(r.flags & HasValue))
            return false;
        copyOut(arenaText(r.value), out);
        return true;
    case Field::Unit:
        if (!(r.flags & HasUnit))
            return false;
        copyOut((r.flags & UnitInArena) ? arenaText(r.unit) : std::string_view(m_units[r.unit]),
                out);
        return true;
    }
    return false;
}

std::optional<std::string> LogTable::textString(std::size_t row, Field field) const {
    Text t;
    if (!text(row, field, t))
        return std::nullopt;
    return std::string(t.view());
}

std::uint16_t LogTable::rowState(std::size_t row) const {
    return rowAt(row).state;
}

std::optional<LogMoment> LogTable::moment(std::size_t row) const {
    const Row& r = rowAt(row);
    if (!(r.flags & HasMoment))
        return std::nullopt;
    return LogMoment{r.utcMs, r.offsetMinutes};
}

LogTable::Verdict LogTable::verdict(std::size_t row) const {
    return rowAt(row).verdict;
}

bool LogTable::insertLogged(std::size_t row) const {
    return rowAt(row).flags & InsertLogged;
}

void LogTable::clear() {
    m_blocks.clear();
    m_chunks.clear();
    m_chunkUsed = 0;
    m_rows = 0;
    m_units.clear();
    m_unitIndex.clear();
    m_haveLastUnit = false;
    m_loadedLog.clear();
    m_loggedInserts = 0;
    ++m_generation.value;
}

void LogTable::truncate(std::size_t count) {
    if (count < m_rows)
        ++m_generation.value;
    while (m_rows > count) {
        --m_rows;
        if (rowAt(m_rows).flags & InsertLogged)
            --m_loggedInserts;
    }
    // The arena space of dropped rows is not reclaimed; it is only used when a
    // load fails half-way.
    m_blocks.resize((m_rows + kBlockRows - 1) / kBlockRows);
}

void LogTable::setLoadedChangeLog(std::vector<std::uint32_t> numbers) {
    m_loadedLog = std::move(numbers);
}

bool LogTable::hasChangeLog() const {
    return !m_loadedLog.empty() || m_loggedInserts > 0;
}

std::size_t LogTable::memoryBytes() const {
    // A block and a chunk are taken from the system whole but take memory
    // only as rows and texts are written into them: counted as written, the
    // figure follows what the process really holds for the rows.
    std::size_t bytes = m_rows * sizeof(Row);
    if (!m_chunks.empty())
        bytes += (m_chunks.size() - 1) * kChunkBytes + m_chunkUsed;
    for (const auto& u : m_units)
        bytes += sizeof(u) + u.capacity();
    return bytes;
}

} // namespace kq::record
