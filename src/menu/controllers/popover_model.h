#pragma once

#include <QObject>
#include <QString>
#include <QStringList>
#include <QTimer>
#include <chrono>
#include <exception>
#include <functional>
#include <optional>

#include "core/peers/peer_record.h"
#include "menu/controllers/send_controller.h"
#include "menu/controllers/send_phase.h"
#include "menu/core_runtime.h"
#include "menu/models/clip.h"

namespace ferrytide::menu {

class AppState;
class ClipboardService;
class Notifier;
class PeerSync;
class Preferences;

struct PopoverModelOptions {
  // The file sends started from the popover (and the tray icon's drops).
  SendControllerOptions send;
  // How long a finished send keeps showing its result.
  std::chrono::milliseconds doneResetDelay = std::chrono::seconds(8);
};

// The state behind the tray popover and the operations its views call: the open tab, the
// notice at the top of the Clips tab, the compose box and its send, the files dragged onto the
// tray icon, and the send controller behind the Files tab. No widgets: the views observe the
// properties and call the slots. A finished file send shows its result for a while and then
// goes back to idle; a failure stays until the next send. Main thread only.
class PopoverModel : public QObject {
  Q_OBJECT
  Q_PROPERTY(Tab tab READ tab WRITE setTab NOTIFY tabChanged)
  Q_PROPERTY(
      std::optional<ferrytide::menu::PopoverModel::Notice> notice READ notice NOTIFY noticeChanged)
  Q_PROPERTY(QString noticeText READ noticeText NOTIFY noticeChanged)
  Q_PROPERTY(QString composeText READ composeText WRITE setComposeText NOTIFY composeTextChanged)
  Q_PROPERTY(ferrytide::menu::PopoverModel::ComposeStatus composeStatus READ composeStatus NOTIFY
                 composeStatusChanged)
  Q_PROPERTY(std::optional<int> externalDragCount READ externalDragCount WRITE setExternalDragCount
                 NOTIFY externalDragCountChanged)
  Q_PROPERTY(ferrytide::menu::SendPhase sendPhase READ sendPhase NOTIFY sendPhaseChanged)
  Q_PROPERTY(QString receiveStatusText READ receiveStatusText NOTIFY receiveStatusTextChanged)
  Q_PROPERTY(QString selectedPeerName READ selectedPeerName NOTIFY selectedPeerNameChanged)

 public:
  using Options = PopoverModelOptions;
  // Shows the file picker (files only, several at once, starting in `startFolder` when it is
  // not empty) and gives the chosen paths, none when the user cancelled.
  using FilePicker = std::function<QStringList(const QString& startFolder)>;

  enum class Tab { files, clips };
  Q_ENUM(Tab)

  // The banner at the top of the Clips tab.
  struct Notice {
    enum class Kind {
      textReceived,    // `clip` arrived from a phone; `copied`: it is on the clipboard
      passwordBlocked  // the clipboard holds a password or other concealed content
    };
    Kind kind = Kind::passwordBlocked;
    Clip clip;
    bool copied = false;

    static Notice textReceived(const Clip& clip, bool copied) {
      return {Kind::textReceived, clip, copied};
    }
    static Notice passwordBlocked() { return {}; }
    bool operator==(const Notice&) const = default;
  };

  // Where the compose box's send stands.
  struct ComposeStatus {
    enum class Kind {
      sent,    // `text`: the phone's display name
      failed,  // `text`: the message to show
      ready,
      sending
    };
    Kind kind = Kind::ready;
    QString text;

    static ComposeStatus sent(const QString& peerName) { return {Kind::sent, peerName}; }
    static ComposeStatus failed(const QString& message) { return {Kind::failed, message}; }
    static ComposeStatus ready() { return {}; }
    static ComposeStatus sending() { return {Kind::sending, {}}; }
    bool operator==(const ComposeStatus&) const = default;
  };

