#pragma once

// The one place that knows the JSON library. Output is compact with keys in ascending order and
// "/" left unescaped, which is what the phones and the stored files expect.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include <nlohmann/json.hpp>

#include "core/support/bytes.h"
#include "core/support/error.h"

namespace ferrytide::json {

using Value = nlohmann::json;

// A document that is not JSON, or JSON of the wrong shape. The description says which.
class DecodeError : public Error {
 public:
  using Error::Error;
};

// Compact, sorted keys, unescaped "/", UTF-8 kept as is. Throws DecodeError on text that is
// not valid UTF-8 (it cannot be written as JSON).
std::string encodeCompact(const Value& value);
// The same, indented by two spaces per level, for files people may open.
std::string encodePretty(const Value& value);

Value parse(std::string_view text);
Value parse(ByteView bytes);

// Field readers for decoding a JSON object: a missing key or a value of another JSON type
// throws DecodeError naming the key.
const Value& requireObject(const Value& value);
std::string requireString(const Value& object, std::string_view key);
std::int64_t requireInt64(const Value& object, std::string_view key);
const Value& requireArray(const Value& object, std::string_view key);
std::optional<std::string> optionalString(const Value& object, std::string_view key);
std::optional<std::int64_t> optionalInt64(const Value& object, std::string_view key);

}  // namespace ferrytide::json
