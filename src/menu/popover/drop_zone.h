#pragma once

#include <QAbstractButton>

namespace ferrytide::menu {

class PopoverModel;

// The Files tab's target: says where dropped files go, lights up while files are dragged over
// the popover, and opens the file picker when clicked. The drag itself is taken by the
// popover window, which covers more than this zone.
class DropZone : public QAbstractButton {
  Q_OBJECT

 public:
  explicit DropZone(PopoverModel& model, QWidget* parent = nullptr);

  QString headlineText() const;
  QString detailText() const;

  QSize sizeHint() const override;
  QSize minimumSizeHint() const override;
  bool hasHeightForWidth() const override { return true; }
  int heightForWidth(int width) const override;

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  bool dragOver() const;
  void refresh();
  QRect headlineRect(int width) const;

  PopoverModel& model_;
};

}  // namespace ferrytide::menu
