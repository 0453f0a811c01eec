#include "core/transfer/send_transfer.h"

#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <asio/experimental/as_tuple.hpp>
#include <asio/experimental/deferred.hpp>
#include <asio/experimental/parallel_group.hpp>
#include <cerrno>
#include <cstring>
#include <optional>
#include <utility>

#include "core/channel/tcp_keep_alive.h"
#include "core/channel/transport_framer.h"
#include "core/channel/transport_message.h"
#include "core/support/base64.h"
#include "core/support/file_io.h"
#include "core/transfer/file_fingerprint.h"
#include "core/transfer/mime_types.h"

// g++ 12's false -Wmismatched-new-delete on Asio coroutine frames (see receive_transfer.cpp).
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
#endif

namespace ferrytide {
namespace {

using asio::ip::tcp;
using Clock = std::chrono::steady_clock;
using Deadline = std::optional<Clock::time_point>;

constexpr auto asTuple = asio::experimental::as_tuple(asio::use_awaitable);
constexpr auto deferred = asio::experimental::deferred;
constexpr std::size_t kChunkBytes = 1'048'576;
// How long a phone whose connection failed under the offer is given to say Unpair.
constexpr auto kUnpairReplyWindow = std::chrono::milliseconds(1500);
// Longest rendering of an unexpected message inside an error text.
constexpr std::size_t kMaxRenderedMessage = 200;

const Logger& sendLog() {
  static const Logger logger("send");
  return logger;
}

// ---- connecting

Deadline deadlineAfter(SendDuration timeout) {
  if (timeout <= SendDuration::zero()) return std::nullopt;
  return Clock::now() + timeout;
}

SendError connectTimedOut() { return SendError::network("connect timed out"); }

// The first address of `host`; a literal address is taken as it is.
asio::awaitable<tcp::endpoint> resolveUntil(const std::string& host, std::uint16_t port,
                                            Deadline deadline) {
  asio::error_code parseError;
  const asio::ip::address address = asio::ip::make_address(host, parseError);
  if (!parseError) co_return tcp::endpoint(address, port);

  const auto executor = co_await asio::this_coro::executor;
  tcp::resolver resolver(executor);
  const std::string service = std::to_string(port);
  asio::error_code error;
  tcp::resolver::results_type results;
  if (!deadline) {
    std::tie(error, results) = co_await resolver.async_resolve(host, service, asTuple);
  } else {
    asio::steady_timer timer(executor, *deadline);
    auto [order, resolveError, resolved, timerError] =
        co_await asio::experimental::make_parallel_group(
            resolver.async_resolve(host, service, deferred), timer.async_wait(deferred))
            .async_wait(asio::experimental::wait_for_one(), asio::use_awaitable);
    if (order[0] == 1 && resolveError) throw connectTimedOut();
    error = resolveError;
    results = std::move(resolved);
  }
  if (error) throw SendError::network(error.message());
  if (results.empty()) throw SendError::network("no address for " + host);
  co_return results.begin()->endpoint();
}

asio::awaitable<void> connectUntil(tcp::socket& socket, const tcp::endpoint& endpoint,
                                   Deadline deadline) {
  asio::error_code error;
  if (!deadline) {
    std::tie(error) = co_await socket.async_connect(endpoint, asTuple);
  } else {
    asio::steady_timer timer(socket.get_executor(), *deadline);
    auto [order, connectError, timerError] =
        co_await asio::experimental::make_parallel_group(socket.async_connect(endpoint, deferred),
                                                         timer.async_wait(deferred))
            .async_wait(asio::experimental::wait_for_one(), asio::use_awaitable);
    // A connection made in the same instant as the time-out is kept.
    if (order[0] == 1 && connectError) throw connectTimedOut();
    error = connectError;
  }
  if (error) throw SendError::network(error.message());
}

asio::awaitable<void> pause(SendDuration duration) {
  if (duration <= SendDuration::zero()) co_return;
  asio::steady_timer timer(co_await asio::this_coro::executor, duration);
  // A cancelled pause just ends early.
  [[maybe_unused]] auto [error] = co_await timer.async_wait(asTuple);
}

bool worthWaking(const SendError& error) {
  if (error.kind() != SendError::Kind::network) return false;
  const std::string& text = error.detail();
  return text.find("timed out") != std::string::npos || text.find("refused") != std::string::npos;
}

asio::awaitable<void> wakeThroughFcm(std::filesystem::path serviceAccountURL, HttpClient* session,
                                     FcmWake::Options options, std::string token) {
  FcmWake wake(serviceAccountURL, *session, std::move(options));
  co_await wake.sendWake(token);
}


// ---- the file

struct FileFacts {
  std::string name;
  std::int64_t size = 0;
  std::string mime;
  std::string fingerprint;
};

FileFacts examine(const std::filesystem::path& fileURL) {
  struct stat attributes {};
  if (::stat(fileURL.c_str(), &attributes) != 0) {
    if (errno == ENOENT || errno == ENOTDIR) throw SendError::fileMissing(fileURL.string());
    throw file_io::FileError(file_io::describe(fileURL, errno));
  }
  if (!S_ISREG(attributes.st_mode)) {
    throw SendError::fileRead(fileURL.string() + ": not a regular file");
  }
  FileFacts facts;
  facts.name = fileURL.filename().string();
  facts.size = static_cast<std::int64_t>(attributes.st_size);
  facts.mime = MimeTypes::shared().mimeType(facts.name);
  try {
    facts.fingerprint = FileFingerprint::compute(fileURL);
  } catch (const std::exception& error) {
    // Without a fingerprint the journal key is name, size and type alone.
    sendLog().info(std::string("no fingerprint: ") + error.what());
  }
  return facts;
}

std::string systemText(int errorNumber) { return std::strerror(errorNumber); }

// The file from the accepted offset up to the offered size, in chunks of up to 1 MiB read into
// one buffer that is reused. A file that ends early has changed since the offer and fails the
// send rather than leaving the phone with a short copy; bytes beyond the offered size are never
// sent.
class FileChunks {
 public:
  FileChunks(const std::filesystem::path& path, std::int64_t offset, std::int64_t size)
      : position_(offset), end_(size) {
    fd_ = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd_ < 0) throw SendError::fileRead(file_io::describe(path, errno));
    if (offset > 0 && ::lseek(fd_, offset, SEEK_SET) < 0) {
      const int error = errno;
      ::close(fd_);
      throw SendError::fileRead("seek to " + std::to_string(offset) +
                                " failed: " + systemText(error));
    }
    ::posix_fadvise(fd_, offset, 0, POSIX_FADV_SEQUENTIAL);
    // A small file needs no full-size chunk buffer (zeroing one costs more than sending it).
    buffer_.resize(static_cast<std::size_t>(
        std::clamp<std::int64_t>(size - offset, 0, static_cast<std::int64_t>(kChunkBytes))));
  }
  ~FileChunks() { ::close(fd_); }
  FileChunks(const FileChunks&) = delete;
  FileChunks& operator=(const FileChunks&) = delete;

