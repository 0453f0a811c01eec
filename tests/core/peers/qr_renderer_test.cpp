#include "core/peers/qr_renderer.h"

#include <gtest/gtest.h>

#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "core/support/base64.h"
#include "support/temp_dir.h"

namespace ferrytide {
namespace {

using testing::TempDir;
namespace qr = QRRenderer;

PairingPayload samplePayload(std::string hostname = "Studio") {
  PairingPayload payload;
  payload.peer_pubkey = base64::encode(Bytes(32, 0xff));
  payload.peer_ip = "192.168.1.37";
  payload.peer_port = 47819;
  payload.peer_subnet = "192.168.1.0/24";
  payload.peer_hostname = std::move(hostname);
  payload.peer_mac = "0a:11:22:33:44:55";
  payload.pairing_secret = base64::encode(Bytes(32, 0xfb));
  return payload;
}

bool dark(const qr::Bitmap& bitmap, std::size_t x, std::size_t y) {
  return bitmap.pixels[y * bitmap.bytesPerRow + x * 4] < 128;
}

// A bitmap of the given RGBA rows, each row followed by `padding` unused bytes.
qr::Bitmap bitmapOf(const std::vector<std::vector<std::array<std::uint8_t, 4>>>& rows,
                    std::size_t padding = 0) {
  qr::Bitmap bitmap;
  bitmap.height = rows.size();
  bitmap.width = rows.empty() ? 0 : rows[0].size();
  bitmap.bytesPerRow = bitmap.width * 4 + padding;
  for (const auto& row : rows) {
    for (const auto& pixel : row)
      bitmap.pixels.insert(bitmap.pixels.end(), pixel.begin(), pixel.end());
    bitmap.pixels.insert(bitmap.pixels.end(), padding, 0x00);
  }
  return bitmap;
}

TEST(QRRendererTest, PngFileDecodesToTheIdenticalJsonBytesAndReplacesTheFile) {
  TempDir temp;
  auto path = temp / "pair.png";
  std::ofstream(path) << "an older file";
  PairingPayload payload = samplePayload("Zoë's Laptop \u65e5\u672c");
  qr::writePNG(payload, path, 8);
  EXPECT_EQ(qr::decode(path), payload.jsonString());

  qr::Bitmap read = qr::readPNG(path);
  qr::Bitmap made = qr::makeImage(payload, 8);
  EXPECT_EQ(read.width, made.width);
  EXPECT_EQ(read.pixels, made.pixels);
  EXPECT_EQ(std::filesystem::status(path).permissions() & std::filesystem::perms::all,
            std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);
}

TEST(QRRendererTest, ImageHasAFourModuleQuietZoneAndScalesEveryModule) {
  Bytes data = toBytes("ferrytide");
  qr::Bitmap one = qr::makeImage(data, 1);
  qr::Bitmap three = qr::makeImage(data, 3);
  ASSERT_EQ(one.width, one.height);
  ASSERT_EQ(three.width, one.width * 3);
  ASSERT_EQ(three.height, one.height * 3);
  EXPECT_EQ(one.width, 21u + 8u);  // the smallest QR symbol is 21 modules wide

  for (std::size_t y = 0; y < three.height; ++y) {
    for (std::size_t x = 0; x < three.width; ++x) {
      ASSERT_EQ(dark(three, x, y), dark(one, x / 3, y / 3)) << x << "," << y;
    }
  }
  for (std::size_t i = 0; i < one.width; ++i) {
    for (std::size_t border = 0; border < 4; ++border) {
      EXPECT_FALSE(dark(one, i, border) || dark(one, border, i) ||
                   dark(one, i, one.height - 1 - border) || dark(one, one.width - 1 - border, i));
    }
  }
  // The top-left finder pattern starts right inside the quiet zone.
  EXPECT_TRUE(dark(one, 4, 4));
  EXPECT_EQ(qr::decode(three), "ferrytide");
}

TEST(QRRendererTest, AsciiHasOneLinePerTwoPixelRowsAndOneCharacterPerColumn) {
  PairingPayload payload = samplePayload();
  qr::Bitmap bitmap = qr::makeImage(payload, 1);
  const char* glyph[2][2] = {{" ", "\u2584"}, {"\u2580", "\u2588"}};  // [top dark][bottom dark]
  std::string expected;
  for (std::size_t y = 0; y < bitmap.height; y += 2) {
    for (std::size_t x = 0; x < bitmap.width; ++x) {
      expected += glyph[dark(bitmap, x, y)][y + 1 < bitmap.height && dark(bitmap, x, y + 1)];
    }
    expected += '\n';
  }
  EXPECT_EQ(qr::renderASCII(payload), expected);
}

TEST(QRRendererTest, AsciiOfOddHeightEndsWithUpperHalfBlocksAndReadsTheRedByte) {
  const std::array<std::uint8_t, 4> D{0, 0, 0, 255}, L{255, 255, 255, 255};
  const std::array<std::uint8_t, 4> redDark{127, 255, 255, 255}, redLight{128, 0, 0, 255};
  qr::Bitmap bitmap = bitmapOf({{D, L, D, redLight}, {L, D, D, L}, {D, L, redDark, redLight}},
                               /*padding=*/8);
  EXPECT_EQ(qr::renderASCII(bitmap), "\u2580\u2584\u2588 \n\u2580 \u2580 \n");

  qr::Bitmap oneRow = bitmapOf({{L, D}});
  EXPECT_EQ(qr::renderASCII(oneRow), " \u2580\n");
}

TEST(QRRendererTest, FailuresCarryTheirKindAndText) {
  using Kind = qr::Error::Kind;
  TempDir temp;
  std::ofstream(temp / "text.png") << "not a png";
  const std::array<std::uint8_t, 4> L{255, 255, 255, 255}, D{0, 0, 0, 255};
  std::vector<std::vector<std::array<std::uint8_t, 4>>> stripes(64);
  for (std::size_t y = 0; y < stripes.size(); ++y) stripes[y].assign(64, (y / 8) % 2 ? D : L);
  qr::Bitmap shortBuffer = qr::makeImage(toBytes("x"), 1);
  shortBuffer.pixels.pop_back();
  const std::string noSymbol = "QR decode failed: no QR symbol found in image";
  struct Case {
    const char* name;
    std::function<void()> act;
    Kind kind;
    std::string expected;  // the start of the text
  };
  const std::vector<Case> cases = {
      {"short pixel buffer rendered", [&] { qr::renderASCII(shortBuffer); }, Kind::renderFailed,
       "CIContext.createCGImage failed"},
      {"short pixel buffer decoded", [&] { qr::decode(shortBuffer); }, Kind::decodeFailed,
       "QR decode failed: malformed bitmap"},
      {"stripes", [&] { qr::decode(bitmapOf(stripes)); }, Kind::decodeFailed, noSymbol},
      {"empty bitmap", [] { qr::decode(qr::Bitmap{}); }, Kind::decodeFailed, noSymbol},
      {"text file", [&] { qr::decode(temp / "text.png"); }, Kind::decodeFailed,
       "QR decode failed: " + (temp / "text.png").string()},
      {"missing file", [&] { qr::decode(temp / "missing.png"); }, Kind::decodeFailed,
       "QR decode failed: " + (temp / "missing.png").string()},
      {"3000 bytes at level M", [] { qr::makeImage(Bytes(3000, 'a'), 1); }, Kind::filterFailed,
       "QR encoder produced no output"},
      {"missing folder", [&] { qr::writePNG(samplePayload(), temp / "missing" / "pair.png", 8); },
       Kind::pngFailed, "CGImageDestination PNG write failed"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    try {
      c.act();
      ADD_FAILURE() << "no error";
    } catch (const qr::Error& error) {
      EXPECT_EQ(error.kind(), c.kind);
      EXPECT_TRUE(std::string(error.what()).starts_with(c.expected)) << error.what();
    }
  }
  EXPECT_FALSE(std::filesystem::exists(temp / "missing"));
}

}  // namespace
}  // namespace ferrytide
