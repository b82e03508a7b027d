// stats: the statistics of a log file's readings as one JSON object.
#include "cli_commands.h"
#include "command_help.h"
#include "log_loading.h"

#include "files/log_file.h"
#include "record/log_table.h"
#include "record/reading_stats.h"

#include <cstdio>

namespace kq::cli {

int runStats(const std::vector<std::string>& args) {
    if (args.size() != 1) {
        printCommandUsage("stats", stderr);
        return 2;
    }
    const std::string& in = args[0];
    record::LogTable table;
    const files::LoadResult loaded = loadLogOrTell(table, in);
    if (!loaded.ok())
        return 1;
    record::LogStatistics stats;
    stats.addRows(table, 0, table.rowCount());
    std::printf("%s\n", record::statisticsJson(stats.summary()).c_str());
    return 0;
}

} // namespace kq::cli