  // Empty once the offered size is reached. Throws SendError::fileRead.
  ByteView next() {
    const auto want =
        static_cast<std::size_t>(std::min<std::int64_t>(kChunkBytes, end_ - position_));
    std::size_t have = 0;
    while (have < want) {
      const ssize_t count = ::read(fd_, buffer_.data() + have, want - have);
      if (count < 0 && errno == EINTR) continue;
      if (count < 0) throw SendError::fileRead("read failed: " + systemText(errno));
      if (count == 0) {
        throw SendError::fileRead("the file ended at " + std::to_string(position_ + have) + " of " +
                                  std::to_string(end_) + " bytes");
      }
      have += static_cast<std::size_t>(count);
    }
    position_ += static_cast<std::int64_t>(have);
    return ByteView(buffer_.data(), have);
  }

 private:
  int fd_ = -1;
  std::int64_t position_;
  std::int64_t end_;
  Bytes buffer_;
};

// ---- the exchange

std::string describeFrame(const DecodedFrame& frame) {
  if (const Bytes* body = frame.asBinary()) {
    return "binary frame of " + std::to_string(body->size()) + " bytes";
  }
  const TransportMessage& message = *frame.asJSON();
  std::string text = encodeMessage(message);
  if (text.size() <= kMaxRenderedMessage) return text;
  return std::string(messageTypeName(message)) + " (" + std::to_string(text.size()) +
         " bytes of JSON)";
}

// The accepted offset of the phone's answer to the offer.
std::int64_t acceptedOffset(const DecodedFrame& reply, const std::string& transferId,
                            std::int64_t size) {
  if (const TransportMessage* message = reply.asJSON()) {
    if (const auto* resume = std::get_if<msg::Resume>(message)) {
      if (resume->transfer_id != transferId) {
        throw SendError::malformedResume("transfer_id mismatch (got " + resume->transfer_id +
                                         ", want " + transferId + ")");
      }
      if (resume->accepted_offset < 0 || resume->accepted_offset > size) {
        throw SendError::malformedResume(
            "accepted_offset out of range: " + std::to_string(resume->accepted_offset) + "/" +
            std::to_string(size));
      }
      return resume->accepted_offset;
    }
    if (std::holds_alternative<msg::Unpair>(*message)) throw SendError::peerRemoved();
    if (std::holds_alternative<msg::Decline>(*message)) throw SendError::declined();
  }
  throw SendError::unexpectedFrame("expected Resume, got " + describeFrame(reply));
}

// After Done the phone finishes the file and closes. Its end of stream, or silence for `wait`,
// counts as delivered; a reset or another error before that means the phone may not have the
// file. Anything it sends meanwhile is ignored.
asio::awaitable<void> awaitPhoneClose(WireConnection& wire, SendDuration wait) {
  if (wait <= SendDuration::zero()) co_return;
  tcp::socket& socket = wire.socket();
  asio::steady_timer timer(socket.get_executor(), wait);
  std::array<std::uint8_t, 512> ignored{};
  for (;;) {
    auto [order, readError, read, timerError] =
        co_await asio::experimental::make_parallel_group(
            socket.async_read_some(asio::buffer(ignored), deferred), timer.async_wait(deferred))
            .async_wait(asio::experimental::wait_for_one(), asio::use_awaitable);
    if (order[0] == 1) {
      sendLog().info("the phone did not close within the wait after Done");
      co_return;
    }
    if (!readError) continue;
    if (readError == asio::error::eof) co_return;
    throw SendError::network("connection lost after Done: " + readError.message());
  }
}

// Handshake and key check; the framer of the confirmed phone.
asio::awaitable<TransportFramer> secureChannel(WireConnection& wire,
                                               const crypto::X25519PrivateKey& staticKey,
                                               const SendFileOptions& options,
                                               const Bytes& expectedKey) {
  asio::awaitable<NoiseHandshake> handshaking =
      initiateHandshake(wire, staticKey, options.prologue, options.handshakeTimeout);
  NoiseHandshake noise = co_await std::move(handshaking);
  std::optional<TransportFramer> framer;
  try {
    framer.emplace(noise.finalize());
  } catch (const std::exception& error) {
    throw SendError::noiseHandshakeFailed(error.what());
  }
  if (!crypto::constantTimeEquals(framer->session().remoteStaticPublicKey().view(), expectedKey)) {
    throw SendError::unauthorizedPeer();
  }
  co_return std::move(*framer);
}

}  // namespace

