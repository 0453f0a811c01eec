#include "menu/services/clipboard_service.h"

#include "menu/models/format.h"
#include "menu/services/notifier.h"

namespace ferrytide::menu {
ClipboardService::ClipboardService(Preferences& prefs, ClipHistory& history, Notifier& notifier,
                                   PasteboardWriter& pasteboard, CoreRuntime& runtime,
                                   Network network, QObject* parent)
    : QObject(parent),
      prefs_(prefs),
      history_(history),
      notifier_(notifier),
      pasteboard_(pasteboard),
      runtime_(runtime),
      network_(std::move(network)) {}

QString ClipboardService::cutToLimit(const QString& text) {
  // A UTF-16 unit never holds more than one character, so a short text needs no counting.
  return text.size() > maxCharacters ? Format::prefix(text, maxCharacters) : text;
}

void ClipboardService::send(const QString& text, const PeerRecord& peer, const QString& peerName,
                            SendDone done, bool recordInHistory) {
  if (text.isEmpty()) return done(std::make_exception_ptr(SendError::empty()));
  if (cutToLimit(text).size() < text.size()) {
    return done(std::make_exception_ptr(SendError::tooLong()));
  }
  std::optional<crypto::X25519PrivateKey> key;
  try {
    key = network_.keyVault.loadOrCreate();
  } catch (...) {
    return done(std::current_exception());
  }
  runtime_.start(
      this, sendClipboard(text.toStdString(), peer, *key, "text/plain", network_.oneOff),
      [this, text, peer, peerName, done, recordInHistory] {
        if (recordInHistory) {
          history_.insert(Clip::make(text, Clip::Direction::outgoing, peerName,
                                     QString::fromStdString(peer.peer_pubkey)));
        }
        done(nullptr);
      },
      [done](std::exception_ptr failure) { done(failure); });
}

void ClipboardService::receive(const QString& received, const QString& peerName,
                               const std::optional<QString>& pubkey) {
  QString text = cutToLimit(received);
  bool copied = clipboardAvailable && prefs_.copyReceivedText();
  if (copied) pasteboard_.write(text.toStdString());
  Clip clip = Clip::make(text, Clip::Direction::incoming, peerName, pubkey);
  if (!text.isEmpty()) history_.insert(clip);
  notifier_.textReceived(text, peerName, copied);
  if (onIncoming) onIncoming(clip, copied);
}

}  // namespace ferrytide::menu
