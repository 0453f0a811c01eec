#pragma once

#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <string_view>

namespace ferrytide::PairCode {

// The DNS-SD service type under which a pairing computer advertises itself.
inline constexpr std::string_view serviceType = "_ferrytide-pair._tcp.";

// Fills its buffer with random bytes (or throws).
using RandomFill = std::function<void(std::span<std::uint8_t>)>;

// Four decimal digits, "0000" to "9999", uniform over the 10000 codes: four random bytes are
// read as a big-endian number, draws at or above the largest multiple of 10000 that fits in
// 32 bits are thrown away, and the code is the remainder of the first draw kept.
std::string generate();
std::string generate(const RandomFill& random);

// The first 16 lower-case hex digits of SHA-256("ferrytide-pair:" + code + ":" + pubkey), where
// `pubkey` is the Base64 text of the computer's public key.
std::string hash(std::string_view code, std::string_view pubkey);

}  // namespace ferrytide::PairCode
