#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace ferrytide {

using Bytes = std::vector<std::uint8_t>;
using ByteView = std::span<const std::uint8_t>;

// The bytes of a text, unchanged (UTF-8 stays UTF-8).
Bytes toBytes(std::string_view text);
std::string toString(ByteView bytes);
ByteView asBytes(std::string_view text);

// Lower-case hexadecimal, two digits a byte.
std::string toHex(ByteView bytes);
// Accepts upper and lower case; nothing on odd length or a non-hex digit.
std::optional<Bytes> fromHex(std::string_view hex);

Bytes concat(std::initializer_list<ByteView> parts);

}  // namespace ferrytide
