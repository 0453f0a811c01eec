#include "plinth_updates/update_engine.h"

#include <asio/co_spawn.hpp>
#include <asio/post.hpp>
#include <asio/use_awaitable.hpp>
#include <fstream>
#include <thread>
#include <system_error>

#include "core/support/log.h"
#include "plinth_updates/appcast.h"

namespace plinth {

namespace {

constexpr std::chrono::seconds kFeedTimeout{30};
constexpr std::size_t kMaxFeedBytes = 4 * 1024 * 1024;
constexpr std::chrono::minutes kDownloadTimeout{30};
const ferrytide::Logger kLog("updates");
// An install that is unpacking when the application quits gets this long to finish.
constexpr std::chrono::seconds kCloseWait{20};

class UpdateRunError : public ferrytide::Error {
 public:
  using Error::Error;
};

std::string describeStatus(long status) {
  return "the update server answered HTTP " + std::to_string(status);
}

void removeQuietly(const std::filesystem::path& path) {
  std::error_code ignored;
  std::filesystem::remove(path, ignored);
}

}  // namespace

UpdateEngine::UpdateEngine(asio::any_io_executor network, ferrytide::HttpClient& http,
                           UpdateEngineOptions options, UpdateDriver& driver)
    : network_(std::move(network)), http_(http), options_(std::move(options)), driver_(driver) {}

UpdateEngine::~UpdateEngine() {
  closing_->store(true);
  auto deadline = std::chrono::steady_clock::now() + kCloseWait;
  while (inFlight_.load() > 0 && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  installer_.join();
}

void UpdateEngine::spawn(asio::awaitable<void> run) {
  inFlight_.fetch_add(1);
  asio::co_spawn(network_, std::move(run), [this](std::exception_ptr) { inFlight_.fetch_sub(1); });
}

void UpdateEngine::setFeedUrl(std::string url) {
  asio::post(network_, [this, url = std::move(url)]() mutable {
    options_.config.feedUrl = std::move(url);
  });
}

void UpdateEngine::setSkippedVersion(std::string version) {
  asio::post(network_, [this, version = std::move(version)]() mutable {
    skippedVersion_ = std::move(version);
  });
}

void UpdateEngine::checkForUpdates(bool userInitiated) {
  if (running_->exchange(true)) return;
  if (userInitiated) driver_.showUserInitiatedUpdateCheck();
  spawn(check(userInitiated));
}

void UpdateEngine::finish() { running_->store(false); }

asio::awaitable<void> UpdateEngine::check(bool userInitiated) {
  std::optional<AppcastItem> newest;
  try {
    ferrytide::HttpRequest request{.method = "GET",
                                   .url = options_.config.feedUrl,
                                   .headers = {{"Accept", "application/rss+xml, */*"}},
                                   .body = {},
                                   .timeout = kFeedTimeout,
                                   .maxResponseBytes = kMaxFeedBytes,
                                   .caFile = options_.config.caFile,
                                   .onBody = {},
                                   .onContentLength = {},
                                   .cancel = closing_};
    ferrytide::HttpResponse response = co_await http_.perform(request);
    if (response.status != 200) throw UpdateRunError(describeStatus(response.status));
    std::vector<AppcastItem> items = parseAppcast(ferrytide::toString(response.body));
    newest = newestApplicableItem(items, options_.config.currentVersion, "linux",
                                  options_.channels);
    driver_.showFeed(std::move(items));
  } catch (const std::exception& error) {
    finish();
    driver_.showUpdaterError(error.what());
    co_return;
  }
  if (!newest || (!userInitiated && newest->version == skippedVersion_)) {
    finish();
    driver_.showUpdateNotFound();
    co_return;
  }
  // The run stays open until the user answers: no second check meanwhile.
  driver_.showUpdateFound(*newest, userInitiated, replyFor(*newest));
}

UpdateReply UpdateEngine::replyFor(const AppcastItem& item) {
  auto answered = std::make_shared<std::atomic<bool>>(false);
  return [this, item, answered](UpdateChoice choice) {
    if (answered->exchange(true)) return;
    asio::post(network_, [this, item, choice] {
      if (choice == UpdateChoice::install || choice == UpdateChoice::installQuietly) {
        spawn(install(item, choice == UpdateChoice::install));
        return;
      }
      if (choice == UpdateChoice::skip) skippedVersion_ = item.version;
      finish();
      driver_.dismissUpdateInstallation();
    });
  };
}

asio::awaitable<std::filesystem::path> UpdateEngine::download(const AppcastItem& item) {
  std::filesystem::create_directories(options_.config.downloadFolder);
  std::filesystem::path target =
      options_.config.downloadFolder / ("ferrytide-" + item.version + ".download");
  auto file = std::make_shared<std::ofstream>(target, std::ios::binary | std::ios::trunc);
  if (!*file) throw UpdateRunError("cannot write the update to " + target.string());
  driver_.showDownloadInitiated();
  ferrytide::HttpRequest request{
      .method = "GET",
      .url = item.url,
      .headers = {},
      .body = {},
      .timeout = kDownloadTimeout,
      .maxResponseBytes = 0,
      .caFile = options_.config.caFile,
      .onBody =
          [this, file](ferrytide::ByteView piece) {
            file->write(reinterpret_cast<const char*>(piece.data()),
                        static_cast<std::streamsize>(piece.size()));
            driver_.showDownloadReceivedData(piece.size());
            return static_cast<bool>(*file);
          },
      .onContentLength =
          [this](std::uint64_t length) { driver_.showDownloadExpectedContentLength(length); },
      .cancel = closing_};
  try {
    ferrytide::HttpResponse response = co_await http_.perform(request);
    file->close();
    if (response.status != 200) throw UpdateRunError(describeStatus(response.status));
    if (!*file) throw UpdateRunError("cannot write the update to " + target.string());
  } catch (...) {
    file->close();
    removeQuietly(target);
    throw;
  }
  co_return target;
}

// Runs on the installer's thread: reading a large archive and unpacking it take a while.
asio::awaitable<std::filesystem::path> UpdateEngine::verifyAndInstall(
    AppcastItem item, std::filesystem::path archive) {
  verifyDownload(archive, item.length, item.edSignature, options_.config.publicEdKey);
  driver_.showInstallingUpdate();
  co_return installArchive(archive, options_.location);
}

asio::awaitable<void> UpdateEngine::install(AppcastItem item, bool relaunch) {
  std::filesystem::path archive;
  try {
    if (options_.location.kind != InstallKind::selfContained) {
      throw UpdateRunError("this copy of Ferrytide is updated by the package manager");
    }
    archive = co_await download(item);
    driver_.showExtractionStarted();
    std::filesystem::path program =
        co_await asio::co_spawn(installer_, verifyAndInstall(item, archive), asio::use_awaitable);
    removeQuietly(archive);
    kLog.info("installed " + item.displayVersion);
    bool relaunched = false;
    if (relaunch) {
      driver_.showReadyToInstallAndRelaunch();
      relaunched = options_.relaunch && options_.relaunch(program);
    }
    finish();
    driver_.showUpdateInstalledAndRelaunched(relaunched);
  } catch (const std::exception& error) {
    if (!archive.empty()) removeQuietly(archive);
    finish();
    driver_.showUpdaterError(error.what());
  }
}

}  // namespace plinth
