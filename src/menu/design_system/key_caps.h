#pragma once

#include <QStringList>
#include <QWidget>

class QHBoxLayout;

namespace ferrytide::menu {

// A key combination drawn as a row of key caps ("Ctrl" "Alt" "C"), in colours mixed from the
// palette so that it reads on light and dark windows alike.
class KeyCaps : public QWidget {
  Q_OBJECT

 public:
  explicit KeyCaps(QWidget* parent = nullptr);

  void setKeys(const QStringList& keys);
  const QStringList& keys() const { return keys_; }

 protected:
  void changeEvent(QEvent* event) override;

 private:
  void rebuild();

  QStringList keys_;
  QHBoxLayout* row_ = nullptr;
};

}  // namespace ferrytide::menu
