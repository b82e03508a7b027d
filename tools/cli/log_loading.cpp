#include "log_loading.h"

#include <cstdio>

namespace kq::cli {

files::LoadResult loadLogOrTell(record::LogTable& table, const std::string& path) {
    files::LoadResult loaded = files::loadLog(table, path);
    if (!loaded.ok()) {
        std::fputs("Failed to Load File!\n", stderr);
        std::fprintf(stderr, "kqmeter-cli: %s: %s\n", path.c_str(), loaded.error.c_str());
    }
    return loaded;
}

} // namespace kq::cli
