#include "menu/services/peer_sync.h"

#include <QSettings>
#include <QTimer>
#include <QVariantMap>
#include <optional>
#include <system_error>

#include "core/support/file_io.h"
#include "core/support/json.h"
#include "core/support/log.h"
#include "core/support/paths.h"
#include "core/transfer/send_error.h"
#include "menu/models/app_state.h"
#include "menu/models/format.h"
#include "menu/models/preferences.h"
#include "menu/services/notifier.h"

namespace ferrytide::menu {
namespace {

const Logger kLog("peer-sync");

QString text(const std::string& value) { return QString::fromStdString(value); }

QByteArray encodeRecord(const PeerRecord& peer) {
  return QByteArray::fromStdString(json::encodeCompact(peer.toJson()));
}

std::optional<PeerRecord> decodeRecord(const QByteArray& bytes) {
  try {
    return PeerRecord::fromJson(json::parse(std::string_view(bytes.constData(), bytes.size())));
  } catch (const std::exception&) {
    return std::nullopt;
  }
}

std::optional<SendError::Kind> sendErrorKind(std::exception_ptr error) {
  try {
    std::rethrow_exception(error);
  } catch (const SendError& sendError) {
    return sendError.kind();
  } catch (...) {
    return std::nullopt;
  }
}

// The command-line tool's queue file: {"<peer_pubkey>": {<the phone's record>}, ...}.
std::vector<PeerRecord> decodeCommandLineQueue(const Bytes& content) {
  json::Value queue = json::parse(content);
  json::requireObject(queue);
  std::vector<PeerRecord> phones;
  for (const auto& [pubkey, record] : queue.items()) {
    PeerRecord phone = PeerRecord::fromJson(record);
    if (phone.peer_pubkey != pubkey) {
      throw json::DecodeError("the entry under " + pubkey + " is another phone's record");
    }
    phones.push_back(std::move(phone));
  }
  return phones;
}

// The tool may have queued another notice since the file was read: then the file stays and
// is taken over at the next start (notices already adopted are not doubled).
void removeIfUnchanged(const std::filesystem::path& file, const Bytes& adopted) {
  try {
    if (file_io::readIfExists(file) != adopted) return;
  } catch (const std::exception&) {
    return;
  }
  std::error_code error;
  std::filesystem::remove(file, error);
  if (error) kLog.warning("could not remove " + file.string() + ": " + error.message());
}

}  // namespace

std::filesystem::path PeerSync::defaultCommandLineQueue() {
  return paths::applicationSupportDirectory() / commandLineQueueName;
}

PeerSync::PeerSync(AppState& appState, Notifier& notifier, CoreRuntime& runtime, Network network,
                   QObject* parent)
    : QObject(parent),
      appState_(appState),
      notifier_(notifier),
      runtime_(runtime),
      network_(std::move(network)) {
  appState_.queueUnpairNotice = [this](const PeerRecord& peer) { queueUnpair(peer); };
}

PeerSync::~PeerSync() { appState_.queueUnpairNotice = nullptr; }

Preferences& PeerSync::prefs() const { return appState_.prefs(); }

void PeerSync::queueUnpair(const PeerRecord& peer) {
  std::map<QString, QByteArray> pending = prefs().pendingUnpairs();
  pending[text(peer.peer_pubkey)] = encodeRecord(peer);
  storePending(pending);
  flush();
}

void PeerSync::flush() {
  if (flushing_) {
    flushAgain_ = true;
    return;
  }
  QSettings& settings = prefs().defaults();
  QString obsolete = QString::fromLatin1(Preferences::Keys::pendingNames);
  if (settings.contains(obsolete)) {
    settings.remove(obsolete);
    settings.sync();
  }
  std::map<QString, QByteArray> pending = prefs().pendingUnpairs();
  if (pending.empty()) return;
  flushing_ = true;
  std::vector<QString> keys;
  for (const auto& [pubkey, record] : pending) keys.push_back(pubkey);
  // Delivery starts once the caller is done: a phone being forgotten queues its notice while
  // it is still in the peer list, and only a phone still paired after that has been paired
  // again.
  QTimer::singleShot(0, this, [this, keys = std::move(keys)] { deliver(keys); });
}

void PeerSync::deliver(const std::vector<QString>& keys) {
  std::optional<crypto::X25519PrivateKey> key;
  try {
    key = network_.keyVault.loadOrCreate();
  } catch (const std::exception& error) {
    kLog.warning(std::string("Unpair pending: ") + error.what());
    return finishFlush();
  }
  deliverNext(*key, keys, 0);
}

// One notice at a time. Each is looked up again before it goes out: the receiver may have
// told the phone meanwhile, or the phone been paired again.
void PeerSync::deliverNext(const crypto::X25519PrivateKey& key, std::vector<QString> keys,
                           std::size_t next) {
  for (; next < keys.size(); ++next) {
    const QString& pubkey = keys[next];
    std::map<QString, QByteArray> pending = prefs().pendingUnpairs();
    auto found = pending.find(pubkey);
    if (found == pending.end()) continue;
    std::optional<PeerRecord> peer = decodeRecord(found->second);
    if (!peer) {
      kLog.warning("dropping an unpair notice that is not a phone's record");
      removePending(pubkey);
      continue;
    }
    if (isPaired(pubkey)) {
      kLog.info("dropping the unpair notice of a phone that is paired again");
      removePending(pubkey);
      continue;
    }
    auto proceed = [this, key, keys, next](std::exception_ptr failure) {
      delivered(keys[next], failure);
      deliverNext(key, keys, next + 1);
    };
    runtime_.start(
        this, sendOneOff(msg::Unpair{}, *peer, key, network_.oneOff),
        [proceed] { proceed(nullptr); }, proceed);
    return;
  }
  finishFlush();
}

void PeerSync::delivered(const QString& pubkey, std::exception_ptr failure) {
  // A phone that answers Unpair has forgotten this computer already: that is what the notice
  // was for.
  if (!failure || sendErrorKind(failure) == SendError::Kind::peerRemoved) {
    removePending(pubkey);
  } else {
    kLog.info("Unpair pending: " + CoreRuntime::describe(failure).toStdString());
  }
}

void PeerSync::finishFlush() {
  flushing_ = false;
  Q_EMIT flushed();
  if (flushAgain_) {
    flushAgain_ = false;
    flush();
  }
}

void PeerSync::handle(const ProcessOutcome& outcome) {
  if (std::holds_alternative<outcome::SetName>(outcome) ||
      std::holds_alternative<outcome::NameUpdate>(outcome)) {
    kLog.info("ignoring a name message");
  } else if (const auto* unpair = std::get_if<outcome::Unpair>(&outcome)) {
    kLog.info("a phone removed this computer");
    removeLocally(unpair->peerPubkey);
  } else if (const auto* replied = std::get_if<outcome::UnpairReplied>(&outcome)) {
    removePending(text(replied->peerPubkey));
  } else {
    return;
  }
  flush();
}

bool PeerSync::noteSendError(std::exception_ptr error, const PeerRecord& peer) {
  QString name = appState_.displayName(peer);
  std::optional<SendError::Kind> kind = sendErrorKind(error);
  if (kind == SendError::Kind::declined) {
    notifier_.message(name + QStringLiteral(" declined"), QStringLiteral("The file wasn't sent."));
    return true;
  }
  if (kind == SendError::Kind::peerRemoved) {
    removeLocally(peer.peer_pubkey);
    notifier_.message(name + QStringLiteral(" removed this computer"),
                      QStringLiteral("Pair it again to send to it."));
    return true;
  }
  return false;
}

void PeerSync::renamePeer(const PeerRecord& peer, const QString& name) {
  QString pubkey = text(peer.peer_pubkey);
  if (name == text(peer.peer_hostname)) {
    prefs().removeDisplayName(pubkey);
  } else {
    prefs().setDisplayName(name, pubkey);
  }
  appState_.mirrorPeersToAppGroup();
  Q_EMIT appState_.peersChanged(appState_.peers());
}

void PeerSync::renameSelf(const QString& name) {
  QString words = Format::prefix(name.simplified(), maxDeviceNameLength);
  if (!words.isEmpty()) prefs().setDeviceName(words);
}

void PeerSync::adoptCommandLineQueue(const std::filesystem::path& file) {
  std::optional<Bytes> content;
  std::vector<PeerRecord> queued;
  try {
    content = file_io::readIfExists(file);
    if (!content) return;
    queued = decodeCommandLineQueue(*content);
  } catch (const std::exception& error) {
    kLog.warning("the command-line tool's unpair queue stays in " + file.string() +
                 ", it is damaged: " + error.what());
    return;
  }
  std::map<QString, QByteArray> pending = prefs().pendingUnpairs();
  for (const PeerRecord& phone : queued) {
    pending.try_emplace(text(phone.peer_pubkey), encodeRecord(phone));
  }
  if (storePending(pending)) removeIfUnchanged(file, *content);
}

bool PeerSync::isPaired(const QString& pubkey) const {
  std::string key = pubkey.toStdString();
  for (const PeerRecord& peer : appState_.peers()) {
    if (peer.peer_pubkey == key) return true;
  }
  return false;
}

void PeerSync::removePending(const QString& pubkey) {
  std::map<QString, QByteArray> pending = prefs().pendingUnpairs();
  if (pending.erase(pubkey) > 0) storePending(pending);
}

// Whether the settings took the queue.
bool PeerSync::storePending(const std::map<QString, QByteArray>& pending) {
  QVariantMap stored;
  for (const auto& [pubkey, record] : pending) stored.insert(pubkey, record);
  prefs().storeValue(Preferences::Keys::pendingUnpairs, stored);
  return prefs().defaults().status() == QSettings::NoError;
}

void PeerSync::removeLocally(const std::string& pubkey) {
  for (const PeerRecord& peer : appState_.peers()) {
    // A copy: forgetting reloads the list the reference points into.
    if (peer.peer_pubkey == pubkey) return appState_.forget(PeerRecord(peer), false);
  }
}

}  // namespace ferrytide::menu
