#pragma once

#include <cstddef>
#include <filesystem>
#include <string>

#include "core/peers/pairing_payload.h"
#include "core/support/bytes.h"
#include "core/support/error.h"

namespace ferrytide::QRRenderer {

class Error : public ferrytide::Error {
 public:
  enum class Kind { filterFailed, renderFailed, pngFailed, decodeFailed };

  // `detail` says what went wrong underneath; it is kept for logs, not shown.
  static Error filterFailed(std::string detail = {});
  static Error renderFailed(std::string detail = {});
  static Error pngFailed(std::string detail = {});
  static Error decodeFailed(const std::string& reason);

  Kind kind() const { return kind_; }
  const std::string& detail() const { return detail_; }

 private:
  Error(Kind kind, std::string description, std::string detail)
      : ferrytide::Error(std::move(description)), kind_(kind), detail_(std::move(detail)) {}

  Kind kind_;
  std::string detail_;
};

// An sRGB image with 8-bit red, green, blue and alpha per pixel, rows top to bottom.
struct Bitmap {
  static constexpr std::size_t bytesPerPixel = 4;

  std::size_t width = 0;
  std::size_t height = 0;
  std::size_t bytesPerRow = 0;  // at least width * 4
  Bytes pixels;                 // height * bytesPerRow bytes

  // True when the sizes agree with each other and with the pixel buffer.
  bool isWellFormed() const;
};

inline constexpr int quietZoneModules = 4;

// A QR code of `bytes` at error-correction level M: one black or white pixel per module, with
// a white border of four modules on each side, then every pixel repeated `scale` times in
// both directions. `scale` must be at least 1 (std::invalid_argument otherwise).
// Throws Error (filterFailed when the data does not fit a QR code).
Bitmap makeImage(ByteView bytes, int scale);
Bitmap makeImage(const PairingPayload& payload, int scale);

// Replaces the file at `path` with one PNG image of the payload (owner-only: it holds the
// pairing secret). Throws Error (pngFailed) or PairingError.
void writePNG(const PairingPayload& payload, const std::filesystem::path& path, int scale);

// Two pixel rows per line, see renderASCII(const Bitmap&); the payload at scale 1.
std::string renderASCII(const PairingPayload& payload);

// For each pair of rows, one line of `width` characters followed by "\n": U+2588 where both
// pixels are dark, U+2580 where only the top one is, U+2584 where only the bottom one is, a
// space where neither is. A pixel is dark when its red byte is below 128; the last line of an
// odd height has no bottom row. Throws Error (renderFailed) for a malformed bitmap.
std::string renderASCII(const Bitmap& bitmap);

// The text of the first QR code found in the image, as its bytes. Throws Error
// (decodeFailed "no QR symbol found in image" when there is none).
std::string decode(const Bitmap& image);
// The same for a PNG file; a file that cannot be read as PNG also gives decodeFailed.
std::string decode(const std::filesystem::path& pngFile);

// Reads a PNG file as an RGBA bitmap. Throws Error (decodeFailed) when it cannot.
Bitmap readPNG(const std::filesystem::path& path);

}  // namespace ferrytide::QRRenderer
