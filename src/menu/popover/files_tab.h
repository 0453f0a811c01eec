#pragma once

#include <QWidget>

#include "platform/linux/desktop_launcher.h"

namespace ferrytide::menu {

class AppState;
class DropZone;
class PopoverModel;
class RecentFilesList;

// The Files tab: the drop zone, the send under way or its result, and the recent files.
class FilesTab : public QWidget {
  Q_OBJECT

 public:
  FilesTab(PopoverModel& model, platform::DesktopLauncher launcher, QWidget* parent = nullptr);

  DropZone* dropZone() const { return dropZone_; }
  // Brings the relative times of the list up to date.
  void refresh();

 private:
  DropZone* dropZone_;
  RecentFilesList* recent_;
};

}  // namespace ferrytide::menu
