#include "menu/controllers/popover_model.h"

#include <QFile>
#include <QFileInfo>
#include <QPointer>
#include <filesystem>
#include <system_error>
#include <utility>
#include <vector>

#include "core/channel/key_vault.h"
#include "core/transfer/pasteboard_writer.h"
#include "core/transfer/send_error.h"
#include "menu/models/app_state.h"
#include "menu/models/format.h"
#include "menu/models/preferences.h"
#include "menu/models/settings_value.h"
#include "menu/services/clipboard_service.h"
#include "menu/services/peer_sync.h"

namespace ferrytide::menu {
namespace {

QString tabName(PopoverModel::Tab tab) {
  return tab == PopoverModel::Tab::clips ? QStringLiteral("clips") : QStringLiteral("files");
}

// Only regular files (symbolic links followed): a folder is no file to send, and a pipe or a
// device would never end.
std::vector<std::filesystem::path> regularFiles(const QStringList& paths) {
  std::vector<std::filesystem::path> files;
  for (const QString& path : paths) {
    std::filesystem::path file(QFile::encodeName(path).toStdString());
    std::error_code error;
    if (std::filesystem::is_regular_file(file, error)) files.push_back(std::move(file));
  }
  return files;
}

}  // namespace

PopoverModel::PopoverModel(AppState& appState, ClipboardService& clipboard, PeerSync& peerSync,
                           Notifier& notifier, CoreRuntime& runtime, Options options,
                           QObject* parent)
    : QObject(parent),
      appState_(appState),
      prefs_(appState.prefs()),
      clipboard_(clipboard),
      peerSync_(peerSync),
      runtime_(runtime),
      send_(appState, peerSync, notifier, runtime, std::move(options.send)),
      tab_(prefs_.popoverTab() == QStringLiteral("clips") ? Tab::clips : Tab::files) {
  clipboard_.onIncoming = [this](const Clip& clip, bool copied) {
    setNotice(Notice::textReceived(clip, copied));
  };

  doneReset_.setSingleShot(true);
  doneReset_.setInterval(options.doneResetDelay);
  connect(&doneReset_, &QTimer::timeout, &send_, &SendController::resetPhase);
  connect(&send_, &SendController::phaseChanged, this, &PopoverModel::phaseChanged);

  connect(&appState_, &AppState::receiveStatusChanged, this,
          [this] { Q_EMIT receiveStatusTextChanged(receiveStatusText()); });
  connect(&appState_, &AppState::selectedPeerChanged, this, &PopoverModel::updateSelectedPeerName);
  connect(&appState_, &AppState::peersChanged, this, &PopoverModel::updateSelectedPeerName);
  connect(&prefs_, &Preferences::displayNamesChanged, this, &PopoverModel::updateSelectedPeerName);
  updateSelectedPeerName();
}

PopoverModel::~PopoverModel() { clipboard_.onIncoming = nullptr; }

QString PopoverModel::noticeText() const {
  if (!notice_) return {};
  if (notice_->kind == Notice::Kind::passwordBlocked) {
    return QStringLiteral("Your clipboard holds a password");
  }
  return Format::preview(notice_->clip.text) + (notice_->copied
                                                    ? QStringLiteral(" is on your clipboard")
                                                    : QStringLiteral(" is in Clips"));
}

QString PopoverModel::receiveStatusText() const {
  return appState_.receiveStatus().kind == ReceiveStatus::Kind::listening
             ? QStringLiteral("Ready to receive")
             : QStringLiteral("Not receiving");
}

QString PopoverModel::dropZoneText(bool dragOver) const {
  return (dragOver ? QStringLiteral("Release to send to ")
                   : QStringLiteral("Drop files here to send to ")) +
         selectedPeerName_;
}

void PopoverModel::setTab(Tab tab) {
  if (tab == tab_) return;
  tab_ = tab;
  prefs_.setPopoverTab(tabName(tab));
  Q_EMIT tabChanged(tab);
}

void PopoverModel::setComposeText(const QString& text) {
  if (text == composeText_) return;
  composeText_ = text;
  Q_EMIT composeTextChanged(text);
}

void PopoverModel::setExternalDragCount(const std::optional<int>& count) {
  if (count == externalDragCount_) return;
  externalDragCount_ = count;
  Q_EMIT externalDragCountChanged(count);
}

bool PopoverModel::sendFiles(const QStringList& paths) {
  const std::vector<std::filesystem::path> files = regularFiles(paths);
  if (files.empty()) return false;
  const std::optional<PeerRecord> peer = appState_.selectedPeer();
  if (!peer) return false;
  // The last result gives way to the new send.
  send_.resetPhase();
  return send_.send(files, {*peer});
}

void PopoverModel::chooseFiles() {
  if (!pickFiles) return;
  const QStringList chosen = pickFiles(lastPickDirectory());
  if (chosen.isEmpty()) return;
  prefs_.storeValue(Preferences::Keys::lastPickDirectory, QFileInfo(chosen.front()).absolutePath());
  sendFiles(chosen);
}

QString PopoverModel::lastPickDirectory() const {
  const std::optional<QString> folder = SettingsValue::toText(
      prefs_.defaults().value(QString::fromLatin1(Preferences::Keys::lastPickDirectory)));
  // A folder removed since is no place to start from.
  return folder && QFileInfo(*folder).isDir() ? *folder : QString();
}

void PopoverModel::cancelSend() { send_.cancel(); }

void PopoverModel::refreshCompose() {
  if (composeStatus_.kind == ComposeStatus::Kind::sending) return;
  const bool writing = !composeText_.isEmpty() && composeStatus_.kind == ComposeStatus::Kind::ready;
  if (writing) return;
  const PasteboardWriter::ReadResult clipboard = clipboard_.pasteboard().readForSend();
  switch (clipboard.kind) {
    case PasteboardWriter::ReadResult::Kind::text:
      setComposeText(ClipboardService::cutToLimit(QString::fromStdString(clipboard.text)));
      break;
    case PasteboardWriter::ReadResult::Kind::blockedSensitive:
      setComposeText({});
      if (!notice_) setNotice(Notice::passwordBlocked());
      break;
    case PasteboardWriter::ReadResult::Kind::empty:
      setComposeText({});
      break;
  }
  setComposeStatus(ComposeStatus::ready());
}

void PopoverModel::composeEdited() {
  if (composeStatus_.kind == ComposeStatus::Kind::sent ||
      composeStatus_.kind == ComposeStatus::Kind::failed) {
    setComposeStatus(ComposeStatus::ready());
  }
}

void PopoverModel::sendText() { sendClip(composeText_, /*recordInHistory=*/true); }

void PopoverModel::sendAnyway() {
  if (!notice_ || notice_->kind != Notice::Kind::passwordBlocked) return;
  setNotice(std::nullopt);
  sendClip(QString::fromStdString(clipboard_.pasteboard().read()), /*recordInHistory=*/false);
}

void PopoverModel::dismissNotice() { setNotice(std::nullopt); }

void PopoverModel::sendClip(const QString& text, bool recordInHistory) {
  // One compose send at a time: a second click while it runs would send the text twice.
  if (composeStatus_.kind == ComposeStatus::Kind::sending) return;
  const std::optional<PeerRecord> peer = appState_.selectedPeer();
  if (!peer) return;
  const QString name = appState_.displayName(*peer);
  setComposeStatus(ComposeStatus::sending());
  QPointer<PopoverModel> self(this);
  auto done = [self, phone = *peer, name](std::exception_ptr failure) {
    if (self) self->textSent(failure, phone, name);
  };
  clipboard_.send(text, *peer, name, std::move(done), recordInHistory);
}

void PopoverModel::textSent(std::exception_ptr failure, const PeerRecord& peer,
                            const QString& name) {
  setComposeStatus(failure ? ComposeStatus::failed(failureMessage(failure, peer, name))
                           : ComposeStatus::sent(name));
}

QString PopoverModel::failureMessage(std::exception_ptr failure, const PeerRecord& peer,
                                     const QString& name) {
  try {
    std::rethrow_exception(failure);
  } catch (const ClipboardService::SendError& error) {
    return QString::fromUtf8(error.what());
  } catch (const KeyVault::Error&) {
    // Not a network matter: checking the Wi-Fi would not help.
    return QStringLiteral("This computer's key couldn't be loaded.");
  } catch (const SendError& error) {
    if (error.kind() == SendError::Kind::peerRemoved) {
      peerSync_.noteSendError(failure, peer);
      return name + QStringLiteral(" removed this computer. Pair it again to send to it.");
    }
  } catch (...) {
  }
  return QStringLiteral("Couldn't reach ") + name +
         QStringLiteral(". Check that it's on the same Wi-Fi.");
}

void PopoverModel::phaseChanged(const SendPhase& phase) {
  doneReset_.stop();
  if (std::holds_alternative<SendPhase::Done>(phase.state)) doneReset_.start();
  Q_EMIT sendPhaseChanged(phase);
}

void PopoverModel::updateSelectedPeerName() {
  const std::optional<PeerRecord> peer = appState_.selectedPeer();
  const QString name = peer ? appState_.displayName(*peer) : QString();
  if (name == selectedPeerName_) return;
  selectedPeerName_ = name;
  Q_EMIT selectedPeerNameChanged(name);
}

void PopoverModel::setNotice(const std::optional<Notice>& notice) {
  if (notice == notice_) return;
  notice_ = notice;
  Q_EMIT noticeChanged();
}

void PopoverModel::setComposeStatus(const ComposeStatus& status) {
  if (status == composeStatus_) return;
  composeStatus_ = status;
  Q_EMIT composeStatusChanged(status);
}

}  // namespace ferrytide::menu
