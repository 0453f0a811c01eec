#pragma once

#include <cstddef>
#include <cstdint>

#include "core/support/bytes.h"
#include "core/support/error.h"

namespace ferrytide {

// The one frame a phone sends while pairing, and the only bytes on that connection:
// N (4 bytes, unsigned, big-endian) followed by N bytes of sealed introduction, N ≤ 65536.
class PairWire {
 public:
  static constexpr std::size_t maxFrameBytes = 65536;
  static constexpr std::size_t lengthPrefixBytes = 4;

  class Error : public ferrytide::Error {
   public:
    enum class Kind { frameTooLarge, frameTooShort };

    static Error frameTooLarge(std::uint64_t size);
    static Error frameTooShort();

    Kind kind() const { return kind_; }

   private:
    Error(Kind kind, std::string description)
        : ferrytide::Error(std::move(description)), kind_(kind) {}
    Kind kind_;
  };

  // Throws Error::frameTooLarge for a payload above 65536 bytes.
  static Bytes encodeFrame(ByteView payload);

  // The length announced by the first 4 bytes. Throws Error::frameTooShort for fewer than 4
  // bytes and Error::frameTooLarge for a length above 65536.
  static std::uint32_t parseLengthPrefix(ByteView bytes);
};

}  // namespace ferrytide
