#pragma once

// A Receiver listening on 127.0.0.1 on a network thread of its own, handing the end of each
// connection (a file or an error) to the benchmark's thread.

#include <asio.hpp>
#include <condition_variable>
#include <cstdint>
#include <filesystem>
#include <future>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

#include "core/transfer/receiver.h"

namespace ferrytide::bench {

class ReceiverThread {
 public:
  struct Ending {
    std::optional<ReceivedFile> file;
    std::string error;  // when there is no file
  };

  // Throws std::runtime_error when the receiver does not listen within 10 s.
  ReceiverThread(const std::filesystem::path& folder, const crypto::X25519PrivateKey& staticKey,
                 const crypto::X25519PublicKey& peerKey);
  ~ReceiverThread();
  ReceiverThread(const ReceiverThread&) = delete;
  ReceiverThread& operator=(const ReceiverThread&) = delete;

  // How the next connection ended; nothing when none ended within `limit`.
  std::optional<Ending> next(std::chrono::seconds limit);

  // CPU time the network thread has used so far.
  double cpuSeconds();

  std::uint16_t port = 0;

 private:
  void tell(Ending ending);

  asio::io_context io_;
  std::unique_ptr<Receiver> receiver_;
  std::promise<std::uint16_t> port_;
  std::mutex lock_;
  std::condition_variable changed_;
  std::optional<Ending> ending_;
  std::thread thread_;
};

}  // namespace ferrytide::bench
