#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <utility>
#include <variant>

#include "core/channel/noise_transport.h"
#include "core/channel/transport_message.h"
#include "core/support/bytes.h"
#include "core/support/error.h"

namespace ferrytide {

// What one opened frame turned out to be: a control message (type 0x01) or a chunk of binary
// content (type 0x02, possibly empty).
class DecodedFrame {
 public:
  static DecodedFrame json(TransportMessage message) {
    return DecodedFrame(std::in_place_index<0>, std::move(message));
  }
  static DecodedFrame binary(Bytes body) {
    return DecodedFrame(std::in_place_index<1>, std::move(body));
  }

  // Null when the frame is of the other kind.
  const TransportMessage* asJSON() const { return std::get_if<0>(&content_); }
  const Bytes* asBinary() const { return std::get_if<1>(&content_); }
  Bytes* asBinary() { return std::get_if<1>(&content_); }

  bool operator==(const DecodedFrame&) const = default;

 private:
  template <std::size_t Index, typename Value>
  DecodedFrame(std::in_place_index_t<Index> index, Value&& value)
      : content_(index, std::forward<Value>(value)) {}

  std::variant<TransportMessage, Bytes> content_;
};

// Seals messages into frames and opens received frames, with the cipher states of one
// connection's finished handshake. It does no I/O: each result of encodeJSON/encodeBinary is
// one wire frame body to send, and each received wire frame body goes to decode().
//
// Frame plaintext: one type byte, then the body. Sealed frame: ChaCha20-Poly1305 ciphertext of
// the plaintext followed by the 16-byte tag, with empty associated data. Every seal and every
// open consumes the next nonce of its direction, so frames are sealed in the order they are
// sent and opened in the order they arrive. A frame that fails to open leaves the two sides'
// nonces out of step: from then on every decode fails without trying.
//
// One framer per connection, used from one task.
class TransportFramer {
 public:
  static constexpr std::size_t maxPlaintextBytes = 16'777'216;  // the type byte included
  static constexpr std::uint8_t typeByteJSON = 0x01;
  static constexpr std::uint8_t typeByteBinary = 0x02;

  class Error : public ferrytide::Error {
   public:
    enum class Kind { plaintextTooLarge, malformed, decrypt, unknownType };

    // "plaintext frame too large: N bytes"; N counts the type byte.
    static Error plaintextTooLarge(std::size_t size);
    // "malformed frame: " + text
    static Error malformed(std::string text);
    // "frame decrypt failed: " + reason
    static Error decrypt(std::string reason);
    // "unknown type byte 0x" + the byte in upper-case hex without leading zeros
    static Error unknownType(std::uint8_t typeByte);

    Kind kind() const { return kind_; }
    // plaintextTooLarge's size; 0 otherwise.
    std::size_t size() const { return size_; }
    // unknownType's byte; 0 otherwise.
    std::uint8_t typeByte() const { return typeByte_; }
    // malformed's text or decrypt's reason; empty otherwise.
    const std::string& detail() const { return detail_; }

   private:
    Error(Kind kind, std::string description, std::size_t size, std::uint8_t typeByte,
          std::string detail)
        : ferrytide::Error(std::move(description)),
          kind_(kind),
          size_(size),
          typeByte_(typeByte),
          detail_(std::move(detail)) {}

    Kind kind_;
    std::size_t size_;
    std::uint8_t typeByte_;
    std::string detail_;
  };

  // Takes the transport of a finished handshake; both of its cipher states must hold a key
  // (std::invalid_argument otherwise, which only a programming error can cause).
  explicit TransportFramer(NoiseTransport session);

  // A sealed type-0x01 frame carrying the message as JSON. Throws Error::plaintextTooLarge, or
  // json::DecodeError when a text of the message is not valid UTF-8.
  Bytes encodeJSON(const TransportMessage& message);
  // A sealed type-0x02 frame carrying `body`. Throws Error::plaintextTooLarge.
  Bytes encodeBinary(ByteView body);

  // Opens one received frame body. Throws Error (decrypt, malformed or unknownType).
  DecodedFrame decode(ByteView body);
  // The same, opening the body in its own buffer: a binary frame's body is that buffer, which
  // the caller may hand back to the next receive instead of allocating a new one per frame.
  DecodedFrame decode(Bytes&& body);

  // The plaintext step of decode(), on its own: type byte, then binary body or JSON message.
  // Throws Error::malformed or Error::unknownType.
  static DecodedFrame decodePlaintext(ByteView plaintext);

  const NoiseTransport& session() const { return session_; }

 private:
  Bytes sealFrame(std::uint8_t type, ByteView body);
  static DecodedFrame decodeBody(std::uint8_t type, Bytes body);

  NoiseTransport session_;
  bool receiveFailed_ = false;
};

}  // namespace ferrytide
