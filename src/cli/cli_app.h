#pragma once

// The command line: every command with its options, parsed by CLI11, and the run of the chosen
// one. Without a command, `status` runs.

#include <CLI/CLI.hpp>
#include <iosfwd>
#include <string>
#include <vector>

#include "cli/clip_command.h"
#include "cli/forget_command.h"
#include "cli/integrate_command.h"
#include "cli/pair_command.h"
#include "cli/peers_command.h"
#include "cli/receive_command.h"
#include "cli/send_command.h"
#include "cli/share_command.h"

namespace ferrytide::cli {

class CliApp {
 public:
  CliApp();

  // Throws CLI::ParseError (CLI::CallForHelp for --help).
  void parse(std::vector<std::string> arguments);
  // The chosen command's name; "status" when none was given.
  std::string command() const;
  // Runs the parsed command; a failure prints the error's description and gives 1.
  int run(std::istream& input);

  // Parses argv and runs; prints help and parse errors as CLI11 does.
  int main(int argc, char** argv, std::istream& input);

  CLI::App& app() { return app_; }

  PairOptions pair;
  PeersOptions peers;
  SendOptions send;
  ClipOptions clip;
  ReceiveOptions receive;
  ForgetOptions forget;
  ShareOptions share;
  IntegrateOptions integrate;

 private:
  int runCommand(std::istream& input);

  CLI::App app_;
};

}  // namespace ferrytide::cli
