#pragma once

#include <filesystem>
#include <string>

namespace plinth {

// Where this build looks for updates and how it trusts them. A build without a feed address or a
// signing key has no updater, and says so.
struct UpdaterConfig {
  std::string feedUrl;        // the appcast, over https
  std::string publicEdKey;    // Base64 of the 32-byte Ed25519 key that signs the archives
  std::string caFile;         // PEM trust root for the feed's server; empty: the system's
  std::string currentVersion;
  std::filesystem::path downloadFolder;  // where archives are downloaded before the install

  bool usable() const { return !feedUrl.empty() && !publicEdKey.empty(); }

  // This build's settings, with the download folder under the user's cache folder.
  static UpdaterConfig fromBuild();
};

}  // namespace plinth
