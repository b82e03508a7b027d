// Drives the files that grow by rows, for the fault-injection test: the same
// steps every run, so that the n-th system call is the same call each time.
//   fault_driver record OUT BATCHES   a recording, BATCHES seconds of 3 rows
//   fault_driver journal PATH         the recovery journal through rows, a save, a New
//   fault_driver check FILE           the rows a file loads back, checked
// record and journal print "disk A-B" after each step that put rows A..B on
// disk (the rows the file must hold from then on; "disk none" when the rows
// before were saved or let go), check prints "rows N A-B" or the first fault
// it finds.
#include "files/log_file.h"
#include "files/recording_file.h"
#include "files/recovery_journal.h"
#include "record/log_table.h"
#include "record/save_mark.h"

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>

using kq::record::LogTable;

namespace {

std::string valueOf(int no) {
    return std::to_string(no * 3) + ".5";
}

void addRow(LogTable& table, int no) {
    table.append(no, "12:00:0" + std::to_string(no % 10), valueOf(no), "lux");
}

void reportDisk(int first, int last) {
    std::printf("disk %d-%d\n", first, last);
    std::fflush(stdout);
}

void reportNone() {
    std::printf("disk none\n");
    std::fflush(stdout);
}

int record(const std::string& out, int batches) {
    kq::files::RecordingFile file(out);
    if (!file.start()) {
        std::fprintf(stderr, "%s\n", file.error().c_str());
        return 1;
    }
    LogTable table;
    int no = 0;
    for (int b = 0; b < batches; ++b) {
        for (int i = 0; i < 3; ++i)
            addRow(table, ++no);
        if (file.flush(table) && file.rowsOnDisk() > 0)
            reportDisk(1, static_cast<int>(file.rowsOnDisk()));
    }
    const auto r = file.finish(table);
    if (!r.ok()) {
        std::fprintf(stderr, "%s\n", r.error.c_str());
        return 1;
    }
    std::printf("complete %s %d\n", file.path().c_str(), no);
    return 0;
}

int journal(const std::string& path) {
    kq::files::RecoveryJournal j(path);
    LogTable table;
    kq::record::SaveMark saved;
    int no = 0;
    int firstUnsaved = 1;
    const auto sync = [&] {
        if (j.sync(table, saved) && no >= firstUnsaved)
            reportDisk(firstUnsaved, no);
    };
    for (int step = 0; step < 4; ++step) {
        addRow(table, ++no);
        addRow(table, ++no);
        sync();
    }
    saved.markAll(table); // a save of the whole log
    firstUnsaved = no + 1;
    reportNone();
    addRow(table, ++no);
    sync();
    addRow(table, ++no);
    sync();
    table.clear(); // New, then the numbering goes on elsewhere
    no = 100;
    firstUnsaved = 101;
    reportNone();
    for (int step = 0; step < 3; ++step) {
        addRow(table, ++no);
        sync();
    }
    return 0;
}

// Whole rows only, each the row its number says, numbers without a gap.
int check(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    const bool text = kq::files::formForName(path) == kq::files::LogForm::Text;
    if (text && (bytes.size() < 2 || bytes.compare(bytes.size() - 2, 2, "\r\n") != 0)) {
        std::printf("torn: the file does not end at a row\n");
        return 1;
    }
    LogTable table;
    const auto r = kq::files::loadLog(table, path);
    if (!r.ok()) {
        std::printf("unreadable: %s\n", r.error.c_str());
        return 1;
    }
    for (std::size_t i = 0; i < table.rowCount(); ++i) {
        const auto no = table.no(i);
        const auto value = table.textString(i, LogTable::Field::Value);
        const auto unit = table.textString(i, LogTable::Field::Unit);
        if (!no || !value || *value != valueOf(static_cast<int>(*no)) || !unit || *unit != "lux" ||
            (i > 0 && table.no(i - 1) && *no != *table.no(i - 1) + 1)) {
            std::printf("torn or wrong row %zu\n", i + 1);
            return 1;
        }
    }
    std::printf("rows %zu", table.rowCount());
    if (table.rowCount() > 0)
        std::printf(" %lld-%lld", static_cast<long long>(*table.no(0)),
                    static_cast<long long>(*table.no(table.rowCount() - 1)));
    std::printf("\n");
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    const std::string what = argc > 1 ? argv[1] : "";
    if (what == "record" && argc == 4)
        return record(argv[2], std::atoi(argv[3]));
    if (what == "journal" && argc == 3)
        return journal(argv[2]);
    if (what == "check" && argc == 3)
        return check(argv[2]);
    std::fprintf(stderr, "usage: fault_driver record OUT BATCHES | journal PATH | check FILE\n");
    return 2;
}
