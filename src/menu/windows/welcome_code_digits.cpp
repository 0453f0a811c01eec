#include "menu/windows/welcome_code_digits.h"

#include <QFontDatabase>
#include <QHBoxLayout>
#include <QLabel>

#include "menu/design_system/theme.h"

namespace ferrytide::menu {

WelcomeCodeDigits::WelcomeCodeDigits(QWidget* parent) : QWidget(parent) {
  setObjectName(QStringLiteral("confirmDigits"));
  auto* row = new QHBoxLayout(this);
  row->setContentsMargins(0, 0, 0, 0);
  row->setSpacing(12);
  QFont font = QFontDatabase::systemFont(QFontDatabase::FixedFont);
  QFont title = theme::titleFont();
  font.setPointSizeF((title.pointSizeF() > 0 ? title.pointSizeF() : 16) * 2.0);
  font.setWeight(QFont::Bold);
  const QString style = QStringLiteral("background: %1; border: 1px solid %2; border-radius: 10px;")
                            .arg(theme::cardFill(this).name(), theme::separator(this).name());
  row->addStretch();
  for (int index = 0; index < digitCount; ++index) {
    auto* digit = new QLabel(QStringLiteral("\u2013"), this);
    digit->setObjectName(QStringLiteral("confirmDigit%1").arg(index));
    digit->setFont(font);
    digit->setAlignment(Qt::AlignCenter);
    digit->setMinimumSize(64, 80);
    digit->setStyleSheet(style);
    row->addWidget(digit);
    digits_[index] = digit;
  }
  row->addStretch();
}

void WelcomeCodeDigits::setCode(const QString& code) {
  code_ = code;
  for (int index = 0; index < digitCount; ++index) {
    digits_[index]->setText(index < code.size() ? QString(code[index]) : QStringLiteral("\u2013"));
  }
  // Read digit by digit, not as a number.
  QStringList spoken;
  for (QChar digit : code) spoken << QString(digit);
  setAccessibleName(QStringLiteral("Confirmation code ") + spoken.join(QLatin1Char(' ')));
}

}  // namespace ferrytide::menu
