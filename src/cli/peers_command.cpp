#include "cli/peers_command.h"

#include <cstdio>

#include "cli/cli_context.h"
#include "cli/peer_format.h"

namespace ferrytide::cli {

CLI::App* addPeersCommand(CLI::App& parent, PeersOptions& options) {
  CLI::App* command = parent.add_subcommand("peers", "List the paired phones, newest first");
  command->add_flag("--json", options.json, "Print a JSON array for scripts");
  return command;
}

int runPeersCommand(const PeersOptions& options) {
  CliContext context;
  std::vector<PeerRecord> peers = newestFirst(context.peerStore.loadBook().peers);
  if (options.json) {
    std::printf("%s\n", json::encodePretty(peersJson(peers)).c_str());
  } else if (peers.empty()) {
    std::printf("No phone is paired. Run \"ferrytide-cli pair\" to pair one.\n");
  } else {
    std::printf("%s", peersTable(peers).c_str());
  }
  return 0;
}

}  // namespace ferrytide::cli
