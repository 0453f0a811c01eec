#pragma once

#include <QWidget>

class QLabel;
class QPushButton;
class QToolButton;

namespace ferrytide::menu {

class PopoverModel;

// The banner at the top of the Clips tab: a text that arrived, or a clipboard that holds a
// password, with the choice to send it anyway. Hidden without a notice.
class ClipNotice : public QWidget {
  Q_OBJECT

 public:
  explicit ClipNotice(PopoverModel& model, QWidget* parent = nullptr);

 protected:
  void changeEvent(QEvent* event) override;

 private:
  void refresh();

  PopoverModel& model_;
  QLabel* text_;
  QPushButton* sendAnyway_;
  QPushButton* dontSend_;
  QToolButton* close_;
};

}  // namespace ferrytide::menu
