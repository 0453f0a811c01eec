#pragma once

#include <QString>
#include <QWidget>

class QLabel;

namespace ferrytide::menu {

// The confirmation code in large digits, one per tile, for comparing with the phone's screen
// from a distance.
class WelcomeCodeDigits : public QWidget {
  Q_OBJECT

 public:
  static constexpr int digitCount = 4;

  explicit WelcomeCodeDigits(QWidget* parent = nullptr);

  void setCode(const QString& code);
  const QString& code() const { return code_; }

 private:
  QString code_;
  QLabel* digits_[digitCount] = {};
};

}  // namespace ferrytide::menu
