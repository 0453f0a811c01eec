#include "core/transfer/receive_transfer.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <asio/experimental/as_tuple.hpp>
#include <asio/experimental/deferred.hpp>
#include <asio/experimental/parallel_group.hpp>
#include <cerrno>
#include <sstream>
#include <stdexcept>
#include <utility>

#include "core/channel/noise_handshake.h"
#include "core/support/file_io.h"
#include "core/support/folder_flush_group.h"
#include "core/transfer/collision_resolver.h"
#include "core/transfer/partial_meta.h"

// g++ 12 reports -Wmismatched-new-delete for some coroutines here: it sees the ::operator new
// inside Asio's frame operator new and pairs it with the frame's own operator delete, which in
// fact hands the memory back to that same allocator. A false alarm; Asio's frame allocation
// is one matching pair.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
#endif

namespace ferrytide {
namespace {

using SteadyClock = std::chrono::steady_clock;

constexpr auto asTuple = asio::experimental::as_tuple(asio::use_awaitable);

ReceiveError writeFailure(const std::filesystem::path& path, int errorNumber) {
  return ReceiveError::fileWriteFailed(file_io::describe(path, errorNumber));
}

std::int64_t nowEpochMs() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(
             std::chrono::system_clock::now().time_since_epoch())
      .count();
}

// O_NOFOLLOW: a symbolic link planted at the partial's name is never written through.
// O_NONBLOCK: opening a FIFO planted there fails instead of waiting for a reader (plain files
// ignore the flag).
constexpr int kPartialFlags = O_WRONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC;

struct OpenedPartial {
  int fd = -1;
  bool created = false;
};

// A new file offered at this size or less is written into an unnamed file in the save folder
// and gets its name only once it is complete: no partial name and no sidecar to make, rename
// and remove, and nothing left behind when the receiver dies. When the connection ends early
// the file is given its partial name and sidecar then, and the phone resumes it as any other.
// Only a receiver killed part way loses those few MiB, and the phone sends them again.
constexpr std::int64_t kUnnamedFileLimit = 4 * 1024 * 1024;

// An unnamed file is named through its /proc/self/fd entry, which needs no privilege; without
// /proc every file takes the named path.
bool canNameUnnamedFiles() {
  static const bool available = ::access("/proc/self/fd", X_OK) == 0;
  return available;
}

// True when the longest name the transfer may need, the sidecar's, is one the folder takes;
// otherwise the named path refuses the offer at once with the system's reason.
bool namesFit(const std::filesystem::path& dir, const std::filesystem::path& partial) {
  const long nameMax = ::pathconf(dir.c_str(), _PC_NAME_MAX);
  const std::size_t sidecarName =
      partial.filename().native().size() + std::string_view(PartialMetaIO::suffix).size();
  return nameMax > 0 && sidecarName <= static_cast<std::size_t>(nameMax);
}

// An unnamed file in `dir` with room for `size` bytes set aside, or -1. The room is taken at
// once, so that a full disk shows at the offer, where the named path reports it, and not
// halfway through a file that has no name to resume under. -1 too when the file system makes
// no unnamed files or sets no room aside: the named path then takes the file.
int openUnnamedFile(const std::filesystem::path& dir, std::int64_t size) {
  if (!canNameUnnamedFiles()) return -1;
  const int fd = ::open(dir.c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, 0644);
  if (fd < 0 || size == 0) return fd;
  if (::fallocate(fd, FALLOC_FL_KEEP_SIZE, 0, size) != 0) {
    ::close(fd);
    return -1;
  }
  return fd;
}

// Gives an unnamed file a name; like a system call, 0 or -1 with errno (EEXIST when taken).
int nameUnnamedFile(int fd, const std::filesystem::path& path) {
  const std::string procPath = "/proc/self/fd/" + std::to_string(fd);
  return ::linkat(AT_FDCWD, procPath.c_str(), AT_FDCWD, path.c_str(), AT_SYMLINK_FOLLOW);
}

// Creates the partial, or opens it when it is this transfer's. When another receive created a
// partial of the same name after `target` was chosen, the names are chosen again, so that two
// transfers never share a partial file.
OpenedPartial openPartialFile(CollisionResolver::Target& target, const std::filesystem::path& dir,
                              const std::string& baseName, const std::string& transferId) {
  constexpr int kMaxAttempts = 10;
  for (int attempt = 0; attempt < kMaxAttempts; ++attempt) {
    int fd = ::open(target.partialURL.c_str(), kPartialFlags | O_CREAT | O_EXCL, 0644);
    if (fd >= 0) return {fd, true};
    if (errno != EEXIST) throw writeFailure(target.partialURL, errno);
    std::optional<PartialMeta> meta = PartialMetaIO::load(target.partialURL);
    if (meta && meta->transferId == transferId) {
      fd = ::open(target.partialURL.c_str(), kPartialFlags);
      if (fd < 0) throw writeFailure(target.partialURL, errno);
      return {fd, false};
    }
    target = CollisionResolver::resolveTarget(dir, baseName, transferId);
  }
  throw writeFailure(target.partialURL, EEXIST);
}

// Moves the write position to the end of the partial and returns it: the partial's length is
// where the phone continues. It is the length the names were chosen by, unless another receive
// of this transfer wrote to the partial since.
std::int64_t positionAtEnd(int fd, const std::filesystem::path& partial) {
  struct stat info {};
  if (::fstat(fd, &info) != 0) throw writeFailure(partial, errno);
  if (!S_ISREG(info.st_mode)) {
    throw ReceiveError::fileWriteFailed(partial.string() + ": not a regular file");
  }
  if (::lseek(fd, info.st_size, SEEK_SET) < 0) throw writeFailure(partial, errno);
  return static_cast<std::int64_t>(info.st_size);
}

// Marks the partial as this offer's, with the time this session accepted it.
void saveSidecar(const msg::FileOffer& offer, const std::filesystem::path& partial,
                 std::int64_t acceptedAtEpochMs) {
  try {
    PartialMetaIO::save({offer.transfer_id, offer.size, acceptedAtEpochMs}, partial);
  } catch (const Error& error) {
    throw ReceiveError::fileWriteFailed("meta write: " + error.description());
  }
}

// What the one-shot path does with a control message; the ones it refuses throw here.
enum class OneShotStep { acceptOffer, finish, ignore };

OneShotStep oneShotStepFor(const TransportMessage& message, const FileReceiveState& state) {
  if (std::holds_alternative<msg::FileOffer>(message)) {
    if (state.hasOffer()) throw ReceiveError::protocolViolation("duplicate FileOffer");
    return OneShotStep::acceptOffer;
  }
  if (std::holds_alternative<msg::Done>(message)) {
    if (!state.hasOffer()) throw ReceiveError::protocolViolation("Done received without FileOffer");
    return OneShotStep::finish;
  }
  // The one-shot path keeps no peer book in which a push token could be stored.
  if (std::holds_alternative<msg::TokenUpdate>(message)) return OneShotStep::ignore;
  if (std::holds_alternative<msg::Resume>(message)) {
    throw ReceiveError::protocolViolation("unexpected Resume from sender");
  }
  if (std::holds_alternative<msg::Clipboard>(message)) {
    throw ReceiveError::protocolViolation("clipboard frame on one-shot receive path");
  }
  // SetName, NameUpdate, Unpair and Decline.
  throw ReceiveError::protocolViolation("name frame on one-shot receive path");
}

// Listens, takes the first connection and stops listening.
asio::awaitable<asio::ip::tcp::socket> acceptOneConnection(const OneShotReceiveOptions& options) {
  const auto executor = co_await asio::this_coro::executor;
  const asio::ip::tcp::endpoint endpoint(options.listenAddress, options.port);
  asio::ip::tcp::acceptor acceptor(executor);
  asio::error_code error;
  acceptor.open(endpoint.protocol(), error);
  if (!error) acceptor.set_option(asio::socket_base::reuse_address(true), error);
  if (!error) acceptor.bind(endpoint, error);
  if (!error) acceptor.listen(asio::socket_base::max_listen_connections, error);
  if (error) throw ReceiveError::listenerStartFailed(error.message());
  if (options.onListening) options.onListening(acceptor.local_endpoint().port());

  asio::ip::tcp::socket socket(executor);
  if (options.acceptTimeout <= SteadyClock::duration::zero()) {
    auto [acceptError] = co_await acceptor.async_accept(socket, asTuple);
    if (acceptError) throw ReceiveError::wire(acceptError.message());
    co_return socket;
  }

  // The accept and the timer race in one group: whichever finishes first cancels the other.
  asio::steady_timer timer(executor, options.acceptTimeout);
  auto [order, acceptError, timerError] =
      co_await asio::experimental::make_parallel_group(
          acceptor.async_accept(socket, asio::experimental::deferred),
          timer.async_wait(asio::experimental::deferred))
          .async_wait(asio::experimental::wait_for_one(), asio::use_awaitable);
  // A connection that arrived in the same instant as the time-out is kept.
  if (!acceptError) co_return socket;
  if (order[0] == 1 && !timerError) throw ReceiveError::timedOut();
  throw ReceiveError::wire(acceptError.message());
}

std::string describeRemoteEndpoint(const asio::ip::tcp::socket& socket) {
  asio::error_code error;
  const asio::ip::tcp::endpoint remote = socket.remote_endpoint(error);
  if (error) return "(unknown endpoint)";
  std::ostringstream text;
  text << remote;
  return text.str();
}

// Closes the connection on every way out of the receive.
struct CloseOnExit {
  WireConnection& wire;
  ~CloseOnExit() { wire.close(); }
};

}  // namespace

