#pragma once

#include <string>
#include <sys/types.h>

namespace kq::files {

// The program's own folder for what it keeps between runs (the recovery
// journal, the copy of a file's old content during a save over it):
// $XDG_DATA_HOME/kqmeter, else ~/.local/share/kqmeter.
std::string dataFolder();

// Makes `path` and the folders above it that are missing; false (errno set)
// when one cannot be made.
bool makeFolders(const std::string& path, mode_t mode);

} // namespace kq::files
