#pragma once

#include <string>
#include <vector>

// One function per subcommand; each lives in its own cmd_*.cpp file.
namespace kq::cli {

int runDecode(const std::vector<std::string>& args);
int runMonitor(const std::vector<std::string>& args);
// The list of HID devices and bridge lines.
int runDevices(const std::vector<std::string>& args);
// record: logs a meter into a text or XML log file until stopped.
int runRecord(const std::vector<std::string>& args);
int runConvert(const std::vector<std::string>& args);
// stats: the statistics of a log file's readings as one JSON object.
int runStats(const std::vector<std::string>& args);
// Needs argc/argv to start the (offscreen) GUI application that draws the PDF.
int runReport(const std::vector<std::string>& args, int argc, char** argv);

} // namespace kq::cli
