#pragma once

#include <asio/any_io_executor.hpp>
#include <asio/awaitable.hpp>
#include <asio/thread_pool.hpp>
#include <atomic>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "core/support/http_client.h"
#include "plinth_updates/update_driver.h"
#include "plinth_updates/update_installer.h"
#include "plinth_updates/updater_config.h"

namespace plinth {

struct UpdateEngineOptions {
  UpdaterConfig config;
  InstallLocation location;
  std::vector<std::string> channels;  // besides the default one
  // Starts the installed program so that it takes over; false when it could not be started.
  std::function<bool(const std::filesystem::path& program)> relaunch;
};

// Checks the appcast feed, and downloads, verifies and installs the update the user chose,
// reporting each step to its driver. Feed and download go over HTTPS; unpacking and the swap run
// on a thread of the engine's own, never on the network thread. One run at a time.
class UpdateEngine {
 public:
  UpdateEngine(asio::any_io_executor network, ferrytide::HttpClient& http,
               UpdateEngineOptions options, UpdateDriver& driver);
  UpdateEngine(const UpdateEngine&) = delete;
  UpdateEngine& operator=(const UpdateEngine&) = delete;
  // Stops a request in progress and waits for its run to end.
  ~UpdateEngine();

  // False while a check or an install is in progress.
  bool canCheckForUpdates() const { return !running_->load(); }
  // A check that the user did not start stays quiet about the skipped version.
  void checkForUpdates(bool userInitiated);
  void setFeedUrl(std::string url);
  void setSkippedVersion(std::string version);
  const InstallLocation& location() const { return options_.location; }

 private:
  asio::awaitable<void> check(bool userInitiated);
  asio::awaitable<void> install(AppcastItem item, bool relaunch);
  asio::awaitable<std::filesystem::path> download(const AppcastItem& item);
  asio::awaitable<std::filesystem::path> verifyAndInstall(AppcastItem item,
                                                          std::filesystem::path archive);
  UpdateReply replyFor(const AppcastItem& item);
  void finish();

  asio::any_io_executor network_;
  ferrytide::HttpClient& http_;
  UpdateEngineOptions options_;
  UpdateDriver& driver_;
  std::string skippedVersion_;
  void spawn(asio::awaitable<void> run);

  // From a check until its offer is answered, or its install is over.
  std::shared_ptr<std::atomic<bool>> running_ = std::make_shared<std::atomic<bool>>(false);
  // Set by the destructor: requests in progress end, and it waits for their runs.
  std::shared_ptr<std::atomic<bool>> closing_ = std::make_shared<std::atomic<bool>>(false);
  std::atomic<int> inFlight_{0};
  asio::thread_pool installer_{1};
};

}  // namespace plinth
