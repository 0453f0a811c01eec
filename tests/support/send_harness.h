#pragma once

#include <asio.hpp>
#include <chrono>
#include <cstdint>
#include <exception>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <variant>
#include <vector>

#include "core/channel/transport_framer.h"
#include "core/channel/wire_connection.h"
#include "core/peers/peer_record.h"
#include "core/support/crypto.h"
#include "core/transfer/active_transfers.h"
#include "core/transfer/process_outcome.h"
#include "core/transfer/receiver.h"
#include "core/transfer/send_error.h"
#include "support/failure_text.h"
#include "support/temp_dir.h"

namespace ferrytide::testing {

// How a coroutine under test ended: its value, or the exception it threw.
template <typename T>
struct TaskOutcome {
  bool finished = false;
  std::optional<T> value;
  std::exception_ptr failure;

  // The failure's what(); empty when the task succeeded.
  std::string failureText() const { return testing::failureText(failure); }
  // The failure when it is a SendError.
  std::optional<SendError> sendError() const {
    if (!failure) return std::nullopt;
    try {
      std::rethrow_exception(failure);
    } catch (const SendError& error) {
      return error;
    } catch (...) {
      return std::nullopt;
    }
  }
};

// After the handshake with the computer, a phone that answers by a test's script: the replies
// the real receiver never gives. The script gets the connection and its framer.
using PhoneReplyScript = std::function<asio::awaitable<void>(WireConnection&, TransportFramer&)>;

// Closes the connection with a reset rather than an orderly end of stream.
void resetConnection(WireConnection& wire);
// Reads frames until the computer closes; errors of a dropped connection are ignored.
asio::awaitable<void> readUntilClosed(WireConnection& wire);

// The computer sending to a phone over loopback. The real Receiver stands in for the phone: it
// runs the same receiving half of the protocol. The phone has its own save folder, peer file
// and transfer registry; everything runs on one io_context that the test drives.
class SendHarness {
 public:
  SendHarness();
  ~SendHarness();
  SendHarness(const SendHarness&) = delete;
  SendHarness& operator=(const SendHarness&) = delete;

  // A Receiver with `key` (the phone's unless given) expecting the computer's key, on 127.0.0.1
  // and `port` (0: any). Returns once it listens.
  void startPhone(std::uint16_t port = 0, std::optional<crypto::X25519PrivateKey> key = {});
  // The same without waiting, for a handler that runs on the io_context.
  void launchPhone(std::uint16_t port, std::optional<crypto::X25519PrivateKey> key = {});
  // Stops the receiver and waits until its run() has ended.
  void stopPhone();
  std::uint16_t phonePort() const;

  // A phone that runs `script` after the handshake on one connection, listening on port 0.
  // Returns its port. Its failure is recorded in scriptFailures.
  std::uint16_t startScriptedPhone(PhoneReplyScript script);

  // The computer's record of the phone: the phone's key, 127.0.0.1, `port`, no token.
  PeerRecord phoneRecord(std::uint16_t port) const;

  // Runs the io_context until `done` holds; false when `limit` passed first.
  bool runUntil(const std::function<bool()>& done,
                std::chrono::steady_clock::duration limit = std::chrono::seconds(20));

  template <typename T>
  TaskOutcome<T> run(asio::awaitable<T> task) {
    auto outcome = std::make_shared<TaskOutcome<T>>();
    asio::co_spawn(io, std::move(task), [outcome](std::exception_ptr failure, T value) {
      outcome->finished = true;
      if (failure) {
        outcome->failure = failure;
      } else {
        outcome->value = std::move(value);
      }
    });
    runUntil([&] { return outcome->finished; });
    return *outcome;
  }
  TaskOutcome<std::monostate> run(asio::awaitable<void> task);

  // A port on 127.0.0.1 on which nothing listens (taken from the system, then freed).
  static std::uint16_t unusedPort();

  asio::io_context io;
  TempDir phoneDownloads;
  TempDir phoneState;
  TempDir computerState;
  TempDir files;
  ActiveTransfers transfers;
  crypto::X25519PrivateKey computerKey = crypto::X25519PrivateKey::generate();
  crypto::X25519PrivateKey phoneKey = crypto::X25519PrivateKey::generate();
  std::unique_ptr<Receiver> receiver;

  // What the receiving phone reported.
  std::vector<ReceivedFile> received;
  std::vector<std::pair<std::string, std::string>> clips;
  std::vector<ProcessOutcome> syncs;
  std::vector<std::string> phoneErrors;
  std::optional<std::exception_ptr> receiverEnd;
  std::vector<std::string> scriptFailures;
  int scriptsDone = 0;

 private:
  std::vector<std::shared_ptr<asio::ip::tcp::acceptor>> scriptedListeners_;
};

}  // namespace ferrytide::testing
