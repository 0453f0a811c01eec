#include "support/test_phone.h"

#include <algorithm>
#include <array>
#include <asio/experimental/as_tuple.hpp>
#include <stdexcept>
#include <string>

// g++ 12's false -Wmismatched-new-delete on Asio coroutine frames (see receive_transfer.cpp).
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
#endif

namespace ferrytide::testing {

namespace {
constexpr auto asTuple = asio::experimental::as_tuple(asio::use_awaitable);
}

TestPhone::TestPhone(crypto::X25519PrivateKey staticKey, Bytes prologue)
    : staticKey_(std::move(staticKey)), prologue_(std::move(prologue)) {}

asio::awaitable<void> TestPhone::connect(asio::ip::tcp::endpoint endpoint) {
  asio::ip::tcp::socket socket(co_await asio::this_coro::executor);
  co_await socket.async_connect(endpoint, asio::use_awaitable);
  wire_.emplace(std::move(socket));
}

asio::awaitable<void> TestPhone::sendHandshakeMessage1() {
  handshake_.emplace(NoiseRole::initiator, staticKey_, prologue_);
  Bytes message1 = handshake_->writeMessage();
  co_await wire_->sendLengthPrefixed(message1);
}

asio::awaitable<void> TestPhone::handshake() {
  if (!handshake_) co_await sendHandshakeMessage1();
  Bytes message2 = co_await wire_->receiveLengthPrefixed();
  handshake_->readMessage(message2);
  Bytes message3 = handshake_->writeMessage();
  co_await wire_->sendLengthPrefixed(message3);
  framer_.emplace(handshake_->finalize());
}

asio::awaitable<void> TestPhone::connectAndHandshake(asio::ip::tcp::endpoint endpoint) {
  co_await connect(endpoint);
  co_await handshake();
}

asio::awaitable<void> TestPhone::send(const TransportMessage& message) {
  Bytes frame = framer_->encodeJSON(message);
  co_await wire_->sendLengthPrefixed(frame);
}

asio::awaitable<void> TestPhone::sendChunk(ByteView bytes) {
  Bytes frame = framer_->encodeBinary(bytes);
  co_await wire_->sendLengthPrefixed(frame);
}

asio::awaitable<void> TestPhone::sendChunkCut(ByteView bytes, std::size_t wireBytes) {
  const Bytes sealed = framer_->encodeBinary(bytes);
  co_await sendCut(sealed, wireBytes);
}

asio::awaitable<void> TestPhone::sendMessageCut(const TransportMessage& message,
                                                std::size_t wireBytes) {
  const Bytes sealed = framer_->encodeJSON(message);
  co_await sendCut(sealed, wireBytes);
}

asio::awaitable<void> TestPhone::sendCut(const Bytes& sealed, std::size_t wireBytes) {
  const auto length = static_cast<std::uint32_t>(sealed.size());
  Bytes onWire(WireConnection::lengthPrefixBytes + sealed.size());
  for (std::size_t i = 0; i < WireConnection::lengthPrefixBytes; ++i) {
    onWire[i] = static_cast<std::uint8_t>(length >> (8 * (3 - i)));
  }
  std::copy(sealed.begin(), sealed.end(), onWire.begin() + WireConnection::lengthPrefixBytes);
  onWire.resize(std::min(wireBytes, onWire.size()));
  co_await asio::async_write(wire_->socket(), asio::buffer(onWire), asio::use_awaitable);
}

asio::awaitable<DecodedFrame> TestPhone::receive() {
  Bytes body = co_await wire_->receiveLengthPrefixed();
  co_return framer_->decode(body);
}

asio::awaitable<msg::Resume> TestPhone::offer(const msg::FileOffer& offer) {
  const TransportMessage message = offer;
  co_await send(message);
  const DecodedFrame answer = co_await receive();
  const TransportMessage* reply = answer.asJSON();
  if (reply == nullptr) throw std::runtime_error("expected Resume, got a binary frame");
  if (const auto* resume = std::get_if<msg::Resume>(reply)) co_return *resume;
  throw std::runtime_error("expected Resume, got " + std::string(messageTypeName(*reply)));
}

asio::awaitable<bool> TestPhone::stream(ByteView content, std::int64_t from,
                                        std::span<const std::size_t> frameSizes,
                                        std::optional<std::size_t> wireLimit) {
  std::size_t position = static_cast<std::size_t>(from);
  std::size_t onWire = 0;
  for (std::size_t frame = 0; position < content.size(); ++frame) {
    const std::size_t size =
        std::min(frameSizes[frame % frameSizes.size()], content.size() - position);
    const ByteView chunk = content.subspan(position, size);
    const std::size_t frameWire = chunkWireBytes(size);
    if (wireLimit && onWire + frameWire > *wireLimit) {
      if (*wireLimit > onWire) co_await sendChunkCut(chunk, *wireLimit - onWire);
      co_return false;
    }
    co_await sendChunk(chunk);
    onWire += frameWire;
    position += size;
  }
  co_return true;
}

asio::awaitable<msg::Resume> TestPhone::sendFile(const msg::FileOffer& fileOffer,
                                                 ByteView content) {
  const msg::Resume resume = co_await offer(fileOffer);
  const std::array<std::size_t, 1> frameSizes = {defaultFrameBytes};
  co_await stream(content, resume.accepted_offset, frameSizes);
  const TransportMessage done = msg::Done{};
  co_await send(done);
  co_return resume;
}

asio::awaitable<void> TestPhone::hangUp() {
  if (!wire_) co_return;
  asio::ip::tcp::socket& socket = wire_->socket();
  asio::error_code ignored;
  socket.shutdown(asio::socket_base::shutdown_send, ignored);
  std::array<std::uint8_t, 4096> sink{};
  for (;;) {
    [[maybe_unused]] auto [error, read] =
        co_await socket.async_read_some(asio::buffer(sink), asTuple);
    if (error) break;
  }
  wire_->close();
}

}  // namespace ferrytide::testing
