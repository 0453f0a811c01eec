#include "core/peers/pair_wire.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace ferrytide {
namespace {

TEST(PairWireTest, FramesCarryABigEndianLengthThatParsesBack) {
  for (std::size_t size : {0u, 1u, 300u, 65535u, 65536u}) {
    Bytes payload(size, 0xab);
    Bytes frame = PairWire::encodeFrame(payload);
    ASSERT_EQ(frame.size(), PairWire::lengthPrefixBytes + size);
    EXPECT_EQ(PairWire::parseLengthPrefix(frame), size);
    EXPECT_TRUE(std::equal(payload.begin(), payload.end(), frame.begin() + 4)) << size;
  }
  EXPECT_EQ(toHex(PairWire::encodeFrame(Bytes(300, 0))).substr(0, 8), "0000012c");
}

TEST(PairWireTest, PayloadAboveTheCapIsNotFramed) {
  try {
    PairWire::encodeFrame(Bytes(65537, 0));
    ADD_FAILURE() << "65537-byte payload was framed";
  } catch (const PairWire::Error& error) {
    EXPECT_EQ(error.kind(), PairWire::Error::Kind::frameTooLarge);
    EXPECT_STREQ(error.what(), "pair frame size 65537 exceeds 65536");
  }
}

TEST(PairWireTest, HostileLengthPrefixesFailWithTheirError) {
  struct Case {
    const char* hex;
    std::string expected;
  };
  const std::vector<Case> cases = {
      {"", "pair frame shorter than length prefix"},
      {"000001", "pair frame shorter than length prefix"},
      {"00010001", "pair frame size 65537 exceeds 65536"},
      {"80000000", "pair frame size 2147483648 exceeds 65536"},
      {"ffffffff", "pair frame size 4294967295 exceeds 65536"},
  };
  for (const auto& c : cases) {
    try {
      auto length = PairWire::parseLengthPrefix(*fromHex(c.hex));
      ADD_FAILURE() << c.hex << " parsed as " << length;
    } catch (const PairWire::Error& error) {
      EXPECT_EQ(error.what(), c.expected) << c.hex;
    }
  }
}

TEST(PairWireTest, PrefixIsReadFromTheFirstFourBytesOnly) {
  EXPECT_EQ(PairWire::parseLengthPrefix(*fromHex("00010000ffff")), 65536u);
  EXPECT_EQ(PairWire::parseLengthPrefix(*fromHex("00000000")), 0u);
}

}  // namespace
}  // namespace ferrytide
