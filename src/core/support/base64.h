#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "core/support/bytes.h"

namespace ferrytide::base64 {

// Standard alphabet with '=' padding, no line breaks.
std::string encode(ByteView bytes);

// The URL-safe form without padding (as in JSON Web Tokens): the standard encoding with "+"
// written as "-", "/" as "_", and the trailing "=" removed.
std::string encodeUrl(ByteView bytes);

// Strict: standard alphabet, padded to a multiple of four, no whitespace.
// Anything else gives nothing.
std::optional<Bytes> decode(std::string_view text);

}  // namespace ferrytide::base64
