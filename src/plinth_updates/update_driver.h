#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "plinth_updates/appcast.h"

namespace plinth {

// The user's answer to an update on offer.
enum class UpdateChoice {
  install,         // download, install and start the new version
  installQuietly,  // download and install; the new version runs from the next start
  skip,            // "Skip This Version": background checks stay quiet about it
  dismiss          // "Remind Me Later": nothing now, the next check offers it again
};
using UpdateReply = std::function<void(UpdateChoice)>;

// What an update run reports, step by step. The engine calls it from its own threads; an
// implementation moves each call to where its state lives.
class UpdateDriver {
 public:
  virtual ~UpdateDriver() = default;

  virtual void showUserInitiatedUpdateCheck() = 0;
  // Every item of the feed as it was read, for the version history.
  virtual void showFeed(std::vector<AppcastItem> items) = 0;
  // `reply` may be called once, from any thread.
  virtual void showUpdateFound(AppcastItem item, bool userInitiated, UpdateReply reply) = 0;
  virtual void showUpdateNotFound() = 0;
  virtual void showUpdaterError(std::string description) = 0;
  virtual void showDownloadInitiated() = 0;
  virtual void showDownloadExpectedContentLength(std::uint64_t length) = 0;
  virtual void showDownloadReceivedData(std::uint64_t length) = 0;
  virtual void showExtractionStarted() = 0;
  virtual void showReadyToInstallAndRelaunch() = 0;
  virtual void showInstallingUpdate() = 0;
  // The new version is in place; `relaunched` when it was started to take over.
  virtual void showUpdateInstalledAndRelaunched(bool relaunched) = 0;
  virtual void dismissUpdateInstallation() = 0;
};

}  // namespace plinth