// ---- respondToHandshake

asio::awaitable<ResponderSession> respondToHandshake(WireConnection& wire,
                                                     const crypto::X25519PrivateKey& staticKey,
                                                     ByteView prologue) {
  std::optional<NoiseTransport> transport;
  try {
    NoiseHandshake handshake(NoiseRole::responder, staticKey, prologue);
    Bytes message1 = co_await wire.receiveLengthPrefixed();
    handshake.readMessage(message1);
    Bytes message2 = handshake.writeMessage();
    co_await wire.sendLengthPrefixed(message2);
    Bytes message3 = co_await wire.receiveLengthPrefixed();
    handshake.readMessage(message3);
    transport.emplace(handshake.finalize());
  } catch (const std::exception& error) {
    throw ReceiveError::noiseHandshakeFailed(error.what());
  }
  crypto::X25519PublicKey remoteKey = transport->remoteStaticPublicKey();
  co_return ResponderSession{TransportFramer(std::move(*transport)), std::move(remoteKey)};
}

// ---- FileReceiveState

struct FileReceiveState::Impl {
  std::filesystem::path downloadsDir;
  std::string remoteEndpoint;

  std::optional<msg::FileOffer> offer;
  SteadyClock::time_point offerTime;
  std::string baseName;  // the offered name made safe
  std::filesystem::path finalURL;
  std::filesystem::path partialURL;
  int fd = -1;
  bool unnamed = false;  // the file has no name yet (see kUnnamedFileLimit)
  std::int64_t acceptedAtEpochMs = 0;

