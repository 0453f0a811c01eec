#include "cli/forget_command.h"

#include <cstdio>

#include "cli/cli_context.h"
#include "cli/integrate_command.h"
#include "cli/pending_unpairs.h"
#include "core/transfer/clipboard_sender.h"

namespace ferrytide::cli {

CLI::App* addForgetCommand(CLI::App& parent, ForgetOptions& options) {
  CLI::App* command = parent.add_subcommand("forget", "Remove a paired phone");
  command
      ->add_option("selector", options.selector,
                   "The phone: its name, the start of its name, or the start of its key")
      ->required();
  command->add_flag("--tell", options.tell, "Tell the phone first (it forgets this computer too)");
  return command;
}

int runForgetCommand(const ForgetOptions& options) {
  CliContext context;
  PeerRecord peer = context.resolvePeer(options.selector);
  std::string toldError;
  bool told = false;
  if (options.tell) {
    try {
      runToEnd(sendOneOff(msg::Unpair{}, peer, context.keyVault.loadOrCreate()));
      told = true;
    } catch (const SendError& error) {
      // peerRemoved: the phone had already forgotten this computer, which is what we asked.
      if (error.kind() == SendError::Kind::peerRemoved) {
        told = true;
      } else {
        toldError = error.what();
      }
    }
  }
  // A phone not told now is told when it next connects to `receive`.
  if (!told) PendingUnpairs(pendingUnpairsFile()).add(peer);
  std::string pubkey = peer.peer_pubkey;
  context.peerStore.removeFirst(
      [&](const PeerRecord& record) { return record.peer_pubkey == pubkey; });
  std::printf("Forgot %s\n", peer.peer_hostname.c_str());
  refreshFileManagerActions();
  if (!toldError.empty()) {
    std::fprintf(stderr, "The phone was not told: %s\n", toldError.c_str());
    std::fprintf(stderr, "It will be told when it next connects to \"ferrytide-cli receive\"\n");
    return 1;
  }
  if (options.tell) std::printf("The phone was told\n");
  return 0;
}

}  // namespace ferrytide::cli
