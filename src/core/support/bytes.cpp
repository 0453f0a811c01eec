#include "core/support/bytes.h"

namespace ferrytide {

Bytes toBytes(std::string_view text) { return Bytes(text.begin(), text.end()); }

std::string toString(ByteView bytes) { return std::string(bytes.begin(), bytes.end()); }

ByteView asBytes(std::string_view text) {
  return {reinterpret_cast<const std::uint8_t*>(text.data()), text.size()};
}

std::string toHex(ByteView bytes) {
  static constexpr char kDigits[] = "0123456789abcdef";
  std::string out;
  out.reserve(bytes.size() * 2);
  for (std::uint8_t byte : bytes) {
    out.push_back(kDigits[byte >> 4]);
    out.push_back(kDigits[byte & 0x0F]);
  }
  return out;
}

namespace {
int hexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}
}  // namespace

std::optional<Bytes> fromHex(std::string_view hex) {
  if (hex.size() % 2 != 0) return std::nullopt;
  Bytes out;
  out.reserve(hex.size() / 2);
  for (std::size_t i = 0; i < hex.size(); i += 2) {
    int high = hexValue(hex[i]);
    int low = hexValue(hex[i + 1]);
    if (high < 0 || low < 0) return std::nullopt;
    out.push_back(static_cast<std::uint8_t>(high << 4 | low));
  }
  return out;
}

Bytes concat(std::initializer_list<ByteView> parts) {
  std::size_t total = 0;
  for (ByteView part : parts) total += part.size();
  Bytes out;
  out.reserve(total);
  for (ByteView part : parts) out.insert(out.end(), part.begin(), part.end());
  return out;
}

}  // namespace ferrytide