  std::int64_t bytesWritten = 0;
  std::int64_t bytesThisSession = 0;
  std::int64_t resumedFromOffset = 0;
  std::int64_t writebackFrom = 0;  // where the pages not yet handed to writeback begin

  // The file is flushed before it is renamed. Left to the end, that flush writes the whole
  // file at once while the connection waits; handing the pages to the disk as they fill lets
  // the writing overlap the receiving, and the final flush finds little left to do.
  void startWriteback() {
    constexpr std::int64_t kWritebackWindow = 8 * 1024 * 1024;
    if (bytesWritten - writebackFrom < kWritebackWindow) return;
    // Only a hint: a failure here shows again, with its reason, in the final flush.
    ::sync_file_range(fd, writebackFrom, bytesWritten - writebackFrom, SYNC_FILE_RANGE_WRITE);
    writebackFrom = bytesWritten;
  }

  // An unnamed file that is closed before it got its final name is kept for a resume first.
  void closePartial() {
    keepUnnamedForResume();
    if (fd >= 0) ::close(fd);  // nothing to retry: the descriptor is released either way
    fd = -1;
  }

  // An unnamed file that did not finish becomes a partial with its sidecar, as the named path
  // would have left it, so that the phone resumes it. Best effort: when that fails, the phone
  // sends the file again from the start.
  void keepUnnamedForResume() noexcept {
    if (!unnamed || fd < 0) return;
    unnamed = false;
    bool named = false;
    try {
      const CollisionResolver::Target target =
          CollisionResolver::resolveTarget(downloadsDir, baseName, offer->transfer_id);
      if (target.partialIsThisTransfers || nameUnnamedFile(fd, target.partialURL) != 0) return;
      named = true;
      partialURL = target.partialURL;
      saveSidecar(*offer, partialURL, acceptedAtEpochMs);
    } catch (...) {
      // A partial without its sidecar could never be resumed; only the one named here goes.
      if (named) ::unlink(partialURL.c_str());
    }
  }
};