// ---- waking

WakePhone fcmWakePhone(std::filesystem::path serviceAccountURL, HttpClient& session,
                       FcmWake::Options options) {
  return [serviceAccountURL = std::move(serviceAccountURL), session = &session,
          options = std::move(options)](std::string token) {
    return wakeThroughFcm(serviceAccountURL, session, options, std::move(token));
  };
}

WakePhone defaultWakePhone() {
  // The process's one HTTP session, made on the first wake.
  static HttpClient session;
  return fcmWakePhone(FcmWake::defaultServiceAccountURL(), session);
}

// ---- connecting

asio::awaitable<tcp::socket> openConnection(std::string host, std::int64_t port,
                                            SendDuration timeout) {
  if (port < 0 || port > 65535) throw SendError::network("invalid port " + std::to_string(port));
  const Deadline deadline = deadlineAfter(timeout);
  const tcp::endpoint endpoint =
      co_await resolveUntil(host, static_cast<std::uint16_t>(port), deadline);
  tcp::socket socket(co_await asio::this_coro::executor);
  co_await connectUntil(socket, endpoint, deadline);
  asio::error_code ignored;
  socket.set_option(tcp::no_delay(true), ignored);
  co_return socket;
}

asio::awaitable<tcp::socket> connectToPhone(PeerRecord peer, ConnectPlan plan, WakePhone wake,
                                            std::function<void()> onWaking, Logger log) {
  std::optional<SendError> warmFailure;
  try {
    asio::awaitable<tcp::socket> warm =
        openConnection(peer.peer_ip, peer.peer_port, plan.warmConnectTimeout);
    co_return co_await std::move(warm);
  } catch (const SendError& error) {
    warmFailure = error;
  }
  log.info(std::string("warm connect failed: ") + warmFailure->what());
  const bool needsWake = worthWaking(*warmFailure);
  const bool hasFcm = !peer.peer_fcm_token.empty();
  log.info("needsWake=" + std::to_string(needsWake) + " hasFcm=" + std::to_string(hasFcm));
  if (!needsWake || !hasFcm) throw *warmFailure;

  log.info("firing FCM wake");
  std::optional<std::string> wakeFailure;
  try {
    if (!wake) wake = defaultWakePhone();
    asio::awaitable<void> waking = wake(peer.peer_fcm_token);
    co_await std::move(waking);
  } catch (const std::exception& error) {
    wakeFailure = error.what();
  }
  if (wakeFailure) throw SendError::network("FCM wake failed: " + *wakeFailure);
  if (onWaking) onWaking();
  co_await pause(plan.wakePause);

  const Clock::time_point deadline = Clock::now() + plan.postWakeConnectTimeout;
  std::optional<SendError> lastFailure;
  for (int attempt = 0;; ++attempt) {
    const bool attemptsLeft = plan.maxPostWakeAttempts <= 0 || attempt < plan.maxPostWakeAttempts;
    if (Clock::now() >= deadline || !attemptsLeft) {
      if (lastFailure) throw *lastFailure;
      throw SendError::network("connect timed out after wake");
    }
    try {
      asio::awaitable<tcp::socket> opening =
          openConnection(peer.peer_ip, peer.peer_port, plan.postWakeAttemptTimeout);
      co_return co_await std::move(opening);
    } catch (const SendError& error) {
      lastFailure = error;
    }
    log.info(std::string("connect after wake failed: ") + lastFailure->what());
    co_await pause(plan.postWakeRetryInterval);
  }
}

