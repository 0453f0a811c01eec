#include "menu/controllers/clipboard_hotkey.h"

#include <QPointer>

#include "menu/core_runtime.h"
#include "menu/models/app_state.h"
#include "menu/models/format.h"
#include "menu/services/clipboard_service.h"
#include "menu/services/notifier.h"
#include "menu/services/peer_sync.h"

namespace ferrytide::menu {

ClipboardHotkey::ClipboardHotkey(AppState& appState, ClipboardService& clipboard,
                                 PeerSync& peerSync, Notifier& notifier,
                                 CopySelection copySelection, QObject* parent)
    : QObject(parent),
      appState_(appState),
      clipboard_(clipboard),
      peerSync_(peerSync),
      notifier_(notifier),
      copySelection_(std::move(copySelection)) {}

void ClipboardHotkey::sendClipboard() {
  if (copySelection_ && !copySelection_()) {
    notifier_.message(QStringLiteral("Sending what's on your clipboard"),
                      QStringLiteral("This desktop doesn't let Ferrytide copy your current "
                                     "selection. Copy it with Ctrl+C first."));
  }
  const PasteboardWriter::ReadResult clipboard = clipboard_.pasteboard().readForSend();
  switch (clipboard.kind) {
    case PasteboardWriter::ReadResult::Kind::empty:
      return notifier_.message(QStringLiteral("Nothing to send"),
                               QStringLiteral("Your clipboard is empty."));
    case PasteboardWriter::ReadResult::Kind::blockedSensitive:
      return notifier_.message(
          QStringLiteral("Not sent"),
          QStringLiteral(
              "Your clipboard holds a password. Open Ferrytide › Clips to send it anyway."));
    case PasteboardWriter::ReadResult::Kind::text:
      break;
  }
  const std::optional<PeerRecord> peer = appState_.selectedPeer();
  if (!peer) {
    return notifier_.message(QStringLiteral("No phone paired"),
                             QStringLiteral("Pair a phone in Ferrytide first."));
  }
  sendText(QString::fromStdString(clipboard.text), *peer);
}

void ClipboardHotkey::sendText(const QString& text, const PeerRecord& peer) {
  const QString name = appState_.displayName(peer);
  QPointer<ClipboardHotkey> self(this);
  clipboard_.send(text, peer, name, [self, text, peer, name](std::exception_ptr failure) {
    if (self) self->sent(failure, text, peer, name);
  });
}

void ClipboardHotkey::sent(std::exception_ptr failure, const QString& text,
                           const PeerRecord& peer, const QString& name) {
  if (!failure) {
    return notifier_.message(QStringLiteral("Sent to ") + name, Format::preview(text));
  }
  try {
    std::rethrow_exception(failure);
  } catch (const ClipboardService::SendError& error) {
    return notifier_.message(QStringLiteral("Not sent"), QString::fromUtf8(error.what()));
  } catch (...) {
  }
  if (peerSync_.noteSendError(failure, peer)) return;
  QPointer<ClipboardHotkey> self(this);
  notifier_.sendFailed(name, [self, text, peer] {
    if (self) self->sendText(text, peer);
  });
}

}  // namespace ferrytide::menu
