#include "cli/receive_command.h"

#include <chrono>
#include <csignal>
#include <cstdio>
#include <variant>

#include "cli/pending_unpairs.h"
#include "cli/receiver_pid_file.h"
#include "core/peers/paired_phone_keys.h"
#include "core/support/paths.h"
#include "core/transfer/receive_transfer.h"
#include "core/transfer/receiver.h"

namespace ferrytide::cli {
namespace {

std::string nameOf(const PeerStore& store, const std::string& pubkey) {
  for (const PeerRecord& peer : store.loadBook().peers) {
    if (peer.peer_pubkey == pubkey) return peer.peer_hostname;
  }
  return pubkey;
}

void printFile(const ReceivedFile& file) {
  std::printf("file: %s (%lld bytes%s) from %s\n", file.savedAt.c_str(),
              static_cast<long long>(file.bytesWritten),
              file.resumedFromOffset > 0
                  ? (", resumed at " + std::to_string(file.resumedFromOffset)).c_str()
                  : "",
              file.remoteEndpoint.c_str());
  std::fflush(stdout);
}

void printOutcome(const PeerStore& store, const ProcessOutcome& outcome) {
  if (const auto* name = std::get_if<outcome::SetName>(&outcome)) {
    std::printf("name: %s is now called \"%s\"\n", nameOf(store, name->peerPubkey).c_str(),
                name->name.c_str());
  } else if (const auto* update = std::get_if<outcome::NameUpdate>(&outcome)) {
    std::printf("name: %s calls itself \"%s\"\n", nameOf(store, update->peerPubkey).c_str(),
                update->name.c_str());
  } else if (const auto* unpair = std::get_if<outcome::Unpair>(&outcome)) {
    std::string pubkey = unpair->peerPubkey;
    std::string phone = nameOf(store, pubkey);
    store.removeFirst([&](const PeerRecord& record) { return record.peer_pubkey == pubkey; });
    std::printf("unpair: %s has forgotten this computer; forgotten here too\n", phone.c_str());
  } else if (const auto* replied = std::get_if<outcome::UnpairReplied>(&outcome)) {
    PendingUnpairs(pendingUnpairsFile()).remove(replied->peerPubkey);
    std::printf("unpair: a forgotten phone (%s) connected and was told\n",
                replied->peerPubkey.c_str());
  } else if (const auto* declined = std::get_if<outcome::Declined>(&outcome)) {
    std::printf("declined: %s\n", declined->name.c_str());
  } else if (const auto* file = std::get_if<outcome::File>(&outcome)) {
    printFile(file->file);
  } else if (const auto* clip = std::get_if<outcome::Clipboard>(&outcome)) {
    std::printf("clipboard from %s: %s\n", clip->peerHost.c_str(), clip->text.c_str());
  }
  std::fflush(stdout);
}

struct Listening {
  std::filesystem::path dir;
  std::uint16_t port = 0;
  asio::ip::address address;
  std::chrono::steady_clock::duration idleTimeout;
};

Listening listeningFor(const ReceiveOptions& options) {
  Listening listening;
  listening.dir =
      options.dir.empty() ? paths::downloadsDirectory() : std::filesystem::path(options.dir);
  listening.port = options.port;
  listening.address = asio::ip::address_v4::any();
  if (!options.address.empty()) {
    asio::error_code error;
    listening.address = asio::ip::make_address(options.address, error);
    if (error) throw CliError::invalidArgument("--address " + options.address + " is no address");
  }
  listening.idleTimeout = std::chrono::duration_cast<std::chrono::steady_clock::duration>(
      std::chrono::duration<double>(options.idleTimeoutSeconds));
  return listening;
}

int receiveOnce(const CliContext& context, asio::io_context& io, asio::signal_set& signals,
                const Listening& listening) {
  const std::filesystem::path& dir = listening.dir;
  PeerRecord peer = context.resolvePeer("");
  std::optional<crypto::X25519PublicKey> expected = publicKeyOf(peer);
  if (!expected)
    throw CliError::invalidArgument("the stored key of " + peer.peer_hostname +
                                    " is not a key; pair again");
  auto onListening = [&](std::uint16_t bound) {
    std::printf("Waiting for one file from %s on port %u, saving to %s\n",
                peer.peer_hostname.c_str(), bound, dir.c_str());
    std::fflush(stdout);
  };
  OneShotReceiveOptions options{context.keyVault.loadOrCreate(),
                                *expected,
                                dir,
                                listening.port,
                                toBytes(kFerrytidePrologue),
                                {},
                                listening.idleTimeout,
                                listening.address,
                                onListening};
  bool stoppedBySignal = false;
  signals.async_wait([&](const std::error_code& error, int) {
    if (error) return;
    stoppedBySignal = true;
    io.stop();
  });
  std::exception_ptr failure;
  asio::co_spawn(io, receiveOneTransfer(std::move(options)),
                 [&](std::exception_ptr error, ReceivedFile file) {
                   signals.cancel();
                   if (error) {
                     failure = error;
                   } else {
                     printFile(file);
                   }
                 });
  io.run();
  if (stoppedBySignal) return 130;
  if (failure) std::rethrow_exception(failure);
  return 0;
}

int receiveForever(const CliContext& context, asio::io_context& io, asio::signal_set& signals,
                   const Listening& listening) {
  const std::filesystem::path& dir = listening.dir;
  PairedPhoneKeys pairedPhones(context.peerStore);
  std::vector<crypto::X25519PublicKey> expected = pairedPhones.current();
  if (expected.empty()) {
    std::fprintf(stderr,
                 "No phone is paired yet: connections are refused until one is. Run "
                 "\"ferrytide-cli pair\" to pair one.\n");
  }
  ReceiverOptions options;
  options.peerStore = context.peerStore;
  options.idleTimeout = listening.idleTimeout;
  options.listenAddress = listening.address;
  options.onListening = [&](std::uint16_t bound) {
    std::printf("Receiving on port %u from %zu paired phone%s, saving to %s\n", bound,
                expected.size(), expected.size() == 1 ? "" : "s", dir.c_str());
    std::fflush(stdout);
  };
  Receiver receiver(io.get_executor(), context.keyVault.loadOrCreate(), expected, dir,
                    listening.port,
                    toBytes(kFerrytidePrologue), options);
  receiver.setExpectedPeerPubkeys([&pairedPhones] { return pairedPhones.current(); });
  receiver.setRemovedPeerPubkeys([] {
    std::vector<crypto::X25519PublicKey> removed;
    for (const PeerRecord& phone : PendingUnpairs(pendingUnpairsFile()).load()) {
      if (std::optional<crypto::X25519PublicKey> key = publicKeyOf(phone)) removed.push_back(*key);
    }
    return removed;
  });
  bool stoppedBySignal = false;
  signals.async_wait([&](const std::error_code& error, int) {
    if (error) return;
    stoppedBySignal = true;
    receiver.stop();
  });

  Receiver::Callbacks callbacks;
  const PeerStore& store = context.peerStore;
  callbacks.onTransfer = [](const ReceivedFile& file) { printFile(file); };
  callbacks.onClipboard = [](const std::string& text, const std::string& peerHost) {
    std::printf("clipboard from %s: %s\n", peerHost.c_str(), text.c_str());
    std::fflush(stdout);
  };
  callbacks.onSync = [&store](const ProcessOutcome& outcome) { printOutcome(store, outcome); };
  callbacks.onError = [](const std::exception& error) {
    std::printf("error: %s\n", error.what());
    std::fflush(stdout);
  };

  std::exception_ptr failure;
  asio::co_spawn(io, receiver.run(callbacks), [&](std::exception_ptr error) {
    signals.cancel();
    failure = error;
  });
  io.run();
  if (stoppedBySignal) {
    std::printf("Stopped\n");
    return 0;
  }
  if (failure) std::rethrow_exception(failure);
  return 0;
}

}  // namespace

CLI::App* addReceiveCommand(CLI::App& parent, ReceiveOptions& options) {
  CLI::App* command =
      parent.add_subcommand("receive", "Receive files, text and messages from paired phones");
  command->add_flag("--once", options.once,
                    "Take one file from the most recently paired phone, then end");
  command->add_option("--dir", options.dir, "Where to save files (default: the Downloads folder)");
  command->add_option("--port", options.port, "The port to listen on")->capture_default_str();
  command->add_option("--address", options.address,
                      "Listen on this address only (default: every interface)");
  command->add_option("--idle-timeout", options.idleTimeoutSeconds,
                      "Give up a connection silent for this many seconds")
      ->capture_default_str()
      ->check(CLI::PositiveNumber);
  return command;
}

int runReceiveCommand(const ReceiveOptions& options) {
  CliContext context;
  const Listening listening = listeningFor(options);
  ReceiverPidFile pidFile(receiverPidFile());
  pidFile.claim();
  asio::io_context io;
  asio::signal_set signals(io, SIGINT, SIGTERM);
  if (options.once) return receiveOnce(context, io, signals, listening);
  return receiveForever(context, io, signals, listening);
}

}  // namespace ferrytide::cli
