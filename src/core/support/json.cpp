#include "core/support/json.h"

#include <limits>

namespace ferrytide::json {

std::string encodeCompact(const Value& value) {
  try {
    return value.dump(-1, ' ', false, nlohmann::json::error_handler_t::strict);
  } catch (const nlohmann::json::exception& error) {
    throw DecodeError(error.what());
  }
}

std::string encodePretty(const Value& value) {
  try {
    return value.dump(2, ' ', false, nlohmann::json::error_handler_t::strict);
  } catch (const nlohmann::json::exception& error) {
    throw DecodeError(error.what());
  }
}

Value parse(std::string_view text) {
  try {
    return Value::parse(text.begin(), text.end());
  } catch (const nlohmann::json::exception& error) {
    throw DecodeError(error.what());
  }
}

Value parse(ByteView bytes) {
  try {
    return Value::parse(bytes.begin(), bytes.end());
  } catch (const nlohmann::json::exception& error) {
    throw DecodeError(error.what());
  }
}

const Value& requireObject(const Value& value) {
  if (!value.is_object()) throw DecodeError("expected a JSON object");
  return value;
}

namespace {
const Value* find(const Value& object, std::string_view key) {
  auto it = requireObject(object).find(key);
  return it == object.end() ? nullptr : &*it;
}

const Value& require(const Value& object, std::string_view key) {
  const Value* value = find(object, key);
  if (value == nullptr || value->is_null()) {
    throw DecodeError("key \"" + std::string(key) + "\" not found");
  }
  return *value;
}

[[noreturn]] void wrongType(std::string_view key, const char* expected) {
  throw DecodeError("key \"" + std::string(key) + "\" is not " + expected);
}

std::string asString(const Value& value, std::string_view key) {
  if (!value.is_string()) wrongType(key, "a string");
  return value.get<std::string>();
}

std::int64_t asInt64(const Value& value, std::string_view key) {
  if (value.is_number_integer() && !value.is_number_unsigned()) return value.get<std::int64_t>();
  if (value.is_number_unsigned()) {
    auto unsignedValue = value.get<std::uint64_t>();
    if (unsignedValue <= static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max())) {
      return static_cast<std::int64_t>(unsignedValue);
    }
  }
  wrongType(key, "a signed 64-bit integer");
}
}  // namespace

std::string requireString(const Value& object, std::string_view key) {
  return asString(require(object, key), key);
}

std::int64_t requireInt64(const Value& object, std::string_view key) {
  return asInt64(require(object, key), key);
}

const Value& requireArray(const Value& object, std::string_view key) {
  const Value& value = require(object, key);
  if (!value.is_array()) wrongType(key, "an array");
  return value;
}

std::optional<std::string> optionalString(const Value& object, std::string_view key) {
  const Value* value = find(object, key);
  if (value == nullptr || value->is_null()) return std::nullopt;
  return asString(*value, key);
}

std::optional<std::int64_t> optionalInt64(const Value& object, std::string_view key) {
  const Value* value = find(object, key);
  if (value == nullptr || value->is_null()) return std::nullopt;
  return asInt64(*value, key);
}

}  // namespace ferrytide::json
