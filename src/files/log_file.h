#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

namespace kq::record {
class LogTable;
}

namespace kq::files {

// Called now and then during a save (rows written, rows in total) or a load
// (bytes read, file size or 0 if unknown); returning false cancels.
using Progress = std::function<bool(std::uint64_t done, std::uint64_t total)>;

enum class LogForm { Text, Xml, Csv };

// ".xml" in any letter case is the XML data packet, ".csv" the CSV form; every
// other name, with or without extension, is the tab-separated text form.
LogForm formForName(const std::string& path);

struct SaveResult {
    enum class Status { Saved, Failed, Cancelled };
    Status status = Status::Saved;
    std::string error; // why a save failed, for the user
    std::uint64_t rows = 0;
    bool ok() const { return status == Status::Saved; }
};

class BufferedWriter;
class ByteSink;

// Ends a save whose rows have all gone to `w`: saved when the last bytes
// reached `out`, failed with the sink's reason otherwise.
SaveResult finishSave(BufferedWriter& w, const ByteSink& out, std::uint64_t rows);

struct LoadResult {
    enum class Status { Loaded, Failed, Cancelled };
    Status status = Status::Loaded;
    std::string error;             // why a load failed (the user sees a fixed text)
    std::uint64_t rows = 0;        // rows the table gained (text) or now holds (XML)
    std::uint64_t line = 0;        // text form: the line that failed, from 1
    std::uint64_t unreadLines = 0; // recovery journal: lines left out as unreadable
    bool notAFile = false;         // refused: a pipe, device or socket where only files are taken
    bool cut = false;              // a stream that had not ended when the row limit was reached
    bool ok() const { return status == Status::Loaded; }
};

// What a load takes. A pipe, a device or a socket may never end: the window
// opens regular files only, and the command-line tool reads the others as
// streams, the text form up to the largest record limit of rows, the XML
// form up to a size that such a packet would need.
struct LoadLimits {
    bool filesOnly = false;
    std::uint64_t streamRows = 10000000;
    std::uint64_t streamXmlBytes = std::uint64_t{1} << 30;
};

// Saves the whole table in the form the name selects. The file is replaced only
// when every byte has been written; a failed or cancelled save leaves an
// existing file as it was.
SaveResult saveLog(const record::LogTable& table, const std::string& path,
                   const Progress& progress = {});
// The same in the form given, whatever the name.
SaveResult saveLog(const record::LogTable& table, const std::string& path, LogForm form,
                   const Progress& progress = {});

// The same, for a file that must not replace anything: the log goes under
// `path`, or when something took that name before the file was complete,
// under the first free "NAME-n.EXT"; `placedAt` says which.
SaveResult saveLogAsNew(const record::LogTable& table, const std::string& path,
                        std::string& placedAt);

// Text and CSV forms: the file's rows are appended; on failure the rows read before
// stay, on cancel the table is left as it was. XML form: the table is replaced by the packet's
// rows, states and change log; on failure or cancel the table is left as it was.
LoadResult loadLog(record::LogTable& table, const std::string& path, const Progress& progress = {},
                   const LoadLimits& limits = {});

} // namespace kq::files
