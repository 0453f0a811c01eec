#include "menu/services/peer_file_watch.h"

#include "core/support/log.h"
#include "menu/models/app_state.h"

namespace ferrytide::menu {
namespace {

const Logger kLog("peer-watch");

}  // namespace

PeerFileWatch::PeerFileWatch(AppState& appState, QObject* parent)
    : QObject(parent), appState_(appState), file_(appState.store().fileURL()) {
  settle_.setSingleShot(true);
  settle_.setInterval(settleMs);
  connect(&settle_, &QTimer::timeout, this, [this] {
    watch();
    appState_.reloadPeers();
  });
  auto changed = [this] { settle_.start(); };
  connect(&watcher_, &QFileSystemWatcher::directoryChanged, this, changed);
  connect(&watcher_, &QFileSystemWatcher::fileChanged, this, changed);
  std::error_code error;
  // The folder is the application's private one; it may not exist before the first pairing.
  if (std::filesystem::create_directories(file_.parent_path(), error)) {
    std::filesystem::permissions(file_.parent_path(), std::filesystem::perms::owner_all, error);
  }
  watch();
}

// A replaced file is a new file to the watcher: it is added again after every change.
void PeerFileWatch::watch() {
  QString folder = QString::fromStdString(file_.parent_path().string());
  QString file = QString::fromStdString(file_.string());
  if (!watcher_.directories().contains(folder) && !watcher_.addPath(folder)) {
    kLog.warning("cannot watch " + folder.toStdString() + ": phones paired elsewhere show up "
                 "after a restart");
  }
  if (std::filesystem::exists(file_) && !watcher_.files().contains(file)) watcher_.addPath(file);
}

}  // namespace ferrytide::menu
