#pragma once

#include <CLI/CLI.hpp>
#include <string>

namespace ferrytide::cli {

struct PeersOptions {
  bool json = false;
};

// `peers [--json]`: the paired phones, newest pairing first.
CLI::App* addPeersCommand(CLI::App& parent, PeersOptions& options);
int runPeersCommand(const PeersOptions& options);

}  // namespace ferrytide::cli
