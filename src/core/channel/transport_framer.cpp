#include "core/channel/transport_framer.h"

#include <algorithm>
#include <array>
#include <stdexcept>

#include "core/channel/noise_error.h"
#include "core/support/crypto.h"
#include "core/support/json.h"

namespace ferrytide {

namespace {

// A frame's plaintext goes through the cipher in two pieces: a head of the type byte and the
// first bytes of the body, copied to or from a small buffer, and the rest of the body straight
// from the caller's buffer or into the returned one, so a large body is never copied. The head
// is 128 bytes rather than the type byte alone because OpenSSL's vectorised ChaCha20-Poly1305
// runs about 10% slower over the rest of a large frame when its first piece is 64 bytes or
// less (measured on 1 MiB frames); after a 128-byte head it is as fast as over one buffer.
constexpr std::size_t kHeadBytes = 128;
using Head = std::array<std::uint8_t, kHeadBytes>;

// Upper-case hexadecimal without leading zeros ("7", "AB").
std::string upperHex(std::uint8_t byte) {
  static constexpr char kDigits[] = "0123456789ABCDEF";
  std::string text;
  if (byte >= 0x10) text += kDigits[byte >> 4];
  text += kDigits[byte & 0x0F];
  return text;
}

}  // namespace

TransportFramer::Error TransportFramer::Error::plaintextTooLarge(std::size_t size) {
  return Error(Kind::plaintextTooLarge,
               "plaintext frame too large: " + std::to_string(size) + " bytes", size, 0, {});
}

TransportFramer::Error TransportFramer::Error::malformed(std::string text) {
  std::string description = "malformed frame: " + text;
  return Error(Kind::malformed, std::move(description), 0, 0, std::move(text));
}

TransportFramer::Error TransportFramer::Error::decrypt(std::string reason) {
  std::string description = "frame decrypt failed: " + reason;
  return Error(Kind::decrypt, std::move(description), 0, 0, std::move(reason));
}

TransportFramer::Error TransportFramer::Error::unknownType(std::uint8_t typeByte) {
  return Error(Kind::unknownType, "unknown type byte 0x" + upperHex(typeByte), 0, typeByte, {});
}

TransportFramer::TransportFramer(NoiseTransport session) : session_(std::move(session)) {
  // A frame's plaintext size is its ciphertext size minus the tag only under a key; a keyless
  // cipher state would pass frames through in clear.
  if (!session_.sendCipher().hasKey() || !session_.receiveCipher().hasKey()) {
    throw std::invalid_argument(
        "TransportFramer needs the keyed transport of a finished handshake");
  }
}

Bytes TransportFramer::encodeJSON(const TransportMessage& message) {
  std::string text = encodeMessage(message);
  return sealFrame(typeByteJSON, asBytes(text));
}

Bytes TransportFramer::encodeBinary(ByteView body) { return sealFrame(typeByteBinary, body); }

Bytes TransportFramer::sealFrame(std::uint8_t type, ByteView body) {
  std::size_t plaintextSize = body.size() + 1;
  if (plaintextSize > maxPlaintextBytes) throw Error::plaintextTooLarge(plaintextSize);
  Head head;
  head[0] = type;
  std::size_t inHead = std::min(body.size(), kHeadBytes - 1);
  std::copy_n(body.data(), inHead, head.data() + 1);
  return session_.sendCipher().encryptWithAD(
      {ByteView(head.data(), inHead + 1), body.subspan(inHead)}, {});
}

DecodedFrame TransportFramer::decode(ByteView body) {
  if (receiveFailed_) {
    throw Error::decrypt("an earlier frame on this connection failed to open");
  }
  // A body of at most one tag opens into nothing: the cipher state then reports a short frame,
  // or an authentic empty plaintext remains.
  Head head;
  Bytes frameBody;
  std::size_t inHead = 0;
  bool hasPlaintext = body.size() > crypto::kTagBytes;
  if (hasPlaintext) {
    frameBody.resize(body.size() - crypto::kTagBytes - 1);
    inHead = std::min(frameBody.size(), kHeadBytes - 1);
  }
  try {
    if (hasPlaintext) {
      session_.receiveCipher().decryptWithAD(body, {},
                                             {crypto::MutableByteView(head.data(), inHead + 1),
                                              crypto::MutableByteView(frameBody).subspan(inHead)});
    } else {
      session_.receiveCipher().decryptWithAD(body, {}, {});
    }
  } catch (const NoiseError& error) {
    receiveFailed_ = true;
    throw Error::decrypt(error.description());
  }
  if (!hasPlaintext) throw Error::malformed("empty plaintext");
  std::copy_n(head.data() + 1, inHead, frameBody.data());
  return decodeBody(head[0], std::move(frameBody));
}

DecodedFrame TransportFramer::decode(Bytes&& body) {
  if (receiveFailed_ || body.size() <= crypto::kTagBytes) return decode(ByteView(body));
  const std::size_t plaintextSize = body.size() - crypto::kTagBytes;
  try {
    session_.receiveCipher().decryptWithAD(body, {},
                                           {crypto::MutableByteView(body.data(), plaintextSize)});
  } catch (const NoiseError& error) {
    receiveFailed_ = true;
    throw Error::decrypt(error.description());
  }
  body.resize(plaintextSize);
  const std::uint8_t type = body.front();
  body.erase(body.begin());
  return decodeBody(type, std::move(body));
}

DecodedFrame TransportFramer::decodePlaintext(ByteView plaintext) {
  if (plaintext.empty()) throw Error::malformed("empty plaintext");
  return decodeBody(plaintext[0], Bytes(plaintext.begin() + 1, plaintext.end()));
}

DecodedFrame TransportFramer::decodeBody(std::uint8_t type, Bytes body) {
  if (type == typeByteBinary) return DecodedFrame::binary(std::move(body));
  if (type != typeByteJSON) throw Error::unknownType(type);
  try {
    return DecodedFrame::json(decodeMessage(body));
  } catch (const json::DecodeError& error) {
    throw Error::malformed("JSON decode: " + error.description());
  }
}

}  // namespace ferrytide
