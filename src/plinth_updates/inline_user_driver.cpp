#include "plinth_updates/inline_user_driver.h"

#include <QCoreApplication>
#include <QMetaObject>

#include "plinth_updates/updater.h"

namespace plinth {

InlineUserDriver::InlineUserDriver(Updater& owner) : owner_(&owner) {}

void InlineUserDriver::onMain(std::function<void(Updater&, InlineUserDriver&)> work) {
  QPointer<Updater> owner = owner_;
  QMetaObject::invokeMethod(
      QCoreApplication::instance(),
      [owner, work = std::move(work)] {
        if (owner) work(*owner, owner->driver());
      },
      Qt::QueuedConnection);
}

void InlineUserDriver::answer(UpdateChoice choice) {
  UpdateReply reply = std::move(pendingChoice_);
  pendingChoice_ = nullptr;
  if (reply) reply(choice);
}

void InlineUserDriver::showUserInitiatedUpdateCheck() {
  onMain([](Updater& updater, InlineUserDriver&) {
    updater.setCheckState(Updater::CheckState::checking);
  });
}

void InlineUserDriver::showFeed(std::vector<AppcastItem> items) {
  onMain([items = std::move(items)](Updater& updater, InlineUserDriver&) mutable {
    updater.setHistory(std::move(items));
  });
}

void InlineUserDriver::showUpdateFound(AppcastItem item, bool userInitiated, UpdateReply reply) {
  onMain([item = std::move(item), userInitiated, reply = std::move(reply)](
             Updater& updater, InlineUserDriver& driver) mutable {
    driver.pendingChoice_ = std::move(reply);
    updater.foundUpdate(item, userInitiated);
  });
}

void InlineUserDriver::showUpdateNotFound() {
  onMain([](Updater& updater, InlineUserDriver&) {
    updater.noteChecked();
    updater.setCheckState(Updater::CheckState::upToDate);
  });
}

void InlineUserDriver::showUpdaterError(std::string description) {
  onMain([description = std::move(description)](Updater& updater, InlineUserDriver&) {
    updater.failed(QString::fromStdString(description));
  });
}

void InlineUserDriver::showDownloadInitiated() {
  onMain([](Updater& updater, InlineUserDriver& driver) {
    driver.expectedBytes_ = 0;
    driver.receivedBytes_ = 0;
    updater.setProgress(std::nullopt);
    updater.setCheckState(Updater::CheckState::downloading);
  });
}

void InlineUserDriver::showDownloadExpectedContentLength(std::uint64_t length) {
  onMain([length](Updater&, InlineUserDriver& driver) { driver.expectedBytes_ = length; });
}

void InlineUserDriver::showDownloadReceivedData(std::uint64_t length) {
  onMain([length](Updater&, InlineUserDriver& driver) {
    driver.receivedBytes_ += length;
    driver.showProgress();
  });
}

void InlineUserDriver::showProgress() {
  if (expectedBytes_ == 0) {
    owner_->setProgress(std::nullopt);
  } else {
    owner_->setProgress(static_cast<double>(receivedBytes_) / static_cast<double>(expectedBytes_));
  }
  owner_->setCheckState(Updater::CheckState::downloading);
}

void InlineUserDriver::showExtractionStarted() {
  onMain([](Updater& updater, InlineUserDriver&) {
    updater.setCheckState(Updater::CheckState::installing);
  });
}

void InlineUserDriver::showReadyToInstallAndRelaunch() {
  onMain([](Updater& updater, InlineUserDriver&) {
    updater.markReopenAfterInstall();
    updater.setCheckState(Updater::CheckState::installing);
  });
}

void InlineUserDriver::showInstallingUpdate() { showExtractionStarted(); }

void InlineUserDriver::showUpdateInstalledAndRelaunched(bool relaunched) {
  onMain([relaunched](Updater& updater, InlineUserDriver&) { updater.installed(relaunched); });
}

void InlineUserDriver::dismissUpdateInstallation() {
  onMain([](Updater& updater, InlineUserDriver& driver) {
    driver.pendingChoice_ = nullptr;
    updater.setCheckState(Updater::CheckState::idle);
  });
}

void InlineUserDriver::showUpdateInFocus() {
  switch (owner_->checkState()) {
    case Updater::CheckState::checking:
    case Updater::CheckState::downloading:
    case Updater::CheckState::installing:
      return;  // a run in progress keeps showing its step
    default:
      owner_->setCheckState(pendingChoice_ ? Updater::CheckState::available
                                           : Updater::CheckState::idle);
  }
}

}  // namespace plinth
