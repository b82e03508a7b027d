#include "cli_commands.h"

#include <cstdio>

namespace kq::cli {

// Not built yet: this subcommand arrives with its feature.
int runDecode(const std::vector<std::string>& /*args*/) {
    std::fputs("kqmeter-cli: 'decode' is not available in this build yet\n", stderr);
    return 2;
}

} // namespace kq::cli
