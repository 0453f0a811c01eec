#pragma once

#include <asio.hpp>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "core/channel/noise_handshake.h"
#include "core/channel/transport_framer.h"
#include "core/channel/transport_message.h"
#include "core/channel/wire_connection.h"
#include "core/support/crypto.h"

namespace ferrytide::testing {

// A phone for tests of the receiving side: it connects, runs the handshake as Noise initiator
// with its own static key, and sends offers, chunks and messages. Every step is a call of its
// own, so that a test can stop the phone anywhere, even inside a frame.
//
// Coroutine rule (g++ 12): pass messages as named locals, never as temporaries made in the
// co_await expression (`msg::Done done; co_await phone.send(done);`).
class TestPhone {
 public:
  // The 1 MiB frames a real phone streams files in.
  static constexpr std::size_t defaultFrameBytes = 1'048'576;

  explicit TestPhone(crypto::X25519PrivateKey staticKey = crypto::X25519PrivateKey::generate(),
                     Bytes prologue = toBytes(kFerrytidePrologue));

  const crypto::X25519PublicKey& publicKey() const { return staticKey_.publicKey(); }

  // The TCP connection alone.
  asio::awaitable<void> connect(asio::ip::tcp::endpoint endpoint);
  // Handshake message 1 alone: a phone that stops halfway through.
  asio::awaitable<void> sendHandshakeMessage1();
  // The rest of the handshake (message 1 unless sent, 2 in, 3 out); frames are sealed after it.
  asio::awaitable<void> handshake();
  asio::awaitable<void> connectAndHandshake(asio::ip::tcp::endpoint endpoint);

  asio::awaitable<void> send(const TransportMessage& message);
  asio::awaitable<void> sendChunk(ByteView bytes);
  // Only the first `wireBytes` bytes of the chunk's frame as it goes on the wire, length prefix
  // included: a connection cut inside a frame.
  asio::awaitable<void> sendChunkCut(ByteView bytes, std::size_t wireBytes);
  // Likewise for a control message.
  asio::awaitable<void> sendMessageCut(const TransportMessage& message, std::size_t wireBytes);
  asio::awaitable<DecodedFrame> receive();

  // Sends the offer and returns the answer, which must be a Resume (std::runtime_error else).
  asio::awaitable<msg::Resume> offer(const msg::FileOffer& offer);
  // Sends content[from…] in frames whose sizes run through `frameSizes` round and round. With
  // `wireLimit`, stops once that many bytes are on the wire, cutting a frame where it falls.
  // True when all of the content went out.
  asio::awaitable<bool> stream(ByteView content, std::int64_t from,
                               std::span<const std::size_t> frameSizes,
                               std::optional<std::size_t> wireLimit = std::nullopt);
  // Offer, Resume, the content from the accepted offset in 1 MiB frames, Done.
  asio::awaitable<msg::Resume> sendFile(const msg::FileOffer& offer, ByteView content);

  // Stops sending and waits until the other side closes: all that was sent has then been
  // handled. Errors of a connection the other side has already dropped are ignored.
  asio::awaitable<void> hangUp();

  // Bytes on the wire of one chunk frame: prefix, type byte, body, tag.
  static std::size_t chunkWireBytes(std::size_t bodyBytes) {
    return WireConnection::lengthPrefixBytes + 1 + bodyBytes + crypto::kTagBytes;
  }

  WireConnection& wire() { return *wire_; }

 private:
  asio::awaitable<void> sendCut(const Bytes& sealed, std::size_t wireBytes);

  crypto::X25519PrivateKey staticKey_;
  Bytes prologue_;
  std::optional<WireConnection> wire_;
  std::optional<NoiseHandshake> handshake_;
  std::optional<TransportFramer> framer_;
};

}  // namespace ferrytide::testing
