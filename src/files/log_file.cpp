#include "files/log_file.h"

#include "files/atomic_file.h"
#include "files/byte_io.h"
#include "files/log_csv.h"
#include "files/log_text.h"
#include "files/log_xml.h"
#include "record/log_table.h"

#include <algorithm>
#include <cstdint>
#include <new>
#include <utility>

namespace kq::files {

LogForm formForName(const std::string& path) {
    const auto slash = path.rfind('/');
    const auto dot = path.rfind('.');
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash))
        return LogForm::Text;
    std::string ext = path.substr(dot);
    for (char& c : ext)
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    if (ext == ".xml")
        return LogForm::Xml;
    return ext == ".csv" ? LogForm::Csv : LogForm::Text;
}

namespace {

SaveResult saveInto(AtomicFile& file, const record::LogTable& table, LogForm form,
                    const Progress& progress) {
    SaveResult result;
    if (!file.open()) {
        result.status = SaveResult::Status::Failed;
        result.error = file.error();
        return result;
    }
    switch (form) {
    case LogForm::Xml:
        result = writeXmlLog(table, file, progress);
        break;
    case LogForm::Csv:
        result = writeCsvLog(table, file, progress);
        break;
    case LogForm::Text:
        result = writeTextLog(table, file, progress);
        break;
    }
    if (!result.ok()) {
        file.discard();
        return result;
    }
    if (!file.commit()) {
        result.status = SaveResult::Status::Failed;
        result.error = file.error();
    }
    return result;
}

} // namespace

SaveResult saveLog(const record::LogTable& table, const std::string& path,
                   const Progress& progress) {
    return saveLog(table, path, formForName(path), progress);
}

SaveResult saveLog(const record::LogTable& table, const std::string& path, LogForm form,
                   const Progress& progress) {
    AtomicFile file(path);
    return saveInto(file, table, form, progress);
}

SaveResult saveLogAsNew(const record::LogTable& table, const std::string& path,
                        std::string& placedAt) {
    AtomicFile file(path, AtomicFile::Kind::NewName);
    SaveResult result = saveInto(file, table, formForName(path), {});
    placedAt = file.placedAt();
    return result;
}

namespace {

// The first bytes of a stream; reading past them fails.
class BoundedSource final : public ByteSource {
public:
    BoundedSource(ByteSource& in, std::uint64_t limit) : m_in(in), m_left(limit) {}
    std::ptrdiff_t read(char* buffer, std::size_t capacity) override {
        if (m_left == 0)
            return -1;
        const auto n =
            m_in.read(buffer, static_cast<std::size_t>(std::min<std::uint64_t>(capacity, m_left)));
        if (n > 0)
            m_left -= static_cast<std::uint64_t>(n);
        return n;
    }
    std::uint64_t size() const override { return m_in.size(); }

private:
    ByteSource& m_in;
    std::uint64_t m_left;
};

} // namespace

LoadResult loadLog(record::LogTable& table, const std::string& path, const Progress& progress,
                   const LoadLimits& limits) {
    LoadResult result;
    FileSource source;
    if (!source.open(path, limits.filesOnly)) {
        result.status = LoadResult::Status::Failed;
        result.error = "Cannot open file \"" + path + "\": " + source.error();
        result.notAFile = source.notAFile();
        return result;
    }
    const LogForm form = formForName(path);
    if (form == LogForm::Text)
        return readTextLog(table, source, progress, source.stream() ? limits.streamRows : 0);
    if (form == LogForm::Csv)
        return readCsvLog(table, source, progress);

    // The packet replaces the table only when it was read whole, so a failed
    // or cancelled load leaves the table as it was.
    BoundedSource bounded(source, source.stream() ? limits.streamXmlBytes : UINT64_MAX);
    try {
        record::LogTable fresh;
        result = readXmlLog(fresh, bounded, progress);
        if (result.ok())
            table = std::move(fresh);
    } catch (const std::bad_alloc&) {
        result.status = LoadResult::Status::Failed;
        result.error = "out of memory";
    }
    return result;
}

SaveResult finishSave(BufferedWriter& w, const ByteSink& out, std::uint64_t rows) {
    SaveResult result;
    if (!w.flush()) {
        result.status = SaveResult::Status::Failed;
        result.error = out.error();
        return result;
    }
    result.rows = rows;
    return result;
}

} // namespace kq::files
