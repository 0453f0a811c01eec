// ferrytide-phone: a phone emulator built on the core, for tests, demos and benchmarks.

#include <CLI/CLI.hpp>
#include <asio.hpp>
#include <asio/experimental/awaitable_operators.hpp>
#include <chrono>
#include <filesystem>
#include <iostream>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "core/peers/qr_renderer.h"
#include "core/support/base64.h"
#include "core/support/file_io.h"
#include "core/transfer/clipboard_sender.h"
#include "core/transfer/send_transfer.h"
#include "dropping_relay.h"
#include "fcm_mock.h"
#include "phone_error.h"
#include "phone_pairing.h"
#include "phone_server.h"
#include "phone_state.h"

namespace ferrytide::phone {
namespace {

using namespace asio::experimental::awaitable_operators;

template <typename T>
T runSync(asio::awaitable<T> task) {
  asio::io_context io;
  std::future<T> result = asio::co_spawn(io, std::move(task), asio::use_future);
  io.run();
  return result.get();
}

// The computer is never woken: it has no push token.
WakePhone noWake() {
  return [](std::string) -> asio::awaitable<void> {
    throw SendError::network("the computer cannot be woken");
    co_return;
  };
}

struct PairArgs {
  std::string payloadJson;
  std::string payloadFile;
  std::string qrFile;
  std::string code;
  std::string host;
  std::string name = "Emulated phone";
  std::string ip = "127.0.0.1";
  std::int64_t port = 47820;
  std::string subnet = "127.0.0.0/8";
  std::string token;
  std::string android = "Android 14 (emulator)";
};

PairingPayload browseForCode(const std::string& code) {
  std::optional<PairingPayload> payload = findPairAdvert(code, std::chrono::seconds(10));
  if (!payload) throw PhoneError::noAdvert(code);
  return *payload;
}

PairingPayload loadPayload(const PairArgs& args) {
  if (!args.payloadJson.empty()) return payloadFromJson(args.payloadJson);
  if (!args.payloadFile.empty()) {
    std::optional<Bytes> text = file_io::readIfExists(args.payloadFile);
    if (!text) throw PhoneError::payloadUnreadable("no file " + args.payloadFile);
    return payloadFromJson(toString(*text));
  }
  if (!args.qrFile.empty()) return payloadFromJson(QRRenderer::decode(args.qrFile));
  if (!args.code.empty()) return browseForCode(args.code);
  throw PhoneError::payloadUnreadable(
      "give one of --payload-json, --payload-file, --qr or --code");
}

int runPair(const PhoneState& state, const PairArgs& args) {
  PairingPayload payload = loadPayload(args);
  if (!args.token.empty()) state.setFcmToken(args.token);
  crypto::X25519PrivateKey key = state.staticKey();
  PhoneProfile profile{args.name, args.ip, args.port, args.subnet, state.fcmToken(), args.android};
  PreparedPairing prepared = preparePairing(payload, key.publicKey(), profile);
  std::string host = args.host.empty() ? payload.peer_ip : args.host;
  runSync(deliverPairFrame(host, payload.peer_port, prepared.frame, std::chrono::seconds(5)));
  std::int64_t now = std::chrono::duration_cast<std::chrono::milliseconds>(
                         std::chrono::system_clock::now().time_since_epoch())
                         .count();
  // The address that worked is where the phone reaches the computer from now on.
  PeerRecord computer = computerRecord(payload, key.publicKey(), now);
  computer.peer_ip = host;
  state.storeComputer(computer);
  std::cout << "confirmation code: " << prepared.confirmationCode << std::endl;
  return 0;
}

// The computer answered Unpair: it has forgotten this phone, so the phone forgets it too.
int forgottenByComputer(const PhoneState& state, const SendError& error) {
  state.forgetComputers();
  std::cout << "unpaired by the computer (" << error.what() << ")" << std::endl;
  return 1;
}

PeerRecord computerAt(const PhoneState& state, const std::string& host) {
  PeerRecord computer = state.computer();
  if (!host.empty()) computer.peer_ip = host;
  return computer;
}

// The moment a relay cuts, for whoever waits on it (a test that kills the receiving side next).
void printCut(std::int64_t bytes, CutKind kind) {
  std::cout << "cut: after " << bytes << " bytes (" << cutKindName(kind) << ")" << std::endl;
}

// --stop-after with --cut, when given.
std::optional<Cut> cutFrom(std::optional<std::int64_t> stopAfter, const std::string& kind) {
  if (!stopAfter) return std::nullopt;
  return Cut{*stopAfter, cutKindNamed(kind).value_or(CutKind::reset)};
}

void printDropped(const std::string& file, const DroppingRelay& relay,
                  const std::exception& error) {
  std::cout << "dropped: " << file << " after " << relay.forwarded() << " bytes (" << error.what()
            << ")" << std::endl;
}

// Files waiting to go, shared by the connections that send them.
struct SendRun {
  PeerRecord computer;
  crypto::X25519PrivateKey key;
  InFlightJournal journal;
  std::optional<Cut> cut;
  const std::vector<std::string>& files;
  std::size_t next = 0;
  bool stopped = false;
  std::optional<SendError> removed = std::nullopt;  // the computer answered Unpair
};

// One file, through the relay when there is one; the relay ends before this returns.
asio::awaitable<SentFile> sendThrough(std::optional<DroppingRelay>& relay, const std::string& file,
                                      const PeerRecord& computer, SendRun& run,
                                      const SendFileOptions& options) {
  asio::awaitable<SentFile> sending = sendOneFile(file, computer, run.key, run.journal, options);
  if (!relay) co_return co_await std::move(sending);
  asio::awaitable<void> relaying = relay->relayOne();
  auto both = std::move(sending) && std::move(relaying);
  co_return co_await std::move(both);
}

// Sends files one after the other, each on its own connection, until none is left or the run
// stops (a drop, an Unpair, or a failure of another connection).
asio::awaitable<void> sendFiles(SendRun& run) {
  while (!run.stopped && run.next < run.files.size()) {
    const std::string& file = run.files[run.next++];
    PeerRecord computer = run.computer;
    std::optional<DroppingRelay> relay;
    if (run.cut) {
      // The connection goes through a relay that cuts it after the given bytes.
      relay.emplace(co_await asio::this_coro::executor, computer.peer_ip, computer.peer_port,
                    *run.cut);
      relay->onCut([kind = run.cut->kind](std::int64_t bytes) { printCut(bytes, kind); });
      computer.peer_ip = "127.0.0.1";
      computer.peer_port = relay->port();
    }
    SendFileOptions options;
    options.wake = noWake();
    options.cancel = [&run] { return run.stopped; };
    try {
      SentFile sent = co_await sendThrough(relay, file, computer, run, options);
      std::cout << "sent: " << file << " " << sent.bytesSent << " bytes (resumed from "
                << sent.resumedFromOffset << ")" << std::endl;
    } catch (const SendError& error) {
      if (error.kind() == SendError::Kind::peerRemoved) {
        run.removed = error;
      } else if (relay && relay->dropped()) {
        printDropped(file, *relay, error);
      } else if (error.kind() != SendError::Kind::cancelled) {
        throw;
      }
      run.stopped = true;
    } catch (const std::exception& error) {
      // The wire's own errors pass through the send unchanged.
      if (!relay || !relay->dropped()) throw;
      printDropped(file, *relay, error);
      run.stopped = true;
    }
  }
}

int runSend(const PhoneState& state, const std::vector<std::string>& files,
            const std::string& host, std::optional<Cut> cut, int connections) {
  SendRun run{.computer = computerAt(state, host),
              .key = state.staticKey(),
              .journal = InFlightJournal(state.journalFile()),
              .cut = cut,
              .files = files};
  asio::io_context io;
  std::exception_ptr failure;
  for (int i = 0; i < connections; ++i) {
    asio::co_spawn(io, sendFiles(run), [&](std::exception_ptr error) {
      if (!error || failure) return;
      failure = error;
      run.stopped = true;
    });
  }
  io.run();
  if (failure) std::rethrow_exception(failure);
  if (run.removed) return forgottenByComputer(state, *run.removed);
  return 0;
}

int runOneOff(const PhoneState& state, TransportMessage message, const std::string& host) {
  OneOffOptions options;
  options.wake = noWake();
  try {
    runSync(sendOneOff(std::move(message), computerAt(state, host), state.staticKey(), options));
  } catch (const SendError& error) {
    if (error.kind() == SendError::Kind::peerRemoved) return forgottenByComputer(state, error);
    throw;
  }
  return 0;
}

int runUnpair(const PhoneState& state, const std::string& host) {
  PeerRecord computer = computerAt(state, host);
  state.forgetComputers();
  OneOffOptions options;
  options.wake = noWake();
  try {
    runSync(sendOneOff(msg::Unpair{}, computer, state.staticKey(), options));
  } catch (const SendError& error) {
    // The computer answering Unpair has forgotten this phone too: that is what was asked.
    if (error.kind() != SendError::Kind::peerRemoved) throw;
  }
  std::cout << "unpaired" << std::endl;
  return 0;
}

}  // namespace
}  // namespace ferrytide::phone

