#pragma once

#include <CLI/CLI.hpp>
#include <cstdint>
#include <string>

#include "cli/cli_context.h"

namespace ferrytide::cli {

struct ReceiveOptions {
  bool once = false;
  std::string dir;  // empty: the user's downloads folder
  std::uint16_t port = kDefaultPort;
  std::string address;          // empty: every interface
  double idleTimeoutSeconds = 60;  // a connection silent this long is given up
};

// `receive [--once] [--dir DIR] [--port N] [--address ADDR] [--idle-timeout SECONDS]`: the receiver in the foreground, one line per outcome,
// until SIGINT or SIGTERM (which stop it cleanly: connections in flight finish first). A phone
// that says it has forgotten this computer is removed from the peers file. A phone paired or
// forgotten while it runs counts from its next connection on. --once takes one file from the
// most recently paired phone and ends.
CLI::App* addReceiveCommand(CLI::App& parent, ReceiveOptions& options);
int runReceiveCommand(const ReceiveOptions& options);

}  // namespace ferrytide::cli
