#include "cli/clip_command.h"

#include <cstdio>
#include <iterator>

#include "cli/cli_context.h"
#include "core/transfer/clipboard_sender.h"

namespace ferrytide::cli {

CLI::App* addClipCommand(CLI::App& parent, ClipOptions& options) {
  CLI::App* command = parent.add_subcommand("clip", "Send text to the phone's clipboard");
  command->add_option("text", options.text, "The text; without it, standard input");
  command->add_option("--to", options.to, "The phone (name, start of name or key)");
  return command;
}

int runClipCommand(const ClipOptions& options, std::istream& input) {
  std::string text;
  if (options.text) {
    text = *options.text;
  } else {
    text.assign(std::istreambuf_iterator<char>(input), std::istreambuf_iterator<char>());
  }
  if (text.empty()) throw CliError::invalidArgument("no text to send");
  CliContext context;
  PeerRecord peer = context.resolvePeer(options.to);
  runToEnd(sendClipboard(text, peer, context.keyVault.loadOrCreate()));
  std::printf("Sent %zu bytes of text to %s\n", text.size(), peer.peer_hostname.c_str());
  return 0;
}

}  // namespace ferrytide::cli
