#pragma once

#include <QObject>
#include <QString>
#include <functional>

#include "core/peers/peer_record.h"

namespace ferrytide::menu {

class AppState;
class ClipboardService;
class Notifier;
class PeerSync;

// What the clipboard hot key does: copies the user's current selection, sends the clipboard's
// text to the selected phone, and tells the outcome in a notice, with a retry for a phone
// that could not be reached. Main thread only.
class ClipboardHotkey : public QObject {
  Q_OBJECT

 public:
  // Copies the focused program's selection to the clipboard; false when this desktop does not
  // let the application send keys (the clipboard is then sent as it is).
  using CopySelection = std::function<bool()>;

  ClipboardHotkey(AppState& appState, ClipboardService& clipboard, PeerSync& peerSync,
                  Notifier& notifier, CopySelection copySelection, QObject* parent = nullptr);

  // The hot key was pressed.
  void sendClipboard();
  // Sends `text` to `peer` and tells how it went.
  void sendText(const QString& text, const PeerRecord& peer);

 private:
  void sent(std::exception_ptr failure, const QString& text, const PeerRecord& peer,
            const QString& name);

  AppState& appState_;
  ClipboardService& clipboard_;
  PeerSync& peerSync_;
  Notifier& notifier_;
  CopySelection copySelection_;
};

}  // namespace ferrytide::menu
