#pragma once

#include <QObject>
#include <QString>
#include <exception>
#include <filesystem>
#include <map>
#include <vector>

#include "core/peers/peer_record.h"
#include "core/support/bytes.h"
#include "core/support/crypto.h"
#include "core/transfer/process_outcome.h"
#include "menu/core_runtime.h"
#include "menu/services/one_off_network.h"

namespace ferrytide::menu {

class AppState;
class Notifier;
class Preferences;

// Keeps this computer and its phones in step about who is paired. A phone forgotten here is
// told so, now or at a later flush: its notice waits in the settings under
// "ferrytide.pendingUnpairs" (the phone's "peer_pubkey" to its whole record as JSON bytes,
// since the phone has left the peer file by then) until the phone has heard it, answered that
// it forgot this computer itself, or been paired again. A phone that forgot this computer is
// dropped here. Renames stay on this computer. Main thread only.
class PeerSync : public QObject {
  Q_OBJECT

 public:
  using Network = OneOffNetwork;

  static constexpr int maxDeviceNameLength = 40;

  // The command-line tool's queue of unpair notices, in the application data folder.
  static constexpr const char* commandLineQueueName = "pending-unpairs.json";
  static std::filesystem::path defaultCommandLineQueue();

  // Installs itself as the application state's unpair queue (and removes itself again).
  PeerSync(AppState& appState, Notifier& notifier, CoreRuntime& runtime, Network network = {},
           QObject* parent = nullptr);
  ~PeerSync() override;

  // Stores the notice (replacing an older one for the phone), then flushes.
  void queueUnpair(const PeerRecord& peer);
  // Delivers every queued notice, one after the other, from the next pass of the event loop
  // on. A flush asked for while one runs follows it once it is done.
  void flush();
  // Reacts to the receiver's control outcomes: setName, nameUpdate, unpair, unpairReplied.
  void handle(const ProcessOutcome& outcome);
  // True when the error meant the phone declined or removed this computer and the user has
  // been told; the caller then shows nothing more.
  bool noteSendError(std::exception_ptr error, const PeerRecord& peer);
  // The phone's own name clears its custom name; any other name becomes it.
  void renamePeer(const PeerRecord& peer, const QString& name);
  // The words of `name` joined by single spaces, at most 40 characters; a blank name is
  // ignored.
  void renameSelf(const QString& name);

  // Takes over the command-line tool's queue ("pending-unpairs.json": an object from a phone's
  // "peer_pubkey" to its record): its notices join this queue (one already queued here for the
  // same phone stays as it is) and the file is removed. A damaged file is logged and left
  // where it is. Call it before the start-up flush, which then delivers the notices.
  void adoptCommandLineQueue(const std::filesystem::path& file = defaultCommandLineQueue());

  bool flushing() const { return flushing_; }

 Q_SIGNALS:
  // A flush has delivered what it could.
  void flushed();

 private:
  Preferences& prefs() const;
  void deliver(const std::vector<QString>& keys);
  void deliverNext(const crypto::X25519PrivateKey& key, std::vector<QString> keys,
                   std::size_t next);
  void delivered(const QString& pubkey, std::exception_ptr failure);
  void finishFlush();
  bool isPaired(const QString& pubkey) const;
  void removePending(const QString& pubkey);
  bool storePending(const std::map<QString, QByteArray>& pending);
  void removeLocally(const std::string& pubkey);

  AppState& appState_;
  Notifier& notifier_;
  CoreRuntime& runtime_;
  Network network_;
  bool flushing_ = false;
  bool flushAgain_ = false;
};

}  // namespace ferrytide::menu
