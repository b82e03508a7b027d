#include "files/log_file.h"

#include "files/atomic_file.h"
#include "files/byte_io.h"
#include "files/log_csv.h"
#include "files/log_text.h"
#include "files/log_xml.h"
#include "record/log_table.h"

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

SaveResult saveLog(const record::LogTable& table, const std::string& path,
                   const Progress& progress) {
    return saveLog(table, path, formForName(path), progress);
}

SaveResult saveLog(const record::LogTable& table, const std::string& path, LogForm form,
                   const Progress& progress) {
    SaveResult result;
    AtomicFile file(path);
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

LoadResult loadLog(record::LogTable& table, const std::string& path, const Progress& progress) {
    LoadResult result;
    FileSource source;
    if (!source.open(path)) {
        result.status = LoadResult::Status::Failed;
        result.error = "Cannot open file \"" + path + "\": " + source.error();
        return result;
    }
    const LogForm form = formForName(path);
    if (form == LogForm::Text)
        return readTextLog(table, source, progress);
    if (form == LogForm::Csv)
        return readCsvLog(table, source, progress);

    // The packet replaces the table only when it was read whole, so a failed
    // or cancelled load leaves the table as it was.
    try {
        record::LogTable fresh;
        result = readXmlLog(fresh, source, progress);
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