asio::awaitable<NoiseHandshake> initiateHandshake(WireConnection& wire,
                                                  crypto::X25519PrivateKey staticKey,
                                                  Bytes prologue, SendDuration timeout) {
  std::optional<NoiseHandshake> noise;
  if (timeout > SendDuration::zero()) wire.setIdleTimeout(timeout);
  try {
    noise.emplace(NoiseRole::initiator, staticKey, prologue);
    Bytes first = noise->writeMessage();
    co_await wire.sendLengthPrefixed(first);
    noise->readMessage(co_await wire.receiveLengthPrefixed());
    Bytes third = noise->writeMessage();
    co_await wire.sendLengthPrefixed(third);
  } catch (const std::exception& error) {
    throw SendError::noiseHandshakeFailed(error.what());
  }
  wire.setIdleTimeout(std::nullopt);
  co_return std::move(*noise);
}

asio::awaitable<bool> phoneRepliesUnpair(WireConnection& wire, TransportFramer& framer) {
  try {
    const DecodedFrame reply = framer.decode(co_await wire.receiveLengthPrefixed());
    const TransportMessage* message = reply.asJSON();
    const bool unpair = message != nullptr && std::holds_alternative<msg::Unpair>(*message);
    co_return unpair;
  } catch (const std::exception& error) {
    sendLog().debug(std::string("no Unpair: ") + error.what());
  }
  co_return false;
}

