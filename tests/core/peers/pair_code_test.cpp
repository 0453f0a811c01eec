#include "core/peers/pair_code.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

namespace ferrytide {
namespace {

// Hands out the given 32-bit draws, big-endian, one per call, and counts the calls.
struct ScriptedRandom {
  std::vector<std::uint32_t> draws;
  std::size_t used = 0;

  PairCode::RandomFill fill() {
    return [this](std::span<std::uint8_t> out) {
      ASSERT_EQ(out.size(), 4u);
      ASSERT_LT(used, draws.size()) << "more draws than scripted";
      std::uint32_t value = draws[used++];
      for (int i = 3; i >= 0; --i, value >>= 8) out[static_cast<std::size_t>(i)] = value & 0xff;
    };
  }
};

bool isFourDigits(const std::string& code) {
  return code.size() == 4 && code.find_first_not_of("0123456789") == std::string::npos;
}

TEST(PairCodeTest, MapsAnAcceptedDrawToItsRemainderWithLeadingZeros) {
  struct Case {
    std::uint32_t draw;
    const char* code;
  };
  for (const Case& c :
       {Case{7, "0007"}, Case{0, "0000"}, Case{10042, "0042"}, Case{4294959999u, "9999"}}) {
    ScriptedRandom random{{c.draw}};
    EXPECT_EQ(PairCode::generate(random.fill()), c.code) << c.draw;
    EXPECT_EQ(random.used, 1u);
  }
}

TEST(PairCodeTest, DrawsAtOrAboveTheLargestMultipleOfTenThousandAreDiscarded) {
  // 4294960000 = 429496 * 10000 is the first value whose remainder would favour low codes.
  ScriptedRandom random{{4294960000u, 4294967295u, 4294960123u, 31337}};
  EXPECT_EQ(PairCode::generate(random.fill()), "1337");
  EXPECT_EQ(random.used, 4u);
}

TEST(PairCodeTest, SystemRandomCodesAreFourDigits) {
  for (int i = 0; i < 500; ++i) {
    std::string code = PairCode::generate();
    ASSERT_TRUE(isFourDigits(code)) << code;
  }
}

TEST(PairCodeTest, HashIsSixteenHexDigitsOfSha256OverPrefixCodeAndKeyText) {
  const std::string key = "q83vEjRWeJCrze8SNFZ4kKvN7xI0VniQq83vEjRWeJA=";
  // printf '%s' 'ferrytide-pair:0042:q83v…eJA=' | sha256sum, first 16 digits.
  EXPECT_EQ(PairCode::hash("0042", key), "635f14953d9b2ad9");
  EXPECT_EQ(PairCode::hash("0042", key), PairCode::hash("0042", key));
  EXPECT_EQ(PairCode::hash("0043", key), "8072835463e912f7");
  EXPECT_NE(PairCode::hash("0042", "r83vEjRWeJCrze8SNFZ4kKvN7xI0VniQq83vEjRWeJA="),
            PairCode::hash("0042", key));
}

}  // namespace
}  // namespace ferrytide
