#include "core/channel/wire_connection.h"

#include <algorithm>
#include <asio/experimental/as_tuple.hpp>
#include <asio/experimental/deferred.hpp>
#include <asio/experimental/parallel_group.hpp>
#include <limits>
#include <utility>

namespace ferrytide {
namespace {

constexpr auto asTuple = asio::experimental::as_tuple(asio::use_awaitable);

// Asio's own "transfer all" hands the system at most 64 KiB per call. Letting each call take
// everything that is still missing moves a 1 MiB frame in a few system calls instead of sixteen.
struct TransferRemaining {
  std::size_t operator()(const asio::error_code& error, std::size_t) const {
    return error ? 0 : std::numeric_limits<std::size_t>::max();
  }
};

// The end of the stream is the one error a peer causes by merely going away early.
WireConnection::Error failureFrom(const asio::error_code& error) {
  if (error == asio::error::eof) return WireConnection::Error::eof();
  return WireConnection::Error::underlying(error.message());
}

bool wouldBlock(const asio::error_code& error) {
  return error == asio::error::would_block || error == asio::error::try_again;
}

}  // namespace

WireConnection::Error WireConnection::Error::underlying(const std::string& text) {
  return Error(Kind::underlying, "wire I/O error: " + text);
}

WireConnection::Error WireConnection::Error::oversize(std::size_t size) {
  return Error(Kind::oversize, "wire frame size " + std::to_string(size) + " exceeds cap", size);
}

WireConnection::Error WireConnection::Error::eof() {
  return Error(Kind::eof, "wire EOF before expected bytes");
}

WireConnection::WireConnection(asio::ip::tcp::socket socket)
    : socket_(std::move(socket)), idleTimer_(socket_.get_executor()) {}

void WireConnection::setIdleTimeout(std::optional<std::chrono::steady_clock::duration> timeout) {
  idleTimeout_ = timeout;
}

asio::awaitable<void> WireConnection::sendLengthPrefixed(ByteView bytes) {
  if (bytes.size() > maxFrameBytes) throw Error::oversize(bytes.size());
  const auto length = static_cast<std::uint32_t>(bytes.size());
  const std::array<std::uint8_t, lengthPrefixBytes> prefix = {
      static_cast<std::uint8_t>(length >> 24), static_cast<std::uint8_t>(length >> 16),
      static_cast<std::uint8_t>(length >> 8), static_cast<std::uint8_t>(length)};
  co_await sendRaw({asio::buffer(prefix), asio::buffer(bytes.data(), bytes.size())});
}

asio::awaitable<void> WireConnection::sendRaw(std::array<asio::const_buffer, 2> buffers) {
  std::size_t taken = writeImmediately(buffers);
  for (asio::const_buffer& buffer : buffers) {
    const std::size_t skipped = std::min(taken, buffer.size());
    buffer += skipped;
    taken -= skipped;
  }
  if (asio::buffer_size(buffers) == 0) co_return;
  [[maybe_unused]] auto [error, written] =
      co_await asio::async_write(socket_, buffers, TransferRemaining{}, asTuple);
  if (error) throw Error::underlying(error.message());
}

asio::awaitable<Bytes> WireConnection::receiveLengthPrefixed() {
  Bytes body;
  co_await receiveLengthPrefixed(body);
  co_return body;
}

asio::awaitable<void> WireConnection::receiveLengthPrefixed(Bytes& body) {
  std::array<std::uint8_t, lengthPrefixBytes> prefix{};
  co_await fill(prefix, partDeadline());
  const std::uint32_t length = (std::uint32_t{prefix[0]} << 24) | (std::uint32_t{prefix[1]} << 16) |
                               (std::uint32_t{prefix[2]} << 8) | std::uint32_t{prefix[3]};
  if (length > maxFrameBytes) throw Error::oversize(length);
  co_await receiveExact(length, body);
}

asio::awaitable<void> WireConnection::receiveExact(std::size_t count, Bytes& body) {
  if (count == 0) {
    body.clear();
    co_return;
  }
  const Deadline deadline = partDeadline();
  std::size_t have = 0;
  while (have < count) {
    // Room the buffer already has is used at once; beyond it, it grows in steps.
    const std::size_t next = body.capacity() >= count ? count : nextReceiveCapacity(have, count);
    body.reserve(next);  // exactly this much, not the library's own growth factor
    body.resize(next);
    co_await fill(std::span(body).subspan(have, next - have), deadline);
    have = next;
  }
}

asio::awaitable<void> WireConnection::fill(std::span<std::uint8_t> into, Deadline deadline) {
  into = into.subspan(readImmediately(into));
  if (into.empty()) co_return;
  const auto buffer = asio::buffer(into.data(), into.size());
  if (!deadline) {
    [[maybe_unused]] auto [error, read] =
        co_await asio::async_read(socket_, buffer, TransferRemaining{}, asTuple);
    if (error) throw failureFrom(error);
    co_return;
  }

  // The read and the idle timer race in one group: whichever finishes first cancels the other, and
  // the group completes only after both have, so no timer handler outlives this call.
  idleTimer_.expires_at(*deadline);
  [[maybe_unused]] auto [order, readError, read, timerError] =
      co_await asio::experimental::make_parallel_group(
          asio::async_read(socket_, buffer, TransferRemaining{}, asio::experimental::deferred),
          idleTimer_.async_wait(asio::experimental::deferred))
          .async_wait(asio::experimental::wait_for_one(), asio::use_awaitable);
  // Data that arrived is kept even when the timer expired in the same instant.
  if (!readError) co_return;
  if (order[0] == 1 && !timerError) {
    // A reset, not an orderly close: a sender waiting for the close after its last frame would
    // take a close for delivery, while the peer that went silent may have lost bytes on the way.
    abort();
    throw Error::underlying(asio::error_code(asio::error::timed_out).message());
  }
  throw failureFrom(readError);
}

// Most reads find their bytes already waiting and most writes find room. Taking them at once
// spares the idle timer's arming and cancelling and a pass through the scheduler: about a third
// of the system calls a small file costs.
std::size_t WireConnection::writeImmediately(const std::array<asio::const_buffer, 2>& buffers) {
  if (!mayGoImmediately()) return 0;
  asio::error_code error;
  const std::size_t written = asio::write(socket_, buffers, TransferRemaining{}, error);
  if (!error) return written;
  if (wouldBlock(error)) {
    immediateInARow_ = 0;
    return written;
  }
  throw Error::underlying(error.message());
}

std::size_t WireConnection::readImmediately(std::span<std::uint8_t> into) {
  if (!mayGoImmediately()) return 0;
  asio::error_code error;
  const std::size_t read =
      asio::read(socket_, asio::buffer(into.data(), into.size()), TransferRemaining{}, error);
  if (!error) return read;
  if (wouldBlock(error)) {
    immediateInARow_ = 0;
    return read;
  }
  throw failureFrom(error);
}

// An operation that completes at once never lets the thread go, so after a run of them one
// goes through the scheduler anyway: a connection whose peer never makes it wait must not hold
// up the other connections on its thread.
bool WireConnection::mayGoImmediately() {
  if (++immediateInARow_ > maxImmediateInARow) {
    immediateInARow_ = 0;
    return false;
  }
  if (socket_.non_blocking()) return true;
  asio::error_code error;
  socket_.non_blocking(true, error);
  return !error;
}

WireConnection::Deadline WireConnection::partDeadline() const {
  if (!idleTimeout_) return std::nullopt;
  return std::chrono::steady_clock::now() + *idleTimeout_;
}

std::size_t WireConnection::nextReceiveCapacity(std::size_t have, std::size_t want) {
  if (have >= want) return want;
  const std::size_t step = have == 0 ? firstReceiveStep : have;
  return have + std::min(step, want - have);
}

void WireConnection::close() {
  // Pending operations are aborted by the close itself. Closing a closed socket does nothing,
  // and a failing close leaves nothing to retry: the descriptor is released either way.
  asio::error_code ignored;
  socket_.close(ignored);
}

void WireConnection::abort() {
  asio::error_code ignored;
  socket_.set_option(asio::socket_base::linger(true, 0), ignored);
  socket_.close(ignored);
}

}  // namespace ferrytide
