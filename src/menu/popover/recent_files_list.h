#pragma once

#include <QWidget>

#include "platform/linux/desktop_launcher.h"

class QLabel;
class QScrollArea;
class QVBoxLayout;

namespace ferrytide::menu {

class AppState;
struct FileLog;

// "Recent files": the files sent to and received from the phones, newest first, each with a
// way to show it in the file manager, and a way to open the save folder.
class RecentFilesList : public QWidget {
  Q_OBJECT

 public:
  RecentFilesList(AppState& appState, platform::DesktopLauncher launcher,
                  QWidget* parent = nullptr);

  // Rebuilds the rows, so that "5 min ago" is true again.
  void refresh();

 private:
  QWidget* makeRow(const FileLog& row, const QDateTime& now);

  AppState& appState_;
  platform::DesktopLauncher launcher_;
  QLabel* empty_;
  QScrollArea* scroll_;
  QWidget* rows_;
  QVBoxLayout* rowsLayout_;
};

}  // namespace ferrytide::menu
