#include "receiver_thread.h"

#include <pthread.h>
#include <time.h>

#include <stdexcept>

#include "core/channel/noise_handshake.h"

namespace ferrytide::bench {

ReceiverThread::ReceiverThread(const std::filesystem::path& folder,
                               const crypto::X25519PrivateKey& staticKey,
                               const crypto::X25519PublicKey& peerKey) {
  ReceiverOptions options;
  options.listenAddress = asio::ip::address_v4::loopback();
  options.peerStore = PeerStore(folder / ".peers");
  options.onListening = [this](std::uint16_t bound) { port_.set_value(bound); };
  receiver_ = std::make_unique<Receiver>(io_.get_executor(), staticKey, peerKey, folder, 0,
                                         toBytes(kFerrytidePrologue), std::move(options));
  Receiver::Callbacks callbacks;
  callbacks.onTransfer = [this](const ReceivedFile& file) { tell(Ending{file, {}}); };
  callbacks.onError = [this](const std::exception& error) { tell(Ending{{}, error.what()}); };
  asio::co_spawn(io_, receiver_->run(std::move(callbacks)), [](std::exception_ptr) {});
  thread_ = std::thread([this] { io_.run(); });
  auto ready = port_.get_future();
  if (ready.wait_for(std::chrono::seconds(10)) != std::future_status::ready) {
    receiver_->stop();
    thread_.join();
    throw std::runtime_error("receiver did not listen");
  }
  port = ready.get();
}

ReceiverThread::~ReceiverThread() {
  receiver_->stop();
  thread_.join();
}

std::optional<ReceiverThread::Ending> ReceiverThread::next(std::chrono::seconds limit) {
  std::unique_lock guard(lock_);
  if (!changed_.wait_for(guard, limit, [&] { return ending_.has_value(); })) return std::nullopt;
  Ending ending = std::move(*ending_);
  ending_.reset();
  return ending;
}

double ReceiverThread::cpuSeconds() {
  clockid_t clock{};
  timespec used{};
  if (pthread_getcpuclockid(thread_.native_handle(), &clock) != 0 ||
      clock_gettime(clock, &used) != 0) {
    throw std::runtime_error("cannot read the receiver thread's CPU time");
  }
  return static_cast<double>(used.tv_sec) + static_cast<double>(used.tv_nsec) / 1e9;
}

void ReceiverThread::tell(Ending ending) {
  std::lock_guard guard(lock_);
  ending_ = std::move(ending);
  changed_.notify_all();
}

}  // namespace ferrytide::bench
