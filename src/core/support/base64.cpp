#include "core/support/base64.h"

#include <openssl/evp.h>

#include <algorithm>

namespace ferrytide::base64 {

std::string encode(ByteView bytes) {
  std::string out(4 * ((bytes.size() + 2) / 3), '\0');
  int written = EVP_EncodeBlock(reinterpret_cast<unsigned char*>(out.data()), bytes.data(),
                                static_cast<int>(bytes.size()));
  out.resize(static_cast<std::size_t>(written));
  return out;
}

std::string encodeUrl(ByteView bytes) {
  std::string out = encode(bytes);
  while (!out.empty() && out.back() == '=') out.pop_back();
  std::replace(out.begin(), out.end(), '+', '-');
  std::replace(out.begin(), out.end(), '/', '_');
  return out;
}

namespace {
bool isAlphabet(char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '+' ||
         c == '/';
}

// Only the last one or two characters may be padding, and nothing follows it.
bool isWellFormed(std::string_view text) {
  if (text.size() % 4 != 0) return false;
  std::size_t padding = 0;
  if (!text.empty() && text.back() == '=') padding = (text[text.size() - 2] == '=') ? 2 : 1;
  std::string_view body = text.substr(0, text.size() - padding);
  return std::all_of(body.begin(), body.end(), isAlphabet);
}
}  // namespace

std::optional<Bytes> decode(std::string_view text) {
  if (!isWellFormed(text)) return std::nullopt;
  if (text.empty()) return Bytes{};
  Bytes out(text.size() / 4 * 3);
  int written = EVP_DecodeBlock(out.data(), reinterpret_cast<const unsigned char*>(text.data()),
                                static_cast<int>(text.size()));
  if (written < 0) return std::nullopt;
  std::size_t padding = static_cast<std::size_t>(std::count(text.end() - 2, text.end(), '='));
  out.resize(static_cast<std::size_t>(written) - padding);
  return out;
}

}  // namespace ferrytide::base64
