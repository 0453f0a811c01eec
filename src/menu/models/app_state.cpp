#include "menu/models/app_state.h"

#include <algorithm>

#include "core/support/log.h"
#include "core/support/serial_queue.h"
#include "menu/models/main_thread.h"
#include "menu/models/settings_value.h"

namespace ferrytide::menu {
namespace {

const Logger kLog("app-state");

}  // namespace

AppState::AppState(Preferences& prefs, Storage storage, QObject* parent)
    : QObject(parent),
      prefs_(prefs),
      store_(std::move(storage.store)),
      outbox_(std::move(storage.outbox)),
      recentFilesStore_(std::move(storage.recentFilesFile)),
      lastSelectedPeerPubkey_(SettingsValue::toText(prefs.defaults().value(QString::fromLatin1(
                                                        Preferences::Keys::lastSelectedPeerPubkey)))
                                  .value_or(QString())),
      recentIO_(std::make_unique<SerialQueue>("com.quenfold.ferrytide.recent-files")) {
  reloadPeers();
  loadRecentFiles();
  if (prefs_.damagedNotice()) setLastError(prefs_.damagedNotice());
}

// The queue finishes the saves still waiting before the state goes.
AppState::~AppState() = default;

void AppState::setReceiveStatus(const ReceiveStatus& status) {
  if (receiveStatus_ == status) return;
  receiveStatus_ = status;
  Q_EMIT receiveStatusChanged(receiveStatus_);
}

void AppState::setLastError(const std::optional<QString>& error) {
  if (lastError_ == error) return;
  lastError_ = error;
  Q_EMIT lastErrorChanged(lastError_);
}

void AppState::setLastSelectedPeerPubkey(const QString& pubkey) {
  prefs_.storeValue(Preferences::Keys::lastSelectedPeerPubkey, pubkey);
  if (lastSelectedPeerPubkey_ == pubkey) return;
  lastSelectedPeerPubkey_ = pubkey;
  Q_EMIT lastSelectedPeerPubkeyChanged(pubkey);
  Q_EMIT selectedPeerChanged();
}

void AppState::reloadPeers() {
  try {
    std::vector<PeerRecord> peers = store_.loadBook().peers;
    std::stable_sort(peers.begin(), peers.end(), [](const PeerRecord& a, const PeerRecord& b) {
      return a.paired_at_epoch_ms > b.paired_at_epoch_ms;
    });
    setPeers(std::move(peers));
    setLastError(std::nullopt);
  } catch (const std::exception& error) {
    kLog.error(std::string("peers unreadable: ") + error.what());
    setPeers({});
    setLastError(QString::fromStdString(error.what()));
  }
  mirrorPeersToAppGroup();
}

void AppState::setPeers(std::vector<PeerRecord> peers) {
  if (peers_ == peers) return;
  peers_ = std::move(peers);
  Q_EMIT peersChanged(peers_);
  Q_EMIT selectedPeerChanged();
}

std::vector<ShareOutbox::SharePeer> AppState::sharePeers() const {
  std::vector<ShareOutbox::SharePeer> sharePeers;
  sharePeers.reserve(peers_.size());
  for (const PeerRecord& peer : peers_) {
    sharePeers.push_back(ShareOutbox::SharePeer::fromPeer(peer, displayName(peer).toStdString()));
  }
  std::string target = defaultOutboundPeerPubkey().toStdString();
  auto chosen =
      std::find_if(sharePeers.begin(), sharePeers.end(),
                   [&](const ShareOutbox::SharePeer& peer) { return peer.pubkey == target; });
  if (chosen != sharePeers.end()) std::rotate(sharePeers.begin(), chosen, chosen + 1);
  return sharePeers;
}

void AppState::mirrorPeersToAppGroup() const {
  std::vector<ShareOutbox::SharePeer> phones = sharePeers();
  outbox_.writePeers(phones);
  if (peersMirrored) peersMirrored(phones);
}

void AppState::recordFile(const FileLog& row) {
  std::vector<FileLog> rows = recentFiles_;
  rows.insert(rows.begin(), row);
  if (rows.size() > recentFilesLimit) rows.resize(recentFilesLimit);
  setRecentFiles(std::move(rows));
  saveRecentFiles();
}

void AppState::setRecentFiles(std::vector<FileLog> rows) {
  recentFiles_ = std::move(rows);
  Q_EMIT recentFilesChanged(recentFiles_);
}

void AppState::saveRecentFiles() {
  recentIO_->run([store = recentFilesStore_, rows = recentFiles_] { store.save(rows); });
}

void AppState::loadRecentFiles() {
  std::filesystem::path seedFrom = prefs_.saveFolder().toStdString();
  std::weak_ptr<int> alive = lifetime_;
  recentIO_->run([this, alive, store = recentFilesStore_, seedFrom] {
    RecentFilesStore::Loaded loaded = store.load(seedFrom, recentFilesLimit);
    postToMainThread([this, alive, loaded = std::move(loaded)]() mutable {
      if (alive.expired()) return;
      mergeLoadedRecentFiles(std::move(loaded));
    });
  });
}

// Rows recorded while the list was loading stay in front.
void AppState::mergeLoadedRecentFiles(RecentFilesStore::Loaded loaded) {
  std::vector<FileLog> rows = recentFiles_;
  for (FileLog& row : loaded.entries) {
    if (rows.size() == recentFilesLimit) break;
    rows.push_back(std::move(row));
  }
  setRecentFiles(std::move(rows));
  if (loaded.damagedNotice) setLastError(loaded.damagedNotice);
}

void AppState::forget(const PeerRecord& peer, bool tellPeer) {
  // Queued before anything is removed, so that the notice still has the whole record.
  if (tellPeer && queueUnpairNotice) queueUnpairNotice(peer);
  try {
    store_.removeFirst(
        [&](const PeerRecord& record) { return record.peer_pubkey == peer.peer_pubkey; });
  } catch (const std::exception& error) {
    setLastError(QStringLiteral("forget peer: ") + QString::fromStdString(error.what()));
    return;
  }
  prefs_.removeDisplayName(QString::fromStdString(peer.peer_pubkey));
  reloadPeers();
  if (requestStopReceiver) requestStopReceiver();
  if (requestStartReceiver) requestStartReceiver();
}

QString AppState::defaultOutboundPeerPubkey() const {
  if (!lastSelectedPeerPubkey_.isEmpty()) {
    std::string remembered = lastSelectedPeerPubkey_.toStdString();
    for (const PeerRecord& peer : peers_) {
      if (peer.peer_pubkey == remembered) return lastSelectedPeerPubkey_;
    }
  }
  if (peers_.empty()) return {};
  return QString::fromStdString(peers_.front().peer_pubkey);
}

std::optional<PeerRecord> AppState::selectedPeer() const {
  std::string key = defaultOutboundPeerPubkey().toStdString();
  for (const PeerRecord& peer : peers_) {
    if (peer.peer_pubkey == key) return peer;
  }
  return std::nullopt;
}

std::optional<PeerRecord> AppState::peer(const QString& remoteEndpoint) const {
  std::string address = host(remoteEndpoint).toStdString();
  for (const PeerRecord& candidate : peers_) {
    if (candidate.peer_ip == address) return candidate;
  }
  return std::nullopt;
}

QString AppState::peerName(const QString& remoteEndpoint) const {
  if (std::optional<PeerRecord> found = peer(remoteEndpoint)) return displayName(*found);
  if (peers_.size() == 1) return displayName(peers_.front());
  return QStringLiteral("your phone");
}

QString AppState::currentName(const QString& stored, const std::optional<QString>& pubkey) const {
  if (pubkey) {
    std::string key = pubkey->toStdString();
    for (const PeerRecord& peer : peers_) {
      if (peer.peer_pubkey == key) return displayName(peer);
    }
  }
  std::string storedName = stored.toStdString();
  for (const PeerRecord& peer : peers_) {
    QString custom = prefs_.displayNames().value(QString::fromStdString(peer.peer_pubkey));
    if (peer.peer_hostname == storedName || (!custom.isNull() && custom == stored)) {
      return displayName(peer);
    }
  }
  return stored;
}

QString AppState::displayName(const PeerRecord& peer) const {
  auto custom = prefs_.displayNames().constFind(QString::fromStdString(peer.peer_pubkey));
  if (custom != prefs_.displayNames().cend()) return *custom;
  return QString::fromStdString(peer.peer_hostname);
}

QString AppState::host(const QString& endpoint) {
  if (endpoint.startsWith(u'[')) {
    qsizetype close = endpoint.indexOf(u']');
    if (close != -1) return endpoint.mid(1, close - 1);
  }
  if (endpoint.count(u':') != 1) return endpoint;
  return endpoint.left(endpoint.lastIndexOf(u':'));
}

}  // namespace ferrytide::menu