FileReceiveState::FileReceiveState(std::filesystem::path downloadsDir, std::string remoteEndpoint)
    : impl_(std::make_unique<Impl>()) {
  impl_->downloadsDir = std::move(downloadsDir);
  impl_->remoteEndpoint = std::move(remoteEndpoint);
}

FileReceiveState::~FileReceiveState() { impl_->closePartial(); }

bool FileReceiveState::hasOffer() const { return impl_->offer.has_value(); }

bool FileReceiveState::hasOpenPartial() const { return impl_->fd >= 0; }

const std::optional<msg::FileOffer>& FileReceiveState::offer() const { return impl_->offer; }

void FileReceiveState::recordOffer(const msg::FileOffer& offer) {
  impl_->offer = offer;
  impl_->offerTime = SteadyClock::now();
}

msg::Resume FileReceiveState::openPartial() {
  Impl& s = *impl_;
  if (!s.offer) throw std::logic_error("openPartial before recordOffer");
  if (s.fd >= 0) throw std::logic_error("openPartial called twice");
  const msg::FileOffer& offer = *s.offer;

  s.baseName = CollisionResolver::sanitize(offer.name);
  s.acceptedAtEpochMs = nowEpochMs();
  s.bytesWritten = s.writebackFrom = s.bytesThisSession = s.resumedFromOffset = 0;
  CollisionResolver::Target target =
      CollisionResolver::resolveTarget(s.downloadsDir, s.baseName, offer.transfer_id);
  s.finalURL = target.finalURL;
  s.partialURL = target.partialURL;
  if (!target.partialIsThisTransfers && offer.size <= kUnnamedFileLimit &&
      namesFit(s.downloadsDir, s.partialURL)) {
    s.fd = openUnnamedFile(s.downloadsDir, offer.size);
    s.unnamed = s.fd >= 0;
    if (s.unnamed) return msg::Resume{offer.transfer_id, 0};
  }
  const OpenedPartial opened =
      openPartialFile(target, s.downloadsDir, s.baseName, offer.transfer_id);
  s.fd = opened.fd;
  s.finalURL = target.finalURL;
  s.partialURL = target.partialURL;

  // On a failure from here on the partial is closed again; one this offer created is removed,
  // since a partial without a sidecar could never be resumed and would only block its name.
  std::int64_t resumeOffset = 0;
  try {
    resumeOffset = positionAtEnd(s.fd, s.partialURL);
    saveSidecar(offer, s.partialURL, s.acceptedAtEpochMs);
  } catch (...) {
    s.closePartial();
    if (opened.created) ::unlink(s.partialURL.c_str());
    throw;
  }

  s.bytesWritten = s.writebackFrom = s.resumedFromOffset = resumeOffset;
  return msg::Resume{offer.transfer_id, resumeOffset};
}

void FileReceiveState::appendChunk(ByteView bytes) {
  Impl& s = *impl_;
  if (s.fd < 0) throw std::logic_error("appendChunk without an open partial");
  const std::uint8_t* next = bytes.data();
  std::size_t left = bytes.size();
  while (left > 0) {
    const ssize_t written = ::write(s.fd, next, left);
    if (written < 0 && errno == EINTR) continue;
    if (written < 0) throw writeFailure(s.partialURL, errno);
    // A write that takes nothing would repeat for ever; the system reports no reason for it.
    if (written == 0) throw writeFailure(s.partialURL, EIO);
    next += written;
    left -= static_cast<std::size_t>(written);
  }
  const auto count = static_cast<std::int64_t>(bytes.size());
  s.bytesWritten += count;
  s.bytesThisSession += count;
  s.startWriteback();
}

