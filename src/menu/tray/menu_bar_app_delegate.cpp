#include "menu/tray/menu_bar_app_delegate.h"

#include <QApplication>
#include <QCursor>
#include <QDBusConnection>
#include <QSystemTrayIcon>
#include <QTimer>

#include "core/support/http_client.h"
#include "core/support/log.h"
#include "core/transfer/active_transfers.h"
#include "menu/app_services.h"
#include "menu/controllers/clipboard_hotkey.h"
#include "menu/controllers/pair_controller.h"
#include "menu/controllers/popover_model.h"
#include "menu/design_system/theme.h"
#include "menu/models/settings_summary.h"
#include "menu/popover/popover_window.h"
#include "menu/tray/status_menu.h"
#include "menu/windows/settings_view.h"
#include "menu/windows/welcome_view.h"
#include "platform/linux/desktop_launcher.h"
#include "platform/linux/global_hotkey.h"
#include "platform/linux/keyboard_simulator.h"
#include "platform/linux/single_instance.h"
#include "plinth/app_presence.h"
#include "plinth/hosted_window.h"
#include "plinth_reports/report_config.h"
#include "plinth_reports/report_model.h"
#include "plinth_reports/report_window.h"
#include "plinth_reports/reports.h"
#include "plinth_updates/updater.h"

namespace ferrytide::menu {
namespace {

const Logger logger("menu");

bool displayAvailable() { return QGuiApplication::platformName() != QLatin1String("minimal"); }

std::string toolkitName() { return std::string("Qt ") + qVersion(); }

}  // namespace

// Made once services exist, in this order; each uses only those above it.
struct MenuBarAppDelegate::Parts {
  Parts(AppServices& services, const MenuBarAppDelegateOptions& options)
      : reports(::plinth::ReportConfig::fromBuild(), http, toolkitName()),
        reportModel(reports, services.runtime.executor()),
        reportWindow(reportModel, presence, services.prefs.defaults()),
        popoverModel(services.appState, services.clipboard, services.peerSync, services.notifier,
                     services.runtime),
        clipHotkey(services.appState, services.clipboard, services.peerSync, services.notifier,
                   [] { return platform::KeyboardSimulator::synthesizeCopy(); }),
        pair(services.appState, services.runtime, pairOptions(options)) {}

  PairControllerOptions pairOptions(const MenuBarAppDelegateOptions& options) {
    PairControllerOptions made;
    made.port = options.port;
    made.listenAddress = options.listenAddress;
    made.diary = &reports.diary();
    return made;
  }

