#include "menu/windows/settings_shortcuts_page.h"

#include <QApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QPushButton>
#include <QTimer>
#include <QVBoxLayout>

#include "menu/design_system/key_caps.h"
#include "menu/design_system/theme.h"
#include "menu/models/preferences.h"
#include "menu/windows/settings_row.h"
#include "platform/linux/recorded_key.h"

namespace ferrytide::menu {
namespace {

// A combination needs one of these; Shift alone would take an ordinary letter from every program.
constexpr std::uint32_t kRequiredModifiers =
    HotkeyCombo::control | HotkeyCombo::option | HotkeyCombo::command;

bool isModifierKey(int key) {
  switch (key) {
    case Qt::Key_Control:
    case Qt::Key_Shift:
    case Qt::Key_Alt:
    case Qt::Key_AltGr:
    case Qt::Key_Meta:
    case Qt::Key_Super_L:
    case Qt::Key_Super_R:
    case Qt::Key_Hyper_L:
    case Qt::Key_Hyper_R:
    case Qt::Key_CapsLock:
    case Qt::Key_NumLock:
      return true;
    default:
      return false;
  }
}

}  // namespace

SettingsShortcutsPage::SettingsShortcutsPage(Preferences& prefs, const SettingsHooks& hooks,
                                             QWidget* parent)
    : QWidget(parent), prefs_(prefs), hooks_(hooks) {
  auto* column = new QVBoxLayout(this);
  column->setContentsMargins(0, 0, 0, 0);
  column->setSpacing(14);
  column->addWidget(makeShortcutCard());
  column->addWidget(makeFileManagerCard());
  column->addStretch(1);
  // The tray application registers the new combination on the same signal; ask afterwards.
  connect(&prefs_, &Preferences::clipHotkeyChanged, this, [this] {
    showShortcut();
    QTimer::singleShot(0, this, &SettingsShortcutsPage::refresh);
  });
  showShortcut();
  refresh();
}

SettingsShortcutsPage::~SettingsShortcutsPage() { stopRecording(); }

QWidget* SettingsShortcutsPage::makeShortcutCard() {
  shortcut_ = new SettingsRow(
      QStringLiteral("Send clipboard"),
      QStringLiteral(
          "Sends what you copied to the selected phone, from any app, without opening Ferrytide."));
  shortcut_->noteLabel()->setObjectName(QStringLiteral("shortcutNote"));
  caps_ = new KeyCaps(shortcut_);
  caps_->setObjectName(QStringLiteral("clipHotkeyCaps"));
  shortcut_->addTrailing(caps_);
  prompt_ = new QLabel(QStringLiteral("Press the new shortcut…"), shortcut_);
  prompt_->setObjectName(QStringLiteral("recordingPrompt"));
  prompt_->setAccessibleName(prompt_->text());
  prompt_->setFont(theme::headlineFont());
  prompt_->hide();
  shortcut_->addTrailing(prompt_);
  record_ = new QPushButton(QStringLiteral("Record new shortcut"), shortcut_);
  record_->setObjectName(QStringLiteral("recordShortcutButton"));
  record_->setAccessibleName(record_->text());
  shortcut_->addTrailing(record_);
  connect(record_, &QPushButton::clicked, this, [this] {
    if (recording_) cancelRecording();
    else startRecording();
  });
  return settingsCard(this, {shortcut_});
}

QWidget* SettingsShortcutsPage::makeFileManagerCard() {
  fileManager_ = new SettingsRow(QStringLiteral("Send from your file manager"),
                                 QStringLiteral("Right-click any file, choose Send to phone."));
  fileManager_->noteLabel()->setObjectName(QStringLiteral("fileManagerNote"));
  fileManagerState_ = new QLabel(fileManager_);
  fileManagerState_->setObjectName(QStringLiteral("fileManagerState"));
  fileManager_->addTrailing(fileManagerState_);
  install_ = new QPushButton(QStringLiteral("Add to file manager"), fileManager_);
  install_->setObjectName(QStringLiteral("installFileManagerButton"));
  install_->setAccessibleName(QStringLiteral("Add Send to phone to the file manager"));
  fileManager_->addTrailing(install_);
  connect(install_, &QPushButton::clicked, this, [this] {
    std::optional<QString> failure;
    if (hooks_.installFileManagerIntegration) failure = hooks_.installFileManagerIntegration();
    showFileManagerState();
    if (failure) fileManager_->setNote(*failure);
  });
  return settingsCard(this, {fileManager_});
}

void SettingsShortcutsPage::startRecording() {
  if (recording_) return;
  recording_ = true;
  caps_->hide();
  prompt_->show();
  record_->setText(QStringLiteral("Cancel"));
  record_->setAccessibleName(QStringLiteral("Cancel recording"));
  shortcut_->setNote(QString());
  // Every key press of the application comes here first while recording, as a local monitor.
  qApp->installEventFilter(this);
}

void SettingsShortcutsPage::cancelRecording() {
  stopRecording();
  showShortcut();
  refresh();
}

void SettingsShortcutsPage::stopRecording() {
  if (!recording_) return;
  recording_ = false;
  qApp->removeEventFilter(this);
  prompt_->hide();
  caps_->show();
  record_->setText(QStringLiteral("Record new shortcut"));
  record_->setAccessibleName(record_->text());
}

bool SettingsShortcutsPage::eventFilter(QObject* watched, QEvent* event) {
  if (!recording_) return QWidget::eventFilter(watched, event);
  if (event->type() == QEvent::ShortcutOverride) {
    // Claimed so that no menu or button shortcut fires; the key press follows.
    event->accept();
    return true;
  }
  if (event->type() == QEvent::KeyPress) {
    takeKeyPress(static_cast<const QKeyEvent&>(*event));
    return true;
  }
  return QWidget::eventFilter(watched, event);
}

void SettingsShortcutsPage::takeKeyPress(const QKeyEvent& press) {
  if (press.key() == Qt::Key_Escape) {
    cancelRecording();
    return;
  }
  if (isModifierKey(press.key()) || press.isAutoRepeat()) return;
  std::uint32_t modifiers = platform::storedModifiers(press.modifiers());
  if ((modifiers & kRequiredModifiers) == 0) {
    shortcut_->setNote(QStringLiteral("Use at least one of Ctrl, Alt or Super."));
    return;
  }
  std::optional<std::uint32_t> keyCode =
      platform::storedKeyCode(press.key(), press.modifiers() & Qt::KeypadModifier,
                              press.nativeVirtualKey());
  if (!keyCode) {
    shortcut_->setNote(QStringLiteral("That key can't be part of a shortcut. Try a letter, a "
                                      "digit or a function key."));
    return;
  }
  stopRecording();
  shortcut_->setNote(QString());
  prefs_.setClipHotkey(HotkeyCombo{.keyCode = *keyCode, .modifiers = modifiers});
  showShortcut();
}

void SettingsShortcutsPage::showEvent(QShowEvent* event) {
  QWidget::showEvent(event);
  refresh();
}

void SettingsShortcutsPage::hideEvent(QHideEvent* event) {
  QWidget::hideEvent(event);
  if (recording_) cancelRecording();
}

void SettingsShortcutsPage::refresh() {
  if (!recording_) {
    bool held = !hooks_.clipHotkeyRegistered || hooks_.clipHotkeyRegistered();
    shortcut_->setNote(held ? QString()
                            : QStringLiteral(
                                  "Another program uses this shortcut. Record a different one."));
  }
  showFileManagerState();
}

void SettingsShortcutsPage::showShortcut() {
  caps_->setKeys(prefs_.clipHotkey().keycaps());
}

void SettingsShortcutsPage::showFileManagerState() {
  std::optional<bool> installed =
      hooks_.fileManagerIntegration ? hooks_.fileManagerIntegration() : std::nullopt;
  fileManagerState_->setVisible(installed.value_or(false));
  fileManagerState_->setText(QStringLiteral("On"));
  fileManagerState_->setAccessibleName(QStringLiteral("Send to phone is on"));
  install_->setVisible(installed == false && bool(hooks_.installFileManagerIntegration));
  if (!installed) {
    fileManager_->setNote(
        QStringLiteral("Works in Dolphin, Files (Nautilus), Thunar and Nemo. None of them was "
                       "found."),
        false);
  } else if (!*installed) {
    fileManager_->setNote(QStringLiteral("Not set up in your file manager yet."), false);
  } else {
    fileManager_->setNote(QString());
  }
}

}  // namespace ferrytide::menu