int main(int argc, char** argv) {
  using namespace ferrytide::phone;
  CLI::App app{"ferrytide-phone: a phone emulator for tests, demos and benchmarks"};
  app.require_subcommand(1);
  std::string stateDir;
  app.add_option("--state", stateDir, "The phone's key and state folder")->required();

  PairArgs pair;
  CLI::App* pairCommand = app.add_subcommand("pair", "Pair with a computer from its payload");
  auto* payloadOptions = pairCommand->add_option_group("payload", "Where the payload comes from");
  payloadOptions->add_option("--payload-json", pair.payloadJson, "The payload as JSON text");
  payloadOptions->add_option("--payload-file", pair.payloadFile, "A file holding the payload JSON");
  payloadOptions->add_option("--qr", pair.qrFile, "A PNG of the pairing QR code");
  payloadOptions->add_option("--code", pair.code, "The typed code, found over DNS-SD");
  payloadOptions->require_option(1);
  pairCommand->add_option("--host", pair.host, "Connect here instead of the payload's address");
  pairCommand->add_option("--name", pair.name, "The phone's name")->capture_default_str();
  pairCommand->add_option("--ip", pair.ip, "The phone's address")->capture_default_str();
  pairCommand->add_option("--port", pair.port, "The phone's serve port")->capture_default_str();
  pairCommand->add_option("--subnet", pair.subnet, "The phone's subnet")->capture_default_str();
  pairCommand->add_option("--token", pair.token, "The phone's FCM token (stored)");
  pairCommand->add_option("--android", pair.android, "What the phone says about itself");

  ServeOptions serve;
  std::string saveDir;
  CLI::App* serveCommand = app.add_subcommand("serve", "Listen as the phone");
  serveCommand->add_option("--port", serve.port, "Port to listen on (0: any)")->capture_default_str();
  serveCommand->add_option("--bind", serve.bindAddress, "Address to listen on")->capture_default_str();
  serveCommand->add_option("--dir", saveDir, "Save folder (default: STATE/received)");
  serveCommand->add_flag("--decline", serve.decline, "Decline every file offer");
  serveCommand->add_flag("--unpair", serve.unpair, "Answer the computer with Unpair");
  serveCommand->add_flag("--asleep", serve.asleep, "Listen only once woken through fcm-mock");
  std::optional<std::int64_t> serveStopAfter;
  std::string serveCutKind = "reset";
  serveCommand->add_option("--stop-after", serveStopAfter,
                           "Cut the first connection once this many bytes came in (a dropped "
                           "Wi-Fi); later ones pass whole");
  serveCommand->add_option("--cut", serveCutKind, "How --stop-after cuts: reset, close or stall")
      ->capture_default_str()
      ->check(CLI::IsMember({"reset", "close", "stall"}));
  serveCommand
      ->add_option("--idle-timeout", serve.idleTimeoutSeconds,
                   "Seconds of silence after which a connection is closed")
      ->capture_default_str()
      ->check(CLI::PositiveNumber);

  std::string host;
  std::vector<std::string> files;
  std::optional<std::int64_t> stopAfter;
  CLI::App* sendCommand = app.add_subcommand("send", "Send files to the computer");
  sendCommand->add_option("files", files, "Files to send")->required()->check(CLI::ExistingFile);
  sendCommand->add_option("--stop-after", stopAfter,
                          "Cut the connection once this many bytes went out (a dropped Wi-Fi)");
  std::string sendCutKind = "reset";
  sendCommand->add_option("--cut", sendCutKind, "How --stop-after cuts: reset, close or stall")
      ->capture_default_str()
      ->check(CLI::IsMember({"reset", "close", "stall"}));
  int connections = 1;
  sendCommand
      ->add_option("--connections", connections,
                   "Files in flight at once, each on its own connection")
      ->capture_default_str()
      ->check(CLI::Range(1, 64));
  std::string text;
  CLI::App* clipCommand = app.add_subcommand("clip", "Send clipboard text to the computer");
  clipCommand->add_option("text", text, "The text")->required();
  std::string token;
  CLI::App* tokenCommand = app.add_subcommand("token", "Send a new FCM token (TokenUpdate)");
  tokenCommand->add_option("token", token, "The token")->required();
  std::string name;
  CLI::App* nameCommand = app.add_subcommand("name", "Announce a new phone name (SetName)");
  nameCommand->add_option("name", name, "The name")->required();
  CLI::App* unpairCommand = app.add_subcommand("unpair", "Forget the computer and tell it");
  for (CLI::App* command : {sendCommand, clipCommand, tokenCommand, nameCommand, unpairCommand}) {
    command->add_option("--host", host, "The computer's address instead of the stored one");
  }

  CLI::App* keyCommand = app.add_subcommand("key", "Print the phone's public key (Base64)");

  std::uint16_t fcmPort = 0;
  CLI::App* fcmCommand =
      app.add_subcommand("fcm-mock", "Serve the OAuth and FCM endpoints; wake a sleeping serve");
  fcmCommand->add_option("--port", fcmPort, "Port on 127.0.0.1 (0: any)")->capture_default_str();

  CLI11_PARSE(app, argc, argv);
  std::cout << std::unitbuf;

  try {
    PhoneState state(stateDir);
    if (*pairCommand) return runPair(state, pair);
    if (*serveCommand) {
      serve.saveDir = saveDir.empty() ? state.defaultSaveDir() : std::filesystem::path(saveDir);
      serve.cut = cutFrom(serveStopAfter, serveCutKind);
      return servePhone(state, serve, std::cout);
    }
    if (*sendCommand) {
      return runSend(state, files, host, cutFrom(stopAfter, sendCutKind), connections);
    }
    if (*clipCommand) return runOneOff(state, ferrytide::msg::Clipboard{text, "text/plain"}, host);
    if (*tokenCommand) {
      state.setFcmToken(token);
      return runOneOff(state, ferrytide::msg::TokenUpdate{token}, host);
    }
    if (*nameCommand) return runOneOff(state, ferrytide::msg::SetName{name}, host);
    if (*unpairCommand) return runUnpair(state, host);
    if (*fcmCommand) return runFcmMock(state, fcmPort, std::cout);
    if (*keyCommand) {
      std::cout << ferrytide::base64::encode(state.staticKey().publicKey().view()) << std::endl;
      return 0;
    }
  } catch (const std::exception& error) {
    std::cerr << "ferrytide-phone: " << error.what() << std::endl;
    return 1;
  }
  return 1;
}