ReceivedFile FileReceiveState::finish() {
  Impl& s = *impl_;
  if (!s.offer || s.fd < 0) throw std::logic_error("finish without an open partial");
  const SteadyClock::time_point finishTime = SteadyClock::now();

  // The room set aside for a file that came shorter than offered is given back. Only a hint:
  // the file's content is right either way.
  if (s.unnamed && s.bytesWritten < s.offer->size) {
    [[maybe_unused]] const int ignored = ::ftruncate(s.fd, s.bytesWritten);
  }

  // Flushed before it gets its final name: once the sidecar is gone the transfer cannot be
  // resumed, so a file that is lost to a crash after Done would be lost for good. A flush
  // failure (a full disk that only shows now) leaves the partial and sidecar for a resume.
  while (::fdatasync(s.fd) != 0) {
    if (errno == EINTR) continue;
    const int error = errno;
    s.closePartial();
    throw writeFailure(s.partialURL, error);
  }

  // Both ways of naming refuse a name that another file took meanwhile and try the next one.
  std::filesystem::path finalURL;
  try {
    if (s.unnamed) {
      const int fd = s.fd;
      finalURL = CollisionResolver::placeAtFreeName(
          [fd](const std::filesystem::path& to) { return nameUnnamedFile(fd, to); }, s.finalURL,
          s.downloadsDir, s.baseName);
      s.unnamed = false;
      s.closePartial();
    } else {
      s.closePartial();
      finalURL =
          CollisionResolver::moveToFreeName(s.partialURL, s.finalURL, s.downloadsDir, s.baseName);
      PartialMetaIO::remove(s.partialURL);
    }
  } catch (const Error& error) {
    s.closePartial();
    throw ReceiveError::fileWriteFailed("rename: " + error.description());
  }

  // The phone forgets a file once it is confirmed, so its new name must be on the disk before
  // then. Files named at about the same time share one flush of their folder.
  try {
    FolderFlushGroup::shared().flushAfterChange(finalURL.parent_path());
  } catch (const file_io::FileError& error) {
    throw ReceiveError::fileWriteFailed("flush folder: " + error.description());
  }

  const double duration = std::chrono::duration<double>(finishTime - s.offerTime).count();
  return ReceivedFile{
      .savedAt = finalURL,
      .bytesWritten = s.bytesWritten,
      .advertisedSize = s.offer->size,
      .mime = s.offer->mime,
      .remoteEndpoint = s.remoteEndpoint,
      .durationSeconds = duration < 0 ? 0 : duration,
      .bytesReceivedThisSession = s.bytesThisSession,
      .resumedFromOffset = s.resumedFromOffset,
  };
}

// ---- receiveOneTransfer

namespace {

asio::awaitable<ReceivedFile> receiveOnConnection(WireConnection& wire,
                                                  const OneShotReceiveOptions& options,
                                                  const std::string& remoteEndpoint) {
  ResponderSession session = co_await respondToHandshake(wire, options.staticKey, options.prologue);
  if (!crypto::constantTimeEquals(session.remoteStaticPublicKey.view(),
                                  options.expectedPeerPubkey.view())) {
    throw ReceiveError::unauthorizedPeer();
  }

  FileReceiveState state(options.downloadsDir, remoteEndpoint);
  Bytes buffer;  // each frame is received and opened here, chunk after chunk
  for (;;) {
    co_await wire.receiveLengthPrefixed(buffer);
    DecodedFrame frame = session.framer.decode(std::move(buffer));
    if (Bytes* chunk = frame.asBinary()) {
      if (!state.hasOpenPartial()) {
        throw ReceiveError::protocolViolation("binary frame before FileOffer");
      }
      state.appendChunk(*chunk);
      buffer = std::move(*chunk);
      continue;
    }
    const TransportMessage& message = *frame.asJSON();
    switch (oneShotStepFor(message, state)) {
      case OneShotStep::acceptOffer: {
        state.recordOffer(std::get<msg::FileOffer>(message));
        const msg::Resume resume = state.openPartial();
        Bytes reply = session.framer.encodeJSON(resume);
        co_await wire.sendLengthPrefixed(reply);
        break;
      }
      case OneShotStep::finish:
        co_return state.finish();
      case OneShotStep::ignore:
        break;
    }
  }
}

}  // namespace

asio::awaitable<ReceivedFile> receiveOneTransfer(OneShotReceiveOptions options) {
  file_io::createDirectories(options.downloadsDir);
  asio::ip::tcp::socket socket = co_await acceptOneConnection(options);
  const std::string remoteEndpoint = describeRemoteEndpoint(socket);
  WireConnection wire(std::move(socket));
  CloseOnExit closeOnExit{wire};
  wire.setIdleTimeout(options.idleTimeout);
  try {
    co_return co_await receiveOnConnection(wire, options, remoteEndpoint);
  } catch (...) {
    // Reset, so that a phone waiting after Done does not take the failure for a delivered file.
    wire.abort();
    throw;
  }
}

}  // namespace ferrytide
