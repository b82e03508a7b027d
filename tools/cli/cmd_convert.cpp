#include "cli_commands.h"

#include <cstdio>

namespace kq::cli {

// Not built yet: this subcommand arrives with its feature.
int runConvert(const std::vector<std::string>& /*args*/) {
    std::fputs("kqmeter-cli: 'convert' is not available in this build yet\n", stderr);
    return 2;
}

} // namespace kq::cli