  // Takes over the clipboard service's onIncoming until it is destroyed.
  PopoverModel(AppState& appState, ClipboardService& clipboard, PeerSync& peerSync,
               Notifier& notifier, CoreRuntime& runtime, Options options = {},
               QObject* parent = nullptr);
  ~PopoverModel() override;

  // Set by the tray application, which owns the windows.
  FilePicker pickFiles;

  Tab tab() const { return tab_; }
  const std::optional<Notice>& notice() const { return notice_; }
  // "<preview> is on your clipboard", "<preview> is in Clips", "Your clipboard holds a
  // password", or empty without a notice.
  QString noticeText() const;
  const QString& composeText() const { return composeText_; }
  const ComposeStatus& composeStatus() const { return composeStatus_; }
  const std::optional<int>& externalDragCount() const { return externalDragCount_; }
  const SendPhase& sendPhase() const { return send_.phase(); }
  // "Ready to receive" or "Not receiving".
  QString receiveStatusText() const;
  // The display name of the phone that sends go to; empty when none is paired.
  const QString& selectedPeerName() const { return selectedPeerName_; }
  // "Drop files here to send to <phone>", or "Release to send to <phone>" while files are
  // dragged over the drop zone.
  Q_INVOKABLE QString dropZoneText(bool dragOver) const;

  SendController& send() { return send_; }
  AppState& appState() const { return appState_; }

 public Q_SLOTS:
  // Remembered in the settings.
  void setTab(ferrytide::menu::PopoverModel::Tab tab);
  void setComposeText(const QString& text);
  void setExternalDragCount(const std::optional<int>& count);

  // Sends the regular files among `paths` (folders and other entries are left out) to the
  // selected phone. False when nothing was sent: no files, no phone, or a send is running.
  bool sendFiles(const QStringList& paths);
  // Lets the user pick files through pickFiles, remembers their folder for the next pick and
  // sends them.
  void chooseFiles();
  // Stops the file send under way.
  void cancelSend();

  // Fills the compose box from the clipboard, unless the user is writing there or a send is
  // under way. Called when the Clips tab appears.
  void refreshCompose();
  // The user changed the compose box: a shown result gives way.
  void composeEdited();
  // Sends the compose box to the selected phone and records it in the clip history.
  void sendText();
  // The password notice's "Send anyway": the clipboard goes out unread by the history.
  void sendAnyway();
  // "Don't send", or closing any notice.
  void dismissNotice();

 Q_SIGNALS:
  void tabChanged(ferrytide::menu::PopoverModel::Tab tab);
  void noticeChanged();
  void composeTextChanged(const QString& text);
  void composeStatusChanged(const ferrytide::menu::PopoverModel::ComposeStatus& status);
  void externalDragCountChanged(const std::optional<int>& count);
  void sendPhaseChanged(const ferrytide::menu::SendPhase& phase);
  void receiveStatusTextChanged(const QString& text);
  void selectedPeerNameChanged(const QString& name);

 private:
  void sendClip(const QString& text, bool recordInHistory);
  void textSent(std::exception_ptr failure, const PeerRecord& peer, const QString& name);
  QString failureMessage(std::exception_ptr failure, const PeerRecord& peer, const QString& name);
  void phaseChanged(const SendPhase& phase);
  void updateSelectedPeerName();
  void setNotice(const std::optional<Notice>& notice);
  void setComposeStatus(const ComposeStatus& status);
  QString lastPickDirectory() const;

  AppState& appState_;
  Preferences& prefs_;
  ClipboardService& clipboard_;
  PeerSync& peerSync_;
  CoreRuntime& runtime_;
  SendController send_;
  Tab tab_ = Tab::files;
  std::optional<Notice> notice_;
  QString composeText_;
  ComposeStatus composeStatus_;
  std::optional<int> externalDragCount_;
  QString selectedPeerName_;
  // Restarted by a done phase and stopped by every other, so only the latest done resets.
  QTimer doneReset_;
};

}  // namespace ferrytide::menu
