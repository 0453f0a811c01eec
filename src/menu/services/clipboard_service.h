#pragma once

#include <QObject>
#include <QString>
#include <exception>
#include <functional>
#include <optional>

#include "core/peers/peer_record.h"
#include "core/support/error.h"
#include "core/transfer/pasteboard_writer.h"
#include "menu/core_runtime.h"
#include "menu/models/clip_history.h"
#include "menu/models/preferences.h"
#include "menu/services/one_off_network.h"

namespace ferrytide::menu {

class Notifier;

// Clipboard text both ways for the application: sends it to a phone and records it, and puts
// what a phone sent on the clipboard (when the user wants that), in the history and in a
// notice. Main thread only.
class ClipboardService : public QObject {
  Q_OBJECT

 public:
  // Longer texts are refused when sent and cut when received (user-perceived characters).
  static constexpr int maxCharacters = 100'000;

  class SendError : public Error {
   public:
    enum class Kind { empty, tooLong };
    static SendError empty() { return {Kind::empty, "There's nothing to send."}; }
    static SendError tooLong() { return {Kind::tooLong, "That's too much text to send at once."}; }
    Kind kind() const { return kind_; }

   private:
    SendError(Kind kind, const char* text) : Error(text), kind_(kind) {}
    Kind kind_;
  };

  using Network = OneOffNetwork;
  // Nothing on success, else why the send failed.
  using SendDone = std::function<void(std::exception_ptr failure)>;

  ClipboardService(Preferences& prefs, ClipHistory& history, Notifier& notifier,
                   PasteboardWriter& pasteboard, CoreRuntime& runtime, Network network = {},
                   QObject* parent = nullptr);

  // Set by the popover: a clip that arrived, and whether it went on the clipboard.
  std::function<void(const Clip&, bool copied)> onIncoming;
  // False without a display: received text is then neither copied nor announced as copied.
  bool clipboardAvailable = true;

  // At most maxCharacters user-perceived characters; anything longer cut there.
  static QString cutToLimit(const QString& text);

  // Sends the text to the phone and, once it went out, records it under `peerName` (unless
  // `recordInHistory` is false: a secret sent anyway stays out of the history). `done`
  // runs on the main thread (at once for text that is refused) with ClipboardService::SendError,
  // KeyVault::Error or the one-off send's ferrytide::SendError; not at all when the service is
  // gone first.
  void send(const QString& text, const PeerRecord& peer, const QString& peerName, SendDone done,
            bool recordInHistory = true);
  // Text a phone sent: cut to the limit, put on the clipboard when the user wants that,
  // recorded unless empty, announced, and handed to onIncoming.
  void receive(const QString& text, const QString& peerName, const std::optional<QString>& pubkey);

  PasteboardWriter& pasteboard() { return pasteboard_; }

 private:
  Preferences& prefs_;
  ClipHistory& history_;
  Notifier& notifier_;
  PasteboardWriter& pasteboard_;
  CoreRuntime& runtime_;
  Network network_;
};

}  // namespace ferrytide::menu
