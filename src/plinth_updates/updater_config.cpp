#include "plinth_updates/updater_config.h"

#include <cstdlib>

namespace plinth {

namespace {

std::filesystem::path cacheHome() {
  if (const char* cache = std::getenv("XDG_CACHE_HOME"); cache != nullptr && cache[0] == '/') {
    return cache;
  }
  const char* home = std::getenv("HOME");
  return std::filesystem::path(home != nullptr ? home : "/tmp") / ".cache";
}

}  // namespace

UpdaterConfig UpdaterConfig::fromBuild() {
  UpdaterConfig config;
  config.feedUrl = FERRYTIDE_UPDATE_FEED_URL;
  config.publicEdKey = FERRYTIDE_UPDATE_PUBLIC_KEY;
  config.currentVersion = FERRYTIDE_VERSION;
  config.downloadFolder = cacheHome() / "Ferrytide" / "Updates";
  return config;
}

}  // namespace plinth
