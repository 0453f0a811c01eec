#pragma once

#include <QComboBox>

namespace ferrytide::menu {

class AppState;

// The phone that sends go to, chosen among the paired phones. It hides itself while fewer
// than two phones are paired: then there is nothing to choose.
class PeerChooser : public QComboBox {
  Q_OBJECT

 public:
  explicit PeerChooser(AppState& appState, QWidget* parent = nullptr);

 private:
  void reload();
  void choose(int index);

  AppState& appState_;
};

}  // namespace ferrytide::menu
