#pragma once

#include <QPointer>
#include <cstdint>
#include <functional>

#include "plinth_updates/update_driver.h"

namespace plinth {

class Updater;

// Turns each step of an update run into a state of the updater, on the main thread, whatever
// thread the step was reported on. Steps that arrive after the updater has gone are dropped.
class InlineUserDriver : public UpdateDriver {
 public:
  explicit InlineUserDriver(Updater& owner);

  // The reply for the update on offer, answered at most once.
  void answer(UpdateChoice choice);
  bool hasPendingChoice() const { return static_cast<bool>(pendingChoice_); }

  void showUserInitiatedUpdateCheck() override;
  void showFeed(std::vector<AppcastItem> items) override;
  void showUpdateFound(AppcastItem item, bool userInitiated, UpdateReply reply) override;
  void showUpdateNotFound() override;
  void showUpdaterError(std::string description) override;
  void showDownloadInitiated() override;
  void showDownloadExpectedContentLength(std::uint64_t length) override;
  void showDownloadReceivedData(std::uint64_t length) override;
  void showExtractionStarted() override;
  void showReadyToInstallAndRelaunch() override;
  void showInstallingUpdate() override;
  void showUpdateInstalledAndRelaunched(bool relaunched) override;
  void dismissUpdateInstallation() override;
  // The settings window came forward: show the offer again if there is one.
  void showUpdateInFocus();

 private:
  // Runs `work` with the owner and its driver on the main thread, while the owner exists.
  void onMain(std::function<void(Updater&, InlineUserDriver&)> work);
  void showProgress();

  QPointer<Updater> owner_;
  UpdateReply pendingChoice_;
  std::uint64_t expectedBytes_ = 0;
  std::uint64_t receivedBytes_ = 0;
};

}  // namespace plinth
