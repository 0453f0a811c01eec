#include "core/peers/qr_renderer.h"

#include <png.h>
#include <qrencode.h>
#include <zbar.h>

#include <limits>
#include <memory>
#include <optional>
#include <stdexcept>

#include "core/support/file_io.h"

namespace ferrytide::QRRenderer {

Error Error::filterFailed(std::string detail) {
  return Error(Kind::filterFailed, "QR encoder produced no output", std::move(detail));
}
Error Error::renderFailed(std::string detail) {
  return Error(Kind::renderFailed, "CIContext.createCGImage failed", std::move(detail));
}
Error Error::pngFailed(std::string detail) {
  return Error(Kind::pngFailed, "CGImageDestination PNG write failed", std::move(detail));
}
Error Error::decodeFailed(const std::string& reason) {
  return Error(Kind::decodeFailed, "QR decode failed: " + reason, reason);
}

bool Bitmap::isWellFormed() const {
  if (width > bytesPerRow / bytesPerPixel) return false;
  if (bytesPerRow == 0) return pixels.empty();
  return pixels.size() % bytesPerRow == 0 && pixels.size() / bytesPerRow == height;
}

namespace {

// Far above any QR code at a sensible scale, and small enough that sizes cannot overflow.
constexpr std::size_t kMaxSide = 8192;

constexpr std::uint8_t kDark = 0;
constexpr std::uint8_t kLight = 255;

struct QRcodeDeleter {
  void operator()(QRcode* code) const { QRcode_free(code); }
};
struct ScannerDeleter {
  void operator()(zbar::zbar_image_scanner_t* scanner) const {
    zbar::zbar_image_scanner_destroy(scanner);
  }
};
struct ZbarImageDeleter {
  void operator()(zbar::zbar_image_t* image) const { zbar::zbar_image_destroy(image); }
};

Bitmap emptyBitmap(std::size_t width, std::size_t height) {
  Bitmap bitmap;
  bitmap.width = width;
  bitmap.height = height;
  bitmap.bytesPerRow = width * Bitmap::bytesPerPixel;
  bitmap.pixels.assign(bitmap.bytesPerRow * height, kLight);
  return bitmap;
}

void setPixel(Bitmap& bitmap, std::size_t x, std::size_t y, std::uint8_t level) {
  std::uint8_t* pixel = &bitmap.pixels[y * bitmap.bytesPerRow + x * Bitmap::bytesPerPixel];
  pixel[0] = pixel[1] = pixel[2] = level;
  pixel[3] = 255;
}

bool isDark(const Bitmap& bitmap, std::size_t x, std::size_t y) {
  return bitmap.pixels[y * bitmap.bytesPerRow + x * Bitmap::bytesPerPixel] < 128;
}

Bytes encodePNG(const Bitmap& bitmap) {
  png_image image{};
  image.version = PNG_IMAGE_VERSION;
  image.width = static_cast<png_uint_32>(bitmap.width);
  image.height = static_cast<png_uint_32>(bitmap.height);
  image.format = PNG_FORMAT_RGBA;
  auto rowStride = static_cast<png_int_32>(bitmap.bytesPerRow);  // components = bytes at 8 bits

  png_alloc_size_t size = 0;
  if (!png_image_write_to_memory(&image, nullptr, &size, 0, bitmap.pixels.data(), rowStride,
                                 nullptr)) {
    throw Error::pngFailed(image.message);
  }
  Bytes out(size);
  if (!png_image_write_to_memory(&image, out.data(), &size, 0, bitmap.pixels.data(), rowStride,
                                 nullptr)) {
    throw Error::pngFailed(image.message);
  }
  out.resize(size);
  return out;
}

// Luma of each pixel, composited over white so a transparent background reads as light.
Bytes grayscale(const Bitmap& bitmap) {
  Bytes gray(bitmap.width * bitmap.height);
  for (std::size_t y = 0; y < bitmap.height; ++y) {
    for (std::size_t x = 0; x < bitmap.width; ++x) {
      const std::uint8_t* p = &bitmap.pixels[y * bitmap.bytesPerRow + x * Bitmap::bytesPerPixel];
      unsigned luma = (299u * p[0] + 587u * p[1] + 114u * p[2]) / 1000u;
      unsigned alpha = p[3];
      gray[y * bitmap.width + x] =
          static_cast<std::uint8_t>((luma * alpha + 255u * (255u - alpha)) / 255u);
    }
  }
  return gray;
}

std::unique_ptr<zbar::zbar_image_scanner_t, ScannerDeleter> makeQRScanner() {
  std::unique_ptr<zbar::zbar_image_scanner_t, ScannerDeleter> scanner(
      zbar::zbar_image_scanner_create());
  if (!scanner) throw Error::decodeFailed("cannot create the QR scanner");
  // QR only, and its data as the raw bytes of the code: otherwise the scanner guesses a character
  // set and re-encodes UTF-8 text (a host name with accents) as if it were Shift JIS.
  if (zbar::zbar_image_scanner_set_config(scanner.get(), zbar::ZBAR_NONE, zbar::ZBAR_CFG_ENABLE,
                                          0) != 0 ||
      zbar::zbar_image_scanner_set_config(scanner.get(), zbar::ZBAR_QRCODE, zbar::ZBAR_CFG_ENABLE,
                                          1) != 0 ||
      zbar::zbar_image_scanner_set_config(scanner.get(), zbar::ZBAR_QRCODE, zbar::ZBAR_CFG_BINARY,
                                          1) != 0) {
    throw Error::decodeFailed("cannot configure the QR scanner");
  }
  return scanner;
}

}  // namespace

Bitmap makeImage(ByteView bytes, int scale) {
  if (scale < 1) throw std::invalid_argument("QR scale must be at least 1");
  std::unique_ptr<QRcode, QRcodeDeleter> code(
      QRcode_encodeData(static_cast<int>(bytes.size()), bytes.data(), 0, QR_ECLEVEL_M));
  if (!code) throw Error::filterFailed("the data does not fit a QR code");

  const auto modules = static_cast<std::size_t>(code->width) + 2 * quietZoneModules;
  const auto factor = static_cast<std::size_t>(scale);
  if (factor > kMaxSide / modules) throw Error::renderFailed("image too large");

  Bitmap bitmap = emptyBitmap(modules * factor, modules * factor);
  for (std::size_t row = 0; row < static_cast<std::size_t>(code->width); ++row) {
    for (std::size_t column = 0; column < static_cast<std::size_t>(code->width); ++column) {
      // Bit 0 of each module byte is its colour; the other bits describe its role.
      if ((code->data[row * code->width + column] & 1) == 0) continue;
      for (std::size_t dy = 0; dy < factor; ++dy) {
        for (std::size_t dx = 0; dx < factor; ++dx) {
          setPixel(bitmap, (column + quietZoneModules) * factor + dx,
                   (row + quietZoneModules) * factor + dy, kDark);
        }
      }
    }
  }
  return bitmap;
}

Bitmap makeImage(const PairingPayload& payload, int scale) {
  return makeImage(payload.jsonData(), scale);
}

void writePNG(const PairingPayload& payload, const std::filesystem::path& path, int scale) {
  Bytes png = encodePNG(makeImage(payload, scale));
  try {
    file_io::writeAtomically(path, png, 0600);
  } catch (const file_io::FileError& error) {
    throw Error::pngFailed(error.description());
  }
}

std::string renderASCII(const PairingPayload& payload) {
  return renderASCII(makeImage(payload, 1));
}

std::string renderASCII(const Bitmap& bitmap) {
  if (!bitmap.isWellFormed()) throw Error::renderFailed("malformed bitmap");
  std::string text;
  for (std::size_t y = 0; y < bitmap.height; y += 2) {
    for (std::size_t x = 0; x < bitmap.width; ++x) {
      bool top = isDark(bitmap, x, y);
      bool bottom = y + 1 < bitmap.height && isDark(bitmap, x, y + 1);
      if (top && bottom) {
        text += "\u2588";
      } else if (top) {
        text += "\u2580";
      } else if (bottom) {
        text += "\u2584";
      } else {
        text += ' ';
      }
    }
    text += '\n';
  }
  return text;
}

std::string decode(const Bitmap& image) {
  if (!image.isWellFormed()) throw Error::decodeFailed("malformed bitmap");
  if (image.width > kMaxSide || image.height > kMaxSide) {
    throw Error::decodeFailed("image too large");
  }
  auto scanner = makeQRScanner();
  Bytes gray = grayscale(image);
  std::optional<std::string> found;
  if (!gray.empty()) {
    std::unique_ptr<zbar::zbar_image_t, ZbarImageDeleter> zimage(zbar::zbar_image_create());
    if (!zimage) throw Error::decodeFailed("cannot create the scanner image");
    zbar::zbar_image_set_format(zimage.get(), zbar_fourcc('Y', '8', '0', '0'));
    zbar::zbar_image_set_size(zimage.get(), static_cast<unsigned>(image.width),
                              static_cast<unsigned>(image.height));
    // No cleanup handler: `gray` owns the pixels and outlives the scanner image.
    zbar::zbar_image_set_data(zimage.get(), gray.data(), gray.size(), nullptr);
    if (zbar::zbar_scan_image(scanner.get(), zimage.get()) < 0) {
      throw Error::decodeFailed("the scanner failed");
    }
    for (const zbar::zbar_symbol_t* symbol = zbar::zbar_image_first_symbol(zimage.get());
         symbol != nullptr && !found; symbol = zbar::zbar_symbol_next(symbol)) {
      if (zbar::zbar_symbol_get_type(symbol) != zbar::ZBAR_QRCODE) continue;
      const char* data = zbar::zbar_symbol_get_data(symbol);
      unsigned length = zbar::zbar_symbol_get_data_length(symbol);
      if (data != nullptr && length > 0) found.emplace(data, length);
    }
  }
  if (!found) throw Error::decodeFailed("no QR symbol found in image");
  return *found;
}

std::string decode(const std::filesystem::path& pngFile) { return decode(readPNG(pngFile)); }

Bitmap readPNG(const std::filesystem::path& path) {
  std::optional<Bytes> content;
  try {
    content = file_io::readIfExists(path);
  } catch (const file_io::FileError& error) {
    throw Error::decodeFailed(error.description());
  }
  if (!content) throw Error::decodeFailed(path.string() + ": no such file");

  png_image image{};
  image.version = PNG_IMAGE_VERSION;
  if (!png_image_begin_read_from_memory(&image, content->data(), content->size())) {
    throw Error::decodeFailed(path.string() + ": not a PNG image (" + image.message + ")");
  }
  if (image.width == 0 || image.height == 0 || image.width > kMaxSide || image.height > kMaxSide) {
    png_image_free(&image);
    throw Error::decodeFailed(path.string() + ": unsupported image size");
  }
  image.format = PNG_FORMAT_RGBA;
  Bitmap bitmap = emptyBitmap(image.width, image.height);
  if (!png_image_finish_read(&image, nullptr, bitmap.pixels.data(),
                             static_cast<png_int_32>(bitmap.bytesPerRow), nullptr)) {
    throw Error::decodeFailed(path.string() + ": not a PNG image (" + image.message + ")");
  }
  return bitmap;
}

}  // namespace ferrytide::QRRenderer
