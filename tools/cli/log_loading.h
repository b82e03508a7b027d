#pragma once

#include "files/log_file.h"
#include "record/log_table.h"

#include <string>

namespace kq::cli {

// Loads a log for a command that reads one. A failure is told on standard error as the
// window tells it ("Failed to Load File!"), then why, so a script sees both.
files::LoadResult loadLogOrTell(record::LogTable& table, const std::string& path);

} // namespace kq::cli
