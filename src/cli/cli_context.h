#pragma once

// What every command shares: the state files in the default folders (which honour the XDG
// variables, so tests and a second user profile can point them elsewhere), the phone a selector
// names, and a way to run one of the core's coroutines to its end.

#include <asio.hpp>
#include <exception>
#include <filesystem>
#include <optional>
#include <string>
#include <utility>

#include "core/channel/key_vault.h"
#include "core/peers/peer_store.h"
#include "core/support/error.h"

namespace ferrytide::cli {

inline constexpr std::uint16_t kDefaultPort = 47819;

// An error of the command line itself (a phone that no selector names, bad arguments the parser
// cannot see); the core's errors pass through with their own texts.
class CliError : public Error {
 public:
  static CliError noPairedPhone();                               // "no phone is paired; ..."
  static CliError noMatchingPhone(const std::string& selector);  // "no paired phone matches ..."
  static CliError invalidArgument(const std::string& text);

 private:
  using Error::Error;
};

struct CliContext {
  KeyVault keyVault;
  PeerStore peerStore;

  // The phone `selector` names (PeerStore::resolve), or the most recently paired one when the
  // selector is empty. Throws CliError when there is none.
  PeerRecord resolvePeer(const std::string& selector) const;
};

// The file in which a running `receive` keeps its process id, so that `pair` can stop it.
std::filesystem::path receiverPidFile();

// Runs `task` on a fresh io_context until it ends; rethrows its exception.
template <typename T>
T runToEnd(asio::awaitable<T> task) {
  asio::io_context context;
  std::optional<T> result;
  std::exception_ptr failure;
  asio::co_spawn(context, std::move(task), [&](std::exception_ptr error, T value) {
    if (error) {
      failure = error;
    } else {
      result.emplace(std::move(value));
    }
  });
  context.run();
  if (failure) std::rethrow_exception(failure);
  return std::move(*result);
}

void runToEnd(asio::awaitable<void> task);

}  // namespace ferrytide::cli
