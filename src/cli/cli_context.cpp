#include "cli/cli_context.h"

#include "core/support/paths.h"

namespace ferrytide::cli {

CliError CliError::noPairedPhone() {
  return CliError("no phone is paired; run \"ferrytide-cli pair\" first");
}

CliError CliError::noMatchingPhone(const std::string& selector) {
  return CliError("no paired phone matches \"" + selector + "\"");
}

CliError CliError::invalidArgument(const std::string& text) { return CliError(text); }

PeerRecord CliContext::resolvePeer(const std::string& selector) const {
  if (selector.empty()) {
    std::optional<PeerRecord> peer = peerStore.mostRecent();
    if (!peer) throw CliError::noPairedPhone();
    return *peer;
  }
  std::optional<PeerRecord> peer = peerStore.resolve(selector);
  if (!peer) throw CliError::noMatchingPhone(selector);
  return *peer;
}

std::filesystem::path receiverPidFile() {
  return paths::applicationSupportDirectory() / "cli-receive.pid";
}

void runToEnd(asio::awaitable<void> task) {
  asio::io_context context;
  std::exception_ptr failure;
  asio::co_spawn(context, std::move(task), [&](std::exception_ptr error) { failure = error; });
  context.run();
  if (failure) std::rethrow_exception(failure);
}

}  // namespace ferrytide::cli
