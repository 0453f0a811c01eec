#include "menu/design_system/key_caps.h"

#include <QEvent>
#include <QHBoxLayout>
#include <QLabel>

#include "menu/design_system/theme.h"

namespace ferrytide::menu {

KeyCaps::KeyCaps(QWidget* parent) : QWidget(parent) {
  row_ = new QHBoxLayout(this);
  row_->setContentsMargins(0, 0, 0, 0);
  row_->setSpacing(4);
}

void KeyCaps::setKeys(const QStringList& keys) {
  keys_ = keys;
  setAccessibleName(keys.join(QStringLiteral("+")));
  rebuild();
}

void KeyCaps::changeEvent(QEvent* event) {
  QWidget::changeEvent(event);
  if (event->type() == QEvent::PaletteChange) rebuild();
}

void KeyCaps::rebuild() {
  while (QLayoutItem* item = row_->takeAt(0)) {
    delete item->widget();
    delete item;
  }
  // The cap is in the colours of an input field, set off from the card it sits on, with the separator as its edge and a
  // thicker lower edge, as a key's side.
  QString style = QStringLiteral(
                      "QLabel { background: %1; color: %2; border: 1px solid %3; "
                      "border-bottom-width: 2px; border-radius: 5px; padding: 2px 7px; }")
                      .arg(palette().color(QPalette::Base).name(),
                           palette().color(QPalette::Text).name(),
                           theme::separator(this).name());
  for (const QString& key : keys_) {
    auto* cap = new QLabel(key, this);
    cap->setObjectName(QStringLiteral("keyCap"));
    cap->setFont(theme::headlineFont());
    cap->setAlignment(Qt::AlignCenter);
    cap->setStyleSheet(style);
    row_->addWidget(cap);
  }
}

}  // namespace ferrytide::menu
