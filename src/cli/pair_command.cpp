#include "cli/pair_command.h"

#include <chrono>
#include <cstdio>
#include <memory>

#include "cli/integrate_command.h"
#include "cli/pending_unpairs.h"
#include "cli/receiver_pid_file.h"
#include "core/peers/device_info.h"
#include "core/peers/pair_advertiser.h"
#include "core/peers/pair_code.h"
#include "core/peers/pair_crypto.h"
#include "core/peers/pair_listener.h"
#include "core/peers/pairing_payload.h"
#include "core/peers/phone_introduction.h"
#include "core/peers/qr_renderer.h"
#include "core/support/base64.h"

// g++ 12 wrongly reports -Wmismatched-new-delete for the coroutines of this file: it pairs the
// ::operator new inside Asio's frame allocator with the frame's own operator delete, though
// Asio allocates and frees every frame through its own matching pair.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
#endif

namespace ferrytide::cli {
namespace {

constexpr int kQrPngScale = 8;
// The port may still be held for a moment by a receiver that is ending.
constexpr int kListenerAttempts = 40;
constexpr auto kListenerRetryPause = std::chrono::milliseconds(250);
constexpr auto kReceiverStopTimeout = std::chrono::seconds(10);

asio::awaitable<PairListener::Result> awaitPhone(Bytes secret, std::uint16_t port,
                                                 std::chrono::seconds timeout) {
  for (int attempt = 1;; ++attempt) {
    auto executor = co_await asio::this_coro::executor;
    PairListener listener(executor, secret, port, timeout);
    try {
      co_return co_await listener.awaitIntroduction();
    } catch (const PairListener::Error& error) {
      if (error.kind() != PairListener::Error::Kind::listenerStartFailed ||
          attempt == kListenerAttempts) {
        throw;
      }
    }
    asio::steady_timer pause(executor, kListenerRetryPause);
    co_await pause.async_wait(asio::use_awaitable);
  }
}

std::int64_t nowEpochMs() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(
             std::chrono::system_clock::now().time_since_epoch())
      .count();
}

}  // namespace

bool isYes(const std::string& answer) {
  std::string word;
  for (char c : answer) {
    if (c != ' ' && c != '\t' && c != '\r' && c != '\n') word += static_cast<char>(std::tolower(c));
  }
  return word == "y" || word == "yes";
}

CLI::App* addPairCommand(CLI::App& parent, PairOptions& options) {
  CLI::App* command = parent.add_subcommand("pair", "Pair a phone (QR code or typed code)");
  command->add_option("--name", options.name,
                      "The name the phone shows for this computer (default: the host name)");
  command->add_option("--png", options.png, "Also write the QR code to this PNG file");
  command->add_option("--port", options.port, "The port the phone connects to")
      ->capture_default_str();
  command->add_option("--timeout", options.timeoutSeconds, "Seconds to wait for the phone")
      ->capture_default_str()
      ->check(CLI::PositiveNumber);
  command->add_flag("--yes,-y", options.yes, "Accept the confirmation code without asking");
  return command;
}

int runPairCommand(const PairOptions& options, std::istream& input) {
  CliContext context;
  crypto::X25519PrivateKey key = context.keyVault.loadOrCreate();
  DeviceInfo device = DeviceInfo::current();
  if (!options.name.empty()) device.hostname = options.name;

  ReceiverPidFile pidFile(receiverPidFile());
  bool stoppedReceiver = false;
  if (pidFile.runningReceiver()) {
    std::printf("Stopping the running receiver to free port %u\n", options.port);
    stoppedReceiver = pidFile.stopRunningReceiver(kReceiverStopTimeout);
  }

  PairingPayload payload = PairingPayload::mint(key.publicKey(), device, options.port);
  std::optional<Bytes> secret = base64::decode(payload.pairing_secret);
  if (!secret) throw CliError::invalidArgument("pairing_secret not base64");
  std::string code = PairCode::generate();

  std::printf("%s\n", QRRenderer::renderASCII(payload).c_str());
  if (!options.png.empty()) {
    QRRenderer::writePNG(payload, options.png, kQrPngScale);
    std::printf("QR code written to %s\n", options.png.c_str());
  }
  std::printf("Scan the code with the phone, or type this code on it: %s\n", code.c_str());
  std::printf("This computer: %s, %s on %s\n", device.hostname.c_str(), device.ipv4.c_str(),
              device.interface.c_str());
  std::printf("Waiting up to %d s for the phone on port %u...\n", options.timeoutSeconds,
              options.port);
  std::fflush(stdout);

  PairAdvertiser advertiser(makePairAdvert(payload, code));
  advertiser.start();
  PairListener::Result result =
      runToEnd(awaitPhone(*secret, options.port, std::chrono::seconds(options.timeoutSeconds)));
  advertiser.stop();

  PhoneIntroduction intro =
      PhoneIntroduction::decode(result.phoneIntroductionPlaintext, payload.peer_port);
  std::string confirmation = PairCrypto::confirmationCode(
      *secret, key.publicKey().view(), intro.pubkeyBytes(), result.phoneIntroductionPlaintext);
  std::printf("%s (%s) answered. Confirmation code: %s\n", intro.hostname.c_str(),
              result.remoteEndpoint.c_str(), confirmation.c_str());
  if (options.yes) {
    std::printf("Do the codes match? [y/N] y (--yes)\n");
  } else {
    std::printf("Do the codes match? [y/N] ");
    std::fflush(stdout);
    std::string answer;
    std::getline(input, answer);
    if (!isYes(answer)) {
      std::fprintf(stderr, "pairing aborted \u2014 codes did not match\n");
      return 1;
    }
  }

  PeerRecord record = intro.toPeerRecord(base64::encode(key.publicKey().view()), nowEpochMs());
  std::vector<PeerRecord> stale = context.peerStore.upsertReplacingStale(record);
  // A phone paired again is no longer owed an unpair notice.
  PendingUnpairs(pendingUnpairsFile()).remove(record.peer_pubkey);
  std::printf("Paired %s\n", record.peer_hostname.c_str());
  for (const PeerRecord& old : stale) {
    std::printf("Removed the older pairing of %s\n", old.peer_hostname.c_str());
  }
  refreshFileManagerActions();
  if (stoppedReceiver) std::printf("Start \"ferrytide-cli receive\" again to receive from it\n");
  return 0;
}

}  // namespace ferrytide::cli
