#include "core/peers/pair_code.h"

#include <array>
#include <cstdint>
#include <cstdio>
#include <limits>

#include "core/support/bytes.h"
#include "core/support/crypto.h"

namespace ferrytide::PairCode {

namespace {
constexpr std::uint32_t kCodeCount = 10000;
// 4294960000: every remainder below 10000 is equally likely among the draws under it.
constexpr std::uint32_t kAcceptedLimit =
    std::numeric_limits<std::uint32_t>::max() / kCodeCount * kCodeCount;
}  // namespace

std::string generate() { return generate(&crypto::fillRandom); }

std::string generate(const RandomFill& random) {
  std::uint32_t value = 0;
  do {
    std::array<std::uint8_t, 4> bytes{};
    random(bytes);
    value = (std::uint32_t{bytes[0]} << 24) | (std::uint32_t{bytes[1]} << 16) |
            (std::uint32_t{bytes[2]} << 8) | std::uint32_t{bytes[3]};
  } while (value >= kAcceptedLimit);

  char code[5];
  std::snprintf(code, sizeof code, "%04u", static_cast<unsigned>(value % kCodeCount));
  return code;
}

std::string hash(std::string_view code, std::string_view pubkey) {
  std::string text = "ferrytide-pair:";
  text += code;
  text += ':';
  text += pubkey;
  return toHex(crypto::sha256(asBytes(text))).substr(0, 16);
}

}  // namespace ferrytide::PairCode
