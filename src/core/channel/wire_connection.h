#pragma once

#include <array>
#include <asio.hpp>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>

#include "core/support/bytes.h"
#include "core/support/error.h"

namespace ferrytide {

// One TCP connection seen as a sequence of length-prefixed frames. On the wire every frame is a
// 4-byte big-endian length L followed by exactly L bytes of body; there is no other header. The
// handshake messages and the sealed transport frames all travel this way. Knows nothing of
// cryptography.
//
// At most one send and one receive may be outstanding at a time; the owner uses the connection
// from one coroutine (or one coroutine per direction) on the socket's executor, and keeps it alive
// until its pending operations have completed.
class WireConnection {
 public:
  static constexpr std::size_t lengthPrefixBytes = 4;
  // Largest frame body accepted on send and on receive: 16 MiB of plaintext plus room for the
  // sealing overhead.
  static constexpr std::size_t maxFrameBytes = 16'777'280;
  // The first allocation for a body: enough for a 1 MiB file chunk frame in one step, small
  // enough that a peer announcing a large frame and then stalling costs little.
  static constexpr std::size_t firstReceiveStep = 1'048'576 + 65'536;

  class Error : public ferrytide::Error {
   public:
    enum class Kind { underlying, oversize, eof };

    // A network error; `text` is the system's description of it.
    static Error underlying(const std::string& text);
    static Error oversize(std::size_t size);
    static Error eof();

    Kind kind() const { return kind_; }
    // The announced or requested frame size of `oversize`; zero for the other cases.
    std::size_t size() const { return size_; }

   private:
    Error(Kind kind, std::string description, std::size_t size = 0)
        : ferrytide::Error(std::move(description)), kind_(kind), size_(size) {}

    Kind kind_;
    std::size_t size_;
  };

  // Takes a connected socket; does not configure it. No idle timeout is set.
  explicit WireConnection(asio::ip::tcp::socket socket);

  WireConnection(const WireConnection&) = delete;
  WireConnection& operator=(const WireConnection&) = delete;

  // When set, a receive of a length prefix or of a body that waits longer than this closes the
  // connection and fails with `underlying` ("Connection timed out"). Each part gets its own
  // deadline, so a peer that keeps sending frames is never cut off however long it lives.
  void setIdleTimeout(std::optional<std::chrono::steady_clock::duration> timeout);
  std::optional<std::chrono::steady_clock::duration> idleTimeout() const { return idleTimeout_; }

  // Sends `bytes` as one frame: the prefix and the body go out in one gather write, the body is
  // not copied. `bytes` must stay valid until the send completes. Completes when the system has
  // taken the bytes, not when the peer has read them. A body over `maxFrameBytes` fails with
  // `oversize` before anything is written, and the connection stays usable.
  asio::awaitable<void> sendLengthPrefixed(ByteView bytes);

  // The body of the next frame. An announced length over `maxFrameBytes` fails with `oversize`
  // before any body byte is read (the stream is then mid-frame: close it). The end of the stream
  // before the frame is complete fails with `eof`; socket errors, including a `close()` while
  // waiting, fail with `underlying`.
  asio::awaitable<Bytes> receiveLengthPrefixed();
  // The same into `body`, reusing its capacity: a stream of large frames then needs no new
  // buffer per frame. The buffer still grows only with the bytes that arrive.
  asio::awaitable<void> receiveLengthPrefixed(Bytes& body);

  // Closes the socket; pending operations fail with `underlying`. Calling it again does nothing.
  void close();

  // Closes with a reset instead of an end of stream, so that a peer waiting for the orderly
  // close (a sender after Done) learns that the exchange failed.
  void abort();

  // Put in non-blocking mode by the first send or receive: use it only asynchronously.
  asio::ip::tcp::socket& socket() { return socket_; }

  // How far the body buffer grows next, holding `have` of `want` bytes: the first step is at most
  // `firstReceiveStep`, later steps double what has arrived, never past `want`. Memory thus
  // follows the bytes that really arrive rather than the length a peer announces.
  static std::size_t nextReceiveCapacity(std::size_t have, std::size_t want);

 private:
  using Deadline = std::optional<std::chrono::steady_clock::time_point>;

  Deadline partDeadline() const;
  asio::awaitable<void> sendRaw(std::array<asio::const_buffer, 2> buffers);
  // Exactly `count` bytes, read in steps of `nextReceiveCapacity` under one deadline.
  asio::awaitable<void> receiveExact(std::size_t count, Bytes& body);
  // Fills `into` completely or fails.
  asio::awaitable<void> fill(std::span<std::uint8_t> into, Deadline deadline);
  // What the system can take or give at once, without waiting: the bytes moved. Zero when the
  // socket cannot be made non-blocking, and once every `maxImmediateInARow` calls.
  std::size_t writeImmediately(const std::array<asio::const_buffer, 2>& buffers);
  std::size_t readImmediately(std::span<std::uint8_t> into);
  bool mayGoImmediately();

  asio::ip::tcp::socket socket_;
  asio::steady_timer idleTimer_;
  std::optional<std::chrono::steady_clock::duration> idleTimeout_;
  // Operations completed in a row without passing through the scheduler; see mayGoImmediately.
  int immediateInARow_ = 0;
  static constexpr int maxImmediateInARow = 16;
};

}  // namespace ferrytide
