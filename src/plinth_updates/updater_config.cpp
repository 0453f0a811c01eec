#include "plinth_updates/updater_config.h"

#include "core/support/paths.h"

namespace plinth {

UpdaterConfig UpdaterConfig::fromBuild() {
  UpdaterConfig config;
  config.feedUrl = FERRYTIDE_UPDATE_FEED_URL;
  config.publicEdKey = FERRYTIDE_UPDATE_PUBLIC_KEY;
  config.currentVersion = FERRYTIDE_VERSION;
  config.downloadFolder = ferrytide::paths::cacheHome() / "Ferrytide" / "Updates";
  return config;
}

}  // namespace plinth
