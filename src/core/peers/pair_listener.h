#pragma once

#include <asio/any_io_executor.hpp>
#include <asio/awaitable.hpp>
#include <asio/ip/address.hpp>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "core/support/bytes.h"
#include "core/support/error.h"

namespace ferrytide {

// The one-shot TCP listener of a pairing. It listens on the pairing port, takes the first
// connection only (the listening socket closes as soon as it arrives, so no second phone gets
// in), reads one pairing frame, opens the sealed introduction with the key derived from the
// pairing secret, and never sends anything back.
//
// All its work runs on one strand of the given executor, which must outlive the listener.
class PairListener {
 public:
  using Duration = std::chrono::steady_clock::duration;

  struct Result {
    Bytes phoneIntroductionPlaintext;
    std::string remoteEndpoint;  // "192.168.1.23:53211", "[fe80::1]:53211"
  };

  class Error : public ferrytide::Error {
   public:
    enum class Kind {
      listenerStartFailed,
      connectionFailed,
      readFailed,
      decryptFailed,
      alreadyRunning,
      timedOut,
      cancelled
    };

    static Error listenerStartFailed(const std::string& reason);
    static Error connectionFailed(const std::string& reason);
    static Error readFailed(const std::string& reason);
    static Error decryptFailed(const std::string& reason);
    static Error alreadyRunning();
    static Error timedOut();
    static Error cancelled();

    Kind kind() const { return kind_; }

   private:
    Error(Kind kind, std::string description)
        : ferrytide::Error(std::move(description)), kind_(kind) {}
    Kind kind_;
  };

  // Derives the key; nothing listens yet. Without `listenAddress` the listener takes every
  // interface, IPv6 and IPv4. Port 0 lets the system choose. `timeout` covers listening and
  // reading together.
  PairListener(asio::any_io_executor executor, ByteView pairingSecret, std::uint16_t port,
               Duration timeout, std::optional<asio::ip::address> listenAddress = std::nullopt);
  // Ends a pending wait with Error::cancelled, so the port is freed promptly.
  ~PairListener();
  PairListener(const PairListener&) = delete;
  PairListener& operator=(const PairListener&) = delete;

  // Listens and waits for one introduction. One call per listener: a second call fails with
  // Error::alreadyRunning, as does a call after a wait has ended. Ends exactly once, with the
  // result or the first of: a read or decrypt failure, the timeout, a cancel().
  asio::awaitable<Result> awaitIntroduction();

  // Ends the wait with Error::cancelled, unless it has already ended. Safe from any thread;
  // the work runs on the listener's strand. A cancel before the wait starts makes the wait
  // fail at once.
  void cancel();

 private:
  friend class PairListenerTestPeer;  // lets tests follow the listening and accepted steps
  enum class Step { listening, accepted };
  using Observer = std::function<void(Step, std::uint16_t localPort)>;
  void observe(Observer observer);

  struct State;
  std::shared_ptr<State> state_;
};

}  // namespace ferrytide
