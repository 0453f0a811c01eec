#pragma once

#include <CLI/CLI.hpp>
#include <cstdint>
#include <istream>
#include <string>

#include "cli/cli_context.h"

namespace ferrytide::cli {

struct PairOptions {
  std::string name;  // empty: the host name
  std::string png;   // empty: no PNG file
  std::uint16_t port = kDefaultPort;
  int timeoutSeconds = 120;
  bool yes = false;
};

// `pair`: shows the QR code and the typed code, advertises the pairing on the local network,
// waits for the phone's introduction, shows the confirmation code and, once the user (or
// --yes) confirms, stores the phone, replacing older records of it. A running `receive` of this
// tool is stopped first so that the port is free.
CLI::App* addPairCommand(CLI::App& parent, PairOptions& options);
int runPairCommand(const PairOptions& options, std::istream& input);

// "y" or "yes" in any letter case, around spaces; anything else is no.
bool isYes(const std::string& answer);

}  // namespace ferrytide::cli
