// kqmeter-cli: the program's core without a window.
#include "cli_commands.h"
#include "command_help.h"

#include "kq_version.h"

#include <cstdio>
#include <cstring>
#include <exception>
#include <string>
#include <vector>

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fputs("kqmeter-cli: no command given (try kqmeter-cli --help)\n", stderr);
        return 2;
    }
    const std::string command = argv[1];
    std::vector<std::string> args(argv + 2, argv + argc);
    // COMMAND --help anywhere on its line: what the command does, and nothing run.
    for (const std::string& a : args)
        if ((a == "--help" || a == "-h") && kq::cli::printCommandHelp(command, stdout))
            return 0;
    try {
        if (command == "decode")
            return kq::cli::runDecode(args);
        if (command == "monitor")
            return kq::cli::runMonitor(args);
        if (command == "record")
            return kq::cli::runRecord(args);
        if (command == "devices")
            return kq::cli::runDevices(args);
        if (command == "convert")
            return kq::cli::runConvert(args);
        if (command == "stats")
            return kq::cli::runStats(args);
        if (command == "report")
            return kq::cli::runReport(args, argc, argv);
        if (command == "--help" || command == "-h" || command == "help") {
            kq::cli::printProgramUsage(stdout);
            return 0;
        }
        if (command == "--version") {
            std::printf("kqmeter-cli %s\n", kq::kVersion);
            return 0;
        }
    } catch (const std::exception& e) {
        std::fprintf(stderr, "kqmeter-cli: %s\n", e.what());
        return 1;
    }
    std::fprintf(stderr, "kqmeter-cli: unknown command '%s' (try kqmeter-cli --help)\n",
                 command.c_str());
    return 2;
}
