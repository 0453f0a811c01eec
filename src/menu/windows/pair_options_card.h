#pragma once

#include <QColor>
#include <QImage>
#include <QString>
#include <QWidget>

class QLabel;

namespace ferrytide::menu {

class QRTile;

// The two ways a phone finds this computer while pairing, side by side on a card: the QR code
// to scan and the short code to type. Colours come from the palette (the card's fill and the
// accent for the code) unless set.
class PairOptionsCard : public QWidget {
  Q_OBJECT

 public:
  explicit PairOptionsCard(QWidget* parent = nullptr);

  void setQr(const QImage& qr);
  // The short code typed on the phone; empty while there is none.
  void setCode(const QString& code);
  // An invalid colour goes back to the palette's.
  void setColors(const QColor& fill, const QColor& codeColor);

  QRTile* tile() const { return tile_; }

 private:
  void showCode();

  QRTile* tile_;
  QLabel* code_;
  QString codeText_;
  QColor codeColor_;
};

}  // namespace ferrytide::menu
