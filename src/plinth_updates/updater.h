#pragma once

#include <QDateTime>
#include <QObject>
#include <QString>
#include <QTimer>
#include <asio/any_io_executor.hpp>
#include <chrono>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

#include "plinth_updates/appcast.h"
#include "plinth_updates/inline_user_driver.h"
#include "plinth_updates/update_installer.h"
#include "plinth_updates/updater_config.h"
#include "plinth_updates/updater_events.h"

class QSettings;

namespace ferrytide {
class HttpClient;
}

namespace plinth {

class UpdateEngine;

struct UpdaterOptions {
  UpdaterConfig config = UpdaterConfig::fromBuild();
  InstallLocation location;
  asio::any_io_executor network;
  ferrytide::HttpClient* http = nullptr;
  QString settingsFile;  // the application's settings, where the updater keeps its own keys
  std::chrono::milliseconds checkInterval = std::chrono::hours(24);
  // The first background check after start-up, so that it does not compete with it.
  std::chrono::milliseconds firstCheckDelay = std::chrono::minutes(1);
  // Whether a file is on its way; the restart into a new version waits for it.
  std::function<bool()> transferInProgress = [] { return false; };
  // Starts the new program; the default starts it detached with this process's arguments.
  std::function<bool(const std::filesystem::path& program)> relaunch;
  // Opens a web page; the default hands it to the desktop.
  std::function<void(const QString& url)> openPage;
};

// The application's one updater: checks the feed once a day, offers what it finds inline in the
// settings window, and installs it into a self-contained copy, restarting into it. A copy that
// the package manager installed is only told about new versions: the updater opens their
// release notes or download page and never writes to system folders. Main thread only.
class Updater : public QObject {
  Q_OBJECT

 public:
  enum class CheckState { available, downloading, idle, checking, upToDate, failed, installing };

  Updater(QString appName, std::function<void(const QString& version)> onBackgroundUpdateFound,
          UpdaterOptions options, QObject* parent = nullptr);
  ~Updater() override;

  // Reads and removes the flag that an update restart sets, so that the new copy opens the
  // Updates page again.
  static bool takeReopenAfterInstall(const QString& settingsFile);
  static QString reopenAfterInstallKey();

  const QString& appName() const { return appName_; }
  // False when this build cannot update (no feed or key); startError() says why.
  bool available() const { return engine_ != nullptr; }
  const QString& startError() const { return startError_; }
  InstallKind installKind() const { return options_.location.kind; }

  bool automaticallyInstalls() const;
  void setAutomaticallyInstalls(bool on);
  std::optional<QDateTime> lastChecked() const;
  CheckState checkState() const { return checkState_; }
  const QString& offeredVersion() const { return offeredVersion_; }
  // Downloaded share while downloading, when the size is known.
  std::optional<double> progress() const { return progress_; }
  // The description of the last failure.
  const QString& failure() const { return failure_; }
  // The offered item's release notes page and download page (either may be empty).
  QString releaseNotesLink() const;
  QString downloadPage() const;
  // The version installed quietly, which runs from the next start; empty when none.
  const QString& installedForNextStart() const { return installedForNextStart_; }
  // Every version of the feed last read, newest first.
  const std::vector<AppcastItem>& versionHistory() const { return history_; }

  void checkNow();
  // Self-contained: download, install and restart. Package manager: opens the release notes
  // (or the download page), as there is nothing to install from here.
  void install();
  void skip();
  void remindLater();
  void openDownloadPage() const;
  // The Updates page came forward.
  void updateInFocus();

  bool canCheckForUpdates() const;

 Q_SIGNALS:
  void changed();

 private:
  friend class InlineUserDriver;

  void setCheckState(CheckState state);
  void markReopenAfterInstall();
  void installed(bool relaunched);
  void foundUpdate(const AppcastItem& item, bool userInitiated);
  void failed(const QString& description);
  void noteChecked();
  void backgroundCheck();
  void scheduleChecks();
  void restartInto(const std::filesystem::path& program);
  InlineUserDriver& driver() { return driver_; }
  void setHistory(std::vector<AppcastItem> items);
  void setProgress(std::optional<double> progress);
  void openOfferedPage() const;

  QString appName_;
  std::function<void(const QString&)> onBackgroundUpdateFound_;
  UpdaterOptions options_;
  std::unique_ptr<QSettings> settings_;
  UpdaterEvents events_;
  InlineUserDriver driver_;
  std::unique_ptr<UpdateEngine> engine_;
  QString startError_;
  CheckState checkState_ = CheckState::idle;
  QString offeredVersion_;
  std::optional<AppcastItem> offered_;
  std::optional<double> progress_;
  QString failure_;
  QString installedForNextStart_;
  std::vector<AppcastItem> history_;
  QTimer checkTimer_;
};

}  // namespace plinth
