#pragma once

#include <QWidget>

class QLabel;
class QToolButton;

namespace ferrytide::menu {

class PopoverModel;
struct AppRouter;

// The top of the popover: the application's name, whether it is ready to receive, and the way
// to the settings.
class PopoverHeader : public QWidget {
  Q_OBJECT

 public:
  PopoverHeader(PopoverModel& model, AppRouter& router, QWidget* parent = nullptr);

 protected:
  void changeEvent(QEvent* event) override;

 private:
  QLabel* status_;
  QToolButton* settings_;
};

}  // namespace ferrytide::menu
