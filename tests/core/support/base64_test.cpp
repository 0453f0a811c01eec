#include "core/support/base64.h"

#include <gtest/gtest.h>

namespace ferrytide {
namespace {

TEST(Base64Test, RoundTripsEveryPaddingLength) {
  for (std::string text : {"", "f", "fo", "foo", "foob", "fooba", "foobar"}) {
    std::string encoded = base64::encode(asBytes(text));
    auto decoded = base64::decode(encoded);
    ASSERT_TRUE(decoded) << encoded;
    EXPECT_EQ(toString(*decoded), text);
  }
  EXPECT_EQ(base64::encode(asBytes("foobar")), "Zm9vYmFy");
  EXPECT_EQ(base64::encode(asBytes("fo")), "Zm8=");
  Bytes binary{0xFB, 0xFF, 0xBF};
  EXPECT_EQ(base64::encode(binary), "+/+/");
}

TEST(Base64Test, UrlFormSwapsTheTwoSymbolsAndDropsPadding) {
  Bytes binary{0xFB, 0xFF, 0xBF, 0xFB};
  EXPECT_EQ(base64::encode(binary), "+/+/+w==");
  EXPECT_EQ(base64::encodeUrl(binary), "-_-_-w");
  EXPECT_EQ(base64::encodeUrl(asBytes("foobar")), "Zm9vYmFy");
}

TEST(Base64Test, RejectsAnythingButStrictStandardBase64) {
  for (const char* bad : {"Zm8", "Zm8==", "Zm=8", "Zm9v\n", "Zm9v YmFy", "Zm9-", "Zm9_", "====",
                          "Z===", "=Zm8"}) {
    EXPECT_FALSE(base64::decode(bad)) << bad;
  }
}

}  // namespace
}  // namespace ferrytide
