// Frames between two ends of a real handshake.

#include "core/channel/transport_framer.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "core/channel/noise_handshake.h"
#include "core/support/crypto.h"
#include "core/support/json.h"

namespace ferrytide {
namespace {

// The two transports of a completed handshake: {initiator's, responder's}.
std::pair<NoiseTransport, NoiseTransport> handshake() {
  NoiseHandshake initiator(NoiseRole::initiator, crypto::X25519PrivateKey::generate());
  NoiseHandshake responder(NoiseRole::responder, crypto::X25519PrivateKey::generate());
  responder.readMessage(initiator.writeMessage());
  initiator.readMessage(responder.writeMessage());
  responder.readMessage(initiator.writeMessage());
  return {initiator.finalize(), responder.finalize()};
}

struct FramerPair {
  TransportFramer initiator;
  TransportFramer responder;
};

FramerPair connectedFramers() {
  auto [initiator, responder] = handshake();
  return {TransportFramer(std::move(initiator)), TransportFramer(std::move(responder))};
}

Bytes plaintext(std::uint8_t type, std::string_view body) {
  Bytes bytes(body.size() + 1, type);
  std::copy(body.begin(), body.end(), bytes.begin() + 1);
  return bytes;
}

bool startsWith(const std::string& text, const std::string& prefix) {
  return text.compare(0, prefix.size(), prefix) == 0;
}

// One message of each kind and the exact JSON a phone receives for it: compact, keys sorted,
// "type" holding the message's name, integers as integers, "/" and non-ASCII text unescaped.
const std::vector<std::pair<TransportMessage, std::string>>& wireCases() {
  static const std::vector<std::pair<TransportMessage, std::string>> cases = {
      {msg::FileOffer{"a/b.png", 4'294'967'296, "image/png", "4F1C"},
       R"({"mime":"image/png","name":"a/b.png","size":4294967296,"transfer_id":"4F1C","type":"FileOffer"})"},
      {msg::Resume{"4F1C", 9'007'199'254'740'993},
       R"({"accepted_offset":9007199254740993,"transfer_id":"4F1C","type":"Resume"})"},
      {msg::Done{}, R"({"type":"Done"})"},
      {msg::TokenUpdate{"x:y/z"}, R"({"peer_fcm_token":"x:y/z","type":"TokenUpdate"})"},
      {msg::Clipboard{"https://example.org/"},
       R"({"mime":"text/plain","text":"https://example.org/","type":"Clipboard"})"},
      {msg::Clipboard{"<b>", "text/html"},
       R"({"mime":"text/html","text":"<b>","type":"Clipboard"})"},
      {msg::SetName{"Zoë \"Z\""}, R"({"name":"Zoë \"Z\"","type":"SetName"})"},
      {msg::NameUpdate{"Ada’s phone ✓"}, R"({"name":"Ada’s phone ✓","type":"NameUpdate"})"},
      {msg::Unpair{}, R"({"type":"Unpair"})"},
      {msg::Decline{}, R"({"type":"Decline"})"},
  };
  return cases;
}

TEST(TransportFramerTest, JSONFramesCarryTheExactEncodingAndDecodeBack) {
  auto [initiator, responder] = handshake();
  TransportFramer framer(std::move(initiator));
  for (const auto& [message, json] : wireCases()) {
    SCOPED_TRACE(json);
    Bytes opened = responder.decrypt(framer.encodeJSON(message), {});
    EXPECT_EQ(toString(opened), toString(plaintext(TransportFramer::typeByteJSON, json)));
    EXPECT_EQ(TransportFramer::decodePlaintext(opened), DecodedFrame::json(message));
  }
}

TEST(TransportFramerTest, BinaryFramesCarryTheBodyAfterTypeByte2AndRoundTrip) {
  auto [initiator, responder] = handshake();
  TransportFramer framer(std::move(initiator));
  EXPECT_EQ(toHex(responder.decrypt(framer.encodeBinary(Bytes{0x00, 0xFF, 0x01, 0x7B}), {})),
            "0200ff017b");

  FramerPair pair = connectedFramers();
  Bytes chunk = crypto::randomBytes(1 << 20);
  for (auto [sender, receiver] :
       {std::pair{&pair.initiator, &pair.responder}, std::pair{&pair.responder, &pair.initiator}}) {
    // Around the 128-byte head that goes through the cipher apart from the rest of the body.
    for (std::size_t size : {0, 1, 126, 127, 128, 1 << 20}) {
      Bytes body(chunk.begin(), chunk.begin() + size);
      EXPECT_EQ(receiver->decode(sender->encodeBinary(body)), DecodedFrame::binary(body)) << size;
    }
  }
}

// Decoding reads "type", then that message's own keys; anything else is ignored.
TEST(TransportFramerTest, JSONDecodingFollowsTheMessageRules) {
  const std::vector<std::pair<std::string, TransportMessage>> cases = {
      {R"({"type":"Clipboard","text":"hi"})", msg::Clipboard{"hi", "text/plain"}},
      {R"({"text":"<b>","mime":"text/html","type":"Clipboard"})",
       msg::Clipboard{"<b>", "text/html"}},
      {R"({"type":"SetName","name":"N","size":"not a number","extra":[1,{}]})", msg::SetName{"N"}},
      {R"({"type":"Resume","transfer_id":"t","accepted_offset":-1})", msg::Resume{"t", -1}},
      {" \n{\"type\":\"Unpair\"}\t", msg::Unpair{}},
  };
  for (const auto& [json, expected] : cases) {
    SCOPED_TRACE(json);
    EXPECT_EQ(TransportFramer::decodePlaintext(plaintext(TransportFramer::typeByteJSON, json)),
              DecodedFrame::json(expected));
  }
}

// Every plaintext that opens but does not decode, through a real connection. The rows share one
// framer: a bad plaintext must not stop later frames from opening.
TEST(TransportFramerTest, BadPlaintextsAreReportedAndLeaveTheConnectionUsable) {
  struct Case {
    Bytes plaintext;
    std::string expectedPrefix;  // the whole text, except a JSON library's own parse message
  };
  const std::string json = "malformed frame: JSON decode: ";
  const std::vector<Case> cases = {
      {{}, "malformed frame: empty plaintext"},
      {{0x03, '{', '}'}, "unknown type byte 0x3"},
      {{0xAB}, "unknown type byte 0xAB"},
      {plaintext(0x01, ""), json + "[json.exception.parse_error"},
      {plaintext(0x01, "{\"type\":\"Done\"} trailing"), json + "[json.exception.parse_error"},
      {plaintext(0x01, "[1,2]"), json + "expected a JSON object"},
      {plaintext(0x01, R"({"name":"a"})"), json + R"(key "type" not found)"},
      {plaintext(0x01, R"({"type":7})"), json + R"(key "type" is not a string)"},
      {plaintext(0x01, R"({"type":"done"})"), json + R"(unknown message type "done")"},
      {plaintext(0x01, R"({"type":"Resume","transfer_id":"t"})"),
       json + R"(key "accepted_offset" not found)"},
      {plaintext(0x01,
                 R"({"type":"FileOffer","name":"a","size":"12","mime":"m","transfer_id":"t"})"),
       json + R"(key "size" is not a signed 64-bit integer)"},
      {plaintext(0x01, R"({"type":"Clipboard","text":"x","mime":5})"),
       json + R"(key "mime" is not a string)"},
      {plaintext(0x01, R"({"type":"TokenUpdate","peer_fcm_token":null})"),
       json + R"(key "peer_fcm_token" not found)"},
  };
  auto [initiator, responder] = handshake();
  TransportFramer framer(std::move(responder));
  for (const Case& row : cases) {
    SCOPED_TRACE(toHex(row.plaintext));
    try {
      framer.decode(initiator.encrypt(row.plaintext, {}));
      ADD_FAILURE() << "decoded without an error";
    } catch (const TransportFramer::Error& error) {
      EXPECT_TRUE(startsWith(error.what(), row.expectedPrefix)) << error.what();
      EXPECT_NE(error.kind(), TransportFramer::Error::Kind::decrypt);
    }
  }
  EXPECT_EQ(framer.decode(initiator.encrypt(plaintext(0x01, R"({"type":"Done"})"), {})),
            DecodedFrame::json(msg::Done{}));
}

TEST(TransportFramerTest, OversizedOrUnencodableFramesAreRefused) {
  FramerPair pair = connectedFramers();
  Bytes largest(TransportFramer::maxPlaintextBytes - 1, 0x5A);
  Bytes sealed = pair.initiator.encodeBinary(largest);
  EXPECT_EQ(sealed.size(), 16'777'232u);
  EXPECT_EQ(pair.responder.decode(sealed), DecodedFrame::binary(largest));

  largest.push_back(0x5A);
  try {
    pair.initiator.encodeBinary(largest);
    ADD_FAILURE() << "sealed a plaintext over the limit";
  } catch (const TransportFramer::Error& error) {
    EXPECT_EQ(error.kind(), TransportFramer::Error::Kind::plaintextTooLarge);
    EXPECT_EQ(error.size(), 16'777'217u);
    EXPECT_STREQ(error.what(), "plaintext frame too large: 16777217 bytes");
  }
  // Text that is not UTF-8 cannot be written as JSON; the encoder's error comes through.
  EXPECT_THROW(pair.initiator.encodeJSON(msg::Clipboard{"\xC3\x28"}), json::DecodeError);
  // The refused frames used no nonce: the next one still opens on the other side.
  EXPECT_EQ(pair.responder.decode(pair.initiator.encodeJSON(msg::Done{})),
            DecodedFrame::json(msg::Done{}));
}

// A frame that does not open puts the two sides' nonces out of step for good: it and every
// frame after it fail with a decrypt error.
TEST(TransportFramerTest, AFrameThatFailsToOpenBreaksTheConnection) {
  const std::string authFailure =
      "frame decrypt failed: noise decrypt failed: authentication failure";
  struct Case {
    const char* name;
    std::function<Bytes(FramerPair&)> badFrame;
    std::string expected;
  };
  const std::vector<Case> cases = {
      {"one bit of the ciphertext flipped",
       [](FramerPair& p) {
         Bytes frame = p.initiator.encodeJSON(msg::Done{});
         frame[3] ^= 0x10;
         return frame;
       },
       authFailure},
      {"shorter than a tag", [](FramerPair&) { return Bytes(15, 0); },
       "frame decrypt failed: noise message too short (expected \u2265 16, got 15)"},
      {"second frame arrives first",
       [](FramerPair& p) {
         p.initiator.encodeJSON(msg::Done{});
         return p.initiator.encodeJSON(msg::Done{});
       },
       authFailure},
  };
  for (const Case& row : cases) {
    SCOPED_TRACE(row.name);
    FramerPair pair = connectedFramers();
    ASSERT_EQ(pair.responder.decode(pair.initiator.encodeJSON(msg::Unpair{})),
              DecodedFrame::json(msg::Unpair{}));
    Bytes bad = row.badFrame(pair);
    Bytes good = pair.initiator.encodeJSON(msg::Decline{});
    for (const Bytes* frame : {&bad, &good, &good}) {
      try {
        pair.responder.decode(*frame);
        ADD_FAILURE() << "a frame opened after a failed one";
      } catch (const TransportFramer::Error& error) {
        EXPECT_EQ(error.kind(), TransportFramer::Error::Kind::decrypt);
        EXPECT_EQ(error.what(), frame == &bad ? row.expected
                                              : "frame decrypt failed: an earlier frame on this "
                                                "connection failed to open");
      }
    }
  }
}

}  // namespace
}  // namespace ferrytide
