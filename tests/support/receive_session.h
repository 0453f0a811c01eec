#pragma once

#include <asio.hpp>
#include <exception>
#include <filesystem>
#include <functional>
#include <map>
#include <optional>
#include <set>
#include <string>

#include "core/support/bytes.h"
#include "core/transfer/receive_transfer.h"

namespace ferrytide::testing {

// What the phone does once the receive listens; it gets the address to connect to.
using PhoneScript = std::function<asio::awaitable<void>(asio::ip::tcp::endpoint)>;

struct SessionOutcome {
  std::optional<ReceivedFile> file;
  std::exception_ptr failure;  // how the receive failed, when it did

  // The failure's what(); empty when the receive succeeded.
  std::string failureText() const;
  // True when the receive failed with an exception of type E.
  template <typename E>
  bool failedWith() const {
    if (!failure) return false;
    try {
      std::rethrow_exception(failure);
    } catch (const E&) {
      return true;
    } catch (...) {
      return false;
    }
  }
};

// Options for a one-shot receive on 127.0.0.1, port 0, with time-outs of a few seconds so
// that a broken test fails instead of hanging.
OneShotReceiveOptions loopbackReceiveOptions(const crypto::X25519PrivateKey& computerKey,
                                             const crypto::X25519PublicKey& phoneKey,
                                             const std::filesystem::path& downloadsDir);

// Runs receiveOneTransfer and, once it listens, `phone` (if any) on one io_context until
// both have ended. A phone script that fails is rethrown here.
SessionOutcome runOneShotSession(OneShotReceiveOptions options, const PhoneScript& phone);

// The file's bytes; nothing when it is absent.
std::optional<Bytes> readFileBytes(const std::filesystem::path& path);
void writeFileBytes(const std::filesystem::path& path, ByteView bytes);
// The names in a folder.
std::set<std::string> folderListing(const std::filesystem::path& dir);
// Every entry below `root` except the subtree `skip`: relative path → file content, link
// target ("-> target") or "<dir>".
std::map<std::string, std::string> treeSnapshot(const std::filesystem::path& root,
                                                const std::filesystem::path& skip = {});
// Deterministic bytes that differ from offset to offset.
Bytes patternBytes(std::size_t size, std::uint32_t seed = 1);

}  // namespace ferrytide::testing
