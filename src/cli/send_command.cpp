#include "cli/send_command.h"

#include <unistd.h>

#include <csignal>
#include <cstdio>

#include "cli/cli_context.h"
#include "cli/send_progress_display.h"
#include "core/transfer/in_flight_journal.h"
#include "core/transfer/send_transfer.h"

namespace ferrytide::cli {
namespace {

volatile std::sig_atomic_t interrupted = 0;

void noteInterrupt(int) { interrupted = 1; }

}  // namespace

CLI::App* addSendCommand(CLI::App& parent, SendOptions& options) {
  CLI::App* command = parent.add_subcommand("send", "Send files to a paired phone");
  command->add_option("files", options.files, "The files to send")->required();
  command->add_option("--to", options.to,
                      "The phone (name, start of name or key); default the most recently paired");
  return command;
}

int runSendCommand(const SendOptions& options) {
  CliContext context;
  PeerRecord peer = context.resolvePeer(options.to);
  crypto::X25519PrivateKey key = context.keyVault.loadOrCreate();
  InFlightJournal journal;
  bool terminal = isatty(fileno(stdout)) != 0;
  std::signal(SIGINT, noteInterrupt);
  std::signal(SIGTERM, noteInterrupt);

  int failures = 0;
  for (const std::string& file : options.files) {
    if (interrupted) break;
    std::string name = std::filesystem::path(file).filename().string();
    SendProgressDisplay display(name, stdout, terminal);
    SendFileOptions sendOptions;
    sendOptions.progress = &display;
    sendOptions.cancel = [] { return interrupted != 0; };
    try {
      SentFile sent = runToEnd(sendOneFile(file, peer, key, journal, sendOptions));
      display.finish();
      std::printf("Sent %s (%s) to %s in %.1f s\n", name.c_str(),
                  formatBytes(sent.advertisedSize).c_str(), peer.peer_hostname.c_str(),
                  sent.durationSeconds);
      if (sent.resumedFromOffset > 0) {
        std::printf("Resumed %s from byte %lld\n", name.c_str(),
                    static_cast<long long>(sent.resumedFromOffset));
      }
    } catch (const SendError& error) {
      display.finish();
      std::fprintf(stderr, "%s: %s\n", name.c_str(), error.what());
      ++failures;
      if (error.kind() == SendError::Kind::peerRemoved) {
        std::string pubkey = peer.peer_pubkey;
        context.peerStore.removeFirst(
            [&](const PeerRecord& record) { return record.peer_pubkey == pubkey; });
        std::fprintf(stderr, "Forgot %s here too\n", peer.peer_hostname.c_str());
        break;
      }
    } catch (const std::exception& error) {
      display.finish();
      std::fprintf(stderr, "%s: %s\n", name.c_str(), error.what());
      ++failures;
    }
  }
  std::signal(SIGINT, SIG_DFL);
  std::signal(SIGTERM, SIG_DFL);
  return failures == 0 && !interrupted ? 0 : 1;
}

}  // namespace ferrytide::cli
