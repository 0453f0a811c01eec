#pragma once

#include <QImage>
#include <QWidget>

#include "core/peers/qr_renderer.h"

namespace ferrytide::menu {

// A QR code on a white tile, the application's logo in its centre when asked. The code is
// drawn pixel for pixel (nearest neighbour), each module the same whole number of device
// pixels, so that it stays crisp and scannable at any size and scale factor; the image's own
// quiet zone is kept and the tile's margin adds to it. The tile is white in dark palettes too:
// cameras read dark modules on a light ground.
class QRTile : public QWidget {
  Q_OBJECT

 public:
  explicit QRTile(QWidget* parent = nullptr);

  // A QR image with square modules (any scale, quiet zone included); null shows an empty tile.
  void setImage(const QImage& image);
  void setShowsLogo(bool shows);

  const QImage& image() const { return image_; }
  bool showsLogo() const { return showsLogo_; }
  // The code's place in the tile, in device-independent pixels, once laid out.
  QRectF codeRect() const;

  QSize sizeHint() const override;
  QSize minimumSizeHint() const override;

  static QImage imageOf(const QRRenderer::Bitmap& bitmap);

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  QImage image_;
  // The image with one pixel per module.
  QImage modules_;
  bool showsLogo_ = false;
};

}  // namespace ferrytide::menu