  platform::SingleInstance instance{QDBusConnection::sessionBus()};
  HttpClient http;
  ::plinth::Reports reports;
  plinth::AppPresence presence;
  ::plinth::ReportModel reportModel;
  ::plinth::ReportWindow reportWindow;
  PopoverModel popoverModel;
  ClipboardHotkey clipHotkey;
  PairController pair;
  std::unique_ptr<::plinth::Updater> updater;
  platform::GlobalHotkey hotkey;
  std::unique_ptr<QSystemTrayIcon> statusItem;
  std::unique_ptr<StatusMenu> statusMenu;
  std::unique_ptr<PopoverWindow> popover;
  std::unique_ptr<plinth::HostedWindow> settingsWindow;
  std::unique_ptr<plinth::HostedWindow> welcomeWindow;
};

MenuBarAppDelegate::MenuBarAppDelegate(Options options, QObject* parent)
    : QObject(parent), options_(options) {}

MenuBarAppDelegate::~MenuBarAppDelegate() {
  // The windows and the popover go before the models they show.
  if (parts_) {
    parts_->welcomeWindow.reset();
    parts_->settingsWindow.reset();
    parts_->popover.reset();
    parts_->statusItem.reset();
  }
}

bool MenuBarAppDelegate::applicationDidFinishLaunching() {
  services_ =
      std::make_unique<AppServices>(AppServicesOptions{.port = options_.port,
                                                       .clipboard = displayAvailable(),
                                                       .listenAddress = options_.listenAddress});
  parts_ = std::make_unique<Parts>(*services_, options_);
  if (!parts_->instance.claimNewest()) {
    say(QStringLiteral("ferrytide: cannot claim the session bus name: ") +
        parts_->instance.error());
    return false;
  }
  claimSingleInstance();
  setUpNotifier();
  startReports();
  startUpdater();
  installRouter();
  createStatusItem();
  createPopover();
  services_->sayReceiveStatus();
  services_->connectReceiverToState();
  services_->receiver.start();
  startOutboxWatcher();
  if (options_.registerHotkeys) registerHotkeys();
  watchPreferences();
  services_->flushPeerSync();
  services_->connectFileManagerActions();
  if (::plinth::Updater::takeReopenAfterInstall(services_->prefs.defaults().fileName())) {
    showSettings(SettingsSection::updates);
  }
  if (services_->appState.peers().empty() && !services_->prefs.welcomeCompleted()) {
    showWelcome(false);
  }
  return true;
}

void MenuBarAppDelegate::claimSingleInstance() {
  connect(&parts_->instance, &platform::SingleInstance::replaced, this, [this] {
    say(QStringLiteral("ferrytide: a newer start took over"));
    quit();
  });
}

void MenuBarAppDelegate::setUpNotifier() {
  Notifier& notifier = services_->notifier;
  notifier.onShowClips = [this] {
    parts_->popoverModel.setTab(PopoverModel::Tab::clips);
    showPopover();
  };
  notifier.onShowReport = [this] { showReport(); };
}

void MenuBarAppDelegate::startReports() {
  ::plinth::Reports& reports = parts_->reports;
  reports.settingsSummary = [this] {
    return settingsSummary(services_->prefs, services_->appState);
  };
  services_->notifier.noteStep = [&reports](const QString& step) {
    reports.note(step.toStdString());
  };
  services_->notifier.recordError = [&reports](const QString& error) {
    reports.error(error.toStdString(), true);
  };
  QPointer<MenuBarAppDelegate> self(this);
  reports.start(
      [self](const ::plinth::Crash&) {
        if (self) self->services_->notifier.crashFound();
      },
      services_->runtime.executor());
}

void MenuBarAppDelegate::startUpdater() {
  ::plinth::UpdaterOptions options;
  if (options_.updates) options.config = *options_.updates;
  options.location = ::plinth::InstallLocation::detect(
      QCoreApplication::applicationFilePath().toStdString());
  options.network = services_->runtime.executor();
  options.http = &parts_->http;
  options.settingsFile = services_->prefs.defaults().fileName();
  SendController& send = parts_->popoverModel.send();
  options.transferInProgress = [&send] {
    return send.busy() || ActiveTransfers::shared().anyInProgress();
  };
  Notifier& notifier = services_->notifier;
  parts_->updater = std::make_unique<::plinth::Updater>(
      QStringLiteral("Ferrytide"),
      [&notifier](const QString& version) {
        notifier.message(QStringLiteral("Ferrytide ") + version + QStringLiteral(" is available"),
                         QStringLiteral("Install it from Settings › Updates."));
      },
      std::move(options));
}

void MenuBarAppDelegate::checkForUpdates() {
  showSettings(SettingsSection::updates);
  parts_->updater->checkNow();
}

void MenuBarAppDelegate::installRouter() {
  QPointer<MenuBarAppDelegate> self(this);
  router_.showSettings = [self](std::optional<SettingsSection> section) {
    if (self) self->showSettings(section);
  };
  router_.showWelcome = [self](bool skipIntro) {
    if (self) self->showWelcome(skipIntro);
  };
  router_.closePopover = [self] {
    if (self) self->closePopover();
  };
  router_.showReport = [self] {
    if (self) self->showReport();
  };
}

void MenuBarAppDelegate::createStatusItem() {
  parts_->statusMenu = std::make_unique<StatusMenu>(StatusMenuActions{
      .settings = [this] { showSettings(); },
      .checkForUpdates = parts_->updater->available() ? std::function<void()>([this] {
        checkForUpdates();
      })
                                                      : std::function<void()>(),
      .reportProblem = [this] { showReport(); },
      .quit = [this] { quit(); },
  });
  connect(parts_->statusMenu.get(), &QMenu::aboutToShow, this, [this] { closePopover(); });
  auto icon = std::make_unique<QSystemTrayIcon>(theme::trayIcon(theme::isDark()));
  icon->setObjectName(QStringLiteral("statusItem"));
  icon->setToolTip(QStringLiteral(
      "Ferrytide\nClick to open; drop files on the window that opens to send them."));
  icon->setContextMenu(parts_->statusMenu.get());
  connect(icon.get(), &QSystemTrayIcon::activated, this,
          [this](QSystemTrayIcon::ActivationReason reason) {
            if (reason == QSystemTrayIcon::Trigger) togglePopover();
          });
  icon->show();
  if (!QSystemTrayIcon::isSystemTrayAvailable()) {
    say(
        QStringLiteral("ferrytide: this desktop shows no tray yet; the icon appears once one "
                       "runs. Ctrl+Alt+A opens Ferrytide meanwhile."));
  }
  parts_->statusItem = std::move(icon);
}

void MenuBarAppDelegate::createPopover() {
  parts_->popover = std::make_unique<PopoverWindow>(parts_->popoverModel, services_->history,
                                                    router_, platform::DesktopLauncher());
}

void MenuBarAppDelegate::startOutboxWatcher() {
  OutboxWatcher& outbox = services_->outbox;
  SendController& send = parts_->popoverModel.send();
  connect(&outbox, &OutboxWatcher::jobStarted, &send, [&send] { send.mirrorStart(); });
  connect(&outbox, &OutboxWatcher::jobProgress, &send,
          [&send](const QString& peerName, const SendPhase::Progress& progress, bool waking) {
            send.mirrorProgress(peerName, progress, waking);
          });
  connect(&outbox, &OutboxWatcher::jobFinished, &send,
          [&send](bool, const QString&, const QStringList&, const SendPhase& outcome) {
            send.mirrorEnd(outcome);
          });
  outbox.start();
}

void MenuBarAppDelegate::registerHotkeys() {
  QPointer<MenuBarAppDelegate> self(this);
  const bool registered =
      parts_->hotkey
          .registerHotkey(popoverKeyCode, popoverModifiers,
                          [self] {
                            if (self)
                              QTimer::singleShot(0, self, [self] { self->togglePopover(); });
                          })
          .has_value();
  logger.info(std::string("hotkey Ctrl+Alt+A registered=") + (registered ? "1" : "0"));
  registerClipHotkey(services_->prefs.clipHotkey());
}

void MenuBarAppDelegate::registerClipHotkey(const HotkeyCombo& combo) {
  if (clipHotkeyID_) parts_->hotkey.unregister(*clipHotkeyID_);
  QPointer<MenuBarAppDelegate> self(this);
  clipHotkeyID_ = parts_->hotkey.registerHotkey(combo.keyCode, combo.modifiers, [self] {
    if (self) QTimer::singleShot(0, self, [self] { self->parts_->clipHotkey.sendClipboard(); });
  });
  if (!clipHotkeyID_) {
    services_->notifier.message(
        QStringLiteral("Shortcut unavailable"),
        combo.keycaps().join(QLatin1Char('+')) +
            QStringLiteral(" is used by another app. Pick a different one in Settings › "
                           "Shortcuts."));
  }
}

void MenuBarAppDelegate::watchPreferences() {
  Preferences& prefs = services_->prefs;
  connect(&prefs, &Preferences::clipHotkeyChanged, this, [this](const HotkeyCombo& combo) {
    if (options_.registerHotkeys) registerClipHotkey(combo);
  });
  connect(&prefs, &Preferences::displayNamesChanged, this, [this] {
    AppState& appState = services_->appState;
    Q_EMIT appState.peersChanged(appState.peers());
    appState.mirrorPeersToAppGroup();
  });
}

std::optional<QString> MenuBarAppDelegate::installFileManagerActions() {
  try {
    if (services_->fileManagerActions.install(services_->appState.sharePeers()).empty()) {
      return QStringLiteral("None of Dolphin, Files (Nautilus), Thunar and Nemo was found.");
    }
    return std::nullopt;
  } catch (const platform::FileManagerActionsError& error) {
    return QString::fromStdString(error.what());
  }
}

void MenuBarAppDelegate::togglePopover() {
  if (parts_->popover->isShown()) return closePopover();
  showPopover();
}

void MenuBarAppDelegate::showPopover() {
  if (parts_->popover->isShown()) return;
  parts_->popover->showNear(statusItemGeometry());
}

void MenuBarAppDelegate::closePopover() {
  if (parts_ && parts_->popover && parts_->popover->isShown()) parts_->popover->close();
}

QRect MenuBarAppDelegate::statusItemGeometry() const {
  // Trays that speak StatusNotifierItem do not tell where the icon is: the popover opens at
  // the cursor then.
  return parts_->statusItem ? parts_->statusItem->geometry() : QRect();
}

void MenuBarAppDelegate::showSettings(std::optional<SettingsSection> section) {
  if (section) settingsNav_.setSection(*section);
  closePopover();
  if (!parts_->settingsWindow) {
    SettingsHooks hooks;
    hooks.clipHotkeyRegistered = [this] { return clipHotkeyRegistered(); };
    hooks.updater = parts_->updater.get();
    hooks.fileManagerIntegration = [this] {
      return services_->fileManagerActions.installedWherePresent();
    };
    hooks.installFileManagerIntegration = [this] { return installFileManagerActions(); };
    parts_->settingsWindow = std::make_unique<plinth::HostedWindow>(
        QSize(820, 540), QStringLiteral("FerrytideSettings"), false,
        [this, hooks] {
          return new SettingsView(services_->appState, services_->prefs, services_->history,
                                  settingsNav_, router_, hooks);
        },
        parts_->presence, services_->prefs.defaults());
    parts_->settingsWindow->setTitle(QStringLiteral("Ferrytide Settings"));
  }
  parts_->settingsWindow->show();
}

void MenuBarAppDelegate::showWelcome(bool skipIntro) {
  closePopover();
  if (parts_->welcomeWindow && parts_->welcomeWindow->isOpen()) {
    return parts_->welcomeWindow->show();
  }
  QPointer<MenuBarAppDelegate> self(this);
  auto finish = [self] {
    if (!self) return;
    self->services_->prefs.setWelcomeCompleted(true);
    if (self->parts_->welcomeWindow) self->parts_->welcomeWindow->close();
  };
  auto window = std::make_unique<plinth::HostedWindow>(
      QSize(720, 500), QStringLiteral("FerrytideWelcome"), false,
      [this, skipIntro, finish] {
        return new WelcomeView(services_->appState, services_->prefs, parts_->pair, skipIntro,
                               finish, router_);
      },
      parts_->presence, services_->prefs.defaults());
  window->setTitle(QStringLiteral("Welcome to Ferrytide"));
  window->onClose = [self] {
    if (!self) return;
    self->services_->prefs.setWelcomeCompleted(true);
    self->parts_->pair.cancel();
    // The window is made anew on the next opening; it goes once its close has finished.
    QTimer::singleShot(0, self, [self] {
      if (self && self->parts_->welcomeWindow && !self->parts_->welcomeWindow->isOpen()) {
        self->parts_->welcomeWindow.reset();
      }
    });
  };
  parts_->welcomeWindow = std::move(window);
  parts_->welcomeWindow->show();
}

void MenuBarAppDelegate::showReport() {
  closePopover();
  parts_->reportWindow.show();
}

void MenuBarAppDelegate::quit() { Q_EMIT quitRequested(); }

PopoverWindow* MenuBarAppDelegate::popover() const {
  return parts_ ? parts_->popover.get() : nullptr;
}

QSystemTrayIcon* MenuBarAppDelegate::statusItem() const {
  return parts_ ? parts_->statusItem.get() : nullptr;
}

StatusMenu* MenuBarAppDelegate::statusMenu() const {
  return parts_ ? parts_->statusMenu.get() : nullptr;
}

namespace {
QWidget* openContent(const std::unique_ptr<plinth::HostedWindow>& window) {
  return window && window->isOpen() ? window->content() : nullptr;
}
}  // namespace

QWidget* MenuBarAppDelegate::settingsContent() const {
  return parts_ ? openContent(parts_->settingsWindow) : nullptr;
}

QWidget* MenuBarAppDelegate::welcomeContent() const {
  return parts_ ? openContent(parts_->welcomeWindow) : nullptr;
}

QWidget* MenuBarAppDelegate::reportContent() const {
  if (!parts_) return nullptr;
  plinth::HostedWindow& window = parts_->reportWindow.hosted();
  return window.isOpen() ? window.content() : nullptr;
}

}  // namespace ferrytide::menu
