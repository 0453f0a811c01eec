#pragma once

// The control messages of a connection. Each one travels as the body of a type-0x01 frame: one
// JSON object whose "type" member names the message, plus that message's own members and
// nothing else. Keys are sorted, output is compact, "/" is not escaped, numbers are integers.
//
// Decoding reads "type" first and then only that message's keys; any other member is ignored.
// Every field is required except Clipboard's "mime".

#include <cstdint>
#include <string>
#include <string_view>
#include <variant>

#include "core/support/bytes.h"

namespace ferrytide {

namespace msg {

// Opens a file transfer; sent by the side that has the file. `transfer_id` stays the same
// across resumed attempts of one file.
//   {"mime":"image/png","name":"cat.png","size":52311,"transfer_id":"4F1C…","type":"FileOffer"}
struct FileOffer {
  static constexpr std::string_view typeName = "FileOffer";
  std::string name;
  std::int64_t size = 0;
  std::string mime;
  std::string transfer_id;
  bool operator==(const FileOffer&) const = default;
};

// The receiving side accepts an offer; the sender continues from this byte (0 for a fresh file).
//   {"accepted_offset":0,"transfer_id":"4F1C…","type":"Resume"}
struct Resume {
  static constexpr std::string_view typeName = "Resume";
  std::string transfer_id;
  std::int64_t accepted_offset = 0;
  bool operator==(const Resume&) const = default;
};

// The sending side has sent its last binary frame.
//   {"type":"Done"}
struct Done {
  static constexpr std::string_view typeName = "Done";
  bool operator==(const Done&) const = default;
};

// Phone to computer: the phone's current push registration token.
//   {"peer_fcm_token":"dQw4…","type":"TokenUpdate"}
struct TokenUpdate {
  static constexpr std::string_view typeName = "TokenUpdate";
  std::string peer_fcm_token;
  bool operator==(const TokenUpdate&) const = default;
};

// Clipboard text for the other side. "mime" may be absent on receipt and then means text/plain.
//   {"mime":"text/plain","text":"https://example.org/a/b","type":"Clipboard"}
struct Clipboard {
  static constexpr std::string_view typeName = "Clipboard";
  std::string text;
  std::string mime = "text/plain";
  bool operator==(const Clipboard&) const = default;
};

// Phone to computer: a name the phone announces for itself. Reported, not acted on.
//   {"name":"Ada's phone","type":"SetName"}
struct SetName {
  static constexpr std::string_view typeName = "SetName";
  std::string name;
  bool operator==(const SetName&) const = default;
};

// Phone to computer: likewise a name the phone announces. Reported, not acted on.
//   {"name":"Ada's phone","type":"NameUpdate"}
struct NameUpdate {
  static constexpr std::string_view typeName = "NameUpdate";
  std::string name;
  bool operator==(const NameUpdate&) const = default;
};

// Either side: the sender has forgotten this pairing (also the answer of a side that already has).
//   {"type":"Unpair"}
struct Unpair {
  static constexpr std::string_view typeName = "Unpair";
  bool operator==(const Unpair&) const = default;
};

// The receiving side refuses a file offer.
//   {"type":"Decline"}
struct Decline {
  static constexpr std::string_view typeName = "Decline";
  bool operator==(const Decline&) const = default;
};

}  // namespace msg

using TransportMessage =
    std::variant<msg::FileOffer, msg::Resume, msg::Done, msg::TokenUpdate, msg::Clipboard,
                 msg::SetName, msg::NameUpdate, msg::Unpair, msg::Decline>;

// The "type" value of a message ("FileOffer", "Done", …), for logs and errors.
std::string_view messageTypeName(const TransportMessage& message);

// The JSON text of a message. Throws json::DecodeError when a text field is not valid UTF-8.
std::string encodeMessage(const TransportMessage& message);

// Parses one message from JSON text. Throws json::DecodeError when the bytes are not JSON, not
// an object, name an unknown "type", or lack a required member or hold one of the wrong type.
TransportMessage decodeMessage(ByteView jsonText);

}  // namespace ferrytide
