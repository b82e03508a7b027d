#include "cli_commands.h"
#include "command_help.h"

#include "files/log_file.h"
#include "record/log_table.h"

#include <cstdio>

namespace kq::cli {

// Loads IN into an empty table and saves it as OUT, each exactly as the window
// does: the form of each file follows its extension.
int runConvert(const std::vector<std::string>& args) {
    if (args.size() != 2) {
        printCommandUsage("convert", stderr);
        return 2;
    }
    const std::string& in = args[0];
    const std::string& out = args[1];
    record::LogTable table;
    const files::LoadResult loaded = files::loadLog(table, in);
    if (!loaded.ok()) {
        std::fputs("Failed to Load File!\n", stderr);
        std::fprintf(stderr, "kqmeter-cli: %s: %s\n", in.c_str(), loaded.error.c_str());
        return 1;
    }
    const files::SaveResult saved = files::saveLog(table, out);
    if (!saved.ok()) {
        if (files::formForName(out) == files::LogForm::Xml)
            std::fprintf(stderr, "%s\n", saved.error.c_str());
        else
            std::fprintf(stderr, "Could not save table to specified file: %s\n", out.c_str());
        std::fprintf(stderr, "kqmeter-cli: %s\n", saved.error.c_str());
        return 1;
    }
    std::printf("Save table to specified file: %s Scuss!\n", out.c_str());
    return 0;
}

} // namespace kq::cli
