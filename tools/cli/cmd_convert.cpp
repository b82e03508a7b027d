#include "cli_commands.h"
#include "command_help.h"
#include "log_loading.h"

#include "files/atomic_file.h"
#include "files/data_folder.h"
#include "files/log_file.h"
#include "record/log_table.h"

#include <cstdio>
#include <sys/stat.h>

namespace kq::cli {

namespace {

// OUT is where standard output goes (/dev/stdout, or a terminal or pipe by
// its own name): the messages then go to standard error, so that what the
// pipe carries is the log and nothing else.
bool sameAsStandardOutput(const std::string& out) {
    struct stat target {};
    struct stat mine {};
    return ::stat(out.c_str(), &target) == 0 && ::fstat(1, &mine) == 0 &&
           target.st_dev == mine.st_dev && target.st_ino == mine.st_ino;
}

} // namespace

// Loads IN into an empty table and saves it as OUT, each exactly as the window
// does: the form of each file follows its extension.
int runConvert(const std::vector<std::string>& args) {
    if (args.size() != 2) {
        printCommandUsage("convert", stderr);
        return 2;
    }
    const std::string& in = args[0];
    const std::string& out = args[1];
    for (const std::string& kept : files::keptCopiesIn(files::dataFolder()))
        std::fprintf(stderr,
                     "kqmeter-cli: a save over a file was stopped half-way; its old content is "
                     "kept in %s\n",
                     kept.c_str());
    record::LogTable table;
    const files::LoadResult loaded = loadLogOrTell(table, in);
    if (!loaded.ok())
        return 1;
    if (loaded.cut)
        std::fprintf(stderr, "kqmeter-cli: %s did not end; it was read up to %llu rows\n",
                     in.c_str(), static_cast<unsigned long long>(loaded.rows));
    const bool toStandardOutput = sameAsStandardOutput(out);
    const files::SaveResult saved = files::saveLog(table, out);
    if (!saved.ok()) {
        if (files::formForName(out) == files::LogForm::Xml)
            std::fprintf(stderr, "%s\n", saved.error.c_str());
        else
            std::fprintf(stderr, "Could not save table to specified file: %s\n", out.c_str());
        std::fprintf(stderr, "kqmeter-cli: %s\n", saved.error.c_str());
        return 1;
    }
    std::fprintf(toStandardOutput ? stderr : stdout, "Save table to specified file: %s Scuss!\n",
                 out.c_str());
    return 0;
}

} // namespace kq::cli
