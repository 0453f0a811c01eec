#pragma once

#include <CLI/CLI.hpp>

namespace ferrytide::cli {

// `status`: the version, the key file, the pairing address and a loopback self-check of the
// secure channel (a handshake, a file offer and sealed frames between two local endpoints).
CLI::App* addStatusCommand(CLI::App& parent);
int runStatusCommand();

}  // namespace ferrytide::cli
