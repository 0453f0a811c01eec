#include "menu/windows/qr_tile.h"

#include <QPainter>
#include <QPainterPath>
#include <algorithm>
#include <cmath>

#include "menu/design_system/theme.h"

namespace ferrytide::menu {
namespace {

// The image brings its own quiet zone; the margin only keeps it off the rounded corners.
constexpr int tileMargin = 6;
constexpr int quietZoneModules = QRRenderer::quietZoneModules;
// Share of the symbol's side (quiet zone left out) that the logo and its white margin cover:
// a few per cent of the modules, which the error correction of level M reads around.
constexpr double logoShare = 0.16;

bool isDarkPixel(const QImage& image, int x, int y) { return qGray(image.pixel(x, y)) < 128; }

// One pixel per module: the first dark pixel on the diagonal is the finder pattern's corner,
// four modules in from the edge. An image that does not look like that is kept as it is.
QImage oneModulePerPixel(const QImage& image) {
  int side = std::min(image.width(), image.height());
  int corner = 0;
  while (corner < side && !isDarkPixel(image, corner, corner)) ++corner;
  if (corner == side || corner % quietZoneModules != 0) return image;
  int scale = corner / quietZoneModules;
  if (scale <= 1 || image.width() % scale != 0 || image.height() % scale != 0) return image;
  return image.scaled(image.width() / scale, image.height() / scale, Qt::IgnoreAspectRatio,
                      Qt::FastTransformation);
}

}  // namespace

QRTile::QRTile(QWidget* parent) : QWidget(parent) {
  setObjectName(QStringLiteral("qrTile"));
  setAccessibleName(QStringLiteral("QR code"));
  setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
}

void QRTile::setImage(const QImage& image) {
  image_ = image;
  modules_ = image.isNull() ? QImage() : oneModulePerPixel(image);
  update();
}

void QRTile::setShowsLogo(bool shows) {
  showsLogo_ = shows;
  update();
}

QSize QRTile::sizeHint() const { return {216, 216}; }
QSize QRTile::minimumSizeHint() const { return {120, 120}; }

QRectF QRTile::codeRect() const {
  if (modules_.isNull()) return {};
  const double ratio = devicePixelRatioF();
  const int count = std::max(modules_.width(), modules_.height());
  const int room = static_cast<int>(std::floor((std::min(width(), height()) - 2 * tileMargin) * ratio));
  // Whole device pixels per module; a tile too small for one each still shows the code.
  const int perModule = std::max(1, room / count);
  const double side = count * perModule / ratio;
  // Start on a device pixel so that every module edge falls on one.
  const double left = std::round((width() - side) / 2 * ratio) / ratio;
  const double top = std::round((height() - side) / 2 * ratio) / ratio;
  return {left, top, side, side};
}

QImage QRTile::imageOf(const QRRenderer::Bitmap& bitmap) {
  QImage view(bitmap.pixels.data(), int(bitmap.width), int(bitmap.height),
              qsizetype(bitmap.bytesPerRow), QImage::Format_RGBA8888);
  return view.copy();
}

void QRTile::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  painter.setRenderHint(QPainter::Antialiasing);
  QRectF tile = QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5);
  painter.setPen(QPen(theme::separator(this), 1));
  painter.setBrush(Qt::white);
  painter.drawRoundedRect(tile, 12, 12);
  if (modules_.isNull()) return;

  QRectF code = codeRect();
  painter.setRenderHint(QPainter::Antialiasing, false);
  painter.setRenderHint(QPainter::SmoothPixmapTransform, false);
  painter.drawImage(code, modules_);
  if (!showsLogo_) return;

  const int count = std::max(modules_.width(), modules_.height());
  const double module = code.width() / count;
  const double backing = (count - 2 * quietZoneModules) * module * logoShare;
  QRectF plate(code.center().x() - backing / 2, code.center().y() - backing / 2, backing, backing);
  painter.setRenderHint(QPainter::Antialiasing);
  painter.setPen(Qt::NoPen);
  painter.setBrush(Qt::white);
  painter.drawRoundedRect(plate, module, module);
  const double inset = std::max(module * 0.5, 1.0);
  theme::logo().paint(&painter, plate.adjusted(inset, inset, -inset, -inset).toAlignedRect());
}

}  // namespace ferrytide::menu
