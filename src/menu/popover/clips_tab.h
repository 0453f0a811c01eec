#pragma once

#include <QWidget>

namespace ferrytide::menu {

class ClipHistory;
class ComposeBox;
class PopoverModel;
class RecentClipsList;

// The Clips tab: the notice, the compose box and the recent clips. A chosen clip goes into the
// compose box.
class ClipsTab : public QWidget {
  Q_OBJECT

 public:
  ClipsTab(PopoverModel& model, ClipHistory& history, QWidget* parent = nullptr);

  ComposeBox* composeBox() const { return compose_; }
  // Brings the relative times of the list up to date.
  void refresh();

 private:
  ComposeBox* compose_;
  RecentClipsList* clips_;
};

}  // namespace ferrytide::menu
