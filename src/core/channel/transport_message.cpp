#include "core/channel/transport_message.h"

#include <string>
#include <type_traits>
#include <utility>

#include "core/support/json.h"

namespace ferrytide {

namespace {

// Each message's own members, both ways. "type" is handled once, by the callers below.

void writeFields(const msg::FileOffer& m, json::Value& out) {
  out["name"] = m.name;
  out["size"] = m.size;
  out["mime"] = m.mime;
  out["transfer_id"] = m.transfer_id;
}
void readFields(const json::Value& in, msg::FileOffer& m) {
  m.name = json::requireString(in, "name");
  m.size = json::requireInt64(in, "size");
  m.mime = json::requireString(in, "mime");
  m.transfer_id = json::requireString(in, "transfer_id");
}

void writeFields(const msg::Resume& m, json::Value& out) {
  out["transfer_id"] = m.transfer_id;
  out["accepted_offset"] = m.accepted_offset;
}
void readFields(const json::Value& in, msg::Resume& m) {
  m.transfer_id = json::requireString(in, "transfer_id");
  m.accepted_offset = json::requireInt64(in, "accepted_offset");
}

void writeFields(const msg::TokenUpdate& m, json::Value& out) {
  out["peer_fcm_token"] = m.peer_fcm_token;
}
void readFields(const json::Value& in, msg::TokenUpdate& m) {
  m.peer_fcm_token = json::requireString(in, "peer_fcm_token");
}

void writeFields(const msg::Clipboard& m, json::Value& out) {
  out["text"] = m.text;
  out["mime"] = m.mime;
}
void readFields(const json::Value& in, msg::Clipboard& m) {
  m.text = json::requireString(in, "text");
  if (auto mime = json::optionalString(in, "mime")) m.mime = std::move(*mime);
}

void writeFields(const msg::SetName& m, json::Value& out) { out["name"] = m.name; }
void readFields(const json::Value& in, msg::SetName& m) {
  m.name = json::requireString(in, "name");
}

void writeFields(const msg::NameUpdate& m, json::Value& out) { out["name"] = m.name; }
void readFields(const json::Value& in, msg::NameUpdate& m) {
  m.name = json::requireString(in, "name");
}

// Done, Unpair and Decline carry nothing but their type.
template <typename Empty>
void writeFields(const Empty&, json::Value&) {}
template <typename Empty>
void readFields(const json::Value&, Empty&) {}

// Tries each alternative of the variant in turn until one's type name matches.
template <std::size_t Index = 0>
TransportMessage decodeAs(std::string_view type, const json::Value& object) {
  if constexpr (Index == std::variant_size_v<TransportMessage>) {
    throw json::DecodeError("unknown message type \"" + std::string(type) + "\"");
  } else {
    using Case = std::variant_alternative_t<Index, TransportMessage>;
    if (type != Case::typeName) return decodeAs<Index + 1>(type, object);
    Case message;
    readFields(object, message);
    return message;
  }
}

}  // namespace

std::string_view messageTypeName(const TransportMessage& message) {
  return std::visit([](const auto& m) { return std::remove_cvref_t<decltype(m)>::typeName; },
                    message);
}

std::string encodeMessage(const TransportMessage& message) {
  json::Value object = json::Value::object();
  std::visit(
      [&object](const auto& m) {
        writeFields(m, object);
        object["type"] = std::string(std::remove_cvref_t<decltype(m)>::typeName);
      },
      message);
  return json::encodeCompact(object);
}

TransportMessage decodeMessage(ByteView jsonText) {
  json::Value object = json::parse(jsonText);
  std::string type = json::requireString(object, "type");
  return decodeAs(type, object);
}

}  // namespace ferrytide
