// kqmeter-cli: the program's core without a window.
#include "cli_commands.h"

#include "kq_version.h"

#include <cstdio>
#include <cstring>
#include <exception>
#include <string>
#include <vector>

namespace {

void usage(std::FILE* out) {
    std::fputs("usage: kqmeter-cli COMMAND [ARGUMENT]...\n"
               "The meter's readings without a window, through the same core as kqmeter.\n"
               "Commands:\n"
               "  kqmeter-cli decode [--link usb|hid] [--high TEXT] [--low TEXT]\n"
               "                     [--repeat on|off] [--max-records N] [FILE]\n"
               "  kqmeter-cli monitor --usb|--serial PORT [--count N]\n"
               "  kqmeter-cli monitor --hid [--device PATH] [--count N]\n"
               "  kqmeter-cli record --usb|--serial PORT|--hid [--device PATH]\n"
               "                     [--repeat on|off] [--interval S] [--max-records N] OUT\n"
               "  kqmeter-cli devices\n"
               "  kqmeter-cli convert IN OUT\n"
               "  kqmeter-cli report LOG PDF\n"
               "  kqmeter-cli --help | --version\n",
               out);
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fputs("kqmeter-cli: no command given (try kqmeter-cli --help)\n", stderr);
        return 2;
    }
    const std::string command = argv[1];
    std::vector<std::string> args(argv + 2, argv + argc);
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
        if (command == "report")
            return kq::cli::runReport(args, argc, argv);
        if (command == "--help" || command == "-h" || command == "help") {
            usage(stdout);
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
