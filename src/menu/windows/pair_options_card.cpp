#include "menu/windows/pair_options_card.h"

#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>
#include <QVBoxLayout>

#include "menu/design_system/theme.h"
#include "menu/windows/qr_tile.h"

namespace ferrytide::menu {
namespace {

QLabel* named(QLabel* label, const char* objectName) {
  label->setObjectName(QString::fromUtf8(objectName));
  label->setAccessibleName(label->text());
  return label;
}

QFrame* divider(QWidget* parent) {
  auto* line = new QFrame(parent);
  line->setObjectName(QStringLiteral("pairOptionsDivider"));
  line->setFixedWidth(1);
  line->setStyleSheet(QStringLiteral("background: %1;").arg(theme::separator(parent).name()));
  return line;
}

}  // namespace

PairOptionsCard::PairOptionsCard(QWidget* parent)
    : QWidget(parent), tile_(new QRTile), code_(new QLabel) {
  setObjectName(QStringLiteral("pairOptionsCard"));
  QFrame* card = theme::card(this);
  card->setObjectName(QStringLiteral("pairOptionsFrame"));
  auto* outer = new QVBoxLayout(this);
  outer->setContentsMargins(0, 0, 0, 0);
  outer->addWidget(card);

  tile_->setParent(card);
  // No logo over the pairing code: it is a large symbol whose centre holds an alignment
  // pattern, and at error-correction level M a logo there makes scanners miss it.
  tile_->setShowsLogo(false);
  auto* scanSide = new QVBoxLayout;
  scanSide->setSpacing(8);
  scanSide->addWidget(tile_, 0, Qt::AlignHCenter);
  QLabel* scanHint = named(theme::caption(QStringLiteral("Point the phone's camera here"), card),
                           "qrHint");
  scanHint->setAlignment(Qt::AlignHCenter);
  scanSide->addWidget(scanHint);

  auto* typeSide = new QVBoxLayout;
  typeSide->setSpacing(6);
  typeSide->addStretch();
  QLabel* typeHint =
      named(theme::headline(QStringLiteral("Tap Enter a code on the phone"), card), "codeHint");
  typeSide->addWidget(typeHint);
  code_->setParent(card);
  code_->setObjectName(QStringLiteral("pairingCode"));
  code_->setTextFormat(Qt::RichText);
  code_->setTextInteractionFlags(Qt::TextSelectableByMouse);
  typeSide->addWidget(code_);
  typeSide->addStretch();

  auto* row = new QHBoxLayout(card);
  row->setContentsMargins(20, 18, 20, 18);
  row->setSpacing(20);
  row->addLayout(scanSide);
  row->addWidget(divider(card));
  row->addLayout(typeSide, 1);
  showCode();
}

void PairOptionsCard::setQr(const QImage& qr) { tile_->setImage(qr); }

void PairOptionsCard::setCode(const QString& code) {
  codeText_ = code;
  showCode();
}

void PairOptionsCard::setColors(const QColor& fill, const QColor& codeColor) {
  auto* card = findChild<QFrame*>(QStringLiteral("pairOptionsFrame"));
  QColor cardFill = fill.isValid() ? fill : theme::cardFill(this);
  card->setStyleSheet(QStringLiteral("QFrame[ferrytideCard=\"true\"] { background: %1; "
                                     "border: 1px solid %2; border-radius: 10px; }")
                          .arg(cardFill.name(), theme::separator(this).name()));
  codeColor_ = codeColor;
  showCode();
}

void PairOptionsCard::showCode() {
  const QString label = QStringLiteral("Pairing code ");
  QString digits = codeText_.isEmpty() ? QStringLiteral("\u2013") : codeText_.toHtmlEscaped();
  QColor color = codeColor_.isValid() ? codeColor_ : theme::accent(this);
  QFont big = theme::titleFont();
  big.setPointSizeF(big.pointSizeF() > 0 ? big.pointSizeF() * 1.5 : 28);
  code_->setText(QStringLiteral("%1<br><span style=\"font-size:%2pt; font-weight:700; "
                                "letter-spacing:4px; color:%3\">%4</span>")
                     .arg(label.trimmed(), QString::number(big.pointSizeF(), 'f', 1),
                          color.name(), digits));
  code_->setAccessibleName(label + codeText_);
}

}  // namespace ferrytide::menu
