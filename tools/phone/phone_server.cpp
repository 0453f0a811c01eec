#include "phone_server.h"

#include <unistd.h>

#include <asio.hpp>
#include <chrono>
#include <csignal>
#include <memory>
#include <ostream>

#include "core/support/base64.h"
#include "core/support/file_io.h"
#include "core/transfer/receiver.h"

namespace ferrytide::phone {

namespace {

void printOutcome(std::ostream& out, const ProcessOutcome& outcome) {
  std::visit(
      [&out](const auto& value) {
        using T = std::decay_t<decltype(value)>;
        if constexpr (std::is_same_v<T, outcome::SetName>) {
          out << "name: " << oneLine(value.name) << std::endl;
        } else if constexpr (std::is_same_v<T, outcome::NameUpdate>) {
          out << "name: " << oneLine(value.name) << std::endl;
        } else if constexpr (std::is_same_v<T, outcome::Unpair>) {
          out << "unpaired by the computer" << std::endl;
        } else if constexpr (std::is_same_v<T, outcome::UnpairReplied>) {
          out << "answered Unpair" << std::endl;
        } else if constexpr (std::is_same_v<T, outcome::Declined>) {
          out << "declined: " << oneLine(value.name) << std::endl;
        } else if constexpr (std::is_same_v<T, outcome::Clipboard>) {
          out << "clipboard: " << oneLine(value.text) << std::endl;
        } else {
          out << "file: " << value.file.savedAt.string() << std::endl;
        }
      },
      outcome);
}

Receiver::Callbacks printingCallbacks(std::ostream& out) {
  Receiver::Callbacks callbacks;
  callbacks.onTransfer = [&out](const ReceivedFile& file) {
    out << "file: " << file.savedAt.string() << " " << file.bytesWritten << " bytes (resumed from "
        << file.resumedFromOffset << ")" << std::endl;
  };
  callbacks.onClipboard = [&out](const std::string& text, const std::string&) {
    out << "clipboard: " << oneLine(text) << std::endl;
  };
  callbacks.onSync = [&out](const ProcessOutcome& outcome) { printOutcome(out, outcome); };
  callbacks.onError = [&out](const std::exception& error) {
    out << "error: " << oneLine(error.what()) << std::endl;
  };
  return callbacks;
}

// Runs the receiver once woken (or at once) until a stop signal.
class PhoneServer {
 public:
  PhoneServer(const PhoneState& state, const ServeOptions& options, std::ostream& out)
      : state_(state),
        options_(options),
        out_(out),
        stops_(io_, SIGINT, SIGTERM),
        wakes_(io_, SIGUSR1) {}

  int run() {
    stops_.async_wait([this](const asio::error_code& error, int) {
      if (!error) stop();
    });
    awaitWake();
    file_io::writeAtomically(state_.pidFile(), toBytes(std::to_string(getpid()) + "\n"), 0644);
    if (options_.asleep) {
      out_ << "asleep" << std::endl;
    } else {
      start();
    }
    io_.run();
    std::error_code ignored;
    std::filesystem::remove(state_.pidFile(), ignored);
    return exitCode_;
  }

 private:
  void awaitWake() {
    wakes_.async_wait([this](const asio::error_code& error, int) {
      if (error || stopping_) return;
      if (!receiver_) {
        out_ << "woken" << std::endl;
        start();
      }
      awaitWake();
    });
  }

  void start() {
    PeerRecord computer = state_.computer();
    std::optional<Bytes> computerKey = base64::decode(computer.peer_pubkey);
    ReceiverOptions receiverOptions;
    receiverOptions.listenAddress = asio::ip::make_address(options_.bindAddress);
    receiverOptions.peerStore = state_.peerStore();
    receiverOptions.activeTransfers = &activeTransfers_;
    receiverOptions.idleTimeout = std::chrono::duration_cast<std::chrono::steady_clock::duration>(
        std::chrono::duration<double>(options_.idleTimeoutSeconds));
    receiverOptions.onListening = [this](std::uint16_t port) {
      out_ << "listening on " << port << std::endl;
    };
    std::uint16_t receiverPort = options_.port;
    if (options_.cut) {
      // The relay takes the address and port; the receiver listens behind it on loopback.
      startRelay();
      receiverOptions.listenAddress = asio::ip::address_v4::loopback();
      receiverPort = 0;
      receiverOptions.onListening = [this](std::uint16_t port) {
        relay_->forwardTo(port);
        out_ << "listening on " << relay_->port() << std::endl;
      };
    }
    crypto::X25519PublicKey expected = crypto::X25519PublicKey::fromRaw(computerKey.value_or(Bytes{}));
    receiver_ = std::make_unique<Receiver>(io_.get_executor(), state_.staticKey(), expected,
                                           options_.saveDir, receiverPort,
                                           toBytes(kFerrytidePrologue), receiverOptions);
    if (options_.decline) {
      receiver_->setApproveOffer(
          [this](std::string name, std::int64_t size, std::string) -> asio::awaitable<bool> {
            out_ << "declining: " << oneLine(name) << " (" << size << " bytes)" << std::endl;
            co_return false;
          });
    }
    if (options_.unpair) {
      receiver_->setRemovedPeerPubkeys([expected] { return std::vector{expected}; });
    }
    asio::co_spawn(io_, receiver_->run(printingCallbacks(out_)),
                   [this](std::exception_ptr failure) { finished(failure); });
  }

  void startRelay() {
    const asio::ip::tcp::endpoint listenAt(asio::ip::make_address(options_.bindAddress),
                                           options_.port);
    relay_ = std::make_unique<DroppingRelay>(io_.get_executor(), "127.0.0.1", 0, *options_.cut,
                                             listenAt);
    relay_->onCut([this, kind = options_.cut->kind](std::int64_t bytes) {
      out_ << "cut: after " << bytes << " bytes (" << cutKindName(kind) << ")" << std::endl;
    });
    asio::co_spawn(io_, relay_->relayAll(), [](std::exception_ptr) {});
  }

  void finished(std::exception_ptr failure) {
    try {
      if (failure) std::rethrow_exception(failure);
    } catch (const Receiver::Error& error) {
      if (error.kind() != Receiver::Error::Kind::listenerStopped || !stopping_) {
        out_ << "error: " << error.what() << std::endl;
        exitCode_ = 1;
      }
    } catch (const std::exception& error) {
      out_ << "error: " << error.what() << std::endl;
      exitCode_ = 1;
    }
    stopping_ = true;
    stops_.cancel();
    wakes_.cancel();
    if (relay_) relay_->stop();
  }

  void stop() {
    stopping_ = true;
    wakes_.cancel();
    if (receiver_) {
      receiver_->stop();
    } else {
      stops_.cancel();
    }
  }

  const PhoneState& state_;
  const ServeOptions& options_;
  std::ostream& out_;
  asio::io_context io_;
  asio::signal_set stops_;
  asio::signal_set wakes_;
  ActiveTransfers activeTransfers_;
  std::unique_ptr<DroppingRelay> relay_;
  std::unique_ptr<Receiver> receiver_;
  bool stopping_ = false;
  int exitCode_ = 0;
};

}  // namespace

std::string oneLine(const std::string& text) {
  std::string line;
  for (char c : text) {
    if (c == '\\') {
      line += "\\\\";
    } else if (c == '\n') {
      line += "\\n";
    } else if (c == '\r') {
      line += "\\r";
    } else {
      line += c;
    }
  }
  return line;
}

int servePhone(const PhoneState& state, const ServeOptions& options, std::ostream& out) {
  PhoneServer server(state, options, out);
  return server.run();
}

}  // namespace ferrytide::phone
