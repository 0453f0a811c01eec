#include "support/receive_session.h"

#include <fstream>

#include "core/support/file_io.h"
#include "support/failure_text.h"

namespace ferrytide::testing {

std::string SessionOutcome::failureText() const { return testing::failureText(failure); }

OneShotReceiveOptions loopbackReceiveOptions(const crypto::X25519PrivateKey& computerKey,
                                             const crypto::X25519PublicKey& phoneKey,
                                             const std::filesystem::path& downloadsDir) {
  return OneShotReceiveOptions{.staticKey = computerKey,
                               .expectedPeerPubkey = phoneKey,
                               .downloadsDir = downloadsDir,
                               .port = 0,
                               .prologue = toBytes(kFerrytidePrologue),
                               .acceptTimeout = std::chrono::seconds(10),
                               .idleTimeout = std::chrono::seconds(10),
                               .listenAddress = asio::ip::address_v4::loopback(),
                               .onListening = {}};
}

SessionOutcome runOneShotSession(OneShotReceiveOptions options, const PhoneScript& phone) {
  asio::io_context io;
  SessionOutcome outcome;
  std::exception_ptr phoneFailure;
  const asio::ip::address address = options.listenAddress;
  options.onListening = [&](std::uint16_t port) {
    if (!phone) return;
    asio::co_spawn(io, phone(asio::ip::tcp::endpoint(address, port)),
                   [&](std::exception_ptr failure) { phoneFailure = failure; });
  };
  asio::co_spawn(io, receiveOneTransfer(std::move(options)),
                 [&](std::exception_ptr failure, ReceivedFile file) {
                   if (failure) {
                     outcome.failure = failure;
                   } else {
                     outcome.file = std::move(file);
                   }
                 });
  io.run();
  if (phoneFailure) std::rethrow_exception(phoneFailure);
  return outcome;
}

std::optional<Bytes> readFileBytes(const std::filesystem::path& path) {
  return file_io::readIfExists(path);
}

void writeFileBytes(const std::filesystem::path& path, ByteView bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()),
            static_cast<std::streamsize>(bytes.size()));
  if (!out) throw std::runtime_error("cannot write " + path.string());
}

std::set<std::string> folderListing(const std::filesystem::path& dir) {
  std::set<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(dir)) {
    names.insert(entry.path().filename().string());
  }
  return names;
}

std::map<std::string, std::string> treeSnapshot(const std::filesystem::path& root,
                                                const std::filesystem::path& skip) {
  std::map<std::string, std::string> snapshot;
  auto it = std::filesystem::recursive_directory_iterator(root);
  for (; it != std::filesystem::recursive_directory_iterator(); ++it) {
    const std::filesystem::path& path = it->path();
    const std::string relative = std::filesystem::relative(path, root).string();
    if (!skip.empty() && path == skip) {
      snapshot[relative] = "<skipped>";
      it.disable_recursion_pending();
    } else if (it->is_symlink()) {
      snapshot[relative] = "-> " + std::filesystem::read_symlink(path).string();
    } else if (it->is_directory()) {
      snapshot[relative] = "<dir>";
    } else {
      snapshot[relative] = toString(readFileBytes(path).value_or(Bytes{}));
    }
  }
  return snapshot;
}

Bytes patternBytes(std::size_t size, std::uint32_t seed) {
  Bytes bytes(size);
  std::uint32_t state = seed * 2654435761u + 1;
  for (auto& byte : bytes) {
    state = state * 1664525u + 1013904223u;
    byte = static_cast<std::uint8_t>(state >> 24);
  }
  return bytes;
}

}  // namespace ferrytide::testing
