#include "cli/cli_app.h"

#include <algorithm>
#include <cstdio>

#include "cli/status_command.h"

namespace ferrytide::cli {

CliApp::CliApp() : app_("Ferrytide: files and text between this computer and a paired phone") {
  app_.name("ferrytide-cli");
  app_.set_version_flag("--version", FERRYTIDE_VERSION);
  app_.require_subcommand(0, 1);
  addStatusCommand(app_);
  addPairCommand(app_, pair);
  addPeersCommand(app_, peers);
  addSendCommand(app_, send);
  addClipCommand(app_, clip);
  addReceiveCommand(app_, receive);
  addForgetCommand(app_, forget);
  addShareCommand(app_, share);
  addIntegrateCommand(app_, integrate);
}

void CliApp::parse(std::vector<std::string> arguments) {
  // CLI11 takes the arguments last first.
  std::reverse(arguments.begin(), arguments.end());
  app_.parse(arguments);
}

std::string CliApp::command() const {
  auto chosen = app_.get_subcommands();
  return chosen.empty() ? "status" : chosen.front()->get_name();
}

int CliApp::runCommand(std::istream& input) {
  std::string name = command();
  if (name == "pair") return runPairCommand(pair, input);
  if (name == "peers") return runPeersCommand(peers);
  if (name == "send") return runSendCommand(send);
  if (name == "clip") return runClipCommand(clip, input);
  if (name == "receive") return runReceiveCommand(receive);
  if (name == "forget") return runForgetCommand(forget);
  if (name == "share") return runShareCommand(share);
  if (name == "integrate") return runIntegrateCommand(integrate);
  return runStatusCommand();
}

int CliApp::run(std::istream& input) {
  try {
    return runCommand(input);
  } catch (const std::exception& error) {
    std::fflush(stdout);
    std::fprintf(stderr, "%s\n", error.what());
    return 1;
  }
}

int CliApp::main(int argc, char** argv, std::istream& input) {
  try {
    app_.parse(argc, argv);
  } catch (const CLI::ParseError& error) {
    return app_.exit(error);
  }
  return run(input);
}

}  // namespace ferrytide::cli
