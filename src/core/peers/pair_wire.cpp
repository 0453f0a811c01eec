#include "core/peers/pair_wire.h"

#include <algorithm>
#include <string>

namespace ferrytide {

PairWire::Error PairWire::Error::frameTooLarge(std::uint64_t size) {
  return Error(Kind::frameTooLarge, "pair frame size " + std::to_string(size) + " exceeds " +
                                        std::to_string(maxFrameBytes));
}

PairWire::Error PairWire::Error::frameTooShort() {
  return Error(Kind::frameTooShort, "pair frame shorter than length prefix");
}

Bytes PairWire::encodeFrame(ByteView payload) {
  if (payload.size() > maxFrameBytes) throw Error::frameTooLarge(payload.size());
  const auto length = static_cast<std::uint32_t>(payload.size());
  Bytes frame(lengthPrefixBytes + payload.size());
  for (std::size_t i = 0; i < lengthPrefixBytes; ++i) {
    frame[i] = static_cast<std::uint8_t>(length >> (8 * (lengthPrefixBytes - 1 - i)));
  }
  std::copy(payload.begin(), payload.end(), frame.begin() + lengthPrefixBytes);
  return frame;
}

std::uint32_t PairWire::parseLengthPrefix(ByteView bytes) {
  if (bytes.size() < lengthPrefixBytes) throw Error::frameTooShort();
  std::uint32_t length = 0;
  for (std::size_t i = 0; i < lengthPrefixBytes; ++i) length = (length << 8) | bytes[i];
  if (length > maxFrameBytes) throw Error::frameTooLarge(length);
  return length;
}

}  // namespace ferrytide
