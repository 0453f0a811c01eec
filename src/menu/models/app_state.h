#pragma once

#include <QObject>
#include <QString>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "core/peers/peer_store.h"
#include "core/transfer/share_outbox.h"
#include "menu/models/file_log.h"
#include "menu/models/preferences.h"
#include "menu/models/receive_status.h"
#include "menu/models/recent_files_store.h"

namespace ferrytide {
class SerialQueue;
}  // namespace ferrytide

namespace ferrytide::menu {

// Where the application's state lives; the defaults are the user's folders.
struct AppStateStorage {
  PeerStore store = PeerStore();
  ShareOutbox outbox = ShareOutbox();
  std::filesystem::path recentFilesFile = RecentFilesStore::defaultFileURL();
};

// What the whole application shares on the main thread: the paired phones as the windows
// show them, the receiver's status, the last error worth showing, the recent files and the
// phone chosen as the default target. It is the one place that reloads the peer file; whoever
// changes that file calls reloadPeers() afterwards.
class AppState : public QObject {
  Q_OBJECT
  Q_PROPERTY(std::vector<ferrytide::PeerRecord> peers READ peers NOTIFY peersChanged)
  Q_PROPERTY(ferrytide::menu::ReceiveStatus receiveStatus READ receiveStatus WRITE setReceiveStatus
                 NOTIFY receiveStatusChanged)
  Q_PROPERTY(
      std::optional<QString> lastError READ lastError WRITE setLastError NOTIFY lastErrorChanged)
  Q_PROPERTY(
      std::vector<ferrytide::menu::FileLog> recentFiles READ recentFiles NOTIFY recentFilesChanged)
  Q_PROPERTY(QString lastSelectedPeerPubkey READ lastSelectedPeerPubkey WRITE
                 setLastSelectedPeerPubkey NOTIFY lastSelectedPeerPubkeyChanged)

 public:
  static constexpr std::size_t recentFilesLimit = 50;

  using Storage = AppStateStorage;

  // Loads the peers now and the recent files in the background.
  explicit AppState(Preferences& prefs, Storage storage = Storage(), QObject* parent = nullptr);
  ~AppState() override;

  Preferences& prefs() const { return prefs_; }
  const PeerStore& store() const { return store_; }

  const std::vector<PeerRecord>& peers() const { return peers_; }
  const ReceiveStatus& receiveStatus() const { return receiveStatus_; }
  const std::optional<QString>& lastError() const { return lastError_; }
  const std::vector<FileLog>& recentFiles() const { return recentFiles_; }
  const QString& lastSelectedPeerPubkey() const { return lastSelectedPeerPubkey_; }

  void setReceiveStatus(const ReceiveStatus& status);
  void setLastError(const std::optional<QString>& error);
  // Remembered in the settings on every assignment.
  void setLastSelectedPeerPubkey(const QString& pubkey);

  // Installed by the application: the receiver stops and starts again with the current keys.
  std::function<void()> requestStopReceiver;
  std::function<void()> requestStartReceiver;
  // Installed by the application: called with the phones each time they are mirrored, so that
  // the file managers' actions can follow.
  std::function<void(const std::vector<ShareOutbox::SharePeer>&)> peersMirrored;
  // Installed by peer sync: queues an unpair notice for a phone that is being forgotten.
  std::function<void(const PeerRecord&)> queueUnpairNotice;

  // Newest pairing first; on failure no phones and the error in lastError. Mirrors the list
  // for the share integration either way.
  void reloadPeers();
  // The phones a sharer may offer, under their shown names, the default target first.
  std::vector<ShareOutbox::SharePeer> sharePeers() const;
  // Writes those for the share integration.
  void mirrorPeersToAppGroup() const;
  // Adds a row at the front (at most 50 are kept) and saves the list in the background.
  void recordFile(const FileLog& row);
  // Optionally tells the phone (through peer sync), removes it and its custom name, then
  // restarts the receiver without its key.
  void forget(const PeerRecord& peer, bool tellPeer);

  // The remembered target when it is still paired, else the newest pairing, else empty.
  QString defaultOutboundPeerPubkey() const;
  std::optional<PeerRecord> selectedPeer() const;

  std::optional<PeerRecord> peer(const QString& remoteEndpoint) const;
  // The phone at that address, else the only phone, else "your phone".
  QString peerName(const QString& remoteEndpoint) const;
  // The name to show today for a row stored under `stored`.
  QString currentName(const QString& stored, const std::optional<QString>& pubkey) const;
  // The custom name, else the phone's own.
  QString displayName(const PeerRecord& peer) const;

  // The address part of "host:port", "[v6]:port" or a bare address.
  static QString host(const QString& endpoint);

 Q_SIGNALS:
  void peersChanged(const std::vector<ferrytide::PeerRecord>& peers);
  void receiveStatusChanged(const ferrytide::menu::ReceiveStatus& status);
  void lastErrorChanged(const std::optional<QString>& error);
  void recentFilesChanged(const std::vector<ferrytide::menu::FileLog>& rows);
  void lastSelectedPeerPubkeyChanged(const QString& pubkey);
  // The default target may have moved: the remembered key or the phones changed.
  void selectedPeerChanged();

 private:
  void loadRecentFiles();
  void mergeLoadedRecentFiles(RecentFilesStore::Loaded loaded);
  void saveRecentFiles();
  void setPeers(std::vector<PeerRecord> peers);
  void setRecentFiles(std::vector<FileLog> rows);

  Preferences& prefs_;
  std::vector<PeerRecord> peers_;
  ReceiveStatus receiveStatus_;
  std::optional<QString> lastError_;
  std::vector<FileLog> recentFiles_;
  PeerStore store_;
  ShareOutbox outbox_;
  RecentFilesStore recentFilesStore_;
  QString lastSelectedPeerPubkey_;
  // Work handed back from the file thread runs only while this lives.
  std::shared_ptr<int> lifetime_ = std::make_shared<int>();
  // Every read and write of the recent-files file, in order.
  std::unique_ptr<SerialQueue> recentIO_;
};

}  // namespace ferrytide::menu
