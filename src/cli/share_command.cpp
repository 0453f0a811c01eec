#include "cli/share_command.h"

#include <cstdio>

#include "cli/cli_context.h"
#include "core/transfer/share_outbox.h"

namespace ferrytide::cli {

CLI::App* addShareCommand(CLI::App& parent, ShareOptions& options) {
  CLI::App* command =
      parent.add_subcommand("share", "Put files into the share outbox for the application to send");
  command->add_option("files", options.files, "The files to share")->required();
  command->add_option("--to", options.to, "The phone (name, start of name or key)");
  return command;
}

int runShareCommand(const ShareOptions& options) {
  std::vector<std::string> targets;
  if (!options.to.empty()) {
    CliContext context;
    targets.push_back(context.resolvePeer(options.to).peer_pubkey);
  }
  std::vector<std::filesystem::path> files(options.files.begin(), options.files.end());
  ShareOutbox outbox;
  std::filesystem::path job = outbox.writeJob(files, targets);
  outbox.postPending();
  std::printf("Shared %zu file%s: %s\n", files.size(), files.size() == 1 ? "" : "s", job.c_str());
  return 0;
}

}  // namespace ferrytide::cli
