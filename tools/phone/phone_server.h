#pragma once

#include <cstdint>
#include <filesystem>
#include <iosfwd>
#include <optional>
#include <string>

#include "dropping_relay.h"
#include "phone_state.h"

namespace ferrytide::phone {

struct ServeOptions {
  std::uint16_t port = 47820;  // what `pair` announces unless told otherwise
  std::string bindAddress = "0.0.0.0";
  std::filesystem::path saveDir;
  bool decline = false;  // refuse every file offer
  bool unpair = false;   // answer the computer with Unpair: this phone has forgotten it
  bool asleep = false;   // listen only after a wake (SIGUSR1, sent by fcm-mock)
  // The first connection comes through a relay that cuts it (a dropped Wi-Fi).
  std::optional<Cut> cut;
  double idleTimeoutSeconds = 60;  // a silent connection is closed after this
};

// Serves as the phone until SIGINT or SIGTERM: the core's receiver, accepting the paired
// computer only, printing one line per outcome to `out`. Writes its pid to the state's
// "serve.pid" (so that a wake can find it) and removes it at the end. Returns the exit code.
int servePhone(const PhoneState& state, const ServeOptions& options, std::ostream& out);

// Escapes backslashes and line breaks, so that a text prints as one line.
std::string oneLine(const std::string& text);

}  // namespace ferrytide::phone
