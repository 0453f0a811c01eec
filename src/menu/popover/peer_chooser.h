#pragma once

#include <QWidget>

class QComboBox;

namespace ferrytide::menu {

class AppState;

// "Send to" and the phone that sends go to, chosen among the paired phones. It hides itself
// while fewer than two phones are paired: then there is nothing to choose.
class PeerChooser : public QWidget {
  Q_OBJECT

 public:
  explicit PeerChooser(AppState& appState, QWidget* parent = nullptr);

 private:
  void reload();
  void choose(int index);

  AppState& appState_;
  QComboBox* phones_;
};

}  // namespace ferrytide::menu
