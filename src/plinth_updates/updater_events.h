#pragma once

#include <optional>
#include <string>

namespace plinth {

// Where the feed is read from: an address set for this user (a test feed, a beta feed) wins over
// the build's.
class UpdaterEvents {
 public:
  std::optional<std::string> feedURLOverride;

  std::string feedURLString(const std::string& buildFeed) const {
    return feedURLOverride.value_or(buildFeed);
  }
};

}  // namespace plinth
