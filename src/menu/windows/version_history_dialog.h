#pragma once

#include <QDialog>
#include <vector>

#include "plinth_updates/appcast.h"

namespace ferrytide::menu {

// Release notes per version of the update feed, newest first.
class VersionHistoryDialog : public QDialog {
  Q_OBJECT

 public:
  VersionHistoryDialog(const std::vector<::plinth::AppcastItem>& versions, QWidget* parent);

  // The history as the dialog shows it (HTML).
  static QString historyHtml(const std::vector<::plinth::AppcastItem>& versions);
};

}  // namespace ferrytide::menu
