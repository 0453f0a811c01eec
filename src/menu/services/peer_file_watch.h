#pragma once

#include <QFileSystemWatcher>
#include <QObject>
#include <QTimer>
#include <filesystem>

namespace ferrytide::menu {

class AppState;

// Reloads the phones when another program (the command-line tool pairing or forgetting one)
// changes the peer file. The file is replaced by a rename, so its folder is watched.
class PeerFileWatch : public QObject {
  Q_OBJECT

 public:
  // Changes within this span are read once.
  static constexpr int settleMs = 50;

  explicit PeerFileWatch(AppState& appState, QObject* parent = nullptr);

 private:
  void watch();

  AppState& appState_;
  std::filesystem::path file_;
  QFileSystemWatcher watcher_;
  QTimer settle_;
};

}  // namespace ferrytide::menu
