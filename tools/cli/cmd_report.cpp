#include "cli_commands.h"

#include <cstdio>

namespace kq::cli {

// Not built yet: this subcommand arrives with its feature.
int runReport(const std::vector<std::string>& /*args*/, int /*argc*/, char** /*argv*/) {
    std::fputs("kqmeter-cli: 'report' is not available in this build yet\n", stderr);
    return 2;
}

} // namespace kq::cli