Bytes expectedPeerKey(const PeerRecord& peer) {
  std::optional<Bytes> key = base64::decode(peer.peer_pubkey);
  if (!key || key->size() != crypto::kKeyBytes) throw SendError::unauthorizedPeer();
  return std::move(*key);
}

// ---- one file

asio::awaitable<SentFile> sendOneFile(std::filesystem::path fileURL, PeerRecord peer,
                                      crypto::X25519PrivateKey staticKey, InFlightJournal& journal,
                                      SendFileOptions options) {
  const FileFacts file = examine(fileURL);
  const std::string transferId =
      journal.getOrCreate(file.name, file.size, file.mime, file.fingerprint);
  const Bytes expectedKey = expectedPeerKey(peer);

  std::function<void()> onWaking;
  if (options.progress) onWaking = [progress = options.progress] { progress->onWaking(); };
  asio::awaitable<tcp::socket> connecting =
      connectToPhone(peer, options.connect, options.wake, onWaking, sendLog());
  tcp::socket socket = co_await std::move(connecting);
  if (auto error = enableKeepAlive(socket)) {
    sendLog().warning("could not enable TCP keep-alive: " + error.message());
  }
  WireConnection wire(std::move(socket));

  TransportFramer framer = co_await secureChannel(wire, staticKey, options, expectedKey);
  const TransportMessage offer = msg::FileOffer{file.name, file.size, file.mime, transferId};
  Bytes offerFrame = framer.encodeJSON(offer);
  std::exception_ptr offerFailure;
  try {
    co_await wire.sendLengthPrefixed(offerFrame);
  } catch (const WireConnection::Error&) {
    offerFailure = std::current_exception();
  }
  if (offerFailure) {
    // A phone that has forgotten this computer answers Unpair right after the handshake and
    // closes, possibly before the offer arrives; that answer says more than the failed write.
    wire.setIdleTimeout(kUnpairReplyWindow);
    if (co_await phoneRepliesUnpair(wire, framer)) throw SendError::peerRemoved();
    std::rethrow_exception(offerFailure);
  }

  // No time limit: the phone may be asking its user.
  const DecodedFrame reply = framer.decode(co_await wire.receiveLengthPrefixed());
  const std::int64_t offset = acceptedOffset(reply, transferId, file.size);

  const Clock::time_point start = Clock::now();
  FileChunks chunks(fileURL, offset, file.size);
  if (options.progress) options.progress->onProgress(offset, file.size);
  std::int64_t sent = 0;
  for (;;) {
    if (options.cancel && options.cancel()) throw SendError::cancelled();
    const ByteView chunk = chunks.next();
    if (chunk.empty()) break;
    Bytes frame = framer.encodeBinary(chunk);
    co_await wire.sendLengthPrefixed(frame);
    sent += static_cast<std::int64_t>(chunk.size());
    if (options.progress) options.progress->onProgress(offset + sent, file.size);
  }
  const TransportMessage done = msg::Done{};
  Bytes doneFrame = framer.encodeJSON(done);
  co_await wire.sendLengthPrefixed(doneFrame);
  const double duration = std::chrono::duration<double>(Clock::now() - start).count();

  co_await awaitPhoneClose(wire, options.closeWait);
  journal.complete(file.name, file.size, file.mime, file.fingerprint);
  co_return SentFile{fileURL.string(), offset + sent, file.size, duration, offset};
}

}  // namespace ferrytide
