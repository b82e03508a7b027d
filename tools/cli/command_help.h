#pragma once

#include <cstdio>
#include <string>

// What each command takes and does: the lines of `kqmeter-cli --help`, of
// `kqmeter-cli COMMAND --help`, and of the usage shown on a bad command line
// come from one table.
namespace kq::cli {

void printProgramUsage(std::FILE* out);
// The "usage:" lines of one command.
void printCommandUsage(const std::string& command, std::FILE* out);
// Its usage and what it does; false when there is no such command.
bool printCommandHelp(const std::string& command, std::FILE* out);

} // namespace kq::cli
